// drvdb's analyses: each a pass over the model (model.h) that adds its own
// findings and reads no other pass's.
#pragma once

#include <vector>

#include "tools/drvdb/engine/findings.h"
#include "tools/drvdb/engine/model.h"

using Findings = std::vector<Finding>;

struct Pass {
  const char* name;
  void (*check)(const Model& m, Findings* found);
  bool needsVersion;  // without a version the import never runs: what it
                      // would do is moot
};

/// Every pass, in the order the check runs them (findings of one line and
/// column keep that order).
extern const std::vector<Pass> kPasses;

/// Where and why the program's run stops, when it fails (passes_text.cpp).
bool ReportStop(const Model& m, RunStop* stop);

// passes_text.cpp: the text, lines the import skips.
void CheckCharacters(const Model& m, Findings* found);
void CheckLineBreaksInKeys(const Model& m, Findings* found);
void CheckIgnoredLines(const Model& m, Findings* found);
// passes_keys.cpp: the keys a script names, and where they lie.
void CheckKeyNames(const Model& m, Findings* found);
void CheckScope(const Model& m, Findings* found);
// passes_values.cpp: the values, and the version.
void CheckValues(const Model& m, Findings* found);
void CheckVersion(const Model& m, Findings* found);
