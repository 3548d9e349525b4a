// What the host message box showed, for tests.
#pragma once

#include <string>
#include <vector>

struct HostMessageBox {
  std::string text;
  std::string title;
  unsigned int style;
  size_t locksHeld;  // mutexes the run held while the box waited
};

/// Whether each box is also written to stderr (default yes).
void HostEchoMessageBoxes(bool echo);

/// Every box shown since the last HostClearMessageBoxes, in order.
const std::vector<HostMessageBox>& HostMessageBoxes();
void HostClearMessageBoxes();

/// The one stderr line that stands for a box, without its newline:
///   message box (information) "TITLE": TEXT
/// with CR, LF and backslash in TEXT written as \r, \n and \\.
std::string HostMessageBoxLine(const HostMessageBox& box);
