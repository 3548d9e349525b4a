// Windows-1252, the ANSI code page of the hosts without one: its bytes as
// characters and back, and the registry's fold of its letters. The payload
// reader's host conversion, the stand-in registry and the tools all use it.
#pragma once

#include <stdint.h>

#include <string>

/// The characters of bytes 0x80-0x9F, and their bytes back.
char16_t Cp1252HighToWide(unsigned char c);
char Cp1252HighFromWide(uint32_t unit);

/// The character a byte stands for; the five bytes the code page leaves
/// unassigned stand for themselves. Inline, like the next, for the bytes
/// that stand for themselves: a payload is converted a character at a time.
inline char16_t Cp1252ToWide(unsigned char c) {
  return c >= 0x80 && c <= 0x9F ? Cp1252HighToWide(c) : c;
}

/// The byte for a UTF-16 code unit, or '?' for one the code page lacks.
inline char Cp1252FromWide(uint32_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
    return static_cast<char>(unit);
  return Cp1252HighFromWide(unit);
}

/// Upper case for every byte, made by the compiler: the stand-in compares
/// names with it while other translation units are still being set up.
struct Cp1252FoldTable {
  unsigned char upper[256];
};

constexpr Cp1252FoldTable MakeCp1252FoldTable() {
  Cp1252FoldTable table{};
  for (int c = 0; c < 256; ++c)
    table.upper[c] = static_cast<unsigned char>(
        (c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)
            ? c - 0x20
            : c == 0x9A || c == 0x9C || c == 0x9E ? c - 0x10
            : c == 0xFF                           ? 0x9F
                                                  : c);
  return table;
}

inline constexpr Cp1252FoldTable kCp1252Fold = MakeCp1252FoldTable();

/// A byte folded as the registry compares names: every letter in upper
/// case (a-z, the accented small letters, and s, z with caron, oe and y with
/// diaeresis of the 0x80-0x9F block), every other byte as it is. Inline:
/// the stand-in's maps compare names with it at every step.
inline unsigned char Cp1252Fold(unsigned char c) {
  return kCp1252Fold.upper[c];
}

/// A name as the registry compares it: every letter folded.
std::string HostFoldName(const std::string& name);
