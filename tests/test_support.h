// Helpers shared by the unit tests: a fresh stand-in registry per test and
// short readers for what a test expects to find in it.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/host/controls.h"
#include "platform/host/platform.h"
#include "platform/host/hive_text.h"
#include "platform/host/trace.h"
#include "payload/container_writer.h"
#include "tests/process_support.h"
#include "tools/common/utf16.h"

/// Each test starts on a fresh NT machine with the shell library present and
/// ends with every handle closed.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HostRegistryReset();
    HostSetPlatformId(VER_PLATFORM_WIN32_NT);
    HostSetShellLibraryPresent(true);
  }
  void TearDown() override {
    EXPECT_EQ(HostRegistryOpenHandles(), 0u) << "a key was left open";
  }
};

inline bool KeyExists(HKEY root, const std::string& path) {
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

/// Counts the key at root\path and every key below it, and all their
/// values, as the registry reads back. False if there is no such key.
inline bool CountKeys(HKEY root, const std::string& path, size_t* keys,
                      size_t* values) {
  const std::string top = HostKeyPath(root, path.c_str());
  *keys = *values = 0;
  for (const auto& entry : HostRegistryTree()) {
    if (!HostKeyIsUnder(entry.second.path, top))
      continue;
    ++*keys;
    *values += entry.second.values.size();
  }
  return *keys > 0;
}

/// The value's type and bytes, or type REG_NONE with "missing" when absent.
struct StoredValue {
  DWORD type = REG_NONE;
  std::string data = "missing";
};

inline StoredValue ReadValue(HKEY root, const std::string& path,
                             const std::string& name) {
  StoredValue result;
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS)
    return result;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) ==
      ERROR_SUCCESS) {
    std::string data(size, '\0');
    RegQueryValueExA(key, name.c_str(), nullptr, &type,
                     reinterpret_cast<BYTE*>(&data[0]), &size);
    result.type = type;
    result.data = data;
  }
  RegCloseKey(key);
  return result;
}

/// REG_SZ data as the importer writes it: the text and its NUL.
inline StoredValue Sz(const std::string& text) {
  StoredValue value;
  value.type = REG_SZ;
  value.data = text + std::string(1, '\0');
  return value;
}

inline StoredValue Dword(uint32_t number) {
  StoredValue value;
  value.type = REG_DWORD;
  value.data = std::string{static_cast<char>(number),
                           static_cast<char>(number >> 8),
                           static_cast<char>(number >> 16),
                           static_cast<char>(number >> 24)};
  return value;
}

inline bool operator==(const StoredValue& a, const StoredValue& b) {
  return a.type == b.type && a.data == b.data;
}

inline std::ostream& operator<<(std::ostream& out, const StoredValue& v) {
  out << "type " << v.type << " [";
  for (unsigned char c : v.data) {
    if (c >= 0x20 && c < 0x7f)
      out << c;
    else
      out << "\\x" << std::hex << static_cast<int>(c) << std::dec;
  }
  return out << "]";
}

inline void SetStoredValue(HKEY root, const std::string& path,
                           const std::string& name, const StoredValue& value) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, name.c_str(), 0, value.type,
                           reinterpret_cast<const BYTE*>(value.data.data()),
                           static_cast<DWORD>(value.data.size())),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

inline void MakeKey(HKEY root, const std::string& path) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

/// A registry script as the registry editor exports it: UTF-16LE with its
/// byte-order mark, from UTF-8 text (BMP characters only).
inline std::string EncodeUtf16Script(const std::string& utf8) {
  std::string out = "\xff\xfe";
  AppendUtf16(&out, utf8);
  return out;
}

/// An executable image with the script appended as the packer does it.
inline std::string PackedImage(const std::string& script,
                               const std::string& image = "MZ\x90 image") {
  return PackProgram(image, script, false);
}


/// The committed sample database, data/drives.reg.
inline std::string SampleDatabaseBytes() {
  return ReadBinaryFile(std::string(DRVSETUP_SOURCE_DIR) + "/data/drives.reg");
}

/// UTF-16LE bytes as code units, the byte-order mark included; a last odd
/// byte is dropped.
inline std::u16string Utf16Units(const std::string& bytes) {
  std::u16string units;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    units.push_back(static_cast<char16_t>(
        static_cast<unsigned char>(bytes[i]) |
        static_cast<unsigned char>(bytes[i + 1]) << 8));
  return units;
}
