// drvdb's exit statuses, one for each kind of outcome, in one table that
// --help prints and the tests name them by.
#pragma once

#include <string>
#include <vector>

#include "tools/drvdb/engine/program_file.h"

enum class Exit {
  kOk = 0,
  kFailed = 1,   // check failed, pack refused the script, diff differs
  kUsage = 2,    // a wrong call, or an output that is an input
  kMissing = 3,
  kNotAFile = 4,
  kUnreadable = 5,
  kUnwritable = 6,
  kEmpty = 7,
  kNotExecutable = 8,
  kNoTrailer = 9,
  kLengthPastFile = 10,
  kNoByteOrderMark = 11,
  kImageCarriesData = 12,
  kNotNewer = 13,
  kNotText = 14,
  kSigned = 15,
  kSignedUnaligned = 16,
  kDamaged = 17,
};

struct ExitRow {
  Exit status;
  const char* name;
  const char* meaning;  // as --help says it
};

/// Every status, in the order of their codes.
extern const std::vector<ExitRow> kExits;

/// The status's code, as the process ends with it.
inline int Code(Exit status) {
  return static_cast<int>(status);
}

/// The status of a payload that does not read, for its problem.
Exit PayloadExit(AppendedPayload::Problem problem);

/// --help's list of statuses (all of them, or those given, in the order of
/// their codes): two short ones share a line.
std::string ExitHelp(const std::vector<Exit>& only = {});
