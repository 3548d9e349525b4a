// The stand-in registry's tree, shared by its Win32 functions
// (registry.cpp) and its text form (hive_text.cpp). Nothing outside the
// stand-in includes this.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/host/win32.h"

namespace stand_in {

// The registry's limits. A key name may have 256 characters, as Wine takes
// (Windows documents 255); a value name 16,383; a key may lie 512 levels
// below its root, and one create call may make 32 new levels (both as
// documented; Wine enforces neither). The depth limit also bounds the
// recursion that walks or frees a tree.
const size_t kMaxKeyNameLength = 256;
const size_t kMaxValueNameLength = 16383;
const size_t kMaxDepth = 512;
const size_t kMaxNewLevels = 32;

/// Orders names as the registry compares them for the host's ANSI code page
/// (Windows-1252), every letter folded, not only A-Z, without making the
/// folded copies: so a key's children and values are found by any spelling
/// of their names, and the children listed in the registry's enumeration
/// order.
struct FoldedLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

struct Value {
  DWORD type;
  std::string data;
};

struct Key {
  std::string name;  // as first created
  Key* parent = nullptr;
  // Both by their names as first created.
  std::map<std::string, std::unique_ptr<Key>, FoldedLess> children;
  std::map<std::string, Value, FoldedLess> values;
  uint32_t depth = 0;    // levels below its root
  uint32_t handles = 0;  // open handles that name it
  bool deleted = false;
  bool denied = false;
};

Key* LocalMachine();
Key* CurrentUser();

/// The next name of a subkey path at *p, and *p past it. Like Wine, empty
/// names between two backslashes and trailing backslashes are skipped.
std::string_view NextName(const char** p);

/// The child of that name, made if create is set and there is none (the
/// caller has checked the limits); null if there is none.
Key* Child(const Key* parent, std::string_view name, bool create = false);

/// Replaces the whole tree by the one given (its two roots); every handle is
/// forgotten. HostRegistryReset gives a fresh machine's.
void AdoptTree(std::unique_ptr<Key> localMachine,
               std::unique_ptr<Key> currentUser);
std::unique_ptr<Key> NewRoot(const char* name);

}  // namespace stand_in
