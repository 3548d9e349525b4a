// In-memory stand-in for the Windows registry, the platform family and the
// shell library's tree deletion.
//
// It follows the real registry wherever this program can meet a rule:
// names compare without regard to letter case (every letter of the ANSI code
// page, not only A-Z) and keep the case they were created with; subkeys
// enumerate in name order; handles carry their access mask; a handle to a
// deleted key fails with ERROR_KEY_DELETED. Where the Win32 documentation is
// silent the stand-in does as Wine 8 does; those places say so.
//
// Every operation costs at most a logarithm of the size of what it touches,
// so that importing, enumerating and deleting large trees stays linear.

#include "platform/registry_host.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <unordered_set>

#include "platform/registry.h"
#include "platform/registry_tree_host.h"

using stand_in::Key;
using stand_in::Name;
using stand_in::Value;

// A handle: the key it names and the access it was opened with. Handles
// are recycled, never freed, so that a closed one is still safe to look at.
struct HKEY__ {
  Key* key;
  REGSAM access;
  bool open;
};

namespace stand_in {

namespace {

const size_t kMaxNewLevels = 32;
const size_t kLinearValues = 8;  // keys with more values get an index

Key* g_local_machine = nullptr;
Key* g_current_user = nullptr;
std::vector<std::unique_ptr<HKEY__>> g_handle_pool;  // every handle made
std::vector<HKEY> g_free_handles;
size_t g_open_handles = 0;
std::vector<Name> g_path_parts;  // SplitPath's output, kept for its storage
std::unordered_set<Key*> g_orphans;  // deleted keys that handles still name
std::vector<std::string> g_journal;
bool g_keep_journal = true;
std::vector<HostRegistryCall> g_calls;
bool g_trace_calls = false;
uint64_t g_generation = 0;
bool g_unavailable = false;
DWORD g_platform_id = VER_PLATFORM_WIN32_NT;
bool g_shell_library_present = true;

// Upper case for Windows-1252: a-z, the accented small letters 0xE0-0xFE
// (but not the division sign 0xF7), and the four small letters of the
// 0x80-0x9F block (s and z with caron, oe, y with diaeresis).
struct FoldTable {
  unsigned char upper[256];
  FoldTable() {
    for (int c = 0; c < 256; ++c)
      upper[c] = static_cast<unsigned char>(c);
    for (int c = 'a'; c <= 'z'; ++c)
      upper[c] = static_cast<unsigned char>(c - 0x20);
    for (int c = 0xE0; c <= 0xFE; ++c)
      if (c != 0xF7)
        upper[c] = static_cast<unsigned char>(c - 0x20);
    upper[0x9A] = 0x8A;
    upper[0x9C] = 0x8C;
    upper[0x9E] = 0x8E;
    upper[0xFF] = 0x9F;
  }
};
const FoldTable kFold;

uint32_t HashFolded(const char* data, size_t size) {
  uint32_t hash = 2166136261u;  // FNV-1a
  for (size_t i = 0; i < size; ++i) {
    hash ^= kFold.upper[static_cast<unsigned char>(data[i])];
    hash *= 16777619u;
  }
  return hash;
}

bool SameName(const std::string& stored, Name name) {
  if (stored.size() != name.size)
    return false;
  for (size_t i = 0; i < name.size; ++i) {
    if (stored[i] != name.data[i] &&
        kFold.upper[static_cast<unsigned char>(stored[i])] !=
            kFold.upper[static_cast<unsigned char>(name.data[i])])
      return false;
  }
  return true;
}

void IndexValue(Key* key, uint32_t position) {
  const std::string& name = key->values[position].name;
  size_t mask = key->valueSlots.size() - 1;
  for (size_t slot = HashFolded(name.data(), name.size()) & mask;;
       slot = (slot + 1) & mask) {
    if (key->valueSlots[slot] == 0) {
      key->valueSlots[slot] = position + 1;
      return;
    }
  }
}

void RebuildValueIndex(Key* key) {
  key->valueSlots.clear();
  if (key->values.size() <= kLinearValues)
    return;
  size_t slots = 16;
  while (slots < key->values.size() * 2)
    slots *= 2;
  key->valueSlots.assign(slots, 0);
  for (uint32_t i = 0; i < key->values.size(); ++i)
    IndexValue(key, i);
}

void Release(Key* key) {
  key->deleted = true;
  key->parent = nullptr;
  if (key->handles == 0)
    delete key;
  else
    g_orphans.insert(key);
}

std::string FullPath(const Key* key) {
  std::vector<const Key*> chain;
  for (; key; key = key->parent)
    chain.push_back(key);
  std::string path;
  for (size_t i = chain.size(); i-- > 0;) {
    path += chain[i]->name;
    if (i)
      path += '\\';
  }
  return path;
}

void Journal(const char* what, const Key* key) {
  if (g_keep_journal)
    g_journal.push_back(what + FullPath(key));
}

// Takes key out of its parent's children and frees it (or leaves it to the
// handles that still name it).
void Unlink(Key* key) {
  Journal("delete ", key);
  key->parent->children.Remove(key);
  Release(key);
}

}  // namespace

unsigned char FoldLetter(unsigned char c) {
  return kFold.upper[c];
}

int CompareFolded(const char* a, size_t aSize, const char* b, size_t bSize) {
  size_t common = aSize < bSize ? aSize : bSize;
  for (size_t i = 0; i < common; ++i) {
    unsigned char x = kFold.upper[static_cast<unsigned char>(a[i])];
    unsigned char y = kFold.upper[static_cast<unsigned char>(b[i])];
    if (x != y)
      return x < y ? -1 : 1;
  }
  return aSize == bSize ? 0 : (aSize < bSize ? -1 : 1);
}

Key* LocalMachine() {
  return g_local_machine;
}

Key* CurrentUser() {
  return g_current_user;
}

// ---- ChildTable --------------------------------------------------------------

namespace {

const size_t kLinearChildren = 8;  // tables with more children get an index

bool Before(const Key* a, const Key* b) {
  return CompareFolded(a->name.data(), a->name.size(), b->name.data(),
                       b->name.size()) < 0;
}

}  // namespace

Key* ChildTable::Find(Name name) const {
  if (slots_.empty()) {
    for (Key* key : keys_)
      if (key && SameName(key->name, name))
        return key;
    return nullptr;
  }
  size_t mask = slots_.size() - 1;
  for (size_t slot = HashFolded(name.data, name.size) & mask;;
       slot = (slot + 1) & mask) {
    uint32_t position = slots_[slot];
    if (position == 0)
      return nullptr;
    Key* key = keys_[position - 1];
    if (key && SameName(key->name, name))
      return key;  // a removed child's slot is passed over
  }
}

void ChildTable::Add(Key* child) {
  child->position = static_cast<uint32_t>(keys_.size());
  keys_.push_back(child);
  ++live_;
  cursorValid_ = false;
  if (live_ <= kLinearChildren && slots_.empty())
    return;
  if ((used_ + 1) * 2 > slots_.size()) {
    Reindex();
    return;
  }
  size_t mask = slots_.size() - 1;
  for (size_t slot = HashFolded(child->name.data(), child->name.size()) & mask;;
       slot = (slot + 1) & mask) {
    if (slots_[slot] == 0) {
      slots_[slot] = child->position + 1;
      ++used_;
      return;
    }
  }
}

void ChildTable::Remove(Key* child) {
  keys_[child->position] = nullptr;
  --live_;
  cursorValid_ = false;
  if (keys_.size() - live_ > live_ + 64)
    Compact();  // holes outnumber children: sweep them away
}

void ChildTable::Compact() {
  size_t kept = 0, keptSorted = 0;
  for (size_t i = 0; i < keys_.size(); ++i) {
    if (!keys_[i])
      continue;
    if (i < sorted_)
      ++keptSorted;
    keys_[kept] = keys_[i];
    keys_[kept]->position = static_cast<uint32_t>(kept);
    ++kept;
  }
  keys_.resize(kept);
  sorted_ = keptSorted;
  first_ = 0;
  cursorValid_ = false;
  Reindex();
}

void ChildTable::Reindex() {
  slots_.clear();
  used_ = 0;
  if (live_ <= kLinearChildren)
    return;
  size_t size = 16;
  while (size < live_ * 4)
    size *= 2;
  slots_.assign(size, 0);
  size_t mask = size - 1;
  for (Key* key : keys_) {
    if (!key)
      continue;
    for (size_t slot = HashFolded(key->name.data(), key->name.size()) & mask;;
         slot = (slot + 1) & mask) {
      if (slots_[slot] == 0) {
        slots_[slot] = key->position + 1;
        ++used_;
        break;
      }
    }
  }
}

void ChildTable::Order() {
  if (sorted_ == keys_.size() && live_ == keys_.size())
    return;
  if (live_ != keys_.size())
    Compact();
  if (sorted_ < keys_.size()) {
    auto middle = keys_.begin() + static_cast<std::ptrdiff_t>(sorted_);
    std::sort(middle, keys_.end(), Before);
    std::inplace_merge(keys_.begin(), middle, keys_.end(), Before);
    for (size_t i = 0; i < keys_.size(); ++i)
      keys_[i]->position = static_cast<uint32_t>(i);
    sorted_ = keys_.size();
    first_ = 0;
    cursorValid_ = false;
    Reindex();
  }
}

Key* ChildTable::At(size_t index) {
  if (index >= live_)
    return nullptr;
  if (sorted_ != keys_.size())
    Order();
  // Holes stay where children were removed since the table was last
  // swept; step over them.
  while (!keys_[first_])
    ++first_;
  if (!cursorValid_ || cursorIndex_ > index) {
    cursorIndex_ = 0;
    cursorPosition_ = first_;
    cursorValid_ = true;
  }
  while (cursorIndex_ < index) {
    ++cursorPosition_;
    while (!keys_[cursorPosition_])
      ++cursorPosition_;
    ++cursorIndex_;
  }
  return keys_[cursorPosition_];
}

const std::vector<Key*>& ChildTable::Ordered() {
  Order();
  return keys_;
}

std::vector<Key*> ChildTable::TakeAll() {
  std::vector<Key*> taken;
  for (Key* key : keys_)
    if (key)
      taken.push_back(key);
  *this = ChildTable();
  return taken;
}

Key* FindChild(const Key* parent, Name name) {
  return parent->children.Find(name);
}

Key* AddChild(Key* parent, Name name) {
  Key* key = new Key;
  key->name.assign(name.data, name.size);
  key->parent = parent;
  key->depth = parent->depth + 1;
  parent->children.Add(key);
  return key;
}

Key* ClassesRoot() {
  Key* software = FindChild(g_local_machine, Name{"SOFTWARE", 8});
  return software ? FindChild(software, Name{"Classes", 7}) : nullptr;
}

Value* FindValue(Key* key, Name name) {
  if (key->valueSlots.empty()) {
    for (Value& value : key->values)
      if (SameName(value.name, name))
        return &value;
    return nullptr;
  }
  size_t mask = key->valueSlots.size() - 1;
  for (size_t slot = HashFolded(name.data, name.size) & mask;;
       slot = (slot + 1) & mask) {
    uint32_t position = key->valueSlots[slot];
    if (position == 0)
      return nullptr;
    if (SameName(key->values[position - 1].name, name))
      return &key->values[position - 1];
  }
}

void SetValue(Key* key, Name name, DWORD type, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  if (Value* value = FindValue(key, name)) {
    value->type = type;
    value->data.assign(bytes, size);
    return;
  }
  AddValue(key, Value{std::string(name.data, name.size),
                      std::string(bytes, size), type});
}

void AddValue(Key* key, Value&& value) {
  key->values.push_back(std::move(value));
  if (key->values.size() > kLinearValues) {
    if (key->valueSlots.size() < key->values.size() * 2)
      RebuildValueIndex(key);
    else
      IndexValue(key, static_cast<uint32_t>(key->values.size() - 1));
  }
}

Key* NewRoot(const char* name) {
  Key* root = new Key;
  root->name = name;
  return root;
}

// Frees a detached tree without recursion; keys that handles still name stay
// as orphans until their last handle closes.
void FreeTree(Key* root) {
  std::vector<Key*> pending = {root};
  while (!pending.empty()) {
    Key* key = pending.back();
    pending.pop_back();
    for (Key* child : key->children.TakeAll())
      pending.push_back(child);
    Release(key);
  }
}

void AdoptTree(Key* localMachine, Key* currentUser) {
  g_free_handles.clear();
  for (const std::unique_ptr<HKEY__>& handle : g_handle_pool) {
    if (handle->open)
      handle->key->handles = 0;
    handle->open = false;
    g_free_handles.push_back(handle.get());
  }
  g_open_handles = 0;
  for (Key* orphan : g_orphans)
    delete orphan;
  g_orphans.clear();
  if (g_local_machine)
    FreeTree(g_local_machine);  // no handle is left, so every key goes
  if (g_current_user)
    FreeTree(g_current_user);
  g_local_machine = localMachine;
  g_current_user = currentUser;
  g_journal.clear();
  g_calls.clear();
  g_unavailable = false;
  MarkChanged();
}

void ResetTree(bool fresh) {
  Key* localMachine = NewRoot("HKEY_LOCAL_MACHINE");
  Key* currentUser = NewRoot("HKEY_CURRENT_USER");
  if (fresh) {
    Key* software = AddChild(localMachine, Name{"SOFTWARE", 8});
    AddChild(software, Name{"Classes", 7});
    for (const char* name : {"SYSTEM", "HARDWARE", "SAM", "SECURITY"})
      AddChild(localMachine, Name{name, strlen(name)});
  }
  AdoptTree(localMachine, currentUser);
}

void MarkChanged() {
  ++g_generation;
}

namespace {

// Finds the key a handle names and checks that it grants the required
// access; predefined roots grant everything. access, when given, receives
// what the handle grants.
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
    if (!handle->open)
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
LONG SplitPath(const char* subKey, std::vector<Name>** result) {
  std::vector<Name>* parts = &g_path_parts;
  parts->clear();
  *result = parts;
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
      parts->push_back(Name{p, static_cast<size_t>(end - p)});
    }
    p = *end ? end + 1 : end;
  }
  return ERROR_SUCCESS;
}

