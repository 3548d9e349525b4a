// Scanning helpers shared by the option parser, the version probe and the
// importer. All of them work byte by byte on one NUL-terminated ANSI
// string.
#pragma once

#include <stddef.h>
#include <stdint.h>

/// Skips spaces and tabs; stops at anything else, CR, LF and NUL included.
const char* SkipBlanks(const char* p);
/// Advances to the first space, tab, CR, LF or NUL.
const char* SkipToTokenEnd(const char* p);
/// The position just after the next LF, or of the terminating NUL if no LF
/// follows. Only LF ends a line.
const char* NextLine(const char* p);
/// True for 0-9, a-f and A-F only.
bool IsHexDigit(char c);
/// Reads the run of hex digits at p into *value (value * 16 + digit, unsigned
/// 32-bit, so only the last eight digits count) and returns the position
/// after the run.
const char* AccumulateHex(const char* p, uint32_t* value);
/// True when the text at p begins with keyword, folding A-Z on both sides.
bool MatchKeyword(const char* p, const char* keyword);
/// True when the n bytes at a and at b are the same, folding A-Z.
bool SameFolded(const char* a, const char* b, size_t n);

// The importer edits the text it scans; these keep its positions writable.
inline char* SkipBlanks(char* p) {
  return const_cast<char*>(SkipBlanks(static_cast<const char*>(p)));
}
inline char* NextLine(char* p) {
  return const_cast<char*>(NextLine(static_cast<const char*>(p)));
}
