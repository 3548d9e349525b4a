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

/// Adds the kinds of a list "NAME,..." to those allowed. A NAME that is no
/// kind is a wrong call, said in wrong.
void AllowKinds(const std::string& list, Gate* gate, std::string* wrong);