Key* FindPath(Key* key, const std::vector<Name>& parts) {
  for (const Name& part : parts) {
    key = FindChild(key, part);
    if (!key)
      return nullptr;
  }
  return key;
}

HKEY NewHandle(Key* key, REGSAM access) {
  if (g_free_handles.empty()) {
    g_handle_pool.push_back(std::make_unique<HKEY__>());
    g_free_handles.push_back(g_handle_pool.back().get());
  }
  HKEY handle = g_free_handles.back();
  g_free_handles.pop_back();
  *handle = HKEY__{key, access, true};
  ++key->handles;
  ++g_open_handles;
  return handle;
}

Name NameOf(const char* name) {
  return name ? Name{name, strlen(name)} : Name{"", 0};
}

// Takes a key and everything below it out of the tree, each child before its
// parent, without recursion.
void Detach(Key* top) {
  Key* key = top;
  for (;;) {
    if (!key->children.Empty()) {
      key = key->children.At(0);
      continue;
    }
    Key* parent = key->parent;
    bool last = key == top;
    Unlink(key);
    if (last)
      return;
    key = parent;
  }
}

// The shell library's deletion as Wine does it (RegDeleteTree): children
// first, stopping at the first key that cannot go.
LONG DeleteTree(Key* top) {
  Key* key = top;
  for (;;) {
    if (key->denied)
      return ERROR_ACCESS_DENIED;
    if (!key->children.Empty()) {
      key = key->children.At(0);
      continue;
    }
    Key* parent = key->parent;
    bool last = key == top;
    Unlink(key);
    if (last)
      return ERROR_SUCCESS;
    key = parent;
  }
}

