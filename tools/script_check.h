// Checking a registry script exactly as the setup program would run it: the
// payload decoding, the version probe and the update sequence are the
// program's own, run against the in-memory stand-in registry. What this file
// adds is only the mapping back to the file the user wrote, and warnings for
// what the program silently ignores or changes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

/// A script file as its maintainer wrote it.
struct SourceScript {
  std::string path;
  std::u32string text;  // its characters (after any byte-order mark)
  std::string shipped;  // the bytes the program carries: UTF-16LE, BOM first
};

/// Reads script bytes: UTF-16LE with its byte-order mark (as shipped) or
/// UTF-8 text (with or without its mark), which is converted. False, with
/// error saying where, for text that is neither.
bool LoadScript(const std::string& path, const std::string& bytes,
                SourceScript* script, std::string* error);

/// The UTF-8 bytes of a character sequence.
std::string ToUtf8(const std::u32string& text);

/// Kinds of finding that fail the gate although the program would install
/// the script: it would write something no maintainer means. A maintainer
/// ships such a script knowingly with --allow=NAME.
struct GateKind {
  const char* name;
  const char* what;
};
extern const GateKind kGateKinds[2];

struct Finding {
  enum Severity { kError, kWarning } severity;
  size_t line;    // 1-based; 0 for the script as a whole
  size_t column;  // 1-based, in characters; 0 with line 0
  std::string message;
  const char* gate = nullptr;  // a gate kind's name: an error the program
                               // itself would not report
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
  std::vector<Finding> findings;  // in line order; at most one error that
                                  // is not a gate finding
};

CheckReport CheckScript(const SourceScript& script);

/// "71 (dword:00000047)": the version as the program reads it, and as
/// written.
std::string VersionShown(const CheckReport& report);

/// Text in ANSI (the program's code page) as UTF-8, with control characters
/// shown as their Unicode pictures (U+2400...), which no ANSI name can hold:
/// a line feed in a name cannot be mistaken for a backslash and an n.
std::string VisibleName(const std::string& ansi);

/// The line of the script (1-based) as UTF-8, without its line end.
std::string SourceLine(const SourceScript& script, size_t line);

/// What the registry holds after a run: each key by its full path folded as
/// the registry compares it, with the path as stored and its values by
/// folded name, each with its name as stored and its shown form (in UTF-8).
struct TreeKey {
  std::string path;
  std::map<std::string, std::pair<std::string, std::string>> values;
};
using InstalledTree = std::map<std::string, TreeKey>;

/// Installs script onto the stand-in registry as it stands (so that a second
/// call updates over the first) and reads back every key and value. Answers
/// the run's outcome.
int InstallScript(const SourceScript& script, bool* hasVersion,
                  uint32_t* version);
InstalledTree ReadInstalledTree();

/// Forgets everything installed: a fresh machine.
void ResetMachine();
