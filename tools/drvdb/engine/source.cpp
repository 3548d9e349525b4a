#include "tools/drvdb/engine/source.h"

#include <stdio.h>

#include "tools/common/utf16.h"

namespace {

const uint32_t kMaxScriptBytes = 0xffffffffu - 8;

// UTF-16LE after the byte-order mark; pairs become one character and a lone
// surrogate stays one. A last odd byte, which the program ignores, is
// dropped.
std::u32string DecodeUtf16(const std::string& bytes) {
  std::u32string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    char32_t unit = static_cast<unsigned char>(bytes[i]) |
                    static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
      char32_t next = static_cast<unsigned char>(bytes[i + 2]) |
                      static_cast<unsigned char>(bytes[i + 3]) << 8;
      if (next >= 0xDC00 && next <= 0xDFFF) {
        text.push_back(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
        i += 2;
        continue;
      }
    }
    text.push_back(unit);
  }
  return text;
}

// Strict UTF-8; on failure, where the bad byte is.
bool DecodeUtf8(const std::string& bytes, size_t start, std::u32string* text,
                LoadError* error) {
  error->line = error->column = 1;
  for (size_t i = start; i < bytes.size();) {
    char32_t point;
    size_t length = ReadUtf8(bytes, i, &point);
    if (!length) {
      char byte[8];
      snprintf(byte, sizeof(byte), "0x%02X",
               static_cast<unsigned char>(bytes[i]));
      error->message = std::string("byte ") + byte +
                       " is not UTF-8, and the file has no UTF-16LE "
                       "byte-order mark: save the script as UTF-8 or as "
                       "UTF-16LE (the registry editor's Unicode export)";
      return false;
    }
    text->push_back(point);
    error->column = point == '\n' ? 1 : error->column + 1;
    error->line += point == '\n';
    i += length;
  }
  return true;
}

}  // namespace

std::string ToUtf8(const std::u32string& text) {
  std::string out;
  for (char32_t c : text) {
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
      c = 0xFFFD;  // a lone surrogate has no UTF-8 form
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    int length = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    out.push_back(static_cast<char>((0xF00 >> length) | c >> (6 * (length - 1))));
    for (int k = length - 2; k >= 0; --k)
      out.push_back(static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F)));
  }
  return out;
}

bool LoadScript(const std::string& path, const std::string& bytes,
                SourceScript* script, LoadError* error) {
  script->path = path;
  script->text.clear();
  script->lineStarts.clear();
  *error = LoadError();
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xff &&
      static_cast<unsigned char>(bytes[1]) == 0xfe) {
    script->text = DecodeUtf16(bytes);
    script->shipped = bytes;
  } else if (bytes.size() >= 2 &&
             static_cast<unsigned char>(bytes[0]) == 0xfe &&
             static_cast<unsigned char>(bytes[1]) == 0xff) {
    error->message = "big-endian UTF-16: the program reads only UTF-16LE "
                     "(save it as UTF-16LE with its byte-order mark, or as "
                     "UTF-8)";
    return false;
  } else {
    size_t start = bytes.compare(0, 3, "\xef\xbb\xbf") == 0 ? 3 : 0;
    if (!DecodeUtf8(bytes, start, &script->text, error))
      return false;
    script->shipped = "\xff\xfe";  // UTF-8 already checked: converts as is
    AppendUtf16(&script->shipped, bytes.substr(start));
  }
  if (script->shipped.size() > kMaxScriptBytes) {
    *error = LoadError{0, 0, "too large for the program's four-byte length"};
    return false;
  }
  script->lineStarts.assign(1, 0);
  for (size_t i = 0; i < script->text.size(); ++i)
    if (script->text[i] == U'\n')
      script->lineStarts.push_back(i + 1);
  return true;
}

std::string SourceLine(const SourceScript& script, size_t line) {
  if (script.lineStarts.empty() || line > script.lineStarts.size())
    return "";
  const size_t start = script.lineStarts[line ? line - 1 : 0];
  size_t end = script.text.find(U'\n', start);
  std::u32string text = script.text.substr(
      start, end == std::u32string::npos ? std::u32string::npos : end - start);
  if (!text.empty() && text.back() == U'\r')
    text.pop_back();
  return ToUtf8(text);
}
