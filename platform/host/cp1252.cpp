#include "platform/host/cp1252.h"

namespace {

// The characters of bytes 0x80..0x9F; 0 where the byte is unassigned (those
// map U+0081 and the like to themselves).
const uint16_t kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

char16_t Cp1252HighToWide(unsigned char c) {
  return kHigh[c - 0x80] != 0 ? kHigh[c - 0x80] : c;
}

char Cp1252HighFromWide(uint32_t unit) {
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] == unit || (kHigh[i] == 0 && unit == 0x80u + i))
      return static_cast<char>(0x80 + i);
  }
  return '?';
}

std::string HostFoldName(const std::string& name) {
  std::string folded = name;
  for (char& c : folded)
    c = static_cast<char>(Cp1252Fold(static_cast<unsigned char>(c)));
  return folded;
}