bool IsRoot(const Key* key) {
  return key->parent == nullptr || key == ClassesRoot();
}

// Finds the key at handle\subKey for deletion.
LONG FindForDelete(HKEY handle, LPCSTR subKey, Key** target) {
  Key* base;
  LONG rc = ResolveHandle(handle, 0, &base, nullptr);
  if (rc != ERROR_SUCCESS)
    return rc;
  std::vector<Name>* parts;
  rc = SplitPath(subKey, &parts);
  if (rc != ERROR_SUCCESS)
    return rc;
  *target = FindPath(base, *parts);
  if (!*target)
    return ERROR_FILE_NOT_FOUND;
  if ((*target)->denied || IsRoot(*target))
    return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

void TraceCall(HostRegistryCall::Kind kind, HKEY handle, const char* argument,
               const Key* key, bool created, const std::string& stored,
               LONG result, DWORD type = 0, const BYTE* data = nullptr,
               DWORD size = 0) {
  if (!g_trace_calls)
    return;
  g_calls.push_back(HostRegistryCall{
      kind, argument, reinterpret_cast<uintptr_t>(key), created, stored,
      result, handle, type,
      data ? std::string(reinterpret_cast<const char*>(data), size)
           : std::string()});
}

}  // namespace
}  // namespace stand_in

