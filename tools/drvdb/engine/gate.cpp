#include "tools/drvdb/engine/gate.h"

#include "tools/drvdb/front/commands.h"

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

bool TakeGateOption(const std::vector<std::string>& args, size_t* i,
                    Gate* gate, std::string* wrong) {
  if (args[*i] == "--werror") {
    gate->werror = true;
    return true;
  }
  std::string list;
  bool missing;
  if (!TakeValue(args, i, "--allow", &list, &missing))
    return false;
  if (missing) {
    *wrong = "--allow needs NAME,..., the kinds of finding to allow";
    return true;
  }
  std::stringstream names(list);
  for (std::string name; std::getline(names, name, ',');) {
    if (name.empty())
      continue;
    Kind kind;
    if (!FindKind(name, &kind)) {
      *wrong = "--allow: " + UnknownKindMessage(name);
      return true;
    }
    gate->allowed.insert(kind);
  }
  return true;
}
