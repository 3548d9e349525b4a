// In-memory stand-in for the Windows registry and the shell library's tree
// deletion.
//
// It follows the real registry wherever this program can meet a rule:
// names compare without regard to letter case (every letter of the ANSI code
// page, not only A-Z) and keep the case they were created with; subkeys
// enumerate in name order; handles carry their access mask; a handle to a
// deleted key fails with ERROR_KEY_DELETED. Where the Win32 documentation is
// silent the stand-in does as Wine 8 does; those places say so.
//
// Finding a key or a value costs a logarithm of its siblings; enumerating
// at index i costs i steps (the program only ever asks for index 0); so
// importing and deleting large trees stay linear.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <deque>
#include <vector>

#include "platform/host/controls.h"
#include "platform/host/cp1252.h"
#include "platform/host/faults.h"
#include "platform/host/platform.h"
#include "platform/host/trace.h"
#include "platform/host/tree.h"
#include "platform/host/win32.h"

using stand_in::FoldedLess;
using stand_in::Key;
using stand_in::NextName;

// A handle: the key it names and the access it was opened with. Handles
// are recycled, never freed, so that a closed one is still safe to look at.
struct HostKeyHandle {
  Key* key;
  REGSAM access;
  bool open;
};

namespace {

std::unique_ptr<Key> g_local_machine, g_current_user;
std::deque<HostKeyHandle> g_handles;  // every handle made
std::vector<HKEY> g_free_handles;
std::map<Key*, std::unique_ptr<Key>> g_orphans;  // deleted, still named
std::vector<HostRegistryCall> g_calls;
bool g_trace_calls = false;
uint64_t g_generation = 0;
bool g_unavailable = false;

std::string FullPath(const Key* key) {
  std::string path = key->name;
  for (key = key->parent; key; key = key->parent)
    path = key->name + "\\" + path;
  return path;
}

// Records a key deleted, when the trace is on.
void TraceDeletion(const Key* key) {
  if (g_trace_calls)
    g_calls.push_back(HostRegistryCall{HostRegistryCall::kDeleteKey, nullptr,
                                       reinterpret_cast<uintptr_t>(key), false,
                                       FullPath(key), ERROR_SUCCESS, nullptr,
                                       0, std::string()});
}

Key* ClassesRoot() {
  Key* software = stand_in::Child(g_local_machine.get(), "SOFTWARE");
  return software ? stand_in::Child(software, "Classes") : nullptr;
}

// The key a handle names, if the handle grants the required access
// (predefined roots grant everything); granted receives what it grants.
LONG Resolve(HKEY handle, REGSAM required, Key** key,
             REGSAM* granted = nullptr) {
  REGSAM access = KEY_ALL_ACCESS;
  if (handle == HKEY_LOCAL_MACHINE)
    *key = g_local_machine.get();
  else if (handle == HKEY_CURRENT_USER)
    *key = g_current_user.get();
  else if (handle == HKEY_CLASSES_ROOT)
    *key = ClassesRoot();
  else if (handle->open)
    *key = handle->key, access = handle->access;
  else
    *key = nullptr;
  if (g_unavailable)
    return ERROR_ACCESS_DENIED;
  if (!*key)
    return ERROR_INVALID_HANDLE;
  if ((*key)->deleted)
    return ERROR_KEY_DELETED;
  if (granted)
    *granted = access;
  return (access & required) == required ? ERROR_SUCCESS
                                         : ERROR_ACCESS_DENIED;
}

// Follows handle\subKey as far as it exists: key becomes the deepest
// existing key, and rest the rest of the path, from the first name that
// does not exist. A leading backslash is refused, as Wine does, and so is a
// name longer than any key's.
LONG Walk(HKEY handle, const char* subKey, Key** key, const char** rest,
          REGSAM* granted = nullptr) {
  LONG rc = Resolve(handle, 0, key, granted);
  *rest = subKey ? subKey : "";
  if (rc == ERROR_SUCCESS && **rest == '\\')
    return ERROR_BAD_PATHNAME;
  for (const char* p = *rest; rc == ERROR_SUCCESS && *p;)
    if (NextName(&p).size() > stand_in::kMaxKeyNameLength)
      return ERROR_INVALID_PARAMETER;
  for (const char* p = *rest; rc == ERROR_SUCCESS;) {
    std::string_view name = NextName(&p);
    Key* child = name.empty() ? nullptr : stand_in::Child(*key, name);
    if (!child)
      break;
    *key = child;
    *rest = p;
  }
  return rc;
}

// The existing key at handle\subKey, unless it denies access.
LONG Find(HKEY handle, const char* subKey, Key** key) {
  const char* rest;
  LONG rc = Walk(handle, subKey, key, &rest);
  if (rc == ERROR_SUCCESS && !NextName(&rest).empty())
    return ERROR_FILE_NOT_FOUND;
  return rc == ERROR_SUCCESS && (*key)->denied ? ERROR_ACCESS_DENIED : rc;
}

using ValueAt = decltype(Key::values)::iterator;

// A value of the key that a handle names, looked up with the access required.
LONG FindValue(HKEY handle, REGSAM required, LPCSTR name, Key** key,
               ValueAt* value) {
  LONG rc = Resolve(handle, required, key);
  if (rc != ERROR_SUCCESS)
    return rc;
  *value = (*key)->values.find(std::string_view(name ? name : ""));
  return *value == (*key)->values.end() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

HKEY NewHandle(Key* key, REGSAM access) {
  if (g_free_handles.empty()) {
    g_handles.emplace_back();
    g_free_handles.push_back(&g_handles.back());
  }
  HKEY handle = g_free_handles.back();
  g_free_handles.pop_back();
  *handle = HostKeyHandle{key, access, true};
  ++key->handles;
  return handle;
}

// Deletes top and everything below it, each child before its parent,
// without recursion. The shell library's deletion, as Wine does it
// (RegDeleteTree), stops at the first key that denies access; the non-NT
// family's RegDeleteKeyA takes the whole subtree.
LONG DeleteTree(Key* top, bool stopAtDenied) {
  for (Key* key = top;;) {
    if (stopAtDenied && key->denied)
      return ERROR_ACCESS_DENIED;
    if (!key->children.empty()) {
      key = key->children.begin()->second.get();
      continue;
    }
    TraceDeletion(key);
    Key* parent = key->parent;
    auto entry = parent->children.find(key->name);
    std::unique_ptr<Key> owned = std::move(entry->second);
    parent->children.erase(entry);
    key->deleted = true;  // handles that name it fail from now on
    key->parent = nullptr;
    g_generation++;
    bool last = key == top;
    if (key->handles)
      g_orphans[key] = std::move(owned);  // until its last handle closes
    if (last)
      return ERROR_SUCCESS;
    key = parent;
  }
}

// The key at handle\subKey for deletion: never a root.
LONG FindForDelete(HKEY handle, LPCSTR subKey, Key** target) {
  LONG rc = Find(handle, subKey, target);
  if (rc == ERROR_SUCCESS &&
      (!(*target)->parent || *target == ClassesRoot()))
    return ERROR_ACCESS_DENIED;
  return rc;
}

void TraceCall(HostRegistryCall::Kind kind, HKEY handle, const char* argument,
               const Key* key, bool created, std::string stored, LONG result,
               DWORD type = 0, const BYTE* data = nullptr, DWORD size = 0) {
  if (g_trace_calls)
    g_calls.push_back(HostRegistryCall{
        kind, argument, reinterpret_cast<uintptr_t>(key), created,
        std::move(stored), result, handle, type,
        data ? std::string(reinterpret_cast<const char*>(data), size)
             : std::string()});
}

// A registry call, counted by the fault control: the error it must fail
// with, or 0. The detail names the key or value and the access asked.
LONG Fault(const char* function, LPCSTR name, REGSAM access = 0) {
  std::string detail = name ? name : "";
  if (access) {
    char mask[16];
    snprintf(mask, sizeof(mask), " 0x%x", static_cast<unsigned>(access));
    detail += mask;
  }
  size_t error = HostFaultAt(HostCall::kRegistry, function, detail);
  return error ? HostRegistryFault(error) : ERROR_SUCCESS;
}

LONG CreateKey(HKEY handle, LPCSTR subKey, Key** key, bool* made) {
  const char* rest;
  REGSAM granted = 0;
  LONG rc = Walk(handle, subKey, key, &rest, &granted);
  if (rc != ERROR_SUCCESS)
    return rc;
  size_t newLevels = 0;
  for (const char* p = rest; !NextName(&p).empty();)
    ++newLevels;
  // Making any new key, however deep, takes the right to create subkeys on
  // the handle the path starts from. Documented: no new key directly under
  // HKEY_LOCAL_MACHINE, and the depth limits, for which no error code is
  // named.
  if ((*key)->denied || (newLevels && !(granted & KEY_CREATE_SUB_KEY)) ||
      (newLevels && *key == g_local_machine.get()))
    return ERROR_ACCESS_DENIED;
  if (newLevels > stand_in::kMaxNewLevels ||
      (*key)->depth + newLevels > stand_in::kMaxDepth)
    return ERROR_INVALID_PARAMETER;
  for (std::string_view name; !(name = NextName(&rest)).empty();) {
    *key = stand_in::Child(*key, name, true);
  }
  g_generation += newLevels > 0;
  *made = newLevels > 0;
  return ERROR_SUCCESS;
}

}  // namespace

// ---- The tree ------------------------------------------------------------------

namespace stand_in {

Key* LocalMachine() {
  return g_local_machine.get();
}

Key* CurrentUser() {
  return g_current_user.get();
}

bool FoldedLess::operator()(std::string_view a, std::string_view b) const {
  size_t common = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < common; ++i) {
    unsigned char x = Cp1252Fold(static_cast<unsigned char>(a[i]));
    unsigned char y = Cp1252Fold(static_cast<unsigned char>(b[i]));
    if (x != y)
      return x < y;
  }
  return a.size() < b.size();
}

// Where name stands, or would stand, in a map of names. Names that come in
// order (a hive's, most scripts') or in reverse order fall past either end
// without a search.
template <typename Map>
typename Map::iterator Place(Map& map, std::string_view name) {
  FoldedLess less;
  if (map.empty() || less(map.rbegin()->first, name))
    return map.end();
  return less(name, map.begin()->first) ? map.begin() : map.lower_bound(name);
}

std::string_view NextName(const char** p) {
  while (**p == '\\')
    ++*p;
  size_t length = strcspn(*p, "\\");
  std::string_view name(*p, length);
  *p += length;
  return name;
}

Key* Child(const Key* parent, std::string_view name, bool create) {
  auto& children = const_cast<Key*>(parent)->children;
  auto at = Place(children, name);
  if (at != children.end() && !FoldedLess()(name, at->first))
    return at->second.get();
  if (!create)
    return nullptr;
  auto child = std::make_unique<Key>();
  child->name = std::string(name);
  child->parent = const_cast<Key*>(parent);
  child->depth = parent->depth + 1;
  return children.emplace_hint(at, child->name, std::move(child))->second.get();
}

std::unique_ptr<Key> NewRoot(const char* name) {
  auto root = std::make_unique<Key>();
  root->name = name;
  return root;
}

void AdoptTree(std::unique_ptr<Key> localMachine,
               std::unique_ptr<Key> currentUser) {
  g_free_handles.clear();
  for (HostKeyHandle& handle : g_handles) {
    handle.open = false;
    g_free_handles.push_back(&handle);
  }
  g_orphans.clear();
  g_local_machine = std::move(localMachine);
  g_current_user = std::move(currentUser);
  g_calls.clear();
  g_unavailable = false;
  g_generation++;
}

}  // namespace stand_in