using namespace stand_in;

LONG RegOpenKeyExA(HKEY handle, LPCSTR subKey, DWORD, REGSAM access,
                   PHKEY result) {
  Key* key;
  LONG rc = ResolveHandle(handle, 0, &key, nullptr);
  if (rc != ERROR_SUCCESS)
    return rc;
  std::vector<Name>* parts;
  rc = SplitPath(subKey, &parts);
  if (rc != ERROR_SUCCESS)
    return rc;
  key = FindPath(key, *parts);
  if (!key)
    return ERROR_FILE_NOT_FOUND;
  if (key->denied)
    return ERROR_ACCESS_DENIED;
  *result = NewHandle(key, access);
  return ERROR_SUCCESS;
}

namespace {

LONG CreateKey(HKEY handle, LPCSTR subKey, REGSAM access, PHKEY result,
               LPDWORD disposition, Key** opened) {
  Key* base;
  REGSAM granted;
  LONG rc = ResolveHandle(handle, 0, &base, &granted);
  if (rc != ERROR_SUCCESS)
    return rc;
  std::vector<Name>* path;
  rc = SplitPath(subKey, &path);
  if (rc != ERROR_SUCCESS)
    return rc;
  const std::vector<Name>& parts = *path;

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
    // Making any new key, however deep, takes the right to create subkeys
    // on the handle the path starts from.
    if (!(granted & KEY_CREATE_SUB_KEY))
      return ERROR_ACCESS_DENIED;
    // Documented: no new key directly under HKEY_LOCAL_MACHINE, at most 32
    // new levels in one call and 512 levels in all. The documentation names
    // no error code for the depth limits; Wine enforces neither.
    if (key == g_local_machine)
      return ERROR_ACCESS_DENIED;
    if (newLevels > kMaxNewLevels || key->depth + newLevels > kMaxDepth)
      return ERROR_INVALID_PARAMETER;
    for (size_t i = existing; i < parts.size(); ++i) {
      key = AddChild(key, parts[i]);
      Journal("create ", key);
    }
    MarkChanged();
  }
  if (disposition)
    *disposition = newLevels > 0 ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = NewHandle(key, access);
  *opened = key;
  return ERROR_SUCCESS;
}

}  // namespace

