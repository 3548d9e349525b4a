// Windows entry. The library search is limited to the system folder before
// anything else runs: the program runs elevated from wherever it was put,
// and the C runtime's start-up loads no library, nor does any static
// constructor (there are none). The tail is computed from GetCommandLineA
// here rather than taken from WinMain's argument, whose rules differ between
// runtimes; the outcome becomes the exit code through WinMain's return.

#include <windows.h>

#include "script/system_library.h"
#include "setup/command_tail.h"
#include "setup/setup_run.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  RestrictLibrarySearch();
  return SetupRun(CommandTailFromCommandLine(GetCommandLineA()));
}
