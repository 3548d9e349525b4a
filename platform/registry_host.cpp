// In-memory stand-in for the Windows registry, the platform family and the
// shell library's tree deletion.
//
// It follows the real registry wherever this program can meet a rule:
// names compare without ASCII case and keep the case they were created
// with; subkeys enumerate in name order; handles carry their access mask;
// a handle to a deleted key fails with ERROR_KEY_DELETED. Where the Win32
// documentation is silent the stand-in does as Wine 8 does; those places
// say so.

#include "platform/registry_host.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <set>

#include "platform/registry.h"

namespace {

struct Value {
  std::string name;
  DWORD type;
  std::vector<BYTE> data;
};

struct Key {
  std::string name;
  std::string folded;  // name with A-Z folded, the sort and lookup key
  Key* parent = nullptr;
  std::vector<Key*> children;  // sorted by folded name
  std::vector<Value> values;   // in creation order
  bool deleted = false;
  bool denied = false;
};

}  // namespace

// A handle: the key it names and the access it was opened with.
struct HKEY__ {
  Key* key;
  REGSAM access;
};

namespace {

const size_t kMaxKeyNameLength = 256;     // Wine; the documentation says 255
const size_t kMaxValueNameLength = 16383;
const size_t kMaxDepth = 512;
const size_t kMaxNewLevels = 32;

std::vector<std::unique_ptr<Key>> g_keys;  // owns every key, deleted ones too
std::set<HKEY> g_handles;
std::vector<std::string> g_journal;
Key* g_local_machine = nullptr;
Key* g_current_user = nullptr;
bool g_unavailable = false;
DWORD g_platform_id = VER_PLATFORM_WIN32_NT;
bool g_shell_library_present = true;

std::string Fold(const std::string& s) {
  std::string folded = s;
  for (char& c : folded)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  return folded;
}

Key* NewKey(const std::string& name, Key* parent) {
  g_keys.push_back(std::make_unique<Key>());
  Key* key = g_keys.back().get();
  key->name = name;
  key->folded = Fold(name);
  key->parent = parent;
  if (parent) {
    auto at = std::lower_bound(
        parent->children.begin(), parent->children.end(), key->folded,
        [](const Key* k, const std::string& f) { return k->folded < f; });
    parent->children.insert(at, key);
  }
  return key;
}

Key* FindChild(const Key* parent, const std::string& name) {
  std::string folded = Fold(name);
  auto at = std::lower_bound(
      parent->children.begin(), parent->children.end(), folded,
      [](const Key* k, const std::string& f) { return k->folded < f; });
  if (at != parent->children.end() && (*at)->folded == folded)
    return *at;
  return nullptr;
}

std::string FullPath(const Key* key) {
  if (!key->parent)
    return key->name;
  return FullPath(key->parent) + "\\" + key->name;
}

size_t Depth(const Key* key) {
  size_t depth = 0;
  for (; key->parent; key = key->parent)
    ++depth;
  return depth;
}

Key* FindPath(Key* key, const std::vector<std::string>& parts) {
  for (const std::string& part : parts) {
    key = FindChild(key, part);
    if (!key)
      return nullptr;
  }
  return key;
}

Key* ClassesRoot() {
  Key* software = FindChild(g_local_machine, "SOFTWARE");
  return software ? FindChild(software, "Classes") : nullptr;
}

// Finds the key a handle names and the access it grants; predefined roots
// grant everything. Fails when the handle lacks the required access;
// access, when given, receives what the handle grants.
LONG ResolveHandle(HKEY handle, REGSAM required, Key** key,
                   REGSAM* access) {
  if (g_unavailable)
    return ERROR_ACCESS_DENIED;
  REGSAM granted = KEY_ALL_ACCESS;
  if (handle == HKEY_LOCAL_MACHINE) {
    *key = g_local_machine;
  } else if (handle == HKEY_CURRENT_USER) {
    *key = g_current_user;
  } else if (handle == HKEY_CLASSES_ROOT) {
    *key = ClassesRoot();
  } else {
    if (g_handles.count(handle) == 0)
      return ERROR_INVALID_HANDLE;
    *key = handle->key;
    granted = handle->access;
  }
  if (!*key)
    return ERROR_INVALID_HANDLE;
  if ((*key)->deleted)
    return ERROR_KEY_DELETED;
  if ((granted & required) != required)
    return ERROR_ACCESS_DENIED;
  if (access)
    *access = granted;
  return ERROR_SUCCESS;
}

// Splits a subkey path into its names. Like Wine, trailing backslashes and
// empty names between two backslashes are skipped, while a leading backslash
// is refused.
LONG SplitPath(const char* subKey, std::vector<std::string>* parts) {
  parts->clear();
  if (!subKey)
    return ERROR_SUCCESS;
  if (subKey[0] == '\\')
    return ERROR_BAD_PATHNAME;
  const char* p = subKey;
  while (*p) {
    const char* end = strchr(p, '\\');
    if (!end)
      end = p + strlen(p);
    if (end > p) {
      if (static_cast<size_t>(end - p) > kMaxKeyNameLength)
        return ERROR_INVALID_PARAMETER;
      parts->emplace_back(p, end);
    }
    p = *end ? end + 1 : end;
  }
  return ERROR_SUCCESS;
}

HKEY NewHandle(Key* key, REGSAM access) {
  HKEY handle = new HKEY__{key, access};
  g_handles.insert(handle);
  return handle;
}

Value* FindValue(Key* key, const char* name) {
  std::string folded = Fold(name ? name : "");
  for (Value& value : key->values)
    if (Fold(value.name) == folded)
      return &value;
  return nullptr;
}

// Takes a key and everything below it out of the tree, children first.
void Detach(Key* key) {
  while (!key->children.empty())
    Detach(key->children.back());
  g_journal.push_back("delete " + FullPath(key));
  Key* parent = key->parent;
  parent->children.erase(
      std::find(parent->children.begin(), parent->children.end(), key));
  key->deleted = true;
}

// The shell library's deletion as Wine does it (RegDeleteTree): children
// first, stopping at the first key that cannot go.
LONG DeleteTree(Key* key) {
  if (key->denied)
    return ERROR_ACCESS_DENIED;
  while (!key->children.empty()) {
    LONG rc = DeleteTree(key->children.front());
    if (rc != ERROR_SUCCESS)
      return rc;
  }
  Detach(key);
  return ERROR_SUCCESS;
}

bool IsRoot(const Key* key) {
  return key->parent == nullptr || key == ClassesRoot();
}

// Opens the key at handle\subKey for deletion.
LONG FindForDelete(HKEY handle, LPCSTR subKey, Key** target) {
  Key* base;
  LONG rc = ResolveHandle(handle, 0, &base, nullptr);
  if (rc != ERROR_SUCCESS)
    return rc;
  std::vector<std::string> parts;
  rc = SplitPath(subKey, &parts);
  if (rc != ERROR_SUCCESS)
    return rc;
  *target = FindPath(base, parts);
  if (!*target)
    return ERROR_FILE_NOT_FOUND;
  if ((*target)->denied || IsRoot(*target))
    return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

}  // namespace

LONG RegOpenKeyExA(HKEY handle, LPCSTR subKey, DWORD, REGSAM access,
                   PHKEY result) {
  Key* key;
  LONG rc = ResolveHandle(handle, 0, &key, nullptr);
  if (rc != ERROR_SUCCESS)
    return rc;
  std::vector<std::string> parts;
  rc = SplitPath(subKey, &parts);
  if (rc != ERROR_SUCCESS)
    return rc;
  key = FindPath(key, parts);
  if (!key)
    return ERROR_FILE_NOT_FOUND;
  if (key->denied)
    return ERROR_ACCESS_DENIED;
  *result = NewHandle(key, access);
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY handle, LPCSTR subKey, DWORD, LPSTR, DWORD,
                     REGSAM access, LPSECURITY_ATTRIBUTES, PHKEY result,
                     LPDWORD disposition) {
  Key* base;
  REGSAM granted;
  LONG rc = ResolveHandle(handle, 0, &base, &granted);
  if (rc != ERROR_SUCCESS)
    return rc;
  std::vector<std::string> parts;
  rc = SplitPath(subKey, &parts);
  if (rc != ERROR_SUCCESS)
    return rc;

  Key* key = base;
  size_t existing = 0;
  for (; existing < parts.size(); ++existing) {
    Key* child = FindChild(key, parts[existing]);
    if (!child)
      break;
    key = child;
  }
  size_t newLevels = parts.size() - existing;
  if (key->denied)
    return ERROR_ACCESS_DENIED;
  if (newLevels > 0) {
    if (key == base && !(granted & KEY_CREATE_SUB_KEY))
      return ERROR_ACCESS_DENIED;
    // Documented: no new key directly under HKEY_LOCAL_MACHINE, at most 32
    // new levels in one call and 512 levels in all. The documentation names
    // no error code for the depth limits; Wine enforces neither.
    if (key == g_local_machine)
      return ERROR_ACCESS_DENIED;
    if (newLevels > kMaxNewLevels || Depth(key) + newLevels > kMaxDepth)
      return ERROR_INVALID_PARAMETER;
    for (size_t i = existing; i < parts.size(); ++i) {
      key = NewKey(parts[i], key);
      g_journal.push_back("create " + FullPath(key));
    }
  }
  if (disposition)
    *disposition = newLevels > 0 ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = NewHandle(key, access);
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY handle, LPCSTR valueName, LPDWORD, LPDWORD type,
                      LPBYTE data, LPDWORD dataSize) {
  Key* key;
  LONG rc = ResolveHandle(handle, KEY_QUERY_VALUE, &key, nullptr);
  if (rc != ERROR_SUCCESS)
    return rc;
  const Value* value = FindValue(key, valueName);
  if (!value)
    return ERROR_FILE_NOT_FOUND;
  if (type)
    *type = value->type;
  DWORD size = static_cast<DWORD>(value->data.size());
  if (data) {
    if (!dataSize)
      return ERROR_INVALID_PARAMETER;
    if (*dataSize < size) {
      *dataSize = size;
      return ERROR_MORE_DATA;
    }
    if (size)
      memcpy(data, value->data.data(), size);
  }
  if (dataSize)
    *dataSize = size;
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY handle, LPCSTR valueName, DWORD, DWORD type,
                    const BYTE* data, DWORD dataSize) {
  Key* key;
  LONG rc = ResolveHandle(handle, KEY_SET_VALUE, &key, nullptr);
  if (rc != ERROR_SUCCESS)
    return rc;
  std::string name = valueName ? valueName : "";
  if (name.size() > kMaxValueNameLength)
    return ERROR_INVALID_PARAMETER;  // as Wine
  if (!data && dataSize)
    return ERROR_INVALID_PARAMETER;
  std::vector<BYTE> bytes(data, data + dataSize);
  if (Value* value = FindValue(key, valueName)) {
    value->type = type;
    value->data = std::move(bytes);
  } else {
    key->values.push_back(Value{name, type, std::move(bytes)});
  }
  return ERROR_SUCCESS;
}

LONG RegEnumKeyExA(HKEY handle, DWORD index, LPSTR name, LPDWORD nameSize,
                   LPDWORD, LPSTR, LPDWORD, PFILETIME lastWriteTime) {
  Key* key;
  LONG rc = ResolveHandle(handle, KEY_ENUMERATE_SUB_KEYS, &key, nullptr);
  if (rc != ERROR_SUCCESS)
    return rc;
  if (index >= key->children.size())
    return ERROR_NO_MORE_ITEMS;
  const std::string& childName = key->children[index]->name;
  if (childName.size() + 1 > *nameSize)
    return ERROR_MORE_DATA;  // buffer and size untouched, as Wine
  memcpy(name, childName.c_str(), childName.size() + 1);
  *nameSize = static_cast<DWORD>(childName.size());
  if (lastWriteTime)
    *lastWriteTime = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LONG RegDeleteKeyA(HKEY handle, LPCSTR subKey) {
  Key* target;
  LONG rc = FindForDelete(handle, subKey, &target);
  if (rc != ERROR_SUCCESS)
    return rc;
  // The NT family only deletes a key without subkeys (Wine answers access
  // denied otherwise); the non-NT family takes the whole subtree.
  if (g_platform_id == VER_PLATFORM_WIN32_NT && !target->children.empty())
    return ERROR_ACCESS_DENIED;
  Detach(target);
  return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY handle, LPCSTR valueName) {
  Key* key;
  LONG rc = ResolveHandle(handle, KEY_SET_VALUE, &key, nullptr);
  if (rc != ERROR_SUCCESS)
    return rc;
  Value* value = FindValue(key, valueName);
  if (!value)
    return ERROR_FILE_NOT_FOUND;
  key->values.erase(key->values.begin() + (value - key->values.data()));
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY handle) {
  if (handle == HKEY_LOCAL_MACHINE || handle == HKEY_CURRENT_USER ||
      handle == HKEY_CLASSES_ROOT)
    return ERROR_SUCCESS;
  if (g_handles.erase(handle) == 0)
    return ERROR_INVALID_HANDLE;
  delete handle;
  return ERROR_SUCCESS;
}

DWORD SHDeleteKeyA(HKEY handle, LPCSTR subKey) {
  Key* target;
  LONG rc = FindForDelete(handle, subKey, &target);
  if (rc != ERROR_SUCCESS)
    return static_cast<DWORD>(rc);
  return static_cast<DWORD>(DeleteTree(target));
}

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
  if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA))
    return 0;
  bool nt = g_platform_id == VER_PLATFORM_WIN32_NT;
  info->dwMajorVersion = nt ? 5 : 4;
  info->dwMinorVersion = nt ? 1 : 10;
  info->dwBuildNumber = nt ? 2600 : 2222;
  info->dwPlatformId = g_platform_id;
  info->szCSDVersion[0] = '\0';
  return 1;
}

