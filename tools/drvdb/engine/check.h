// drvdb's check: the program's own run of a script on a machine without
// the database, and every pass over it.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "tools/drvdb/engine/findings.h"
#include "tools/drvdb/engine/source.h"

struct CheckReport {
  int outcome = 0;  // what the program's run would end with on a machine
                    // without the database: 0, -1, -2 or -3
  bool hasVersion = false;
  uint32_t version = 0;
  std::string versionText;  // as written: "dword:00000047"
  size_t versionLine = 0;   // the line the probe read it from, 1-based
  bool installed = false;   // the database key holds a version after the
  uint32_t installedVersion = 0;  // run, and which
  size_t lines = 0;    // as the program sees the text
  size_t headers = 0;  // section headers the import reached
  size_t keys = 0;     // distinct keys they name
  size_t values = 0;   // distinct values the import leaves
  std::vector<Finding> findings;  // in line order
  bool stopped = false;  // the run fails (outcome < 0), and stops here:
  RunStop stop;
};

/// What a report tells, in its order: its findings, and the run's stop
/// (null) before the findings of its own line and column.
std::vector<const Finding*> ReportOrder(const CheckReport& report);

/// Installs the script on a fresh stand-in machine as the program would,
/// and runs every pass over the run.
CheckReport CheckScript(const SourceScript& script);

/// Forgets everything installed: a fresh machine.
void ResetMachine();
