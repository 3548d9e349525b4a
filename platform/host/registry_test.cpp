#include <string.h>

#include <algorithm>

#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

class HostRegistryTest : public RegistryTest {};

LONG Create(HKEY root, const std::string& path, REGSAM access = KEY_ALL_ACCESS) {
  HKEY key;
  LONG rc = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, access, nullptr,
                            &key, nullptr);
  if (rc == ERROR_SUCCESS)
    RegCloseKey(key);
  return rc;
}

std::string Levels(size_t count) {
  std::string path;
  for (size_t i = 0; i < count; ++i)
    path += (i ? "\\" : "") + std::string("L");
  return path;
}

}  // namespace

TEST_F(HostRegistryTest, CreateRules) {
  struct Case {
    const char* what;
    HKEY root;
    std::string path;
    LONG rc;
    const char* opensAs;  // path under HKLM that must exist afterwards
  };
  const Case cases[] = {
      {"nested", HKEY_LOCAL_MACHINE, "SOFTWARE\\a\\b", ERROR_SUCCESS,
       "SOFTWARE\\A\\B"},
      {"name of 256", HKEY_LOCAL_MACHINE, "SOFTWARE\\" + std::string(256, 'n'),
       ERROR_SUCCESS, nullptr},
      {"name of 257", HKEY_LOCAL_MACHINE, "SOFTWARE\\" + std::string(257, 'n'),
       ERROR_INVALID_PARAMETER, nullptr},
      {"leading backslash", HKEY_LOCAL_MACHINE, "\\SOFTWARE\\x",
       ERROR_BAD_PATHNAME, nullptr},
      {"trailing backslashes", HKEY_LOCAL_MACHINE, "SOFTWARE\\t\\\\",
       ERROR_SUCCESS, "SOFTWARE\\t"},
      {"empty component", HKEY_LOCAL_MACHINE, "SOFTWARE\\\\e\\\\\\f",
       ERROR_SUCCESS, "SOFTWARE\\e\\f"},
      {"directly under HKLM", HKEY_LOCAL_MACHINE, "NEWKEY",
       ERROR_ACCESS_DENIED, nullptr},
      {"HKCU root is free", HKEY_CURRENT_USER, "NEWKEY", ERROR_SUCCESS,
       nullptr},
      {"classes view", HKEY_CLASSES_ROOT, ".disc\\shell", ERROR_SUCCESS,
       "SOFTWARE\\Classes\\.disc\\shell"},
      {"32 new levels", HKEY_LOCAL_MACHINE, "SOFTWARE\\" + Levels(31),
       ERROR_SUCCESS, nullptr},
      {"33 new levels", HKEY_LOCAL_MACHINE, "SOFTWARE\\x\\" + Levels(32),
       ERROR_INVALID_PARAMETER, nullptr},
      {"blanks kept", HKEY_LOCAL_MACHINE, "SOFTWARE\\  TEAC    CD ",
       ERROR_SUCCESS, "SOFTWARE\\  teac    cd "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HostRegistryReset();
    const uint64_t generation = HostRegistryGeneration();
    EXPECT_EQ(Create(c.root, c.path), c.rc);
    if (c.opensAs) {
      EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, c.opensAs));
    }
    if (c.rc != ERROR_SUCCESS) {
      EXPECT_EQ(HostRegistryGeneration(), generation)
          << "a failed create left keys";
    }
  }
}

TEST_F(HostRegistryTest, DepthLimit) {
  std::string path = "SOFTWARE";
  size_t depth = 1;
  while (depth + 32 <= 512) {
    path += "\\" + Levels(32);
    depth += 32;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, path), ERROR_SUCCESS) << depth;
  }
  // 512 levels in all fit; the 513th does not.
  std::string last = path + "\\" + Levels(512 - depth);
  EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, last), ERROR_SUCCESS);
  EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, last + "\\one"), ERROR_INVALID_PARAMETER);
}

TEST_F(HostRegistryTest, NamesIgnoreCaseAndKeepTheirs) {
  SetStoredValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\morvelan\\DRIVER2", "Name",
                 Sz("1"));
  SetStoredValue(HKEY_LOCAL_MACHINE, "Software\\MORVELAN\\driver2", "NAME",
                 Sz("2"));
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, "software\\morvelan\\driver2", "name"),
            Sz("2"));
  size_t keys, values;
  ASSERT_TRUE(CountKeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\morvelan", &keys,
                                &values));
  EXPECT_EQ(keys, 2u);
  EXPECT_EQ(values, 1u);
  EXPECT_NE(HostRegistryExport().find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan"
                                      "\\DRIVER2]\n\"Name\"=\"2\"\n"),
            std::string::npos);
}

