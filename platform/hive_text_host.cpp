// The stand-in registry's text form, in which the native program keeps its
// hive file.
//
// One line per key, "[FULL\PATH]", parents before children, each followed by
// its values in creation order:
//   "name"="text"          REG_SZ ending in its only NUL
//   "name"=dword:0000002a  REG_DWORD of four bytes
//   "name"=hex(N):0a,ff    anything else (type N in decimal)
// Bytes that would be ambiguous or unreadable (controls, bytes above 0x7e,
// '%', and the delimiters '"', '\', '[' and ']') are written as %XX, so every
// byte of every name and every value round-trips. Lines that are empty or
// begin with ';' are comments.
//
// Both directions work without recursion and in time linear in the text.

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

#include "platform/registry_host.h"
#include "platform/registry_tree_host.h"

using stand_in::Key;
using stand_in::Name;
using stand_in::Value;

namespace {

void AppendEscaped(std::string* out, const char* text, size_t size) {
  static const char kHex[] = "0123456789ABCDEF";
  for (size_t i = 0; i < size; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c > 0x7e || c == '%' || c == '"' || c == '\\' ||
        c == '[' || c == ']') {
      out->push_back('%');
      out->push_back(kHex[c >> 4]);
      out->push_back(kHex[c & 15]);
    } else {
      out->push_back(static_cast<char>(c));
    }
  }
}

void AppendEscaped(std::string* out, const std::string& text) {
  AppendEscaped(out, text.data(), text.size());
}

void AppendHexByte(std::string* out, unsigned value) {
  static const char kHex[] = "0123456789abcdef";
  out->push_back(kHex[(value >> 4) & 15]);
  out->push_back(kHex[value & 15]);
}

void AppendValue(std::string* out, const Value& value) {
  out->push_back('"');
  AppendEscaped(out, value.name);
  out->append("\"=");
  const std::string& d = value.data;
  if (value.type == REG_SZ && !d.empty() && d.find('\0') == d.size() - 1) {
    out->push_back('"');
    AppendEscaped(out, d.data(), d.size() - 1);
    out->push_back('"');
  } else if (value.type == REG_DWORD && d.size() == 4) {
    out->append("dword:");
    for (int i = 3; i >= 0; --i)
      AppendHexByte(out, static_cast<unsigned char>(d[i]));
  } else {
    out->append("hex(" + std::to_string(value.type) + "):");
    for (size_t i = 0; i < d.size(); ++i) {
      if (i)
        out->push_back(',');
      AppendHexByte(out, static_cast<unsigned char>(d[i]));
    }
  }
  out->push_back('\n');
}

void AppendKey(std::string* out, const Key* key, const std::string& path) {
  out->push_back('[');
  out->append(path);
  out->append("]\n");
  for (const Value& value : key->values)
    AppendValue(out, value);
}

// Hands the text to a file as it grows, when there is one, so that the
// whole text is never held at once. False when the file refuses it.
bool Flush(std::string* out, int fd, bool all) {
  if (fd < 0 || (!all && out->size() < (1u << 20)))
    return true;
  size_t done = 0;
  while (done < out->size()) {
    ssize_t n = write(fd, out->data() + done, out->size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    done += static_cast<size_t>(n);
  }
  out->clear();
  return true;
}

// Depth first, parents before children, with one path buffer that grows and
// shrinks by one name at a time.
bool ExportTree(Key* root, std::string* out, int fd) {
  struct Frame {
    const std::vector<Key*>* children;  // in order
    size_t next;
    size_t pathSize;
  };
  std::string path = root->name;
  AppendKey(out, root, path);
  std::vector<Frame> stack = {{&root->children.Ordered(), 0, path.size()}};
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next == top.children->size()) {
      stack.pop_back();
      continue;
    }
    Key* child = (*top.children)[top.next++];
    path.resize(top.pathSize);
    path.push_back('\\');
    AppendEscaped(&path, child->name);
    AppendKey(out, child, path);
    if (!Flush(out, fd, false))
      return false;
    stack.push_back({&child->children.Ordered(), 0, path.size()});
  }
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// Reads escaped text from line[*pos] up to (not including) one of the stop
// characters, which must come before the line's end. Plain runs are copied
// whole.
struct Stops {
  bool at[256] = {};
  explicit Stops(const char* stops) {
    for (const char* s = stops; *s; ++s)
      at[static_cast<unsigned char>(*s)] = true;
    at[static_cast<unsigned char>('%')] = true;
  }
};
const Stops kQuote("\"");
const Stops kNameEnd("\\]");