LONG RegCreateKeyExA(HKEY handle, LPCSTR subKey, DWORD, LPSTR, DWORD,
                     REGSAM access, LPSECURITY_ATTRIBUTES, PHKEY result,
                     LPDWORD disposition) {
  DWORD made = 0;
  Key* key = nullptr;
  LONG rc = CreateKey(handle, subKey, access, result, &made, &key);
  if (disposition && rc == ERROR_SUCCESS)
    *disposition = made;
  TraceCall(HostRegistryCall::kCreateKey, handle, subKey, key,
            made == REG_CREATED_NEW_KEY,
            key && g_trace_calls ? FullPath(key) : std::string(), rc);
  return rc;
}

LONG RegQueryValueExA(HKEY handle, LPCSTR valueName, LPDWORD, LPDWORD type,
                      LPBYTE data, LPDWORD dataSize) {
  Key* key;
  LONG rc = ResolveHandle(handle, KEY_QUERY_VALUE, &key, nullptr);
  if (rc != ERROR_SUCCESS)
    return rc;
  const Value* value = FindValue(key, NameOf(valueName));
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
  Key* key = nullptr;
  LONG rc = ResolveHandle(handle, KEY_SET_VALUE, &key, nullptr);
  Name name = NameOf(valueName);
  if (rc == ERROR_SUCCESS && name.size > kMaxValueNameLength)
    rc = ERROR_INVALID_PARAMETER;  // as Wine
  if (rc == ERROR_SUCCESS && !data && dataSize)
    rc = ERROR_INVALID_PARAMETER;
  if (rc != ERROR_SUCCESS) {
    TraceCall(HostRegistryCall::kSetValue, handle, valueName, key, false,
              std::string(), rc, type, data, data ? dataSize : 0);
    return rc;
  }
  bool created = FindValue(key, name) == nullptr;
  SetValue(key, name, type, data, dataSize);
  MarkChanged();
  TraceCall(HostRegistryCall::kSetValue, handle, valueName, key, created,
            g_trace_calls ? FindValue(key, name)->name : std::string(), rc,
            type, data, dataSize);
  return ERROR_SUCCESS;
}