TEST_F(HostRegistryTest, EveryLetterOfTheCodePageFolds) {
  struct Case {
    const char* first;
    const char* second;
    bool same;
  };
  // Windows-1252 letters with their capitals, and characters that look
  // alike but are not letter pairs.
  const Case cases[] = {
      {"t_\xe9", "t_\xc9", true},   // e acute
      {"t_\xfc", "t_\xdc", true},   // u diaeresis
      {"t_\xe0", "t_\xc0", true},   // a grave
      {"t_\xfe", "t_\xde", true},   // thorn
      {"t_\xff", "t_\x9f", true},   // y diaeresis
      {"t_\x9c", "t_\x8c", true},   // oe
      {"t_\x9a", "t_\x8a", true},   // s caron
      {"t_\x9e", "t_\x8e", true},   // z caron
      {"t_\xf7", "t_\xd7", false},  // division and multiplication signs
      {"t_\xdf", "t_ss", false},     // sharp s
      {"t_\xb5", "t_m", false},      // micro sign
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first);
    HostRegistryReset();
    SetStoredValue(HKEY_CLASSES_ROOT, c.first, c.first, Sz("1"));
    SetStoredValue(HKEY_CLASSES_ROOT, c.first, c.second, Dword(8));
    EXPECT_EQ(KeyExists(HKEY_CLASSES_ROOT, c.second), c.same);
    size_t keys, values;
    ASSERT_TRUE(CountKeys(HKEY_CLASSES_ROOT, c.first, &keys, &values));
    // One value, named as first created, holding the later data.
    EXPECT_EQ(values, c.same ? 1u : 2u);
    EXPECT_EQ(ReadValue(HKEY_CLASSES_ROOT, c.first, c.first),
              c.same ? Dword(8) : Sz("1"));
    if (c.same) {
      EXPECT_EQ(HostRegistryExport().find(std::string("\"") + c.second + "\"="),
                std::string::npos);
    }
  }
}

TEST_F(HostRegistryTest, HandlesCarryTheirAccess) {
  MakeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\k\\child");
  struct Case {
    REGSAM access;
    LONG query, set, enumerate, create;
  };
  const Case cases[] = {
      {KEY_QUERY_VALUE, ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED,
       ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
      {KEY_SET_VALUE, ERROR_ACCESS_DENIED, ERROR_SUCCESS, ERROR_ACCESS_DENIED,
       ERROR_ACCESS_DENIED},
      {KEY_WRITE, ERROR_ACCESS_DENIED, ERROR_SUCCESS, ERROR_ACCESS_DENIED,
       ERROR_SUCCESS},
      {KEY_WRITE | KEY_ENUMERATE_SUB_KEYS, ERROR_ACCESS_DENIED, ERROR_SUCCESS,
       ERROR_SUCCESS, ERROR_SUCCESS},
  };
  // Creating takes the right however deep the new key lies; opening an
  // existing one through create does not.
  const char* newKeys[] = {"new", "child\\new", "a\\b\\c"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.access);
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\k", 0, c.access, &key),
              ERROR_SUCCESS);
    DWORD type, size = 4;
    BYTE data[4];
    EXPECT_EQ(RegQueryValueExA(key, "absent", nullptr, &type, data, &size),
              c.query);
    EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>("x"), 2),
              c.set);
    char name[16];
    DWORD nameSize = sizeof(name);
    EXPECT_EQ(RegEnumKeyExA(key, 0, name, &nameSize, nullptr, nullptr, nullptr,
                            nullptr),
              c.enumerate);
    for (const char* path : newKeys)
      EXPECT_EQ(Create(key, path), c.create) << path;
    EXPECT_EQ(Create(key, "child"), ERROR_SUCCESS);
    RegCloseKey(key);
    HostRegistryReset();
    MakeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\k\\child");
  }
}

