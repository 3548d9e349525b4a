// regdump: prepares and reads back the registry for the tests that run the
// Windows program under Wine, faster and more exactly than the registry
// editor (every name as stored, every value as its type and bytes).
//
//   regdump dump KEY...             KEY and every key below it
//   regdump delete KEY...           deletes each tree, if there
//   regdump set KEY NAME TYPE HEX   sets a value, creating the key
//
// Operations may follow one another in one call, in the order given.
//
// KEY is ROOT\path with ROOT HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER or
// HKEY_CLASSES_ROOT. The dump writes the hive's text form with every value
// as hex(TYPE):bytes: a "[KEY\path]" line per key (the key as given, the
// names below it as stored), then its values; names escaped with %XX. A
// call that did all it was asked ends its output with the comment line
// "; regdump done", so that output lost on the way is told from an empty
// dump.

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const char kDone[] = "; regdump done\n";

bool SplitKey(const char* key, HKEY* root, const char** path) {
  const struct {
    const char* name;
    HKEY root;
  } kRoots[] = {{"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT}};
  for (const auto& r : kRoots) {
    size_t n = strlen(r.name);
    if (strncmp(key, r.name, n) == 0 && (key[n] == '\\' || key[n] == 0)) {
      *root = r.root;
      *path = key[n] ? key + n + 1 : key + n;
      return true;
    }
  }
  return false;
}

std::string Escaped(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c > 0x7e || c == '%' || c == '"' || c == '\\' ||
        c == '[' || c == ']') {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// Buffers for every key's names and data, made once: a megabyte made and
// cleared for each key of a large tree cost seconds.
std::vector<char> g_name(16384 + 1);
std::vector<BYTE> g_data(1 << 20);

void Dump(HKEY key, const std::string& path, std::string* out) {
  *out += "[" + path + "]\n";
  char hex[8];
  for (DWORD i = 0;; ++i) {
    DWORD nameSize = static_cast<DWORD>(g_name.size());
    DWORD dataSize = static_cast<DWORD>(g_data.size());
    DWORD type;
    LONG rc = RegEnumValueA(key, i, g_name.data(), &nameSize, nullptr, &type,
                            g_data.data(), &dataSize);
    if (rc == ERROR_MORE_DATA) {
      g_data.resize(dataSize);
      --i;
      continue;
    }
    if (rc != ERROR_SUCCESS)
      break;
    *out += "\"" + Escaped(std::string(g_name.data(), nameSize)) + "\"=hex(" +
            std::to_string(type) + "):";
    for (DWORD b = 0; b < dataSize; ++b) {
      snprintf(hex, sizeof(hex), b ? ",%02x" : "%02x", g_data[b]);
      *out += hex;
    }
    *out += "\n";
  }
  for (DWORD i = 0;; ++i) {
    DWORD nameSize = static_cast<DWORD>(g_name.size());
    if (RegEnumKeyExA(key, i, g_name.data(), &nameSize, nullptr, nullptr,
                      nullptr, nullptr) != ERROR_SUCCESS)
      break;
    std::string child(g_name.data(), nameSize);
    HKEY sub;
    if (RegOpenKeyExA(key, child.c_str(), 0, KEY_READ, &sub) == ERROR_SUCCESS) {
      Dump(sub, path + "\\" + Escaped(child), out);
      RegCloseKey(sub);
    }
  }
}

int Hex(char c) {
  return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);  // LF line ends, as the tests read
  // Operations run in order: "dump KEY", "delete KEY", "set KEY NAME TYPE
  // HEX"; a word that names no operation repeats the last one.
  std::string command;
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    if (word == "dump" || word == "delete" || word == "set") {
      command = word;
      continue;
    }
    HKEY root, key;
    const char* path;
    if (command.empty() || !SplitKey(argv[i], &root, &path)) {
      fprintf(stderr, "regdump: cannot take %s\n", argv[i]);
      return 2;
    }
    if (command == "set") {
      if (i + 3 >= argc)
        return 2;
      if (RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          &key, nullptr) != ERROR_SUCCESS)
        return 1;
      std::vector<BYTE> data;
      for (const char* p = argv[i + 3]; p[0] && p[1]; p += 2)
        data.push_back(static_cast<BYTE>(Hex(p[0]) * 16 + Hex(p[1])));
      LONG rc = RegSetValueExA(key, argv[i + 1], 0,
                               strtoul(argv[i + 2], nullptr, 10), data.data(),
                               static_cast<DWORD>(data.size()));
      RegCloseKey(key);
      if (rc != ERROR_SUCCESS)
        return 1;
      i += 3;
    } else if (command == "delete") {
      RegDeleteTreeA(root, path);
      RegDeleteKeyA(root, path);
    } else if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) == ERROR_SUCCESS) {
      std::string out;
      Dump(key, argv[i], &out);
      RegCloseKey(key);
      fwrite(out.data(), 1, out.size(), stdout);
    }
  }
  fputs(kDone, stdout);
  return fflush(stdout) == 0 ? 0 : 1;
}
