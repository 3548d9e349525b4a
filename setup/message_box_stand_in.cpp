// drvdb's engine, which loads no library: the stand-in's box, called
// directly.

#include "platform/host/win32.h"
#include "setup/message_box.h"

void ShowMessageBox(const char* text, const char* title, unsigned int style) {
  MessageBoxA(nullptr, text, title, style);
}
