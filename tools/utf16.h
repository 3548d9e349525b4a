// UTF-8 to UTF-16LE for the tools and tests that write registry scripts.
#pragma once

#include <cstdint>
#include <string>

/// Appends UTF-8 text to out as UTF-16LE, characters beyond the basic plane
/// as surrogate pairs. A malformed or truncated sequence becomes U+FFFD, and
/// nothing past the end of the text is read.
inline void AppendUtf16(std::string* out, const std::string& utf8) {
  auto unit = [out](uint32_t u) {
    out->push_back(static_cast<char>(u & 0xff));
    out->push_back(static_cast<char>(u >> 8));
  };
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    size_t length = c < 0x80 ? 1 : (c & 0xe0) == 0xc0 ? 2
                               : (c & 0xf0) == 0xe0 ? 3
                               : (c & 0xf8) == 0xf0 ? 4 : 0;
    uint32_t point = length == 1 ? c : c & (0x7f >> length);
    bool ok = length > 0 && i + length <= utf8.size();
    for (size_t k = 1; ok && k < length; ++k) {
      ok = (utf8[i + k] & 0xc0) == 0x80;
      point = point << 6 | (utf8[i + k] & 0x3f);
    }
    i += ok ? length : 1;
    if (!ok) {
      unit(0xfffd);
    } else if (point >= 0x10000) {
      unit(0xd800 + ((point - 0x10000) >> 10));
      unit(0xdc00 + ((point - 0x10000) & 0x3ff));
    } else {
      unit(point);
    }
  }
}