bool ReadEscaped(const char* line, size_t size, size_t* pos,
                 const Stops& stops, std::string* out) {
  out->clear();
  const bool* stopAt = stops.at;
  size_t p = *pos;
  for (;;) {
    size_t run = p;
    while (p < size && !stopAt[static_cast<unsigned char>(line[p])])
      ++p;
    out->append(line + run, p - run);
    if (p >= size || line[p] != '%')
      break;
    if (p + 2 >= size)
      return false;
    int hi = HexValue(line[p + 1]);
    int lo = HexValue(line[p + 2]);
    if (hi < 0 || lo < 0)
      return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
    p += 3;
  }
  *pos = p;
  return p < size && line[p] != '%';
}

bool ParseHexBytes(const char* text, size_t size, std::string* out) {
  out->clear();
  size_t pos = 0;
  while (pos < size) {
    if (pos + 2 > size)
      return false;
    int hi = HexValue(text[pos]);
    int lo = HexValue(text[pos + 1]);
    if (hi < 0 || lo < 0)
      return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
    pos += 2;
    if (pos < size && text[pos++] != ',')
      return false;
    if (pos == size && text[size - 1] == ',')
      return false;
  }
  return true;
}

// Parses a value line; error says what is wrong.
bool ParseValue(const char* line, size_t size, Value* value,
                std::string* error) {
  size_t pos = 1;
  *error = "malformed value";
  if (!ReadEscaped(line, size, &pos, kQuote, &value->name))
    return false;
  if (value->name.size() > stand_in::kMaxValueNameLength) {
    *error = "value name longer than " +
             std::to_string(stand_in::kMaxValueNameLength) + " characters";
    return false;
  }
  if (pos + 2 > size || line[pos + 1] != '=')
    return false;
  const char* rest = line + pos + 2;
  size_t restSize = size - pos - 2;
  if (restSize > 0 && rest[0] == '"') {
    size_t p = 1;
    if (!ReadEscaped(rest, restSize, &p, kQuote, &value->data) ||
        p + 1 != restSize)
      return false;
    value->type = REG_SZ;
    value->data.push_back('\0');
    return true;
  }
  if (restSize >= 6 && memcmp(rest, "dword:", 6) == 0) {
    if (restSize != 14)
      return false;
    DWORD number = 0;
    for (size_t i = 6; i < 14; ++i) {
      int digit = HexValue(rest[i]);
      if (digit < 0)
        return false;
      number = number * 16 + static_cast<DWORD>(digit);
    }
    value->type = REG_DWORD;
    value->data = {static_cast<char>(number), static_cast<char>(number >> 8),
                   static_cast<char>(number >> 16),
                   static_cast<char>(number >> 24)};
    return true;
  }
  if (restSize >= 4 && memcmp(rest, "hex(", 4) == 0) {
    const char* close = static_cast<const char*>(
        memchr(rest, ')', std::min<size_t>(restSize, 15)));
    if (!close || close == rest + 4 || close + 1 >= rest + restSize ||
        close[1] != ':')
      return false;
    unsigned long long type = 0;
    for (const char* p = rest + 4; p < close; ++p) {
      if (*p < '0' || *p > '9')
        return false;
      type = type * 10 + static_cast<unsigned>(*p - '0');
    }
    if (type > 0xffffffffull)
      return false;
    value->type = static_cast<DWORD>(type);
    size_t dataAt = static_cast<size_t>(close + 2 - rest);
    return ParseHexBytes(rest + dataAt, restSize - dataAt, &value->data);
  }
  return false;
}