TEST_F(HostRegistryTest, DeniedKeys) {
  MakeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\d\\inner");
  ASSERT_TRUE(HostRegistryDenyAccess(HKEY_LOCAL_MACHINE, "SOFTWARE\\d"));
  EXPECT_FALSE(HostRegistryDenyAccess(HKEY_LOCAL_MACHINE, "SOFTWARE\\none"));
  HKEY key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\d", 0, KEY_READ, &key),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\d"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\d\\new"), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\d\\inner"));
  HKEY software;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_WRITE, &software),
            ERROR_SUCCESS);
  EXPECT_EQ(SHDeleteKeyA(software, "d"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  RegCloseKey(software);
}

TEST_F(HostRegistryTest, Deletion) {
  struct Case {
    DWORD platform;
    LONG withChildren;
  };
  for (const Case& c : {Case{VER_PLATFORM_WIN32_NT, ERROR_ACCESS_DENIED},
                        Case{VER_PLATFORM_WIN32_WINDOWS, ERROR_SUCCESS}}) {
    SCOPED_TRACE(c.platform);
    HostRegistryReset();
    HostSetPlatformId(c.platform);
    MakeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\p\\c\\g");
    HKEY parent, grandchild;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\p", 0, KEY_WRITE,
                            &parent),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\p\\c\\g", 0,
                            KEY_ALL_ACCESS, &grandchild),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(parent, "c"), c.withChildren);
    EXPECT_EQ(RegDeleteKeyA(parent, "absent"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\p\\c\\g"),
              c.withChildren == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND
                                              : ERROR_SUCCESS);
    // The open handle now names a deleted key.
    EXPECT_EQ(RegSetValueExA(grandchild, "v", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>("x"), 2),
              ERROR_KEY_DELETED);
    EXPECT_EQ(Create(grandchild, "x"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(grandchild), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE"), c.withChildren == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_ACCESS_DENIED);
    RegCloseKey(parent);
    HostRegistryReset();
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);
  }
}

TEST_F(HostRegistryTest, ShellDeleteTakesTheTree) {
  MakeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\m\\DRIVER2\\MAPPINGS\\a");
  MakeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\m\\other");
  HKEY parent;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\m", 0, KEY_WRITE, &parent),
            ERROR_SUCCESS);
  EXPECT_EQ(SHDeleteKeyA(parent, "driver2"), 0u);
  EXPECT_EQ(SHDeleteKeyA(parent, "driver2"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  RegCloseKey(parent);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\m\\DRIVER2"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\m\\other"));
}

TEST_F(HostRegistryTest, BufferSizes) {
  MakeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\e\\bbb");
  MakeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\e\\AA");
  SetStoredValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\e", "v", Sz("12345"));
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\e", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  char name[8];
  memcpy(name, "#######", 8);
  DWORD size = 3;  // "bbb" needs 4 with its terminator
  EXPECT_EQ(RegEnumKeyExA(key, 1, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 3u);
  EXPECT_STREQ(name, "#######");
  size = 4;
  EXPECT_EQ(RegEnumKeyExA(key, 1, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "bbb");
  EXPECT_EQ(size, 3u);
  size = sizeof(name);
  EXPECT_EQ(RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "AA");  // in name order, not creation order
  EXPECT_EQ(RegEnumKeyExA(key, 2, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);

  BYTE data[4];
  DWORD type = 0, dataSize = sizeof(data);
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, &type, data, &dataSize),
            ERROR_MORE_DATA);
  EXPECT_EQ(dataSize, 6u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  RegCloseKey(key);
}

TEST_F(HostRegistryTest, ValueNames) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\v", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  std::string longest(16383, 'n');
  const BYTE one[] = {'1', 0};
  EXPECT_EQ(RegSetValueExA(key, longest.c_str(), 0, REG_SZ, one, 2), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, (longest + "n").c_str(), 0, REG_SZ, one, 2),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExA(key, "", 0, REG_SZ, one, 2), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, nullptr, 0, REG_BINARY, one, 1), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "absent"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueA(key, longest.c_str()), ERROR_SUCCESS);
  RegCloseKey(key);
  StoredValue binary;
  binary.type = REG_BINARY;
  binary.data = "1";
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\v", ""), binary);
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\v", longest), StoredValue());
}

TEST_F(HostRegistryTest, PlatformFamily) {
  EXPECT_TRUE(IsNtPlatform());
  HostSetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
  EXPECT_FALSE(IsNtPlatform());
  OSVERSIONINFOA info;
  info.dwOSVersionInfoSize = 100;
  EXPECT_FALSE(GetVersionExA(&info));
}

