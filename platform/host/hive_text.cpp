// The hive's text form, both ways, in time linear in the text.

#include "platform/host/hive_text.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "platform/host/cp1252.h"
#include "platform/host/tree.h"

using stand_in::Key;

namespace {

/// One key or value line, read.
struct HiveLine {
  enum Kind { kKey, kValue } kind = kKey;
  std::vector<std::string> names;  // a key's path: its root, then each name
  HiveValue value;
};

struct HiveReader {
  const std::string& text;
  size_t pos = 0;
  size_t line = 0;  // the number of the line last read
};

const char kHexDigits[] = "0123456789abcdef";

void AppendEscaped(std::string* out, const std::string& text) {
  static const char kUpper[] = "0123456789ABCDEF";
  for (unsigned char c : text) {
    if (c < 0x20 || c > 0x7e || c == '%' || c == '"' || c == '\\' ||
        c == '[' || c == ']') {
      out->push_back('%');
      out->push_back(kUpper[c >> 4]);
      out->push_back(kUpper[c & 15]);
    } else {
      out->push_back(static_cast<char>(c));
    }
  }
}

void AppendHexByte(std::string* out, unsigned char value) {
  out->push_back(kHexDigits[value >> 4]);
  out->push_back(kHexDigits[value & 15]);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f')
    return (c | 0x20) - 'a' + 10;
  return -1;
}

// Reads escaped text from line[*pos] up to (not including) the first stop
// character, which must come before the line's end. Plain runs are copied
// whole.
bool ReadEscaped(std::string_view line, size_t* pos, char stop, char orStop,
                 std::string* out) {
  out->clear();
  for (size_t p = *pos, run = p; p < line.size(); ++p) {
    char c = line[p];
    if (c != stop && c != orStop && c != '%')
      continue;
    out->append(line.data() + run, p - run);
    if (c != '%') {
      *pos = p;
      return true;
    }
    int hi = p + 2 < line.size() ? HexValue(line[p + 1]) : -1;
    int lo = hi >= 0 ? HexValue(line[p + 2]) : -1;
    if (lo < 0)
      return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
    p += 2;
    run = p + 1;
  }
  return false;
}

bool ParseHexBytes(std::string_view text, size_t pos, std::string* out) {
  out->clear();
  for (; pos < text.size(); pos += 3) {
    int hi = HexValue(text[pos]);
    int lo = pos + 1 < text.size() ? HexValue(text[pos + 1]) : -1;
    if (hi < 0 || lo < 0)
      return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
    if (pos + 2 < text.size() &&
        (text[pos + 2] != ',' || pos + 3 == text.size()))
      return false;
  }
  return true;
}

// The names of a key line, into the strings the last line left (so that
// reading a large hive does not allocate for every name).
bool ParseKey(std::string_view line, HiveLine* out) {
  size_t count = 0, pos = 1;
  do {
    if (out->names.size() <= count)
      out->names.emplace_back();
    if (!ReadEscaped(line, &pos, '\\', ']', &out->names[count]) ||
        out->names[count++].empty())
      return false;
  } while (line[pos++] == '\\');
  out->names.resize(count);
  return pos == line.size();
}

bool ParseValue(std::string_view line, HiveValue* value) {
  size_t pos = 1;
  if (!ReadEscaped(line, &pos, '"', '"', &value->name) ||
      line.compare(pos, 2, "\"=") != 0)
    return false;
  pos += 2;
  if (line.compare(pos, 1, "\"") == 0) {
    ++pos;
    if (!ReadEscaped(line, &pos, '"', '"', &value->data) ||
        pos + 1 != line.size())
      return false;
    value->type = REG_SZ;
    value->data.push_back('\0');
    return true;
  }
  if (line.compare(pos, 6, "dword:") == 0) {
    if (line.size() != pos + 14)
      return false;
    value->type = REG_DWORD;
    value->data.assign(4, '\0');
    for (size_t i = 0; i < 8; ++i) {
      int digit = HexValue(line[pos + 13 - i]);  // least significant first
      if (digit < 0)
        return false;
      value->data[i / 2] = static_cast<char>(value->data[i / 2] |
                                             digit << (4 * (i % 2)));
    }
    return true;
  }
  if (line.compare(pos, 4, "hex(") != 0)
    return false;
  size_t close = line.find("):", pos);
  std::string digits(line.substr(pos + 4, close - pos - 4));
  if (close == std::string::npos || digits.empty() || digits.size() > 10 ||
      digits.find_first_not_of("0123456789") != std::string::npos ||
      std::stoull(digits) > 0xffffffffull)
    return false;
  value->type = static_cast<DWORD>(std::stoull(digits));
  return ParseHexBytes(line, close + 2, &value->data);
}

// Hands the text to a file as it grows, when there is one, so that the
// whole text is never held at once. False when the file refuses it.
bool Flush(std::string* out, FILE* file, bool all) {
  if (!file || (!all && out->size() < (1u << 20)))
    return true;
  if (fwrite(out->data(), 1, out->size(), file) != out->size())
    return false;
  out->clear();
  return true;
}

// Parents before children, with one path buffer that grows and shrinks by
// one name at a time.
bool ExportTree(const Key* key, std::string* path, std::string* out,
                FILE* file) {
  const size_t parentSize = path->size();
  if (key->parent)
    path->push_back('\\');
  AppendEscaped(path, key->name);
  *out += "[" + *path + "]\n";
  for (const auto& value : key->values)
    AppendHiveValue(out, value.first, value.second.type, value.second.data);
  if (!Flush(out, file, false))
    return false;
  for (const auto& child : key->children)
    if (!ExportTree(child.second.get(), path, out, file))
      return false;
  path->resize(parentSize);
  return true;
}

// Both roots.
bool ExportRegistry(std::string* out, FILE* file) {
  std::string path;
  return ExportTree(stand_in::LocalMachine(), &path, out, file) &&
         ExportTree(stand_in::CurrentUser(), &path, out, file);
}

size_t g_size_hint = 0;  // the size of the text last loaded or written

// Builds the tree of one key line, checking the registry's limits.
Key* MakePath(const HiveLine& line, Key* localMachine, Key* currentUser,
              std::string* what) {
  const std::string& root = line.names[0];
  Key* key = root == "HKEY_LOCAL_MACHINE" ? localMachine
             : root == "HKEY_CURRENT_USER" ? currentUser
                                           : nullptr;
  if (!key)
    *what = "unknown root " + root;
  for (size_t i = 1; key && i < line.names.size(); ++i) {
    const std::string& name = line.names[i];
    if (name.size() > stand_in::kMaxKeyNameLength) {
      *what = "key name longer than " +
              std::to_string(stand_in::kMaxKeyNameLength) + " characters";
      return nullptr;
    }
    if (key->depth + 1 > stand_in::kMaxDepth) {  // no key lies deeper
      *what = "key more than " + std::to_string(stand_in::kMaxDepth) +
              " levels deep";
      return nullptr;
    }
    key = stand_in::Child(key, name, true);
  }
  return key;
}

// Reads the next key or value line, passing over comments. False at the
// end of the text (error empty), and false with error naming the line at a
// malformed one.
bool ReadHiveLine(HiveReader* reader, HiveLine* line, std::string* error) {
  const std::string& text = reader->text;
  std::string_view content;
  error->clear();
  do {
    if (reader->pos >= text.size())
      return false;
    size_t end = std::min(text.find('\n', reader->pos), text.size());
    content = std::string_view(text).substr(reader->pos, end - reader->pos);
    reader->pos = end + 1;
    ++reader->line;
  } while (content.empty() || content[0] == ';');
  bool ok = false;
  if (content[0] == '[') {
    line->kind = HiveLine::kKey;
    ok = ParseKey(content, line);
  } else if (content[0] == '"') {
    line->kind = HiveLine::kValue;
    ok = ParseValue(content, &line->value);
  }
  if (!ok)
    *error = "line " + std::to_string(reader->line) + ": malformed " +
             (content[0] == '[' ? "key path" : "value") + ": " +
             std::string(content.substr(0, 80)) +
             (content.size() > 80 ? "..." : "");
  return ok;
}

// A key line's full path, its names joined by backslashes.
std::string HivePath(const HiveLine& line) {
  std::string path;
  for (const std::string& name : line.names)
    path += (path.empty() ? "" : "\\") + name;
  return path;
}

}  // namespace

