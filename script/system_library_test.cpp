#include "script/system_library.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/host/libraries.h"
#include "platform/host/platform.h"

// What each kind of system exports decides how the search is limited and
// how the program's two libraries are then loaded: by the limited search,
// or by their full path in the system folder, never by a bare name.
TEST(SystemLibrary, SearchAndLoadsOnEachSystem) {
  const std::string kLookUp =
      "GetModuleHandleA(\"kernel32.dll\")";
  struct Case {
    const char* what;
    bool setDefault, setDirectory;
    std::vector<std::string> restrict;  // the calls at the entry
    bool restricted;
    std::vector<std::string> user32, shlwapi;  // the calls of each load
  };
  const Case cases[] = {
      {"Windows 8 and later, Vista and 7 with KB2533623: both", true, true,
       {kLookUp, "GetProcAddress(kernel32.dll, \"SetDefaultDllDirectories\")",
        "SetDefaultDllDirectories(0x800)"},
       true,
       {"LoadLibraryExA(\"user32.dll\", 0x800)"},
       {"LoadLibraryExA(\"shlwapi.dll\", 0x800)"}},
      {"XP SP1 to Vista and 7 without the update: SetDllDirectoryA alone",
       false, true,
       {kLookUp, "GetProcAddress(kernel32.dll, \"SetDefaultDllDirectories\")",
        kLookUp, "GetProcAddress(kernel32.dll, \"SetDllDirectoryA\")",
        "SetDllDirectoryA(\"\")"},
       false,
       {"GetSystemDirectoryA",
        "LoadLibraryA(\"C:\\WINDOWS\\system32\\user32.dll\")"},
       {"GetSystemDirectoryA",
        "LoadLibraryA(\"C:\\WINDOWS\\system32\\shlwapi.dll\")"}},
      {"older systems and the non-NT family: neither", false, false,
       {kLookUp, "GetProcAddress(kernel32.dll, \"SetDefaultDllDirectories\")",
        kLookUp, "GetProcAddress(kernel32.dll, \"SetDllDirectoryA\")"},
       false,
       {"GetSystemDirectoryA",
        "LoadLibraryA(\"C:\\WINDOWS\\system32\\user32.dll\")"},
       {"GetSystemDirectoryA",
        "LoadLibraryA(\"C:\\WINDOWS\\system32\\shlwapi.dll\")"}},
  };
  HostSetShellLibraryPresent(true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HostLibrariesReset(c.setDefault, c.setDirectory);
    RestrictLibrarySearch();
    EXPECT_EQ(HostLibraryCalls(), c.restrict);
    EXPECT_EQ(LibrarySearchRestricted, c.restricted);
    HostLibrariesReset(c.setDefault, c.setDirectory);
    EXPECT_NE(LoadSystemLibrary("user32.dll"), nullptr);
    EXPECT_EQ(HostLibraryCalls(), c.user32);
    HostLibrariesReset(c.setDefault, c.setDirectory);
    EXPECT_NE(LoadSystemLibrary("shlwapi.dll"), nullptr);
    EXPECT_EQ(HostLibraryCalls(), c.shlwapi);
  }
  HostLibrariesReset(true, true);
}
