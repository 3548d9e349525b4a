// Controls of the host stand-in registry and platform, for the native entry
// and for tests. Nothing of the program's own logic calls these.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "platform/win32_host.h"

/// Empties the registry to a fresh machine's: HKEY_LOCAL_MACHINE holding
/// SOFTWARE (with SOFTWARE\Classes, which HKEY_CLASSES_ROOT shows), SYSTEM,
/// HARDWARE, SAM and SECURITY; an empty HKEY_CURRENT_USER. Forgets every
/// handle, the journal, access denials and unavailability.
void HostRegistryReset();

/// Makes the existing key at root\path deny access: opening, creating or
/// deleting it fails with ERROR_ACCESS_DENIED. False if there is no such key.
bool HostRegistryDenyAccess(HKEY root, const char* path);

/// While set, every registry operation but RegCloseKey fails with
/// ERROR_ACCESS_DENIED (the native entry sets it when its hive is unreadable).
void HostRegistrySetUnavailable(bool unavailable);

/// Handles opened or created and not yet closed.
size_t HostRegistryOpenHandles();

/// What the registry did, in order: "create <full path>" for each key made,
/// "delete <full path>" for each key removed, children before parents. Kept
/// unless turned off (the native program and the fuzzers do); turning it on
/// or off empties it.
const std::vector<std::string>& HostRegistryJournal();
void HostRegistryKeepJournal(bool keep);

/// One RegCreateKeyExA or RegSetValueExA call, for tools that relate what
/// the registry did to the text the caller passed.
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

/// Grows with every change to the registry's keys or values.
uint64_t HostRegistryGeneration();

/// Counts the key at root\path and every key below it, and all their values.
/// False if there is no such key.
bool HostRegistryCount(HKEY root, const char* path, size_t* keys,
                       size_t* values);

/// The whole registry in the hive's text form: every key as a bracketed line
/// of its full path, parents before children, each followed by its values.
std::string HostRegistryExport();

/// Writes header and then the same text to a file, a megabyte at a time.
/// False when a write fails.
bool HostRegistryWrite(int fd, const std::string& header);

/// Replaces the whole registry with the one described by text in the hive's
/// text form. Refuses what the registry itself would refuse (a key more than
/// 512 levels deep, a key name over 256 characters, a value name over 16,383)
/// and anything malformed; then the registry is unchanged and error names
/// the line and what is wrong with it.
bool HostRegistryImport(const std::string& text, std::string* error);

/// Platform family that GetVersionExA reports: VER_PLATFORM_WIN32_NT (the
/// default) or VER_PLATFORM_WIN32_WINDOWS.
void HostSetPlatformId(DWORD platformId);

/// Whether the shell library and its SHDeleteKeyA can be resolved (default
/// yes).
void HostSetShellLibraryPresent(bool present);
bool HostShellLibraryPresent();

/// Takes the platform family and the shell library's presence from the
/// environment: DRVSETUP_PLATFORM=9x selects the non-NT family,
/// DRVSETUP_NO_SHLWAPI=1 makes SHDeleteKeyA unresolvable.
void HostPlatformFromEnvironment();

/// The hive file the native program keeps its registry in: DRVSETUP_HIVE, or
/// else $XDG_STATE_HOME/drvsetup/registry.hive (~/.local/state when unset).
std::string HostHiveDefaultPath();

/// Takes the hive's lock (PATH.lock, held until HostHiveClose, so that runs
/// started together take turns) and loads the registry from the hive; a
/// missing hive gives a fresh registry. A hive that cannot be read or parsed
/// is left untouched: the registry becomes unavailable and error says why.
bool HostHiveOpen(const std::string& path, std::string* error);

/// Writes the registry back if it changed since HostHiveOpen: to a temporary
/// file beside the hive, flushed, then renamed over it. Never writes a hive
/// that HostHiveOpen could not read. CommitRegistry calls it.
bool HostHiveSave(std::string* error);

/// Releases the lock.
void HostHiveClose();
