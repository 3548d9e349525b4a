// UTF-8 read, and written as UTF-16LE, for the tools and tests that read and
// write registry scripts.
#pragma once

#include <cstdint>
#include <string>

/// The character that the UTF-8 text at i begins with, into point, and its
/// length in bytes; 0 for a malformed, truncated or overlong sequence, a
/// surrogate or a point beyond U+10FFFF. Nothing past the text is read.
inline size_t ReadUtf8(const std::string& text, size_t i, char32_t* point) {
  static const char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  unsigned char c = static_cast<unsigned char>(text[i]);
  size_t length = c < 0x80 ? 1 : (c & 0xe0) == 0xc0 ? 2
                             : (c & 0xf0) == 0xe0 ? 3
                             : (c & 0xf8) == 0xf0 ? 4 : 0;
  if (length == 0 || length > text.size() - i)
    return 0;
  *point = length == 1 ? c : c & (0x7f >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((text[i + k] & 0xc0) != 0x80)
      return 0;
    *point = *point << 6 | (text[i + k] & 0x3f);
  }
  bool valid = *point >= kSmallest[length] && *point <= 0x10FFFF &&
               (*point < 0xD800 || *point > 0xDFFF);
  return valid ? length : 0;
}

/// Appends UTF-8 text to out as UTF-16LE, characters beyond the basic plane
/// as surrogate pairs. Each byte that does not begin a character becomes
/// U+FFFD.
inline void AppendUtf16(std::string* out, const std::string& utf8) {
  auto unit = [out](char32_t u) {
    out->push_back(static_cast<char>(u & 0xff));
    out->push_back(static_cast<char>(u >> 8));
  };
  for (size_t i = 0; i < utf8.size();) {
    char32_t point;
    size_t length = ReadUtf8(utf8, i, &point);
    i += length ? length : 1;
    if (!length)
      point = 0xFFFD;
    if (point >= 0x10000) {
      unit(0xD800 + ((point - 0x10000) >> 10));
      unit(0xDC00 + ((point - 0x10000) & 0x3FF));
    } else {
      unit(point);
    }
  }
}
