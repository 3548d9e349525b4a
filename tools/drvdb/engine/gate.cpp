#include "tools/drvdb/engine/gate.h"

#include <sstream>

bool Allowed(const Gate& gate, const Finding& f) {
  return f.allowedHere || gate.allowed.count(f.kind);
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

void AllowKinds(const std::string& list, Gate* gate, std::string* wrong) {
  std::stringstream names(list);
  for (std::string name; std::getline(names, name, ',');) {
    if (name.empty())
      continue;
    Kind kind;
    if (!FindKind(name, &kind)) {
      *wrong = "--allow: " + UnknownKindMessage(name);
      return;
    }
    gate->allowed.insert(kind);
  }
}
