// Checking a registry script exactly as the setup program would run it: the
// payload decoding, the version probe, the update sequence and the import's
// walk over the script are the program's own, run against the in-memory
// stand-in registry. What this file adds is the mapping of each registry
// call back to the line it came from (by the call's position in the text),
// and findings for what the program silently ignores or changes.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

/// A script file as its maintainer wrote it.
struct SourceScript {
  std::string path;
  std::u32string text;  // its characters (after any byte-order mark)
  std::string shipped;  // the bytes the program carries: UTF-16LE, BOM first
};

/// Why a file is no script: where (1-based line and column) and what.
struct LoadError {
  size_t line = 0, column = 0;  // 0 when the file as a whole is wrong
  std::string message;
};

/// Reads script bytes: UTF-16LE with its byte-order mark (as shipped) or
/// UTF-8 text (with or without its mark), which is converted. False for
/// text that is neither.
bool LoadScript(const std::string& path, const std::string& bytes,
                SourceScript* script, LoadError* error);

/// The UTF-8 bytes of a character sequence.
std::string ToUtf8(const std::u32string& text);

/// The kinds of finding. Errors fail check; warnings fail it with --werror;
/// every finding fails pack, which ships a script only when each finding's
/// kind is allowed by name (--allow=NAME).
struct FindingKind {
  const char* name;
  bool error;  // the program installs the script, exit 0, but writes
               // something no maintainer means
  const char* what;
};
extern const std::vector<FindingKind> kFindingKinds;

/// The kind of a name, or null.
const FindingKind* FindKind(const std::string& name);

struct Finding {
  enum Severity { kError, kWarning } severity;
  size_t line;    // 1-based
  size_t column;  // 1-based, in characters
  std::string message;
  const char* kind = nullptr;  // null only for the error that fails the run
};

struct CheckReport {
  int outcome = 0;  // what the program's run would end with on a machine
                    // without the database: 0, -1, -2 or -3
  bool hasVersion = false;
  uint32_t version = 0;
  std::string versionText;  // as written: "dword:00000047"
  size_t lines = 0;    // as the program sees the text
  size_t headers = 0;  // section headers the import reached
  size_t keys = 0;     // distinct keys they name
  size_t values = 0;   // distinct values the import leaves
  std::vector<Finding> findings;  // in line order; at most one without a
                                  // kind: the error where the run fails
};

CheckReport CheckScript(const SourceScript& script);

/// What fails: every --allow=NAME given, and whether warnings fail (check
/// --werror) or everything does (pack).
struct Gate {
  bool werror = false;
  bool strict = false;  // pack: every finding not allowed fails
  std::set<std::string> allowed;
};

bool Allowed(const Gate& gate, const Finding& finding);
bool Blocks(const Gate& gate, const Finding& finding);
/// Whether the report fails the gate: the run fails, or a finding blocks.
bool Fails(const CheckReport& report, const Gate& gate);

/// "71 (dword:00000047)": the version as the program reads it, and as
/// written.
std::string VersionShown(const CheckReport& report);

/// The line of the script (1-based) as UTF-8, without its line end.
std::string SourceLine(const SourceScript& script, size_t line);

/// What a machine holds after a run, each key by its full path folded as
/// the registry compares it, with where the script spelled it: the key's
/// path and each value line as written, with their line numbers (0 for
/// what no line of the script wrote).
struct TreeValue {
  std::string shown;  // "name"=data, as the registry holds it
  std::string data;   // the data part of it
  size_t line = 0;    // the last line that set it
  std::string written;  // that line as written
};
struct TreeKey {
  std::string path;  // as the script spells it, or as the registry keeps it
  size_t line = 0;   // the header that made it
  std::map<std::string, TreeValue> values;  // by folded name
};
using InstalledTree = std::map<std::string, TreeKey>;

/// Installs script onto the stand-in registry as it stands (so that a second
/// call updates over the first). Answers the run's outcome, and with a
/// failing run the finding where it stops.
int InstallScript(const SourceScript& script, bool* hasVersion,
                  uint32_t* version, Finding* failure);

/// The registry as it stands, mapped onto the lines of the script that the
/// last InstallScript installed.
InstalledTree ReadInstalledTree();

/// Forgets everything installed: a fresh machine.
void ResetMachine();