// Finds or makes the key at an escaped full path; error says what is wrong.
Key* MakePath(const char* line, size_t size, Key* localMachine,
              Key* currentUser, std::string* error) {
  *error = "malformed key path";
  size_t pos = 1;
  std::string name;
  if (!ReadEscaped(line, size, &pos, kNameEnd, &name) || name.empty())
    return nullptr;
  Key* key;
  if (name == "HKEY_LOCAL_MACHINE") {
    key = localMachine;
  } else if (name == "HKEY_CURRENT_USER") {
    key = currentUser;
  } else {
    *error = "unknown root " + name;
    return nullptr;
  }
  while (line[pos] == '\\') {
    ++pos;
    // A name without escapes is used where it stands; one with them is
    // unescaped first.
    size_t end = pos;
    while (end < size && !kNameEnd.at[static_cast<unsigned char>(line[end])])
      ++end;
    Name part{line + pos, end - pos};
    if (end < size && line[end] == '%') {
      if (!ReadEscaped(line, size, &pos, kNameEnd, &name))
        return nullptr;
      part = Name{name.data(), name.size()};
    } else if (end >= size) {
      return nullptr;
    } else {
      pos = end;
    }
    if (part.size == 0)
      return nullptr;
    if (part.size > stand_in::kMaxKeyNameLength) {
      *error = "key name longer than " +
               std::to_string(stand_in::kMaxKeyNameLength) + " characters";
      return nullptr;
    }
    Key* child = stand_in::FindChild(key, part);
    if (!child) {
      if (key->depth + 1 > stand_in::kMaxDepth) {
        *error = "key more than " + std::to_string(stand_in::kMaxDepth) +
                 " levels deep";
        return nullptr;
      }
      child = stand_in::AddChild(key, part);
    }
    key = child;
  }
  if (pos + 1 != size)
    return nullptr;
  return key;
}

}  // namespace

namespace {
size_t g_size_hint = 0;  // the size of the text last loaded or written
}

std::string HostRegistryExport() {
  std::string out;
  out.reserve(g_size_hint + g_size_hint / 8 + 4096);
  ExportTree(stand_in::LocalMachine(), &out, -1);
  ExportTree(stand_in::CurrentUser(), &out, -1);
  g_size_hint = out.size();
  return out;
}

bool HostRegistryWrite(int fd, const std::string& header) {
  std::string out = header;
  out.reserve((1u << 20) + 65536);
  return ExportTree(stand_in::LocalMachine(), &out, fd) &&
         ExportTree(stand_in::CurrentUser(), &out, fd) &&
         Flush(&out, fd, true);
}

bool HostRegistryImport(const std::string& text, std::string* error) {
  Key* localMachine = stand_in::NewRoot("HKEY_LOCAL_MACHINE");
  Key* currentUser = stand_in::NewRoot("HKEY_CURRENT_USER");
  Key* key = nullptr;
  size_t lineNumber = 0;
  size_t pos = 0;
  std::string what;
  Value value;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos)
      end = text.size();
    const char* line = text.data() + pos;
    size_t size = end - pos;
    pos = end + 1;
    ++lineNumber;
    bool ok = true;
    if (size == 0 || line[0] == ';') {
      continue;
    } else if (line[0] == '[') {
      key = MakePath(line, size, localMachine, currentUser, &what);
      ok = key != nullptr;
    } else if (line[0] == '"' && key) {
      ok = ParseValue(line, size, &value, &what);
      Name name{value.name.data(), value.name.size()};
      if (ok && stand_in::FindValue(key, name)) {
        what = "value named twice";
        ok = false;
      }
      if (ok)
        stand_in::AddValue(key, std::move(value));
    } else {
      what = key ? "not a key or a value" : "value before any key";
      ok = false;
    }
    if (!ok) {
      std::string shown(line, std::min<size_t>(size, 80));
      *error = "line " + std::to_string(lineNumber) + ": " + what + ": " +
               shown + (size > 80 ? "..." : "");
      stand_in::FreeTree(localMachine);
      stand_in::FreeTree(currentUser);
      return false;
    }
  }
  Key* software = stand_in::FindChild(localMachine, Name{"SOFTWARE", 8});
  if (!software || !stand_in::FindChild(software, Name{"Classes", 7})) {
    *error = "no HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes";
    stand_in::FreeTree(localMachine);
    stand_in::FreeTree(currentUser);
    return false;
  }
  stand_in::AdoptTree(localMachine, currentUser);
  g_size_hint = text.size();
  return true;
}