// ---- Controls -------------------------------------------------------------

namespace {

void ClearRegistry() {
  for (HKEY handle : g_handles)
    delete handle;
  g_handles.clear();
  g_keys.clear();
  g_journal.clear();
  g_unavailable = false;
  g_local_machine = NewKey("HKEY_LOCAL_MACHINE", nullptr);
  g_current_user = NewKey("HKEY_CURRENT_USER", nullptr);
}

struct RegistryInit {
  RegistryInit() { HostRegistryReset(); }
} g_registry_init;

}  // namespace

void HostRegistryReset() {
  ClearRegistry();
  Key* software = NewKey("SOFTWARE", g_local_machine);
  NewKey("Classes", software);
  for (const char* name : {"SYSTEM", "HARDWARE", "SAM", "SECURITY"})
    NewKey(name, g_local_machine);
}

bool HostRegistryDenyAccess(HKEY root, const char* path) {
  HKEY handle;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &handle) != ERROR_SUCCESS)
    return false;
  handle->key->denied = true;
  RegCloseKey(handle);
  return true;
}

void HostRegistrySetUnavailable(bool unavailable) {
  g_unavailable = unavailable;
}

size_t HostRegistryOpenHandles() {
  return g_handles.size();
}

const std::vector<std::string>& HostRegistryJournal() {
  return g_journal;
}

