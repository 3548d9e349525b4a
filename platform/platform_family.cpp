#include "platform/registry.h"

bool IsNtPlatform() {
  OSVERSIONINFOA info;
  info.dwOSVersionInfoSize = 148;  // sizeof(OSVERSIONINFOA) on every family
  if (!GetVersionExA(&info))
    return false;
  return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}
