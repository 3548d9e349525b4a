#include "setup/command_tail.h"

std::string CommandTailFromArguments(int argc, const char* const* argv) {
  std::string tail;
  for (int i = 1; i < argc; ++i) {
    if (i > 1)
      tail += ' ';
    tail += argv[i];
  }
  return tail;
}
