// What a machine holds after an install, each key by its full path folded
// as the registry compares it, mapped back onto the script that installed
// it: the key's path and each value line as written, with their line
// numbers (0 for what no line of that script wrote). drvdb's diff compares
// two of them.
#pragma once

#include <stdint.h>

#include <map>
#include <string>

#include "tools/drvdb/engine/findings.h"
#include "tools/drvdb/engine/source.h"

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

struct Install {
  int outcome = 0;
  bool hasVersion = false;
  uint32_t version = 0;
  RunStop failure;  // where a failing run stops
  InstalledTree tree;  // the machine afterwards
};

/// Installs script onto the stand-in machine as it stands (so that a second
/// install updates over the first), and reads the machine back.
Install InstallScript(const SourceScript& script);
