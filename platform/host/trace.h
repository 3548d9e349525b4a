// What the stand-in registry did, for the tools and tests that relate it to
// their input: the journal of keys made and deleted, and a trace of every
// create and set call. drvdb's check reads its verdicts from these.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "platform/host/win32.h"

/// What the registry did, in order: "create <full path>" for each key made,
/// "delete <full path>" for each key removed, children before parents. Kept
/// unless turned off (the native program and the fuzzers do); turning it on
/// or off empties it.
const std::vector<std::string>& HostRegistryJournal();
void HostRegistryKeepJournal(bool keep);

/// One RegCreateKeyExA or RegSetValueExA call.
struct HostRegistryCall {
  enum Kind { kCreateKey, kSetValue } kind;
  const char* argument;  // the subkey path or value name as passed
  uintptr_t key;         // the key created, opened or written; 0 on failure
  bool created;          // a new key or a new value was made
  std::string stored;    // the key's full path, or the value's name, as the
                         // registry keeps it (its first spelling)
  LONG result;
  HKEY handle;           // the handle passed: a root, for the importer
  DWORD type;            // a value's type and data, as passed
  std::string data;
};

/// Starts (or stops) recording every create and set call; either empties
/// the record. Off by default.
void HostRegistryTraceCalls(bool trace);
const std::vector<HostRegistryCall>& HostRegistryCalls();

/// A name as the registry compares it: every letter of the ANSI code page
/// (Windows-1252) in upper case.
std::string HostFoldName(const std::string& name);

/// The full path of root\subKey as the registry names it (empty names
/// skipped), in the spelling given; nothing is looked up or made.
std::string HostKeyPath(HKEY root, const char* subKey);

/// Whether a full key path names top or a key below it, its names compared
/// as the registry compares them.
bool HostKeyIsUnder(const std::string& path, const std::string& top);