namespace {

void CountTree(const Key* key, size_t* keys, size_t* values) {
  ++*keys;
  *values += key->values.size();
  for (const Key* child : key->children)
    CountTree(child, keys, values);
}

}  // namespace

bool HostRegistryCount(HKEY root, const char* path, size_t* keys,
                       size_t* values) {
  HKEY handle;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &handle) != ERROR_SUCCESS)
    return false;
  *keys = 0;
  *values = 0;
  CountTree(handle->key, keys, values);
  RegCloseKey(handle);
  return true;
}

// ---- Text form of the hive ------------------------------------------------
//
// One line per key, "[FULL\PATH]", parents before children, each followed by
// its values in creation order:
//   "name"="text"          REG_SZ ending in its only NUL
//   "name"=dword:0000002a  REG_DWORD of four bytes
//   "name"=hex(N):0a,ff    anything else (type N in decimal)
// Bytes that would be ambiguous or unreadable (controls, bytes above 0x7e,
// '%', and the delimiters '"', '\', '[' and ']') are written as %XX, so every
// byte of every name and every value round-trips.

namespace {

void AppendEscaped(std::string* out, const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : text) {
    if (c < 0x20 || c > 0x7e || c == '%' || c == '"' || c == '\\' ||
        c == '[' || c == ']') {
      out->push_back('%');
      out->push_back(kHex[c >> 4]);
      out->push_back(kHex[c & 15]);
    } else {
      out->push_back(static_cast<char>(c));
    }
  }
}

