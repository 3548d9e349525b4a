#include "script/script_import.h"

#include <string.h>

#include "script/script_scan.h"

namespace {

struct RootPrefix {
  const char* prefix;  // with its backslash, matched in any letter case
  HKEY root;
};

// Records where the import stopped and why; answers whether it went well.
bool Stop(const char* at, ScriptFault fault) {
  LastScriptStop = ScriptStop{at, fault};
  return fault == kFaultNone;
}

// Splits a key path into its root and the subkey path after the prefix.
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

// Cuts a value line in place: the LF that ends it, or the CR before that LF,
// becomes its terminator. next is where the following line starts.
void CutLine(char* line, char* next) {
  if (next == line || (next[-1] != '\n' && next[-1] != '\r'))
    return;  // the last line, running to the end of the text
  char* end = next - 1;
  if (end > line && end[-1] == '\r')
    --end;
  *end = '\0';
}

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

bool SetStringValue(HKEY key, const char* line, const char* name,
                    char* value) {
  if (*value == '\0')
    return Stop(value - 1, kFaultStringEmpty);
  char* close = UnescapeString(value);
  if (!close)
    return Stop(value - 1, kFaultStringUnclosed);
  const char* rest = SkipBlanks(close + 1);
  if (*rest != '\0')
    return Stop(rest, kFaultStringTrailing);
  DWORD size = static_cast<DWORD>(strlen(value)) + 1;
  if (RegSetValueExA(key, name, 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(value),
                     size) != ERROR_SUCCESS)
    return Stop(line, kFaultValueNotSet);
  return true;
}

bool SetDwordValue(HKEY key, const char* line, const char* name,
                   const char* text) {
  static const char kDwordKeyword[] = "dword:";
  if (!MatchKeyword(text, kDwordKeyword))
    return Stop(text, kFaultUnsupportedType);
  const char* p = text + sizeof(kDwordKeyword) - 1;
  if (!IsHexDigit(*p))
    return Stop(p, kFaultDwordNoDigit);
  uint32_t number = 0;
  p = AccumulateHex(p, &number);
  const char* rest = SkipBlanks(p);
  if (*rest != '\0')
    return Stop(rest, kFaultDwordTrailing);
  const BYTE data[4] = {
      static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
      static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
  if (RegSetValueExA(key, name, 0, REG_DWORD, data, 4) != ERROR_SUCCESS)
    return Stop(line, kFaultValueNotSet);
  return true;
}

}  // namespace

bool SetValueFromLine(HKEY key, char* line) {
  if (*line != '"')
    return Stop(line, kFaultNameUnclosed);
  char* name = line + 1;
  char* nameEnd = strchr(name, '"');  // names know no escapes
  if (!nameEnd)
    return Stop(line, kFaultNameUnclosed);
  *nameEnd = '\0';
  // Whatever stands between the name and the equals sign is passed over.
  char* equals = strchr(nameEnd + 1, '=');
  if (!equals)
    return Stop(nameEnd + 1, kFaultNoEquals);
  char* value = SkipBlanks(equals + 1);
  if (*value == '"')
    return SetStringValue(key, line, name, value + 1);
  return SetDwordValue(key, line, name, value);
}

bool ImportScript(char* scriptText) {
  char* p = SkipBlanks(scriptText);
  while (*p != '[' && *p != '\0')
    p = SkipBlanks(NextLine(p));  // lines before the first header

  while (*p == '[') {
    char* keyPath = p + 1;
    // The closing bracket may stand on a later line; the lines in between
    // then belong to the key path.
    char* close = strchr(keyPath, ']');
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

    p = SkipBlanks(NextLine(close + 1));  // the rest of the header line
    while (*p != '[' && *p != '\0') {
      char* line = p;
      char* next = NextLine(line);
      p = SkipBlanks(next);
      if (*line != '"')
        continue;  // comments, default values, continuation lines
      CutLine(line, next);
      if (!SetValueFromLine(key, line)) {
        RegCloseKey(key);
        return false;
      }
    }
    RegCloseKey(key);
  }
  return Stop(p, kFaultNone);
}