// ---- The Win32 functions -------------------------------------------------------

LONG RegOpenKeyExA(HKEY handle, LPCSTR subKey, DWORD, REGSAM access,
                   PHKEY result) {
  if (LONG fault = Fault("RegOpenKeyExA", subKey, access))
    return fault;
  Key* key;
  LONG rc = Find(handle, subKey, &key);
  if (rc == ERROR_SUCCESS)
    *result = NewHandle(key, access);
  return rc;
}

LONG RegCreateKeyExA(HKEY handle, LPCSTR subKey, DWORD, LPSTR, DWORD,
                     REGSAM access, LPSECURITY_ATTRIBUTES, PHKEY result,
                     LPDWORD disposition) {
  bool made = false;
  Key* key = nullptr;
  LONG rc = Fault("RegCreateKeyExA", subKey, access);
  if (rc == ERROR_SUCCESS)
    rc = CreateKey(handle, subKey, &key, &made);
  if (rc == ERROR_SUCCESS) {
    *result = NewHandle(key, access);
    if (disposition)
      *disposition = made ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  }
  TraceCall(HostRegistryCall::kCreateKey, handle, subKey,
            rc == ERROR_SUCCESS ? key : nullptr, made,
            rc == ERROR_SUCCESS && g_trace_calls ? FullPath(key) : "", rc);
  return rc;
}

