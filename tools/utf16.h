// UTF-8 to UTF-16LE for the tools and tests that write registry scripts.
#pragma once

#include <cstdint>
#include <string>

/// Appends UTF-8 text (characters of the basic plane) to out as UTF-16LE.
inline void AppendUtf16(std::string* out, const std::string& utf8) {
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    uint32_t unit;
    if (c < 0x80) {
      unit = c;
      i += 1;
    } else if ((c & 0xe0) == 0xc0) {
      unit = (c & 0x1fu) << 6 | (utf8[i + 1] & 0x3fu);
      i += 2;
    } else {
      unit = (c & 0x0fu) << 12 | (utf8[i + 1] & 0x3fu) << 6 |
             (utf8[i + 2] & 0x3fu);
      i += 3;
    }
    out->push_back(static_cast<char>(unit & 0xff));
    out->push_back(static_cast<char>(unit >> 8));
  }
}