void AppendHexByte(std::string* out, unsigned value) {
  static const char kHex[] = "0123456789abcdef";
  out->push_back(kHex[(value >> 4) & 15]);
  out->push_back(kHex[value & 15]);
}

void ExportKey(const Key* key, const std::string& path, std::string* out) {
  out->append("[");
  out->append(path);
  out->append("]\n");
  for (const Value& value : key->values) {
    out->append("\"");
    AppendEscaped(out, value.name);
    out->append("\"=");
    const std::vector<BYTE>& d = value.data;
    if (value.type == REG_SZ && !d.empty() && d.back() == 0 &&
        std::find(d.begin(), d.end() - 1, 0) == d.end() - 1) {
      out->append("\"");
      AppendEscaped(out, std::string(d.begin(), d.end() - 1));
      out->append("\"");
    } else if (value.type == REG_DWORD && d.size() == 4) {
      out->append("dword:");
      for (int i = 3; i >= 0; --i)
        AppendHexByte(out, d[i]);
    } else {
      out->append("hex(" + std::to_string(value.type) + "):");
      for (size_t i = 0; i < d.size(); ++i) {
        if (i)
          out->push_back(',');
        AppendHexByte(out, d[i]);
      }
    }
    out->append("\n");
  }
  for (const Key* child : key->children) {
    std::string childPath = path + "\\";
    AppendEscaped(&childPath, child->name);
    ExportKey(child, childPath, out);
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// Reads escaped text up to (not including) one of the stop characters.
bool ReadEscaped(const std::string& line, size_t* pos, const char* stops,
                 std::string* out) {
  out->clear();
  while (*pos < line.size() && !strchr(stops, line[*pos])) {
    char c = line[*pos];
    if (c == '%') {
      if (*pos + 2 >= line.size())
        return false;
      int hi = HexValue(line[*pos + 1]);
      int lo = HexValue(line[*pos + 2]);
      if (hi < 0 || lo < 0)
        return false;
      out->push_back(static_cast<char>(hi * 16 + lo));
      *pos += 3;
    } else {
      out->push_back(c);
      ++*pos;
    }
  }
  return *pos < line.size();
}

bool ParseHexBytes(const std::string& text, std::vector<BYTE>* out) {
  out->clear();
  size_t pos = 0;
  while (pos < text.size()) {
    if (pos + 2 > text.size())
      return false;
    int hi = HexValue(text[pos]);
    int lo = HexValue(text[pos + 1]);
    if (hi < 0 || lo < 0)
      return false;
    out->push_back(static_cast<BYTE>(hi * 16 + lo));
    pos += 2;
    if (pos < text.size() && text[pos++] != ',')
      return false;
    if (pos == text.size() && text.back() == ',')
      return false;
  }
  return true;
}

bool ParseValue(const std::string& line, Value* value) {
  size_t pos = 1;
  if (!ReadEscaped(line, &pos, "\"", &value->name))
    return false;
  if (line.compare(pos, 2, "\"=") != 0)
    return false;
  pos += 2;
  std::string rest = line.substr(pos);
  if (!rest.empty() && rest[0] == '"') {
    size_t p = 1;
    std::string text;
    if (!ReadEscaped(rest, &p, "\"", &text) || p + 1 != rest.size())
      return false;
    value->type = REG_SZ;
    value->data.assign(text.begin(), text.end());
    value->data.push_back(0);
    return true;
  }
  if (rest.compare(0, 6, "dword:") == 0) {
    if (rest.size() != 14)
      return false;
    DWORD number = 0;
    for (size_t i = 6; i < 14; ++i) {
      int digit = HexValue(rest[i]);
      if (digit < 0)
        return false;
      number = number * 16 + static_cast<DWORD>(digit);
    }
    value->type = REG_DWORD;
    value->data = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
                   static_cast<BYTE>(number >> 16),
                   static_cast<BYTE>(number >> 24)};
    return true;
  }
  if (rest.compare(0, 4, "hex(") == 0) {
    size_t close = rest.find("):");
    if (close == std::string::npos || close == 4 || close > 14)
      return false;
    unsigned long long type = 0;
    for (size_t i = 4; i < close; ++i) {
      if (rest[i] < '0' || rest[i] > '9')
        return false;
      type = type * 10 + static_cast<unsigned>(rest[i] - '0');
    }
    if (type > 0xffffffffull)
      return false;
    value->type = static_cast<DWORD>(type);
    return ParseHexBytes(rest.substr(close + 2), &value->data);
  }
  return false;
}

// Finds or makes the key at an escaped full path, for the hive loader.
Key* MakePath(const std::string& line) {
  std::vector<std::string> names;
  size_t pos = 1;
  for (;;) {
    std::string name;
    if (!ReadEscaped(line, &pos, "\\]", &name) || name.empty())
      return nullptr;
    names.push_back(name);
    if (line[pos] == ']')
      break;
    ++pos;
  }
  if (pos + 1 != line.size())
    return nullptr;
  Key* key;
  if (names[0] == "HKEY_LOCAL_MACHINE")
    key = g_local_machine;
  else if (names[0] == "HKEY_CURRENT_USER")
    key = g_current_user;
  else
    return nullptr;
  for (size_t i = 1; i < names.size(); ++i) {
    Key* child = FindChild(key, names[i]);
    key = child ? child : NewKey(names[i], key);
  }
  return key;
}

}  // namespace

