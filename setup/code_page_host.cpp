// The host's ANSI code page (platform/host/cp1252.h) has no double-byte
// characters; tests may pretend to a double-byte code page.

#include "setup/command_tail.h"
#include "setup/code_page_host.h"

namespace {
unsigned char g_first_lead = 1, g_last_lead = 0;  // an empty range
}

void HostSetLeadBytes(unsigned char first, unsigned char last) {
  g_first_lead = first;
  g_last_lead = last;
}

bool IsLeadByte(unsigned char c) {
  return c >= g_first_lead && c <= g_last_lead;
}