LONG RegEnumKeyExA(HKEY handle, DWORD index, LPSTR name, LPDWORD nameSize,
                   LPDWORD, LPSTR, LPDWORD, PFILETIME lastWriteTime) {
  Key* key;
  LONG rc = ResolveHandle(handle, KEY_ENUMERATE_SUB_KEYS, &key, nullptr);
  if (rc != ERROR_SUCCESS)
    return rc;
  Key* child = key->children.At(index);
  if (!child)
    return ERROR_NO_MORE_ITEMS;
  const std::string& childName = child->name;
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
  if (g_platform_id == VER_PLATFORM_WIN32_NT && !target->children.Empty())
    return ERROR_ACCESS_DENIED;
  Detach(target);
  MarkChanged();
  return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY handle, LPCSTR valueName) {
  Key* key;
  LONG rc = ResolveHandle(handle, KEY_SET_VALUE, &key, nullptr);
  if (rc != ERROR_SUCCESS)
    return rc;
  Value* value = FindValue(key, NameOf(valueName));
  if (!value)
    return ERROR_FILE_NOT_FOUND;
  key->values.erase(key->values.begin() + (value - key->values.data()));
  RebuildValueIndex(key);
  MarkChanged();
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY handle) {
  if (handle == HKEY_LOCAL_MACHINE || handle == HKEY_CURRENT_USER ||
      handle == HKEY_CLASSES_ROOT)
    return ERROR_SUCCESS;
  if (!handle->open)
    return ERROR_INVALID_HANDLE;
  Key* key = handle->key;
  handle->open = false;
  g_free_handles.push_back(handle);
  --g_open_handles;
  if (--key->handles == 0 && key->deleted) {
    g_orphans.erase(key);
    delete key;
  }
  return ERROR_SUCCESS;
}

DWORD SHDeleteKeyA(HKEY handle, LPCSTR subKey) {
  Key* target;
  LONG rc = FindForDelete(handle, subKey, &target);
  if (rc != ERROR_SUCCESS)
    return static_cast<DWORD>(rc);
  rc = DeleteTree(target);
  MarkChanged();
  return static_cast<DWORD>(rc);
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
struct RegistryInit {
  RegistryInit() { HostRegistryReset(); }
} g_registry_init;
}  // namespace

void HostRegistryReset() {
  ResetTree(true);
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
  return g_open_handles;
}

void HostRegistryKeepJournal(bool keep) {
  g_keep_journal = keep;
  g_journal.clear();
}

const std::vector<std::string>& HostRegistryJournal() {
  return g_journal;
}

void HostRegistryTraceCalls(bool trace) {
  g_trace_calls = trace;
  g_calls.clear();
}

const std::vector<HostRegistryCall>& HostRegistryCalls() {
  return g_calls;
}

std::string HostFoldName(const std::string& name) {
  std::string folded = name;
  for (char& c : folded)
    c = static_cast<char>(FoldLetter(static_cast<unsigned char>(c)));
  return folded;
}

uint64_t HostRegistryGeneration() {
  return g_generation;
}

bool HostRegistryCount(HKEY root, const char* path, size_t* keys,
                       size_t* values) {
  HKEY handle;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &handle) != ERROR_SUCCESS)
    return false;
  *keys = 0;
  *values = 0;
  std::vector<const Key*> pending = {handle->key};
  while (!pending.empty()) {
    const Key* key = pending.back();
    pending.pop_back();
    ++*keys;
    *values += key->values.size();
    for (const Key* child : const_cast<Key*>(key)->children.Ordered())
      pending.push_back(child);
  }
  RegCloseKey(handle);
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