TEST_F(HostRegistryTest, HiveTextRoundTrips) {
  const std::string awkward = std::string("[x] \"q\" \\ %41 \r\n\t\x01\xd7\x7f");
  SetStoredValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\" + awkward, awkward, Sz(awkward));
  StoredValue binary;
  binary.type = 0x12345678;
  binary.data = std::string("\0\xff", 2);
  SetStoredValue(HKEY_CURRENT_USER, "e\\empty", "", StoredValue{REG_SZ, ""});
  SetStoredValue(HKEY_CURRENT_USER, "e", "bin", binary);
  SetStoredValue(HKEY_CURRENT_USER, "e", "sz without NUL", StoredValue{REG_SZ, "ab"});
  SetStoredValue(HKEY_CURRENT_USER, "e", "sz with inner NUL",
                 StoredValue{REG_SZ, std::string("a\0b\0", 4)});
  SetStoredValue(HKEY_CURRENT_USER, "e", "dword", Dword(0xdeadbeef));
  SetStoredValue(HKEY_CURRENT_USER, "e", "short dword", StoredValue{REG_DWORD, "ab"});
  std::string text = HostRegistryExport();
  std::string error;
  ASSERT_TRUE(HostRegistryImport(text, &error)) << error;
  EXPECT_EQ(HostRegistryExport(), text);
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\" + awkward, awkward),
            Sz(awkward));
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, "e", "bin"), binary);
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, "e", "short dword"),
            (StoredValue{REG_DWORD, "ab"}));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "e\\empty"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, ""));
}

TEST_F(HostRegistryTest, DamagedHiveTextIsRefused) {
  SetStoredValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\keep", "v", Sz("1"));
  const std::string before = HostRegistryExport();
  const char* damaged[] = {
      "[HKEY_LOCAL_MACHINE]\n\"v\"=\"unterminated\n",
      "[HKEY_LOCAL_MACHINE\n",
      "[HKEY_USERS\\x]\n",
      "\"v\"=\"before any key\"\n",
      "[HKEY_LOCAL_MACHINE]\n\"v\"=dword:123\n",
      "[HKEY_LOCAL_MACHINE]\n\"v\"=hex(1):0\n",
      "[HKEY_LOCAL_MACHINE]\n\"v\"=hex(1):00,\n",
      "[HKEY_LOCAL_MACHINE]\n\"%4\"=\"x\"\n",
      "[HKEY_LOCAL_MACHINE]\n\"v\"=\"1\"\n\"V\"=\"2\"\n",
      "[HKEY_LOCAL_MACHINE]\n",  // no SOFTWARE\Classes behind HKEY_CLASSES_ROOT
      "garbage\n",
  };
  // What the registry itself refuses to hold.
  const std::string classes = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes]\n";
  const std::string beyond[] = {
      classes + "[HKEY_CURRENT_USER\\" + Levels(513) + "]\n",
      classes + "[HKEY_CURRENT_USER\\" + std::string(257, 'n') + "]\n",
      classes + "[HKEY_CURRENT_USER]\n\"" + std::string(16384, 'v') + "\"=\"\"\n",
  };
  std::vector<std::string> texts(std::begin(damaged), std::end(damaged));
  texts.insert(texts.end(), std::begin(beyond), std::end(beyond));
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.substr(0, 80));
    std::string error;
    EXPECT_FALSE(HostRegistryImport(text, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(HostRegistryExport(), before);
  }
}

TEST_F(HostRegistryTest, DeepestTreeRoundTrips) {
  // 512 levels, the most the registry holds, with long names at every level.
  std::string path = "SOFTWARE";
  for (size_t depth = 1; depth < 512; depth += 31) {
    path += "\\" + Levels(std::min<size_t>(31, 512 - depth));
    MakeKey(HKEY_LOCAL_MACHINE, path);
  }
  SetStoredValue(HKEY_LOCAL_MACHINE, path, "deepest", Sz("here"));
  std::string text = HostRegistryExport();
  std::string error;
  ASSERT_TRUE(HostRegistryImport(text, &error)) << error;
  EXPECT_EQ(HostRegistryExport(), text);
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, path, "deepest"), Sz("here"));
  EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, path + "\\x"), ERROR_INVALID_PARAMETER);
}

TEST_F(HostRegistryTest, UnavailableRegistryRefusesEverything) {
  HostRegistrySetUnavailable(true);
  EXPECT_EQ(Create(HKEY_CURRENT_USER, "x"), ERROR_ACCESS_DENIED);
  HKEY key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key),
            ERROR_ACCESS_DENIED);
  HostRegistrySetUnavailable(false);
  EXPECT_EQ(Create(HKEY_CURRENT_USER, "x"), ERROR_SUCCESS);
}
