#include "script/script_scan.h"

#include <string.h>

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

char FoldCase(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

uint32_t HexDigitValue(char c) {
  if (c >= '0' && c <= '9')
    return static_cast<uint32_t>(c - '0');
  if (c >= 'a' && c <= 'f')
    return static_cast<uint32_t>(c - 'a' + 10);
  return static_cast<uint32_t>(c - 'A' + 10);
}

}  // namespace

const char* SkipBlanks(const char* p) {
  while (IsBlank(*p))
    ++p;
  return p;
}

const char* SkipToTokenEnd(const char* p) {
  while (*p != '\0' && !IsBlank(*p) && *p != '\r' && *p != '\n')
    ++p;
  return p;
}

const char* NextLine(const char* p) {
  const char* end = strchr(p, '\n');  // the C library scans fastest
  return end ? end + 1 : p + strlen(p);
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') ||
         (c >= 'A' && c <= 'F');
}

const char* AccumulateHex(const char* p, uint32_t* value) {
  while (IsHexDigit(*p))
    *value = *value * 16 + HexDigitValue(*p++);
  return p;
}

bool SameFolded(const char* a, const char* b, size_t n) {
  for (; n > 0; --n, ++a, ++b)
    if (*a != *b && FoldCase(*a) != FoldCase(*b))
      return false;
  return true;
}

bool MatchKeyword(const char* p, const char* keyword) {
  for (; *keyword != '\0'; ++p, ++keyword) {
    // The end of the text folds to nothing that a keyword holds.
    if (*p != *keyword && FoldCase(*p) != FoldCase(*keyword))
      return false;
  }
  return true;
}
