// The registry operations the script engine calls (RegOpenKeyExA,
// RegQueryValueExA, RegCreateKeyExA, RegSetValueExA, RegEnumKeyExA,
// RegDeleteKeyA, RegDeleteValueA, RegCloseKey, with the shell library's
// SHDeleteKeyA), as windows_api.h gives them, and the platform family test.
#pragma once

#include "platform/windows_api.h"

/// True when the platform reports the NT family. A failed version query
/// answers false. Asked afresh on every call.
bool IsNtPlatform();
