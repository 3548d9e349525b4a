// The host platform as the program sees it: the family that GetVersionExA
// reports and whether the shell library's SHDeleteKeyA resolves. The native
// entry takes both from the environment, tests set them, and the stand-in's
// registry, mutexes and libraries and the program's host seam for the shell
// library ask.
#pragma once

#include "platform/host/win32.h"

/// VER_PLATFORM_WIN32_NT (the default) or VER_PLATFORM_WIN32_WINDOWS.
void HostSetPlatformId(DWORD platformId);
DWORD HostPlatformId();

/// Whether the shell library and its SHDeleteKeyA can be resolved (default
/// yes).
void HostSetShellLibraryPresent(bool present);
bool HostShellLibraryPresent();

/// DRVSETUP_PLATFORM=9x selects the non-NT family, DRVSETUP_NO_SHLWAPI=1
/// makes SHDeleteKeyA unresolvable.
void HostPlatformFromEnvironment();
