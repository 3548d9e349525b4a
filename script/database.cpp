#include "script/database.h"

#include <stdlib.h>
#include <string.h>

#include "script/script_scan.h"
#include "script/shell_delete.h"
#include "script/version_probe.h"

const char kDatabaseKeyPath[] = "Software\\morvelan\\DRIVER2";
const char kDatabaseParentPath[] = "Software\\morvelan";
const char kDatabaseKeyName[] = "DRIVER2";

namespace {

const DWORD kNameCapacity = 2000;  // the buffer holds one byte more

// Whether two runs of text spell the same name, folded.
bool SameName(const char* a, const char* aEnd, const char* b,
              const char* bEnd) {
  return aEnd - a == bEnd - b &&
         SameFolded(a, b, static_cast<size_t>(aEnd - a));
}

// The end of the name that starts at p.
const char* NameEnd(const char* p) {
  while (*p && *p != '\\')
    ++p;
  return p;
}

}  // namespace

bool IsDatabaseKey(HKEY root, const char* subKey) {
  if (root != HKEY_LOCAL_MACHINE || *subKey == '\\')
    return false;  // the registry refuses a leading backslash
  // Nearly every header names a key below the database key, whose last name
  // differs: ruled out from the end, before the path is compared name by
  // name.
  const size_t nameLength = sizeof(kDatabaseKeyName) - 1;
  size_t length = strlen(subKey);
  while (length > 0 && subKey[length - 1] == '\\')
    --length;
  if (length < nameLength ||
      !SameName(subKey + length - nameLength, subKey + length,
                kDatabaseKeyName, kDatabaseKeyName + nameLength))
    return false;
  const char* p = subKey;
  for (const char* want = kDatabaseKeyPath; *want;) {
    while (*p == '\\')
      ++p;
    const char* wantEnd = NameEnd(want);
    if (!SameName(p, NameEnd(p), want, wantEnd))
      return false;
    p = NameEnd(p);
    want = *wantEnd ? wantEnd + 1 : wantEnd;
  }
  while (*p == '\\')
    ++p;
  return *p == '\0';
}

bool IsVersionValueName(const char* name, const char* end) {
  return SameName(name, end, kVersionValueName,
                  kVersionValueName + strlen(kVersionValueName));
}

bool ReadInstalledVersion(uint32_t* version) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDatabaseKeyPath, 0, KEY_QUERY_VALUE,
                    &key) != ERROR_SUCCESS)
    return false;
  DWORD type = REG_NONE;
  BYTE data[4];
  DWORD size = sizeof(data);
  LONG rc = RegQueryValueExA(key, kVersionValueName, nullptr, &type, data,
                             &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_DWORD || size != 4)
    return false;
  *version = static_cast<uint32_t>(data[0]) |
             static_cast<uint32_t>(data[1]) << 8 |
             static_cast<uint32_t>(data[2]) << 16 |
             static_cast<uint32_t>(data[3]) << 24;
  return true;
}

bool NeedsUpdate(uint32_t embeddedVersion) {
  uint32_t installed;
  return !ReadInstalledVersion(&installed) || installed < embeddedVersion;
}

bool DeleteKeyTree(HKEY parent, const char* name, bool mustExist) {
  HKEY key;
  if (RegOpenKeyExA(parent, name, 0, KEY_WRITE | KEY_ENUMERATE_SUB_KEYS,
                    &key) != ERROR_SUCCESS)
    return !mustExist;
  char* childName = static_cast<char*>(malloc(kNameCapacity + 1));
  if (!childName) {
    RegCloseKey(key);
    return false;
  }
  // Always ask for index 0: each child is gone before the next question.
  for (;;) {
    DWORD size = kNameCapacity;
    FILETIME lastWrite;
    if (RegEnumKeyExA(key, 0, childName, &size, nullptr, nullptr, nullptr,
                      &lastWrite) != ERROR_SUCCESS)
      break;
    if (!DeleteKeyTree(key, childName, true)) {
      free(childName);
      RegCloseKey(key);
      return false;
    }
  }
  free(childName);
  RegCloseKey(key);
  return RegDeleteKeyA(parent, name) == ERROR_SUCCESS;
}

bool RemovePreviousDatabase() {
  HKEY parent;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDatabaseParentPath, 0, KEY_WRITE,
                    &parent) != ERROR_SUCCESS)
    return true;  // nothing installed, or no right to change it
  if (IsNtPlatform()) {
    if (!ShellDeleteKey(parent, kDatabaseKeyName))
      DeleteKeyTree(parent, kDatabaseKeyName, false);
  } else {
    RegDeleteKeyA(parent, kDatabaseKeyName);  // takes the subtree there
  }
  RegCloseKey(parent);
  return true;
}

void ForgetInstalledVersion() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDatabaseKeyPath, 0, KEY_SET_VALUE,
                    &key) != ERROR_SUCCESS)
    return;
  RegDeleteValueA(key, kVersionValueName);
  RegCloseKey(key);
}
