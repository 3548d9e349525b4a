// The removal's whole-tree deletion on every target but drvdb's engine:
// the shell library's SHDeleteKeyA, the real one or the stand-in's.

#include "script/shell_delete.h"
#include "script/system_library.h"

namespace {
typedef DWORD(WINAPI* ShDeleteKeyFunction)(HKEY, LPCSTR);
}

bool ShellDeleteKey(HKEY parent, const char* name) {
  // Loaded at run time, from the system folder: the program must start
  // where shlwapi.dll is missing. The library stays loaded until the
  // process ends.
  HMODULE library = LoadSystemLibrary("shlwapi.dll");
  if (!library)
    return false;
  ShDeleteKeyFunction deleteKey = reinterpret_cast<ShDeleteKeyFunction>(
      reinterpret_cast<void*>(GetProcAddress(library, "SHDeleteKeyA")));
  if (!deleteKey)
    return false;
  deleteKey(parent, name);
  return true;
}
