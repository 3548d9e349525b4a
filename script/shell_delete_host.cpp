#include "platform/host/platform.h"
#include "script/shell_delete.h"

bool ShellDeleteKey(HKEY parent, const char* name) {
  if (!HostShellLibraryPresent())
    return false;
  SHDeleteKeyA(parent, name);
  return true;
}
