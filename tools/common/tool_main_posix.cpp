// The tools' entry on POSIX hosts: the arguments are already bytes, UTF-8
// as the terminal and the file system give them.

#include "tools/common/tool_platform.h"

int main(int argc, char** argv) {
  return ToolMain(std::vector<std::string>(argv + 1, argv + argc));
}
