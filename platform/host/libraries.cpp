// The stand-in's libraries: kernel32, user32 and the shell library, each a
// module handle whose functions GetProcAddress gives where the system being
// played would export them. Every call is recorded as written.

#include "platform/host/libraries.h"

#include <stdio.h>
#include <string.h>

#include "platform/host/cp1252.h"
#include "platform/host/faults.h"
#include "platform/host/platform.h"
#include "platform/host/win32.h"

struct HostModule {
  const char* name;
};

namespace {

HostModule g_kernel32{"kernel32.dll"};
HostModule g_user32{"user32.dll"};
HostModule g_shlwapi{"shlwapi.dll"};

const char kSystemFolder[] = "C:\\WINDOWS\\system32";

bool g_set_default_exported = true;
bool g_set_directory_exported = true;
std::vector<std::string> g_calls;

std::string Quoted(const char* text) {
  return text ? "\"" + std::string(text) + "\"" : "null";
}

void Record(const std::string& call) {
  g_calls.push_back(call);
}

// A library call, recorded as written and counted by the fault control:
// true when it must fail.
bool Call(const char* function, const std::string& written) {
  Record(written);
  return HostFaultAt(HostCall::kLibrary, function, written) != 0;
}

BOOL WINAPI SetDefaultDllDirectoriesStandIn(DWORD flags) {
  char text[64];
  snprintf(text, sizeof(text), "SetDefaultDllDirectories(0x%x)", flags);
  Record(text);
  return 1;
}

BOOL WINAPI SetDllDirectoryStandIn(LPCSTR path) {
  Record("SetDllDirectoryA(" + Quoted(path) + ")");
  return 1;
}

// The module a library name or path names, by its file name, in the system
// folder or wherever the search would find it.
HostModule* Library(const char* name) {
  const char* file = strrchr(name, '\\');
  file = file ? file + 1 : name;
  for (HostModule* module : {&g_kernel32, &g_user32, &g_shlwapi}) {
    if (HostFoldName(file) == HostFoldName(module->name))
      return module == &g_shlwapi && !HostShellLibraryPresent() ? nullptr
                                                                : module;
  }
  return nullptr;
}

template <typename Function>
FARPROC Exported(Function function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

}  // namespace

HMODULE GetModuleHandleA(LPCSTR name) {
  if (Call("GetModuleHandleA", "GetModuleHandleA(" + Quoted(name) + ")"))
    return nullptr;
  HostModule* module = name ? Library(name) : nullptr;
  return module == &g_kernel32 ? module : nullptr;  // the only one loaded
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  if (Call("GetProcAddress", "GetProcAddress(" +
                                 std::string(module ? module->name : "null") +
                                 ", " + Quoted(name) + ")"))
    return nullptr;
  if (!module || !name)
    return nullptr;
  if (module == &g_kernel32 && g_set_default_exported &&
      strcmp(name, "SetDefaultDllDirectories") == 0)
    return Exported(SetDefaultDllDirectoriesStandIn);
  if (module == &g_kernel32 && g_set_directory_exported &&
      strcmp(name, "SetDllDirectoryA") == 0)
    return Exported(SetDllDirectoryStandIn);
  if (module == &g_shlwapi && strcmp(name, "SHDeleteKeyA") == 0)
    return Exported(SHDeleteKeyA);
  if (module == &g_user32 && strcmp(name, "MessageBoxA") == 0)
    return Exported(MessageBoxA);
  return nullptr;
}

HMODULE LoadLibraryA(LPCSTR name) {
  if (Call("LoadLibraryA", "LoadLibraryA(" + Quoted(name) + ")"))
    return nullptr;
  return name ? Library(name) : nullptr;
}

HMODULE LoadLibraryExA(LPCSTR name, HANDLE, DWORD flags) {
  char text[32];
  snprintf(text, sizeof(text), ", 0x%x)", flags);
  if (Call("LoadLibraryExA", "LoadLibraryExA(" + Quoted(name) + text))
    return nullptr;
  if ((flags & LOAD_LIBRARY_SEARCH_SYSTEM32) && !g_set_default_exported)
    return nullptr;  // an invalid flag before the update
  return name ? Library(name) : nullptr;
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
  if (Call("GetSystemDirectoryA", "GetSystemDirectoryA"))
    return 0;
  const UINT length = sizeof(kSystemFolder) - 1;
  if (!buffer || size <= length)
    return length + 1;
  memcpy(buffer, kSystemFolder, length + 1);
  return length;
}

void HostLibrariesReset(bool setDefaultDllDirectories, bool setDllDirectory) {
  g_set_default_exported = setDefaultDllDirectories;
  g_set_directory_exported = setDllDirectory;
  g_calls.clear();
}

const std::vector<std::string>& HostLibraryCalls() {
  return g_calls;
}
