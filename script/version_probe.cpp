#include "script/script_scan.h"

uint32_t EmbeddedVersion;
ScriptStop LastScriptStop;

namespace {
const char kVersionKeyword[] = "\"DriverVersion\"=dword:";
}

namespace {
bool Stop(const char* at, ScriptFault fault) {
  LastScriptStop = ScriptStop{at, fault};
  return fault == kFaultNone;
}
}  // namespace

bool ProbeEmbeddedVersion(const char* scriptText) {
  const char* p = SkipBlanks(scriptText);
  if (*p == '\0')
    return Stop(nullptr, kFaultNoVersionLine);
  // The first matching line decides, whatever section it stands in.
  while (!MatchKeyword(p, kVersionKeyword)) {
    p = SkipBlanks(NextLine(p));
    if (*p == '\0')
      return Stop(nullptr, kFaultNoVersionLine);
  }
  const char* line = p;
  p += sizeof(kVersionKeyword) - 1;
  if (!IsHexDigit(*p))
    return Stop(p, kFaultVersionNoDigit);
  uint32_t version = 0;
  p = AccumulateHex(p, &version);
  if (*p != '\r' && *p != '\n' && *p != '\0')
    return Stop(p, kFaultVersionTrailing);
  EmbeddedVersion = version;
  return Stop(line, kFaultNone);
}