LONG RegQueryValueExA(HKEY handle, LPCSTR valueName, LPDWORD, LPDWORD type,
                      LPBYTE data, LPDWORD dataSize) {
  if (LONG fault = Fault("RegQueryValueExA", valueName))
    return fault;
  Key* key;
  ValueAt value;
  LONG rc = FindValue(handle, KEY_QUERY_VALUE, valueName, &key, &value);
  if (rc != ERROR_SUCCESS)
    return rc;
  if (type)
    *type = value->second.type;
  DWORD size = static_cast<DWORD>(value->second.data.size());
  if (data && !dataSize)
    return ERROR_INVALID_PARAMETER;
  if (data && *dataSize < size) {
    *dataSize = size;
    return ERROR_MORE_DATA;
  }
  if (data)
    memcpy(data, value->second.data.data(), size);
  if (dataSize)
    *dataSize = size;
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY handle, LPCSTR valueName, DWORD, DWORD type,
                    const BYTE* data, DWORD dataSize) {
  Key* key = nullptr;
  LONG rc = Fault("RegSetValueExA", valueName);
  if (rc == ERROR_SUCCESS)
    rc = Resolve(handle, KEY_SET_VALUE, &key);
  std::string_view name = valueName ? valueName : "";
  if (rc == ERROR_SUCCESS && (name.size() > stand_in::kMaxValueNameLength ||
                              (!data && dataSize)))
    rc = ERROR_INVALID_PARAMETER;  // a long name as Wine
  bool created = false;
  std::string stored;
  if (rc == ERROR_SUCCESS) {
    auto value = stand_in::Place(key->values, name);
    created = value == key->values.end() || FoldedLess()(name, value->first);
    if (created)
      value = key->values.emplace_hint(value, std::string(name),
                                       stand_in::Value{0, ""});
    value->second.type = type;
    value->second.data.assign(data ? reinterpret_cast<const char*>(data) : "",
                              data ? dataSize : 0);
    stored = g_trace_calls ? value->first : "";
    g_generation++;
  }
  TraceCall(HostRegistryCall::kSetValue, handle, valueName,
            rc == ERROR_SUCCESS ? key : nullptr, created, stored, rc, type,
            data, data ? dataSize : 0);
  return rc;
}

