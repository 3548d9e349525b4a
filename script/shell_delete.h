// The shell library's tree deletion, resolved at run time.
#pragma once

#include "platform/windows_api.h"

/// Calls the shell library's SHDeleteKeyA (parent, name) and ignores its
/// result. False when the library or the function cannot be resolved, in
/// which case nothing was done.
bool ShellDeleteKey(HKEY parent, const char* name);
