// drvdb's engine, which loads no library: the stand-in's shell deletion,
// called directly when the stand-in plays a system that has it.

#include "platform/host/platform.h"
#include "script/shell_delete.h"

bool ShellDeleteKey(HKEY parent, const char* name) {
  if (!HostShellLibraryPresent())
    return false;
  SHDeleteKeyA(parent, name);
  return true;
}
