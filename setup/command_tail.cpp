#include "setup/command_tail.h"

const char* CommandTailFromCommandLine(const char* commandLine) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(commandLine);
  if (*p == '"') {
    for (++p; *p != '\0' && *p != '"'; ++p) {
      if (IsLeadByte(*p) && p[1] != '\0')
        ++p;  // the trail byte may look like a quote
    }
    if (*p == '"')
      ++p;
  } else {
    while (*p > ' ')
      ++p;
  }
  while (*p >= 1 && *p <= 32)
    ++p;
  return reinterpret_cast<const char*>(p);
}