LONG RegEnumKeyExA(HKEY handle, DWORD index, LPSTR name, LPDWORD nameSize,
                   LPDWORD, LPSTR, LPDWORD, PFILETIME lastWriteTime) {
  if (LONG fault = Fault("RegEnumKeyExA", nullptr))
    return fault;
  Key* key;
  LONG rc = Resolve(handle, KEY_ENUMERATE_SUB_KEYS, &key);
  if (rc != ERROR_SUCCESS)
    return rc;
  if (index >= key->children.size())
    return ERROR_NO_MORE_ITEMS;
  const std::string& child = std::next(key->children.begin(), index)->first;
  if (child.size() + 1 > *nameSize)
    return ERROR_MORE_DATA;  // buffer and size untouched, as Wine
  memcpy(name, child.c_str(), child.size() + 1);
  *nameSize = static_cast<DWORD>(child.size());
  if (lastWriteTime)
    *lastWriteTime = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LONG RegDeleteKeyA(HKEY handle, LPCSTR subKey) {
  if (LONG fault = Fault("RegDeleteKeyA", subKey))
    return fault;
  Key* target;
  LONG rc = FindForDelete(handle, subKey, &target);
  if (rc != ERROR_SUCCESS)
    return rc;
  // The NT family only deletes a key without subkeys (Wine answers access
  // denied otherwise); the non-NT family takes the whole subtree.
  if (HostPlatformId() == VER_PLATFORM_WIN32_NT && !target->children.empty())
    return ERROR_ACCESS_DENIED;
  return DeleteTree(target, false);
}

LONG RegDeleteValueA(HKEY handle, LPCSTR valueName) {
  Key* key = nullptr;
  ValueAt value;
  LONG rc = Fault("RegDeleteValueA", valueName);
  if (rc == ERROR_SUCCESS)
    rc = FindValue(handle, KEY_SET_VALUE, valueName, &key, &value);
  TraceCall(HostRegistryCall::kDeleteValue, handle, valueName,
            rc == ERROR_SUCCESS ? key : nullptr, false,
            rc == ERROR_SUCCESS ? value->first : "", rc);
  if (rc != ERROR_SUCCESS)
    return rc;
  key->values.erase(value);
  g_generation++;
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY handle) {
  // A close that fails still lets the handle go.
  const bool fails = HostFaultAt(HostCall::kRegistryClose, "RegCloseKey") != 0;
  if (handle == HKEY_LOCAL_MACHINE || handle == HKEY_CURRENT_USER ||
      handle == HKEY_CLASSES_ROOT)
    return fails ? ERROR_INVALID_HANDLE : ERROR_SUCCESS;
  if (!handle->open)
    return ERROR_INVALID_HANDLE;
  handle->open = false;
  g_free_handles.push_back(handle);
  Key* key = handle->key;
  if (--key->handles == 0 && key->deleted)
    g_orphans.erase(key);
  return fails ? ERROR_INVALID_HANDLE : ERROR_SUCCESS;
}

DWORD SHDeleteKeyA(HKEY handle, LPCSTR subKey) {
  if (LONG fault = Fault("SHDeleteKeyA", subKey))
    return static_cast<DWORD>(fault);
  Key* target;
  LONG rc = FindForDelete(handle, subKey, &target);
  return static_cast<DWORD>(rc == ERROR_SUCCESS ? DeleteTree(target, true)
                                                : rc);
}

// ---- Controls ------------------------------------------------------------------

namespace {
struct RegistryInit {
  RegistryInit() { HostRegistryReset(); }
} g_registry_init;
}  // namespace

void HostRegistryReset() {
  std::unique_ptr<Key> localMachine = stand_in::NewRoot("HKEY_LOCAL_MACHINE");
  stand_in::Child(stand_in::Child(localMachine.get(), "SOFTWARE", true),
                  "Classes", true);
  for (const char* name : {"SYSTEM", "HARDWARE", "SAM", "SECURITY"})
    stand_in::Child(localMachine.get(), name, true);
  stand_in::AdoptTree(std::move(localMachine),
                      stand_in::NewRoot("HKEY_CURRENT_USER"));
}

bool HostRegistryDenyAccess(HKEY root, const char* path) {
  Key* key;
  bool found = Find(root, path, &key) == ERROR_SUCCESS;
  if (found)
    key->denied = true;
  return found;
}

void HostRegistrySetUnavailable(bool unavailable) {
  g_unavailable = unavailable;
}

size_t HostRegistryOpenHandles() {
  return g_handles.size() - g_free_handles.size();
}

uint64_t HostRegistryGeneration() {
  return g_generation;
}

void HostRegistryTraceCalls(bool trace) {
  g_trace_calls = trace;
  g_calls.clear();
}

const std::vector<HostRegistryCall>& HostRegistryCalls() {
  return g_calls;
}
