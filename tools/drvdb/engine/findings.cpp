#include "tools/drvdb/engine/findings.h"

#include <algorithm>

#include "tools/drvdb/engine/version_rules.h"

const std::vector<KindRow> kKinds = {
    {Kind::kMultilineHeader, "multiline-header", true,
     "a header whose ']' stands on a later line: the line breaks and the "
     "lines in between become part of the key name"},
    {Kind::kLineBreakInName, "line-break-in-name", true,
     "a carriage return inside a key or value name"},
    {Kind::kMissingBracket, "missing-bracket", true,
     "a line that looks like a section header but lacks its '[': the "
     "program ignores it, and the values after it land in the key before "
     "it"},
    {Kind::kDwordCut, "dword-cut", true,
     "a dword of more than eight hex digits: the program keeps only the "
     "last eight"},
    {Kind::kUnknownAllow, "unknown-allow", true,
     "an allowance comment that names no kind of finding"},
    {Kind::kValueBeforeHeader, "value-before-header", false,
     "value lines before the first section header, which the import skips"},
    {Kind::kDefaultValueLine, "default-value-line", false,
     "'@=' lines, which the import ignores"},
    {Kind::kRepeatedHeader, "repeated-header", false,
     "a key opened by more than one header: their values merge"},
    {Kind::kLetterCase, "letter-case", false,
     "spellings of one key that differ only in letter case: the registry "
     "keeps the first"},
    {Kind::kValueSetTwice, "value-set-twice", false,
     "a value set more than once: the last wins"},
    {Kind::kNotInCodePage, "not-in-code-page", false,
     "characters that the ANSI code page lacks: the program writes '?'"},
    {Kind::kNulEndsScript, "nul-ends-script", false,
     "a NUL character, after which the program reads nothing"},
    {Kind::kLongName, "long-name", false,
     "names beyond what a supported registry takes"},
    {Kind::kOutsideDatabase, "outside-database", false,
     "keys outside HKEY_LOCAL_MACHINE\\Software\\morvelan\\DRIVER2, which no "
     "update ever removes"},
    {Kind::kWow6432Node, "wow6432node", false,
     "paths through Wow6432Node, the 64-bit registry editor's name for the "
     "32-bit view that the product writes"},
    {Kind::kShortVersion, "short-version", false,
     "a version written with fewer than eight hex digits"},
    {Kind::kDwordLeadingZeros, "dword-leading-zeros", false,
     "a dword of more than eight hex digits, the extra ones leading zeros"},
    {Kind::kVersionNotInstalled, "version-not-installed", false,
     "after installing, the database key does not hold the version that "
     "the program reads"},
    {Kind::kVersionJump, "version-jump", false,
     "pack --newer-than: the version jumps by more than " +
         std::to_string(kLargeVersionJump) +
         " (allowed only by --allow, since it compares with OLD)"},
    {Kind::kDecimalVersion, "decimal-version", false,
     "pack --newer-than and diff: a version written in decimal, its digits "
     "read as decimal 1 to " + std::to_string(kDecimalSlip) +
         " above OLD's version, but read by the program as a larger "
         "hexadecimal number (allowed only by --allow, since it compares "
         "with OLD)"},
    {Kind::kUnusedAllow, "unused-allow", false,
     "an allowance comment that allows nothing on its line: a kind that no "
     "finding there has"},
};

namespace {

// The kind's row.
const KindRow* RowOf(Kind kind) {
  for (const KindRow& row : kKinds)
    if (row.kind == kind)
      return &row;
  return nullptr;
}

}  // namespace

const char* KindName(Kind kind) {
  const KindRow* row = RowOf(kind);
  return row ? row->name : nullptr;
}

bool FindKind(const std::string& name, Kind* kind) {
  for (const KindRow& row : kKinds)
    if (name == row.name) {
      *kind = row.kind;
      return true;
    }
  return false;
}

namespace {

// The edits (a letter added, dropped or changed) that make a into b.
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j)
    row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1,
                         diagonal + (a[i - 1] != b[j - 1])});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string UnknownKindMessage(const std::string& name) {
  const char* nearest = nullptr;
  size_t best = 3;  // two edits at most
  for (const KindRow& row : kKinds) {
    const size_t distance = EditDistance(name, row.name);
    if (distance < best) {
      best = distance;
      nearest = row.name;
    }
  }
  return "no kind of finding is called \"" + name + "\"" +
         (nearest ? std::string("; did you mean ") + nearest + "?"
                  : std::string(" (drvdb --help lists them)"));
}

bool IsError(const Finding& finding) {
  const KindRow* row = RowOf(finding.kind);
  return row && row->error;
}
