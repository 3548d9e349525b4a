#include "script/version_probe.h"

#include "script/script_fault.h"
#include "script/script_scan.h"

namespace {

// The value name, once: the keyword, the name in its quotes and the value
// that the database key holds are spelt from it, at compile time.
constexpr char kName[] = "DriverVersion";
constexpr char kType[] = "dword:";
constexpr size_t kNameLength = sizeof(kName) - 1;
constexpr size_t kTypeLength = sizeof(kType) - 1;

struct Spelling {
  char text[kNameLength + kTypeLength + 4];  // the keyword and its NUL
};

// The name in its quotes, then with the type: '=' and the type word.
constexpr Spelling Spell(bool withType) {
  Spelling s{};
  size_t n = 0;
  s.text[n++] = '"';
  for (size_t i = 0; i < kNameLength; ++i)
    s.text[n++] = kName[i];
  s.text[n++] = '"';
  if (withType) {
    s.text[n++] = '=';
    for (size_t i = 0; i < kTypeLength; ++i)
      s.text[n++] = kType[i];
  }
  s.text[n] = '\0';
  return s;
}

constexpr Spelling kKeyword = Spell(true);
constexpr Spelling kQuoted = Spell(false);
constexpr size_t kKeywordLength = kNameLength + kTypeLength + 3;

}  // namespace

const char* const kVersionValueName = kName;
const char* const kVersionKeyword = kKeyword.text;
const char* const kVersionName = kQuoted.text;
const char* const kVersionType = kType;

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
  p += kKeywordLength;
  if (!IsHexDigit(*p))
    return Stop(p, kFaultVersionNoDigit);
  uint32_t version = 0;
  p = AccumulateHex(p, &version);
  if (*p != '\r' && *p != '\n' && *p != '\0')
    return Stop(p, kFaultVersionTrailing);
  EmbeddedVersion = version;
  return Stop(line, kFaultNone);
}
