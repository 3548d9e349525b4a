#include "tools/gate.h"

#include <sstream>

bool Allowed(const Gate& gate, const Finding& f) {
  return f.allowedHere ||
         (f.kind != Kind::kRunFails && gate.allowed.count(f.kind));
}

bool Blocks(const Gate& gate, const Finding& f) {
  if (Allowed(gate, f))
    return false;
  return IsError(f) || gate.werror || gate.strict;
}

bool Fails(const CheckReport& report, const Gate& gate) {
  if (report.outcome < 0)
    return true;
  for (const Finding& f : report.findings)
    if (Blocks(gate, f))
      return true;
  return false;
}

const char* Label(const Gate& gate, const Finding& f) {
  if (Allowed(gate, f))
    return "allowed";
  return IsError(f) ? "error" : "warning";
}

bool TakeGateOption(const std::string& arg, Gate* gate, std::string* wrong) {
  if (arg == "--werror") {
    gate->werror = true;
    return true;
  }
  if (arg.rfind("--allow=", 0) != 0)
    return false;
  std::stringstream names(arg.substr(8));
  for (std::string name; std::getline(names, name, ',');) {
    if (name.empty())
      continue;
    Kind kind;
    if (!FindKind(name, &kind)) {
      *wrong = "--allow: no kind of finding is called \"" + name +
               "\" (drvdb --help lists them)";
      return true;
    }
    gate->allowed.insert(kind);
  }
  return true;
}