std::string HostRegistryExport() {
  std::string out;
  ExportKey(g_local_machine, g_local_machine->name, &out);
  ExportKey(g_current_user, g_current_user->name, &out);
  return out;
}

bool HostRegistryImport(const std::string& text, std::string* error) {
  std::string saved = HostRegistryExport();
  ClearRegistry();
  Key* key = nullptr;
  size_t lineNumber = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos)
      end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNumber;
    bool ok = true;
    if (line.empty() || line[0] == ';') {
      continue;
    } else if (line[0] == '[') {
      key = MakePath(line);
      ok = key != nullptr;
    } else if (line[0] == '"' && key) {
      Value value;
      ok = ParseValue(line, &value);
      if (ok && FindValue(key, value.name.c_str()))
        ok = false;  // a value named twice is a damaged hive
      if (ok)
        key->values.push_back(std::move(value));
    } else {
      ok = false;
    }
    if (!ok) {
      *error = "line " + std::to_string(lineNumber) + ": " + line;
      std::string ignored;
      HostRegistryImport(saved, &ignored);
      return false;
    }
  }
  if (!ClassesRoot()) {
    *error = "no HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes";
    std::string ignored;
    HostRegistryImport(saved, &ignored);
    return false;
  }
  return true;
}

void HostSetPlatformId(DWORD platformId) {
  g_platform_id = platformId;
}

void HostSetShellLibraryPresent(bool present) {
  g_shell_library_present = present;
}

bool HostShellLibraryPresent() {
  return g_shell_library_present;
}

void HostPlatformFromEnvironment() {
  const char* family = getenv("DRVSETUP_PLATFORM");
  HostSetPlatformId(family && strcmp(family, "9x") == 0
                        ? VER_PLATFORM_WIN32_WINDOWS
                        : VER_PLATFORM_WIN32_NT);
  const char* noShell = getenv("DRVSETUP_NO_SHLWAPI");
  HostSetShellLibraryPresent(!(noShell && strcmp(noShell, "1") == 0));
}
