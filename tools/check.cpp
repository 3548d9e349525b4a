#include "tools/check.h"

#include <algorithm>

#include "platform/host/controls.h"
#include "platform/host/mutex.h"
#include "tools/model.h"
#include "tools/passes.h"
#include "tools/script_run.h"

const std::vector<Pass> kPasses = {
    {"stop", ReportStop, false},
    {"characters", CheckCharacters, false},
    {"line-breaks-in-keys", CheckLineBreaksInKeys, true},
    {"ignored-lines", CheckIgnoredLines, true},
    {"key-names", CheckKeyNames, true},
    {"scope", CheckScope, true},
    {"values", CheckValues, true},
    {"version", CheckVersion, true},
};

void ResetMachine() {
  HostRegistryReset();
  HostMutexReset();
}

CheckReport CheckScript(const SourceScript& script) {
  ResetMachine();
  ScriptRun run;
  RunScript(script.shipped, &run);
  Model model{script, run};
  BuildModel(&model);
  CheckReport report;
  report.outcome = run.outcome;
  report.lines = run.lines.Lines();
  report.hasVersion = run.hasVersion;
  report.version = run.version;
  report.versionText = model.versionText;
  report.headers = model.reachedHeaders;
  report.keys = model.distinctKeys;
  report.values = model.distinctValues;
  for (const Pass& pass : kPasses) {
    if (pass.needsVersion && !run.hasVersion)
      continue;
    Findings found;
    pass.check(model, &found);
    report.findings.insert(report.findings.end(), found.begin(), found.end());
  }
  std::stable_sort(report.findings.begin(), report.findings.end(),
                   [](const Finding& x, const Finding& y) {
                     return x.line < y.line ||
                            (x.line == y.line && x.column < y.column);
                   });
  return report;
}
