#include "script/script_import.h"

#include <string.h>

#include "script/database.h"
#include "script/script_fault.h"
#include "script/script_scan.h"
#include "script/script_walk.h"

namespace {

struct RootPrefix {
  const char* prefix;  // with its backslash, matched in any letter case
  HKEY root;
};

// Reads a quoted string value starting just after its opening quote and
// removes its escape backslashes in one pass: a backslash makes the next
// character literal, whatever it is. The value ends up in place, terminated,
// and nothing after the closing quote moves. Returns the closing quote, or
// null when the line ends first.
char* UnescapeString(char* value) {
  char* write = value;
  for (char* read = value;; ++read) {
    if (*read == '\0')
      return nullptr;
    if (*read == '\\') {
      ++read;
      if (*read == '\0')
        return nullptr;
    } else if (*read == '"') {
      *write = '\0';
      *read = '\0';  // the closing quote too, as if the value had moved up
      return read;
    }
    *write++ = *read;
  }
}

bool ParseString(char* value, ScriptValue* parsed) {
  if (*value == '\0')
    return Stop(value - 1, kFaultStringEmpty);
  char* close = UnescapeString(value);
  if (!close)
    return Stop(value - 1, kFaultStringUnclosed);
  const char* rest = SkipBlanks(close + 1);
  if (*rest != '\0')
    return Stop(rest, kFaultStringTrailing);
  parsed->type = REG_SZ;
  parsed->text = value;
  return true;
}

bool ParseDword(const char* text, ScriptValue* parsed) {
  static const char kDwordKeyword[] = "dword:";
  if (!MatchKeyword(text, kDwordKeyword))
    return Stop(text, kFaultUnsupportedType);
  const char* p = text + sizeof(kDwordKeyword) - 1;
  if (!IsHexDigit(*p))
    return Stop(p, kFaultDwordNoDigit);
  parsed->digits = p;
  parsed->number = 0;
  p = AccumulateHex(p, &parsed->number);
  parsed->digitsEnd = p;
  const char* rest = SkipBlanks(p);
  if (*rest != '\0')
    return Stop(rest, kFaultDwordTrailing);
  parsed->type = REG_DWORD;
  return true;
}

bool WriteValue(HKEY key, const char* line, const ScriptValue& value) {
  const BYTE number[4] = {
      static_cast<BYTE>(value.number), static_cast<BYTE>(value.number >> 8),
      static_cast<BYTE>(value.number >> 16),
      static_cast<BYTE>(value.number >> 24)};
  LONG rc = value.type == REG_SZ
                ? RegSetValueExA(key, value.name, 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(value.text),
                                 static_cast<DWORD>(strlen(value.text)) + 1)
                : RegSetValueExA(key, value.name, 0, REG_DWORD, number, 4);
  return rc == ERROR_SUCCESS || Stop(line, kFaultValueNotSet);
}

// The database's version, held back until everything else is written: on
// Windows every registry write lands at once, and a run killed part way
// must not leave a partial database that its version calls current.
struct HeldVersion {
  const char* name;   // the first spelling, which the registry would keep
  const char* line;   // the last line, whose value the import would leave
  ScriptValue value;
};

bool NamesVersion(const char* line) {
  const char* nameEnd = ValueNameEnd(line);
  return nameEnd && IsVersionValueName(line + 1, nameEnd);
}

// Parses a version line of the database key as the import would, and
// keeps it for the end.
bool HoldVersion(char* line, HeldVersion* held) {
  ScriptValue value;
  if (!ParseValueLine(line, &value))
    return false;
  if (!held->name)
    held->name = value.name;
  held->line = line;
  held->value = value;
  return true;
}

bool WriteHeldVersion(const HeldVersion& held) {
  if (!held.name)
    return true;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDatabaseKeyPath, 0, KEY_SET_VALUE,
                    &key) != ERROR_SUCCESS)
    return Stop(held.line, kFaultValueNotSet);
  ScriptValue value = held.value;
  value.name = held.name;
  bool ok = WriteValue(key, held.line, value);
  RegCloseKey(key);
  return ok;
}

}  // namespace

bool SplitRoot(const char* keyPath, HKEY* root, const char** subKey) {
  const RootPrefix kRoots[] = {
      {"HKEY_LOCAL_MACHINE\\", HKEY_LOCAL_MACHINE},
      {"HKEY_CURRENT_USER\\", HKEY_CURRENT_USER},
      {"HKEY_CLASSES_ROOT\\", HKEY_CLASSES_ROOT},
  };
  for (const RootPrefix& entry : kRoots) {
    if (MatchKeyword(keyPath, entry.prefix)) {
      *root = entry.root;
      *subKey = keyPath + strlen(entry.prefix);
      return true;
    }
  }
  return false;
}

bool ParseValueLine(char* line, ScriptValue* value) {
  *value = ScriptValue{};
  if (*line != '"')
    return Stop(line, kFaultNameUnclosed);
  char* nameEnd = ValueNameEnd(line);
  if (!nameEnd)
    return Stop(line, kFaultNameUnclosed);
  *nameEnd = '\0';
  value->name = line + 1;
  // Whatever stands between the name and the equals sign is passed over.
  char* equals = strchr(nameEnd + 1, '=');
  if (!equals)
    return Stop(nameEnd + 1, kFaultNoEquals);
  char* text = SkipBlanks(equals + 1);
  if (*text == '"')
    return ParseString(text + 1, value);
  return ParseDword(text, value);
}

bool SetValueFromLine(HKEY key, char* line) {
  ScriptValue value;
  return ParseValueLine(line, &value) && WriteValue(key, line, value);
}

bool ImportScript(char* scriptText) {
  HeldVersion held = {};
  char* p = FirstHeader(scriptText);
  while (*p == '[') {
    char* keyPath = p + 1;
    char* close = HeaderClose(p);
    if (!close)
      return Stop(p, kFaultHeaderUnclosed);
    *close = '\0';
    HKEY root;
    const char* subKey;
    if (!SplitRoot(keyPath, &root, &subKey))
      return Stop(keyPath, kFaultUnknownRoot);
    HKEY key;
    DWORD disposition;
    if (RegCreateKeyExA(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key,
                        &disposition) != ERROR_SUCCESS)
      return Stop(keyPath, kFaultKeyNotCreated);

    const bool database = IsDatabaseKey(root, subKey);
    p = SectionStart(close);
    char* end;
    while (char* line = NextValueLine(&p, &end)) {
      *end = '\0';
      bool ok = database && NamesVersion(line) ? HoldVersion(line, &held)
                                               : SetValueFromLine(key, line);
      if (!ok) {
        RegCloseKey(key);
        return false;
      }
    }
    RegCloseKey(key);
  }
  return WriteHeldVersion(held) && Stop(p, kFaultNone);
}
