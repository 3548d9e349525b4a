// Windows entry. The tail is computed from GetCommandLineA here rather than
// taken from WinMain's argument, whose rules differ between runtimes; the
// outcome becomes the exit code through WinMain's return.

#include <windows.h>

#include "setup/command_tail.h"
#include "setup/setup_run.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return SetupRun(CommandTailFromCommandLine(GetCommandLineA()));
}
