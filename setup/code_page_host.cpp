// The host's ANSI code page is Windows-1252, which has no double-byte
// characters.

#include "setup/command_tail.h"

bool IsLeadByte(unsigned char) {
  return false;
}
