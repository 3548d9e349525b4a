#include "script/system_library.h"

#include <string.h>

bool LibrarySearchRestricted;

namespace {

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD);
typedef BOOL(WINAPI* SetDllDirectoryFunction)(LPCSTR);

// A function of kernel32, which every process has loaded: asking for it
// loads nothing.
void* KernelFunction(const char* name) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  return kernel ? reinterpret_cast<void*>(GetProcAddress(kernel, name))
                : nullptr;
}

}  // namespace

void RestrictLibrarySearch() {
  // Never called directly: a direct call imports the function statically,
  // and the program would not start where it is missing.
  SetDefaultDllDirectoriesFunction setDefault =
      reinterpret_cast<SetDefaultDllDirectoriesFunction>(
          KernelFunction("SetDefaultDllDirectories"));
  LibrarySearchRestricted =
      setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (LibrarySearchRestricted)
    return;
  SetDllDirectoryFunction setDirectory =
      reinterpret_cast<SetDllDirectoryFunction>(
          KernelFunction("SetDllDirectoryA"));
  if (setDirectory)
    setDirectory("");  // the current folder is searched no more
}

HMODULE LoadSystemLibrary(const char* name) {
  // The flag is invalid where SetDefaultDllDirectories is missing.
  if (LibrarySearchRestricted)
    return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  char path[MAX_PATH];
  const UINT folder = GetSystemDirectoryA(path, MAX_PATH);
  const size_t length = strlen(name);
  if (folder == 0 || folder + 1 + length >= MAX_PATH)
    return nullptr;  // never by the bare name: that would search beside us
  path[folder] = '\\';
  memcpy(path + folder + 1, name, length + 1);
  return LoadLibraryA(path);
}
