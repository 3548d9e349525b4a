#include "tools/drvdb/front/exit_status.h"

#include <stdio.h>

#include <algorithm>

const std::vector<ExitRow> kExits = {
    {Exit::kOk, "ok",
     "success (for info: the program reads and is whole, whatever the "
     "check finds)"},
    {Exit::kFailed, "failed",
     "a script fails the check, pack refused it, or diff found changes"},
    {Exit::kUsage, "usage", "wrong call, or OUT is one of the inputs"},
    {Exit::kMissing, "missing", "no such file"},
    {Exit::kNotAFile, "not-a-file", "not a regular file"},
    {Exit::kUnreadable, "unreadable", "a file cannot be read"},
    {Exit::kUnwritable, "unwritable", "the output cannot be written"},
    {Exit::kEmpty, "empty", "empty file"},
    {Exit::kNotExecutable, "not-executable", "not an executable (PE or ELF)"},
    {Exit::kNoTrailer, "no-trailer", "no payload or trailer"},
    {Exit::kLengthPastFile, "length-past-file",
     "the trailer's length does not fit"},
    {Exit::kNoByteOrderMark, "no-byte-order-mark", "no byte-order mark"},
    {Exit::kImageCarriesData, "image-carries-data",
     "IMAGE already carries a payload"},
    {Exit::kNotNewer, "not-newer", "not newer than OLD"},
    {Exit::kNotText, "not-text", "a script that is not text"},
    {Exit::kSigned, "signed", "IMAGE is signed (sign after packing)"},
    {Exit::kSignedUnaligned, "signed-unaligned",
     "signed after a payload the program cannot find (unaligned)"},
    {Exit::kDamaged, "damaged",
     "a damaged copy: its integrity record does not match"},
};

Exit PayloadExit(AppendedPayload::Problem problem) {
  struct Pair {
    AppendedPayload::Problem problem;
    Exit status;
  };
  static const Pair kPairs[] = {
      {AppendedPayload::kNone, Exit::kOk},
      {AppendedPayload::kEmpty, Exit::kEmpty},
      {AppendedPayload::kNotExecutable, Exit::kNotExecutable},
      {AppendedPayload::kNoTrailer, Exit::kNoTrailer},
      {AppendedPayload::kLengthPastFile, Exit::kLengthPastFile},
      {AppendedPayload::kNoByteOrderMark, Exit::kNoByteOrderMark},
      {AppendedPayload::kSignedUnaligned, Exit::kSignedUnaligned},
      {AppendedPayload::kDamaged, Exit::kDamaged},
  };
  for (const Pair& pair : kPairs)
    if (pair.problem == problem)
      return pair.status;
  return Exit::kUnreadable;
}

namespace {

// "3  no such file": the code in two columns, then the meaning.
std::string Cell(const ExitRow& row) {
  char cell[128];
  snprintf(cell, sizeof(cell), "%-2d %s", Code(row.status), row.meaning);
  return cell;
}

}  // namespace

std::string ExitHelp(const std::vector<Exit>& only) {
  std::vector<ExitRow> rows;
  for (const ExitRow& row : kExits)
    if (only.empty() ||
        std::find(only.begin(), only.end(), row.status) != only.end())
      rows.push_back(row);
  const size_t kCell = 30;  // a status that shares its line, and its space
  std::string help = "\nExit status:\n";
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::string cell = Cell(rows[i]);
    help += "    " + cell;
    // An odd status with a short meaning shares its line with the next.
    if (Code(rows[i].status) % 2 == 1 && i + 1 < rows.size() &&
        Code(rows[i + 1].status) == Code(rows[i].status) + 1 &&
        cell.size() + 2 <= kCell)
      help += std::string(kCell - cell.size(), ' ') + Cell(rows[++i]);
    help += "\n";
  }
  return help;
}
