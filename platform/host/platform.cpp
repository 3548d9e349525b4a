// The host platform as the program sees it: the family that GetVersionExA
// reports and whether the shell library resolves.

#include "platform/host/platform.h"

#include <stdlib.h>
#include <string.h>

#include "platform/host/faults.h"

namespace {
DWORD g_platform_id = VER_PLATFORM_WIN32_NT;
bool g_shell_library_present = true;
}  // namespace

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
  if (HostFaultAt(HostCall::kVersionQuery, "GetVersionExA"))
    return 0;
  if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA))
    return 0;
  bool nt = g_platform_id == VER_PLATFORM_WIN32_NT;
  info->dwMajorVersion = nt ? 5 : 4;
  info->dwMinorVersion = nt ? 1 : 10;
  info->dwBuildNumber = nt ? 2600 : 2222;
  info->dwPlatformId = g_platform_id;
  info->szCSDVersion[0] = '\0';
  return 1;
}

void HostSetPlatformId(DWORD platformId) {
  g_platform_id = platformId;
}

DWORD HostPlatformId() {
  return g_platform_id;
}

void HostSetShellLibraryPresent(bool present) {
  g_shell_library_present = present;
}

bool HostShellLibraryPresent() {
  return g_shell_library_present;
}

void HostPlatformFromEnvironment() {
  const char* family = getenv("DRVSETUP_PLATFORM");
  const char* noShell = getenv("DRVSETUP_NO_SHLWAPI");
  HostSetPlatformId(family && strcmp(family, "9x") == 0
                        ? VER_PLATFORM_WIN32_WINDOWS
                        : VER_PLATFORM_WIN32_NT);
  HostSetShellLibraryPresent(!(noShell && strcmp(noShell, "1") == 0));
}
