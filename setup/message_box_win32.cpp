#include <windows.h>

#include "setup/message_box.h"

void ShowMessageBox(const char* text, const char* title, unsigned int style) {
  MessageBoxA(nullptr, text, title, style);
}
