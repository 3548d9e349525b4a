#include "platform/windows_api.h"
#include "script/system_library.h"
#include "setup/message_box.h"

// The box on every target but drvdb's engine: user32's MessageBoxA, the
// real one or the stand-in's (setup/message_box_host.cpp).

namespace {
typedef int(WINAPI* MessageBoxFunction)(HWND, LPCSTR, LPCSTR, UINT);
}

void ShowMessageBox(const char* text, const char* title, unsigned int style) {
  // USER32 is loaded only when a box is shown: its initialisation costs more
  // than the rest of a run's start-up, and a silent run needs nothing of it.
  // It comes from the system folder, and so do the libraries it loads in
  // turn where the search could be limited. The library stays loaded until
  // the process ends.
  HMODULE library = LoadSystemLibrary("user32.dll");
  if (!library)
    return;
  MessageBoxFunction messageBox = reinterpret_cast<MessageBoxFunction>(
      reinterpret_cast<void*>(GetProcAddress(library, "MessageBoxA")));
  if (messageBox)
    messageBox(nullptr, text, title, style);
}