void AppendHiveValue(std::string* out, const std::string& name, DWORD type,
                     const std::string& d) {
  out->push_back('"');
  AppendEscaped(out, name);
  out->append("\"=");
  if (type == REG_SZ && !d.empty() && d.find('\0') == d.size() - 1) {
    out->push_back('"');
    AppendEscaped(out, d.substr(0, d.size() - 1));
    out->push_back('"');
  } else if (type == REG_DWORD && d.size() == 4) {
    out->append("dword:");
    for (int i = 3; i >= 0; --i)
      AppendHexByte(out, static_cast<unsigned char>(d[i]));
  } else {
    out->append("hex(" + std::to_string(type) + "):");
    for (size_t i = 0; i < d.size(); ++i) {
      if (i)
        out->push_back(',');
      AppendHexByte(out, static_cast<unsigned char>(d[i]));
    }
  }
  out->push_back('\n');
}

std::string HostRegistryExport() {
  std::string out;
  out.reserve(g_size_hint + g_size_hint / 8 + 4096);
  ExportRegistry(&out, nullptr);
  g_size_hint = out.size();
  return out;
}

bool HostRegistryWrite(FILE* file, const std::string& header) {
  std::string out = header;
  out.reserve((1u << 20) + 65536);
  return ExportRegistry(&out, file) && Flush(&out, file, true) &&
         fflush(file) == 0;
}

