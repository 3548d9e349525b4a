#include "script/version_probe.h"

#include "script/script_fault.h"
#include "script/script_scan.h"

// The value name, once: the keyword, the name in its quotes and the value
// that the database key holds are spelt from it.
#define VERSION_VALUE_NAME "DriverVersion"
#define VERSION_TYPE "dword:"

const char kVersionValueName[] = VERSION_VALUE_NAME;
const char kVersionKeyword[] = "\"" VERSION_VALUE_NAME "\"=" VERSION_TYPE;
const char kVersionName[] = "\"" VERSION_VALUE_NAME "\"";
const char kVersionType[] = VERSION_TYPE;

uint32_t EmbeddedVersion;

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
