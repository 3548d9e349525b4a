#include "script/script_import.h"

#include <string.h>

#include "script/script_scan.h"

namespace {

struct RootPrefix {
  const char* prefix;  // with its backslash, matched in any letter case
  HKEY root;
};

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

// Reads a quoted string value starting just after its opening quote,
// removing escape backslashes in place: a backslash makes the next character
// literal, whatever it is. Returns the closing quote, or null when the line
// ends first.
char* UnescapeString(char* value) {
  for (char* p = value;; ++p) {
    if (*p == '\0')
      return nullptr;
    if (*p == '\\') {
      memmove(p, p + 1, strlen(p + 1) + 1);
      if (*p == '\0')
        return nullptr;
    } else if (*p == '"') {
      return p;
    }
  }
}

bool SetStringValue(HKEY key, const char* name, char* value) {
  if (*value == '\0')
    return false;
  char* close = UnescapeString(value);
  if (!close)
    return false;
  *close = '\0';
  if (*SkipBlanks(close + 1) != '\0')
    return false;
  DWORD size = static_cast<DWORD>(close - value) + 1;
  return RegSetValueExA(key, name, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(value),
                        size) == ERROR_SUCCESS;
}

bool SetDwordValue(HKEY key, const char* name, const char* text) {
  static const char kDwordKeyword[] = "dword:";
  if (!MatchKeyword(text, kDwordKeyword))
    return false;
  const char* p = text + sizeof(kDwordKeyword) - 1;
  if (!IsHexDigit(*p))
    return false;
  uint32_t number = 0;
  p = AccumulateHex(p, &number);
  if (*SkipBlanks(p) != '\0')
    return false;
  const BYTE data[4] = {
      static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
      static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
  return RegSetValueExA(key, name, 0, REG_DWORD, data, 4) == ERROR_SUCCESS;
}

}  // namespace

bool SetValueFromLine(HKEY key, char* line) {
  if (*line != '"')
    return false;
  char* name = line + 1;
  char* nameEnd = strchr(name, '"');  // names know no escapes
  if (!nameEnd)
    return false;
  *nameEnd = '\0';
  // Whatever stands between the name and the equals sign is passed over.
  char* equals = strchr(nameEnd + 1, '=');
  if (!equals)
    return false;
  char* value = SkipBlanks(equals + 1);
  if (*value == '"')
    return SetStringValue(key, name, value + 1);
  return SetDwordValue(key, name, value);
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
      return false;
    *close = '\0';
    HKEY root;
    const char* subKey;
    if (!SplitRoot(keyPath, &root, &subKey))
      return false;
    HKEY key;
    DWORD disposition;
    if (RegCreateKeyExA(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key,
                        &disposition) != ERROR_SUCCESS)
      return false;

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
  return true;
}
