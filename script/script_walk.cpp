#include "script/script_walk.h"

#include <string.h>

#include "script/script_scan.h"

const char* FirstHeader(const char* text) {
  const char* p = SkipBlanks(text);
  while (*p != '[' && *p != '\0')
    p = SkipBlanks(NextLine(p));  // lines before the first header
  return p;
}

const char* HeaderClose(const char* header) {
  // Not limited to the line: the lines up to a later ']' then belong to
  // the key path.
  return strchr(header + 1, ']');
}

const char* SectionStart(const char* close) {
  return SkipBlanks(NextLine(close + 1));
}

const char* NextValueLine(const char** p, const char** end) {
  while (**p != '[' && **p != '\0') {
    const char* line = *p;
    const char* next = NextLine(line);
    *p = SkipBlanks(next);
    if (*line != '"')
      continue;  // comments, default values, continuation lines
    // The LF that ends the line, or the CR before that LF; a CR alone at
    // the very end ends a last line too.
    *end = next;
    if (next[-1] == '\n' || next[-1] == '\r') {
      *end = next - 1;
      if (*end > line && (*end)[-1] == '\r')
        --*end;
    }
    return line;
  }
  return nullptr;
}

const char* ValueNameEnd(const char* line) {
  return strchr(line + 1, '"');
}