bool HostRegistryImport(const std::string& text, std::string* error) {
  std::unique_ptr<Key> localMachine = stand_in::NewRoot("HKEY_LOCAL_MACHINE");
  std::unique_ptr<Key> currentUser = stand_in::NewRoot("HKEY_CURRENT_USER");
  HiveReader reader{text};
  HiveLine line;
  Key* key = nullptr;
  std::string what;
  while (ReadHiveLine(&reader, &line, error)) {
    if (line.kind == HiveLine::kKey) {
      key = MakePath(line, localMachine.get(), currentUser.get(), &what);
    } else if (!key) {
      what = "value before any key";
    } else if (line.value.name.size() > stand_in::kMaxValueNameLength) {
      what = "value name longer than " +
             std::to_string(stand_in::kMaxValueNameLength) + " characters";
    } else {
      // In name order, as the hive writes them: each goes last.
      size_t before = key->values.size();
      key->values.emplace_hint(
          key->values.end(), std::move(line.value.name),
          stand_in::Value{line.value.type, std::move(line.value.data)});
      if (key->values.size() == before)
        what = "value named twice";
    }
    if (!what.empty() || !key) {
      *error = "line " + std::to_string(reader.line) + ": " + what;
      return false;
    }
  }
  if (!error->empty())
    return false;  // a malformed line
  Key* software = stand_in::Child(localMachine.get(), "SOFTWARE");
  if (!software || !stand_in::Child(software, "Classes")) {
    *error = "no HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes";
    return false;
  }
  stand_in::AdoptTree(std::move(localMachine), std::move(currentUser));
  g_size_hint = text.size();
  return true;
}

std::string HostKeyPath(HKEY root, const char* subKey) {
  std::string path = root == HKEY_CURRENT_USER ? stand_in::CurrentUser()->name
                                               : stand_in::LocalMachine()->name;
  if (root == HKEY_CLASSES_ROOT)
    path += "\\SOFTWARE\\Classes";
  for (const char* p = subKey;;) {
    std::string_view name = stand_in::NextName(&p);
    if (name.empty())
      return path;
    path += "\\";
    path += name;
  }
}

bool HostKeyIsUnder(const std::string& path, const std::string& top) {
  if (path.size() < top.size() ||
      (path.size() > top.size() && path[top.size()] != '\\'))
    return false;
  std::string_view head(path.data(), top.size());
  return !stand_in::FoldedLess()(head, top) &&
         !stand_in::FoldedLess()(top, head);
}

bool ReadHiveTree(const std::string& text, HiveTree* tree, std::string* error) {
  HiveReader reader{text};
  HiveLine line;
  HiveKey* key = nullptr;
  error->clear();
  while (ReadHiveLine(&reader, &line, error)) {
    if (line.kind == HiveLine::kKey) {
      const std::string path = HivePath(line);
      key = &(*tree)[HostFoldName(path)];
      key->path = path;
    } else if (key) {
      std::string name = HostFoldName(line.value.name);
      key->values[name] = std::move(line.value);
    } else {
      *error = "line " + std::to_string(reader.line) + ": a value before any key";
      return false;
    }
  }
  return error->empty();
}

HiveTree HostRegistryTree() {
  HiveTree tree;
  std::string error;
  ReadHiveTree(HostRegistryExport(), &tree, &error);
  return tree;
}
