// Controls of the host stand-in registry, for the tests and the fuzzers: a
// fresh machine, keys that deny access, a registry that refuses everything,
// and what a test counts. The native program's hive file uses the reset and
// the refusal (for a hive it cannot read).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/host/win32.h"

/// Empties the registry to a fresh machine's: HKEY_LOCAL_MACHINE holding
/// SOFTWARE (with SOFTWARE\Classes, which HKEY_CLASSES_ROOT shows), SYSTEM,
/// HARDWARE, SAM and SECURITY; an empty HKEY_CURRENT_USER. Forgets every
/// handle, the record of calls, access denials and unavailability.
void HostRegistryReset();

/// Makes the existing key at root\path deny access: opening, creating or
/// deleting it fails with ERROR_ACCESS_DENIED. False if there is no such key.
bool HostRegistryDenyAccess(HKEY root, const char* path);

/// While set, every registry operation but RegCloseKey fails with
/// ERROR_ACCESS_DENIED (the hive file sets it when the hive is unreadable).
void HostRegistrySetUnavailable(bool unavailable);

/// Handles opened or created and not yet closed.
size_t HostRegistryOpenHandles();

/// Grows with every change to the registry's keys or values.
uint64_t HostRegistryGeneration();
