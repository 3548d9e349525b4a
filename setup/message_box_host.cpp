// The stand-in's user32 MessageBoxA: on a host without message boxes each
// box is recorded, and written as one line on stderr.

#include <stdio.h>

#include "platform/host/faults.h"
#include "platform/host/mutex.h"
#include "platform/host/win32.h"
#include "setup/message_box.h"
#include "setup/message_box_host.h"

namespace {
std::vector<HostMessageBox> g_boxes;
bool g_echo = true;
}  // namespace

void HostEchoMessageBoxes(bool echo) {
  g_echo = echo;
}

const std::vector<HostMessageBox>& HostMessageBoxes() {
  return g_boxes;
}

void HostClearMessageBoxes() {
  g_boxes.clear();
}

std::string HostMessageBoxLine(const HostMessageBox& box) {
  std::string line = "message box (";
  line += (box.style & 0xf0) == kBoxError ? "error" : "information";
  line += ") \"" + box.title + "\": ";
  for (char c : box.text) {
    if (c == '\n')
      line += "\\n";
    else if (c == '\r')
      line += "\\r";
    else if (c == '\\')
      line += "\\\\";
    else
      line += c;
  }
  return line;
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR title, UINT style) {
  if (HostFaultAt(HostCall::kBox, "MessageBoxA"))
    return 0;  // no box
  g_boxes.push_back(HostMessageBox{text, title, style, HostMutexesHeld()});
  if (g_echo) {
    fprintf(stderr, "%s\n", HostMessageBoxLine(g_boxes.back()).c_str());
    fflush(stderr);
  }
  return 1;  // IDOK
}
