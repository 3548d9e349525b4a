// The stand-in registry's tree, shared by its Win32 functions
// (registry_host.cpp) and its text form (hive_text_host.cpp). Nothing
// outside the stand-in includes this.
#pragma once

#include <stddef.h>
#include <stdint.h>

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

// A key's children: found by folded name through a hash index, and listed
// in folded-name order, the registry's enumeration order. New children are
// appended and sorted only when order is next asked for; removed ones leave
// holes that are swept away in bulk. So importing, enumerating one by one
// and deleting a whole tree all stay linear.
class ChildTable {
 public:
  Key* Find(Name name) const;
  void Add(Key* child);
  void Remove(Key* child);
  size_t Count() const { return live_; }
  bool Empty() const { return live_ == 0; }
  /// The index-th child in order, or null past the end; asking for index
  /// i + 1 after i, or for 0 again after removing the first, costs nothing.
  Key* At(size_t index);
  /// Every child in order.
  const std::vector<Key*>& Ordered();
  /// Takes every child out, in no particular order.
  std::vector<Key*> TakeAll();

 private:
  void Order();
  void Compact();
  void Reindex();

  std::vector<Key*> keys_;       // [0, sorted_) in order, then newer ones;
                                 // null where a child was removed
  std::vector<uint32_t> slots_;  // position + 1, or 0; empty for few keys
  size_t sorted_ = 0;
  size_t live_ = 0;
  size_t used_ = 0;              // slots taken, stale ones included
  size_t first_ = 0;             // no child before this position
  size_t cursorIndex_ = 0;       // the child last asked for by index,
  size_t cursorPosition_ = 0;    // and where it stands
  bool cursorValid_ = false;
};

struct Value {
  std::string name;  // as first created
  std::string data;
  DWORD type;
};

struct Key {
  std::string name;  // as first created
  Key* parent = nullptr;
  ChildTable children;        // owned
  std::vector<Value> values;  // in creation order
  // With many values, an open-addressed index of folded names: slot holds
  // position + 1, or 0 when empty.
  std::vector<uint32_t> valueSlots;
  uint32_t position = 0;  // in the parent's table
  uint32_t depth = 0;     // levels below its root
  uint32_t handles = 0;   // open handles that name it
  bool deleted = false;
  bool denied = false;
};

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
/// Adds a value that the key does not hold yet.
void AddValue(Key* key, Value&& value);

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
