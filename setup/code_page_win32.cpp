#include <windows.h>

#include "setup/command_tail.h"

bool IsLeadByte(unsigned char byte) {
  return IsDBCSLeadByte(byte) != 0;
}
