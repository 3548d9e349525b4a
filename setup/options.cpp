#include <string.h>

#include "script/script_scan.h"
#include "setup/setup_run.h"

namespace {

bool TokenIs(const char* token, size_t length, const char* word) {
  return strlen(word) == length && memcmp(token, word, length) == 0;
}

bool TokenIsOption(const char* token, size_t length, const char* bare,
                   const char* quoted) {
  return TokenIs(token, length, bare) || TokenIs(token, length, quoted);
}

}  // namespace

RunFlags ParseOptions(const char* commandTail) {
  RunFlags flags = {true, false, true, true};
  const char* p = SkipBlanks(commandTail);
  while (*p != '\0') {
    const char* end = SkipToTokenEnd(p);
    size_t length = static_cast<size_t>(end - p);
    if (TokenIsOption(p, length, "-v", "\"-v\""))
      flags.showVersion = true;
    else if (TokenIsOption(p, length, "-ns", "\"-ns\""))
      flags.showSuccess = false;
    else if (TokenIsOption(p, length, "-ne", "\"-ne\""))
      flags.showErrors = false;
    p = SkipBlanks(end);
    // A CR or LF ends a token but is no blank; step over it and read on, so
    // options on either side of it count.
    while (*p == '\r' || *p == '\n')
      p = SkipBlanks(p + 1);
  }
  if (flags.showVersion) {
    flags.install = false;
    flags.showErrors = false;
    flags.showSuccess = false;
  }
  return flags;
}
