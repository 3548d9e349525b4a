#include "tools/drvdb/engine/check.h"

#include <algorithm>
#include <map>

#include "platform/host/controls.h"
#include "platform/host/mutex.h"
#include "tools/drvdb/engine/model.h"
#include "tools/drvdb/engine/passes.h"
#include "tools/drvdb/engine/script_run.h"

const std::vector<Pass> kPasses = {
    {"characters", CheckCharacters, false},
    {"line-breaks-in-keys", CheckLineBreaksInKeys, true},
    {"ignored-lines", CheckIgnoredLines, true},
    {"key-names", CheckKeyNames, true},
    {"scope", CheckScope, true},
    {"values", CheckValues, true},
    {"version", CheckVersion, true},
};

namespace {

// The script's own allowances: each finding on an allowance's line, of a
// kind it names, is allowed there; a kind that allows nothing on a line
// that the import read is a warning (beyond where the run stopped nothing
// can tell), and a name that is no kind an error, at the comment.
void ApplyAllowances(const Model& m, Findings* findings) {
  std::map<size_t, std::vector<Finding*>> byLine;
  for (Finding& f : *findings)
    byLine[f.line].push_back(&f);
  Findings found;
  for (const Allowance& a : m.allowances) {
    for (const auto& [kind, at] : a.kinds) {
      bool used = false;
      for (Finding* f : byLine[a.target])
        if (f->kind == kind)
          used = f->allowedHere = true;
      if (!used && a.target <= m.readLines)
        found.push_back(FindingAt(
            m, Kind::kUnusedAllow, at,
            std::string("allow=") + KindName(kind) +
                " allows nothing: no finding of that kind stands on line " +
                std::to_string(a.target) +
                ", the next line that is no comment"));
    }
    for (const auto& [name, at] : a.unknown)
      found.push_back(FindingAt(m, Kind::kUnknownAllow, at,
                                UnknownKindMessage(name)));
  }
  findings->insert(findings->end(), found.begin(), found.end());
}

}  // namespace

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
  if (run.hasVersion)
    report.versionLine = model.versionLine;
  report.installed = model.installed;
  report.installedVersion = model.installedVersion;
  report.headers = model.reachedHeaders;
  report.keys = model.distinctKeys;
  report.values = model.distinctValues;
  report.stopped = ReportStop(model, &report.stop);
  for (const Pass& pass : kPasses) {
    if (pass.needsVersion && !run.hasVersion)
      continue;
    Findings found;
    pass.check(model, &found);
    report.findings.insert(report.findings.end(), found.begin(), found.end());
  }
  ApplyAllowances(model, &report.findings);
  std::stable_sort(report.findings.begin(), report.findings.end(),
                   [](const Finding& x, const Finding& y) {
                     return x.line < y.line ||
                            (x.line == y.line && x.column < y.column);
                   });
  return report;
}

std::vector<const Finding*> ReportOrder(const CheckReport& report) {
  std::vector<const Finding*> order;
  bool told = !report.stopped;
  for (const Finding& f : report.findings) {
    if (!told && (f.line > report.stop.line ||
                  (f.line == report.stop.line && f.column >= report.stop.column))) {
      order.push_back(nullptr);
      told = true;
    }
    order.push_back(&f);
  }
  if (!told)
    order.push_back(nullptr);
  return order;
}
