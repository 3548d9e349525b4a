// What the stand-in registry did, for the tools and tests that relate it to
// their input: one record of every create and set call and of every key
// deleted, off unless asked for. drvdb's check reads its verdicts from it.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "platform/host/win32.h"

/// One RegCreateKeyExA, RegSetValueExA or RegDeleteValueA call, or one key
/// deleted (each key of a deleted tree, children before parents).
struct HostRegistryCall {
  enum Kind { kCreateKey, kSetValue, kDeleteValue, kDeleteKey } kind;
  const char* argument;  // the subkey path or value name as passed; null
                         // for a key deleted
  uintptr_t key;         // the key created, opened, written or deleted, or
                         // whose value was deleted; 0 on failure
  bool created;          // a new key or a new value was made
  std::string stored;    // the key's full path (a created or deleted key),
                         // or the value's name (set or deleted), as the
                         // registry keeps it (its first spelling)
  LONG result;
  HKEY handle;           // the handle passed: a root, for the importer
  DWORD type;            // a value's type and data, as passed
  std::string data;
};

/// Starts (or stops) the record; either empties it. Off by default.
void HostRegistryTraceCalls(bool trace);
const std::vector<HostRegistryCall>& HostRegistryCalls();

