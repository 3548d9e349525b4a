// The stand-in's system libraries, for the tests: which of the library
// search functions kernel32 exports, as each Windows would answer, and a
// record of every library call the program made. The program finds
// kernel32 already loaded, and user32 and the shell library in the system
// folder (the shell library as HostShellLibraryPresent says).
#pragma once

#include <string>
#include <vector>

/// Forgets every call and sets what kernel32 exports: both functions on
/// Windows 8 and later and on Vista and 7 with the update KB2533623,
/// SetDllDirectoryA alone from XP SP1 to Vista and 7 without it, neither
/// on older systems and the non-NT family. Without SetDefaultDllDirectories
/// LoadLibraryExA refuses LOAD_LIBRARY_SEARCH_SYSTEM32, as those systems
/// do. Both are exported until a test says otherwise.
void HostLibrariesReset(bool setDefaultDllDirectories, bool setDllDirectory);

/// The library calls since the last reset, in order, each as its call:
/// GetModuleHandleA("kernel32.dll"), SetDllDirectoryA(""),
/// LoadLibraryExA("user32.dll", 0x800) and so on.
const std::vector<std::string>& HostLibraryCalls();
