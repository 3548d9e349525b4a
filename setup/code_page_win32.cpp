#include <windows.h>

#include "setup/command_tail.h"

bool IsLeadByte(unsigned char c) {
  return IsDBCSLeadByte(c) != 0;
}
