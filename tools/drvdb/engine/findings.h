// What drvdb finds in a script: each finding of a kind from one table,
// which names each kind once (its --allow name, the JSON's "kind"), says
// whether it is an error or a warning and sums it up for --help. Errors
// fail check; warnings fail it with --werror; every finding fails pack,
// which ships a script only when each finding's kind is allowed: by
// --allow=NAME everywhere, or by a comment "; drvdb: allow=NAME" above the
// line the finding names.
#pragma once

#include <stddef.h>

#include <string>
#include <vector>

enum class Kind {
  kMultilineHeader,
  kLineBreakInName,
  kMissingBracket,
  kDwordCut,
  kUnknownAllow,
  kValueBeforeHeader,
  kDefaultValueLine,
  kRepeatedHeader,
  kLetterCase,
  kValueSetTwice,
  kNotInCodePage,
  kNulEndsScript,
  kLongName,
  kOutsideDatabase,
  kWow6432Node,
  kShortVersion,
  kDwordLeadingZeros,
  kVersionNotInstalled,
  kVersionJump,
  kDecimalVersion,
  kUnusedAllow,
};

struct KindRow {
  Kind kind;
  const char* name;  // what --allow takes
  bool error;        // the program installs the script, exit 0, but
                     // writes something no maintainer means
  std::string summary;
};

/// Every kind with a name, in the order --help lists them.
extern const std::vector<KindRow> kKinds;

/// The kind's --allow name.
const char* KindName(Kind kind);

/// The kind a name names, or false.
bool FindKind(const std::string& name, Kind* kind);

/// What is said of a name that is no kind: the kind it is nearest to,
/// within two edits, as a question ("did you mean letter-case?").
std::string UnknownKindMessage(const std::string& name);

struct Finding {
  Kind kind;
  size_t line;    // 1-based
  size_t column;  // 1-based, in characters
  std::string message;
  bool allowedHere = false;  // by the script's own comment above its line
};

/// Errors: the kinds that write what no maintainer means.
bool IsError(const Finding& finding);

/// Where the program's own run stops when it fails, and why: no kind of
/// finding, for nothing allows it, but told among them as an error, in line
/// order, before the findings of its own line and column.
struct RunStop {
  size_t line = 1;    // 1-based
  size_t column = 1;  // 1-based, in characters
  std::string message;
};
