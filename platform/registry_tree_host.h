// The stand-in registry's tree, shared by its Win32 functions
// (registry_host.cpp) and its text form (hive_text_host.cpp). Nothing
// outside the stand-in includes this.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <set>
#include <string>
#include <vector>

#include "platform/win32_host.h"

namespace stand_in {

// Limits of the registry as Wine 8 enforces them (the documentation gives
// 255 for key names).
const size_t kMaxKeyNameLength = 256;
const size_t kMaxValueNameLength = 16383;
const size_t kMaxDepth = 512;  // levels below a root

/// Names compare as the registry compares them for the host's ANSI code page
/// (Windows-1252): every letter folded to upper case, not only A-Z.
unsigned char FoldLetter(unsigned char c);
int CompareFolded(const char* a, size_t aSize, const char* b, size_t bSize);

struct Name {
  const char* data;
  size_t size;
};

struct Key;

// Orders a key's children by folded name: the registry's enumeration order.
struct ChildOrder {
  using is_transparent = void;
  bool operator()(const Key* a, const Key* b) const;
  bool operator()(const Key* a, Name b) const;
  bool operator()(Name a, const Key* b) const;
};

struct Value {
  std::string name;  // as first created
  std::string data;
  DWORD type;
};

struct Key {
  std::string name;  // as first created
  Key* parent = nullptr;
  std::set<Key*, ChildOrder> children;  // owned
  std::vector<Value> values;            // in creation order
  // With many values, an open-addressed index of folded names: slot holds
  // position + 1, or 0 when empty.
  std::vector<uint32_t> valueSlots;
  uint32_t depth = 0;    // levels below its root
  uint32_t handles = 0;  // open handles that name it
  bool deleted = false;
  bool denied = false;
  // Where the last enumeration stood, so that asking for index i + 1 after i
  // costs nothing; reset whenever the children change.
  size_t cursorIndex = 0;
  std::set<Key*, ChildOrder>::iterator cursor;
  bool cursorValid = false;
};

inline bool ChildOrder::operator()(const Key* a, const Key* b) const {
  return CompareFolded(a->name.data(), a->name.size(), b->name.data(),
                       b->name.size()) < 0;
}
inline bool ChildOrder::operator()(const Key* a, Name b) const {
  return CompareFolded(a->name.data(), a->name.size(), b.data, b.size) < 0;
}
inline bool ChildOrder::operator()(Name a, const Key* b) const {
  return CompareFolded(a.data, a.size, b->name.data(), b->name.size()) < 0;
}

Key* LocalMachine();
Key* CurrentUser();
/// HKEY_LOCAL_MACHINE\SOFTWARE\Classes, which HKEY_CLASSES_ROOT shows.
Key* ClassesRoot();

Key* FindChild(const Key* parent, Name name);
/// Adds a child that does not exist yet; the caller has checked the limits.
Key* AddChild(Key* parent, Name name);

Value* FindValue(Key* key, Name name);
/// Creates or replaces a value; a new one keeps this spelling of its name.
void SetValue(Key* key, Name name, DWORD type, const void* data, size_t size);

/// Replaces the whole tree by a fresh machine's or by an empty one (only the
/// two roots); every handle is forgotten.
void ResetTree(bool fresh);

/// Swaps the whole tree with one built elsewhere (roots given); the old one
/// is freed. Every handle is forgotten.
void AdoptTree(Key* localMachine, Key* currentUser);
Key* NewRoot(const char* name);
void FreeTree(Key* root);

/// Counts every change, so that a caller can tell whether anything changed.
void MarkChanged();

}  // namespace stand_in
