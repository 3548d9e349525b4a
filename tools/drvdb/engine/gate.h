// What fails a script: the run's own failure, errors, warnings with
// --werror, every finding for pack, and never a finding whose kind is
// allowed (--allow=NAME).
#pragma once

#include <set>
#include <string>
#include <vector>

#include "tools/drvdb/engine/check.h"
#include "tools/drvdb/engine/findings.h"

struct Gate {
  bool werror = false;
  bool strict = false;  // pack: every finding not allowed fails
  std::set<Kind> allowed;
};

bool Allowed(const Gate& gate, const Finding& finding);
bool Blocks(const Gate& gate, const Finding& finding);
/// Whether the report fails the gate: the run fails, or a finding blocks.
bool Fails(const CheckReport& report, const Gate& gate);

/// "allowed", "warning" or "error": how a finding is reported.
const char* Label(const Gate& gate, const Finding& finding);

/// Takes --werror and --allow=NAME,... (or --allow NAME,...) at args[*i];
/// false for any other argument. A NAME that is no kind, or no NAME, is a
/// wrong call, said in wrong.
bool TakeGateOption(const std::vector<std::string>& args, size_t* i,
                    Gate* gate, std::string* wrong);
