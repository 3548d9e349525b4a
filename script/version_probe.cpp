#include "script/script_scan.h"

uint32_t EmbeddedVersion;

namespace {
const char kVersionKeyword[] = "\"DriverVersion\"=dword:";
}

bool ProbeEmbeddedVersion(const char* scriptText) {
  const char* p = SkipBlanks(scriptText);
  if (*p == '\0')
    return false;
  // The first matching line decides, whatever section it stands in.
  while (!MatchKeyword(p, kVersionKeyword)) {
    p = SkipBlanks(NextLine(p));
    if (*p == '\0')
      return false;
  }
  p += sizeof(kVersionKeyword) - 1;
  if (!IsHexDigit(*p))
    return false;
  uint32_t version = 0;
  p = AccumulateHex(p, &version);
  if (*p != '\r' && *p != '\n' && *p != '\0')
    return false;
  EmbeddedVersion = version;
  return true;
}
