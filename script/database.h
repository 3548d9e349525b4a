// The installed drive database: HKEY_LOCAL_MACHINE\Software\morvelan\DRIVER2
// with its DriverVersion value.
#pragma once

#include <stdint.h>

#include "platform/registry.h"

extern const char kDatabaseKeyPath[];     // Software\morvelan\DRIVER2
extern const char kDatabaseParentPath[];  // Software\morvelan
extern const char kDatabaseKeyName[];     // DRIVER2

/// Whether root\subKey names the database key as the registry resolves a
/// path: names compared without regard to the case of A-Z, empty names
/// (a doubled or trailing backslash) skipped.
bool IsDatabaseKey(HKEY root, const char* subKey);

/// Whether a value name is DriverVersion, as the registry compares names.
bool IsVersionValueName(const char* name, const char* end);

/// The installed DriverVersion, when it is a four-byte REG_DWORD; false for
/// anything else (no key, no value, another type or size), which counts as
/// nothing installed.
bool ReadInstalledVersion(uint32_t* version);

/// True unless the installed version is not less than embeddedVersion
/// (unsigned).
bool NeedsUpdate(uint32_t embeddedVersion);

/// Deletes the DRIVER2 tree with all its subkeys and values, by the shell
/// library's deletion where it resolves, by DeleteKeyTree where it does not
/// (NT family), or by RegDeleteKeyA (non-NT family, where it takes the whole
/// subtree). Every failure is swallowed: it always reports success.
bool RemovePreviousDatabase();

/// Deletes parent\name and everything below it, each child before its
/// parent. A missing name is success unless mustExist; the first child that
/// cannot be opened or deleted stops the deletion with failure.
bool DeleteKeyTree(HKEY parent, const char* name, bool mustExist);

/// Deletes the installed DriverVersion value, if there, so that the next run
/// sees no version and repairs a half-written database.
void ForgetInstalledVersion();
