// What every analysis of drvdb's check reads: the script as written, the
// program's run of it on the stand-in registry (script_run.h), and the
// indexes the analyses share, each computed once when the model is built.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "tools/drvdb/engine/findings.h"
#include "tools/drvdb/engine/script_run.h"
#include "tools/drvdb/engine/source.h"

/// The names of a key path, as the registry splits it (empty names are
/// skipped), each with its offset in the path.
std::vector<std::pair<size_t, std::string>> SplitPath(const std::string& path);

/// The key a key path names, folded as the registry compares it; empty for
/// a path under none of the importer's roots.
std::string FoldedKey(const std::string& keyPath);

/// HKEY_LOCAL_MACHINE\Software\morvelan\DRIVER2, folded.
const std::string& FoldedDatabaseKey();

/// A header, as the analyses see it.
struct ModelHeader {
  std::string keyPath;  // as written between its brackets
  std::string key;      // FoldedKey of it
  size_t line;          // of its '['
  size_t lastLine;      // of its ']', or the text's last line
  bool closed;          // it has a ']'
  bool hasValues;       // a value line stands in its section
  size_t firstOfKey;    // the first closed header naming the same key (itself
                        // for the first); npos for an unclosed header or
                        // a path under no root
};

/// A comment "; drvdb: allow=KIND[,KIND...]": the kinds of finding it
/// allows on the next line that is not a comment (its target).
struct Allowance {
  size_t line;    // the comment's
  size_t target;  // the line it allows findings on; past the last line when
                  // no line but comments follows
  std::vector<std::pair<Kind, size_t>> kinds;  // each with its offset
  std::vector<std::pair<std::string, size_t>> unknown;  // names no kind
};

struct Model {
  Model(const SourceScript& source, const ScriptRun& programRun)
      : script(source), run(programRun) {}

  const SourceScript& script;
  const ScriptRun& run;
  std::vector<ModelHeader> headers;  // one for each of run.headers
  /// For each line (1-based; 0 unused): 0, or 1 + the header whose key path
  /// or value lines hold it.
  std::vector<size_t> lineHeader;
  size_t versionLine = std::string::npos;  // the line the probe read
  size_t versionDigits = 0;  // where the version's digits begin
  std::string versionText;   // as written: "dword:00000047"
  /// For each value line that the import passed in a key it made: the
  /// first such line that set the same value (itself for the first); npos
  /// for the others.
  std::vector<size_t> firstSetter;
  size_t distinctValues = 0;
  size_t reachedHeaders = 0;  // headers the import reached
  size_t distinctKeys = 0;    // keys they made or opened
  size_t wowHeaders = 0;      // headers whose path runs through Wow6432Node
  size_t firstWowHeader = std::string::npos;
  bool installed = false;     // the database key holds a version after the
  uint32_t installedVersion = 0;  // run, and which
  std::vector<Allowance> allowances;  // the script's own, in line order
  /// The lines the import read, 1 to readLines: none when the probe failed,
  /// up to the line where the import stopped when it failed, all when it
  /// ran to the end.
  size_t readLines = 0;

  size_t Line(size_t offset) const { return run.lines.LineOf(offset); }
  /// The header whose section (or key path) holds offset, or npos.
  size_t HeaderAt(size_t offset) const;
  /// The key a header opened, as the registry keeps it (its first
  /// spelling), shown in UTF-8; as written when the import never reached
  /// the header.
  std::string KeyShown(size_t header) const;
};

/// Builds the model of a run, reading the stand-in registry as the run left
/// it (for the installed version).
void BuildModel(Model* model);

/// A finding at an offset of the program's text: its line and column.
Finding FindingAt(const Model& m, Kind kind, size_t offset,
                  std::string message);

/// A finding at the first column of a line.
Finding FindingAtLine(Kind kind, size_t line, std::string message);
