#include "platform/host/cp1252.h"

namespace {

// The characters of bytes 0x80..0x9F; 0 where the byte is unassigned (those
// map U+0081 and the like to themselves).
const uint16_t kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Upper case for every byte, made once.
struct FoldTable {
  unsigned char upper[256];
  FoldTable() {
    for (int c = 0; c < 256; ++c)
      upper[c] = static_cast<unsigned char>(
          (c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)
              ? c - 0x20
              : c == 0x9A || c == 0x9C || c == 0x9E ? c - 0x10
              : c == 0xFF                           ? 0x9F
                                                    : c);
  }
} const kFold;

}  // namespace

char16_t Cp1252ToWide(unsigned char c) {
  if (c >= 0x80 && c <= 0x9F && kHigh[c - 0x80] != 0)
    return kHigh[c - 0x80];
  return c;
}

char Cp1252FromWide(uint32_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
    return static_cast<char>(unit);
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] == unit || (kHigh[i] == 0 && unit == 0x80u + i))
      return static_cast<char>(0x80 + i);
  }
  return '?';
}

unsigned char Cp1252Fold(unsigned char c) {
  return kFold.upper[c];
}

std::string HostFoldName(const std::string& name) {
  std::string folded = name;
  for (char& c : folded)
    c = static_cast<char>(kFold.upper[static_cast<unsigned char>(c)]);
  return folded;
}
