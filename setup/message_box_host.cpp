// On a host without message boxes each box is one line on stderr.

#include <stdio.h>

#include "platform/host/mutex.h"
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

void ShowMessageBox(const char* text, const char* title, unsigned int style) {
  g_boxes.push_back(HostMessageBox{text, title, style, HostMutexesHeld()});
  if (!g_echo)
    return;
  fprintf(stderr, "%s\n", HostMessageBoxLine(g_boxes.back()).c_str());
  fflush(stderr);
}
