// The registry as the script engine reaches it: its operations come with
// the rest of the Win32 names from windows_api.h, which this includes; this
// header adds the platform family test.
#pragma once

#include "platform/windows_api.h"

/// True when the platform reports the NT family. A failed version query
/// answers false. Asked afresh on every call.
bool IsNtPlatform();
