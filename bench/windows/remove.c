/* The removal alone: what the setup program does to delete an installed
   database (HKEY_LOCAL_MACHINE\Software\morvelan\DRIVER2) through the shell
   library, loaded at run time. */

#include <windows.h>

typedef DWORD(WINAPI* ShDeleteKey)(HKEY, LPCSTR);

void Start(void) {
  HKEY parent;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\morvelan", 0, KEY_WRITE,
                    &parent))
    ExitProcess(1);
  HMODULE library = LoadLibraryA("shlwapi.dll");
  ShDeleteKey deleteKey =
      library ? (ShDeleteKey)(void*)GetProcAddress(library, "SHDeleteKeyA")
              : NULL;
  if (deleteKey)
    deleteKey(parent, "DRIVER2");
  RegCloseKey(parent);
  ExitProcess(deleteKey ? 0 : 1);
}
