#include "script/database.h"

#include <algorithm>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

const char kDriver2[] = "SOFTWARE\\morvelan\\DRIVER2";
const char kFull[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2";

class DatabaseTest : public RegistryTest {
 protected:
  // DRIVER2 three levels deep, with a sibling under morvelan.
  void InstallTree() {
    SetStoredValue(HKEY_LOCAL_MACHINE, kDriver2, "DriverVersion", Dword(70));
    SetStoredValue(HKEY_LOCAL_MACHINE, std::string(kDriver2) + "\\SETS\\A",
                   "Device", Sz("1"));
    SetStoredValue(HKEY_LOCAL_MACHINE,
                   std::string(kDriver2) + "\\MAPPINGS\\VENDOR  X",
                   "load1", Sz("A"));
    MakeKey(HKEY_LOCAL_MACHINE, std::string(kDriver2) + "\\MAPPINGS\\W");
    SetStoredValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\morvelan\\OTHER", "keep",
                   Sz("yes"));
    HostRegistryTraceCalls(true);  // what the test does from here on
  }

  // The keys deleted since the trace began, in order.
  std::vector<std::string> Deletions() {
    std::vector<std::string> deleted;
    for (const HostRegistryCall& call : HostRegistryCalls())
      if (call.kind == HostRegistryCall::kDeleteKey)
        deleted.push_back(call.stored);
    return deleted;
  }
};

}  // namespace

TEST_F(DatabaseTest, NeedsUpdate) {
  struct Case {
    const char* what;
    bool install;
    StoredValue installed;
    uint32_t embedded;
    bool needed;
  };
  const Case cases[] = {
      {"no key", false, StoredValue(), 71, true},
      {"no value", true, StoredValue(), 71, true},
      {"equal", true, Dword(71), 71, false},
      {"newer installed", true, Dword(72), 71, false},
      {"older installed", true, Dword(70), 71, true},
      {"top bit set", true, Dword(0x80000000u), 71, false},
      {"embedded top bit", true, Dword(71), 0x80000000u, true},
      {"string spelling the number", true, Sz("71"), 71, true},
      {"four bytes of another type", true, [] {
         StoredValue v = Dword(71);
         v.type = REG_BINARY;
         return v;
       }(), 71, true},
      {"dword of two bytes", true, [] {
         StoredValue v;
         v.type = REG_DWORD;
         v.data = std::string("\x47\x00", 2);
         return v;
       }(), 1, true},
      {"dword of eight bytes", true, [] {
         StoredValue v;
         v.type = REG_DWORD;
         v.data = std::string(8, '\x7f');
         return v;
       }(), 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HostRegistryReset();
    if (c.install) {
      MakeKey(HKEY_LOCAL_MACHINE, kDriver2);
      if (c.installed.data != "missing")
        SetStoredValue(HKEY_LOCAL_MACHINE, kDriver2, "DriverVersion",
                       c.installed);
    }
    EXPECT_EQ(NeedsUpdate(c.embedded), c.needed);
  }
}

TEST_F(DatabaseTest, RemovalOnEveryPath) {
  struct Case {
    const char* what;
    DWORD platform;
    bool shellLibrary;
  };
  const Case cases[] = {
      {"NT with the shell library", VER_PLATFORM_WIN32_NT, true},
      {"NT without the shell library", VER_PLATFORM_WIN32_NT, false},
      {"non-NT family", VER_PLATFORM_WIN32_WINDOWS, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HostRegistryReset();
    HostSetPlatformId(c.platform);
    HostSetShellLibraryPresent(c.shellLibrary);
    InstallTree();
    RemovePreviousDatabase();
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kDriver2));
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\morvelan\\OTHER", "keep"),
              Sz("yes"));
    std::vector<std::string> expected = {
        std::string(kFull) + "\\MAPPINGS\\VENDOR  X",
        std::string(kFull) + "\\MAPPINGS\\W",
        std::string(kFull) + "\\MAPPINGS",
        std::string(kFull) + "\\SETS\\A",
        std::string(kFull) + "\\SETS",
        kFull,
    };
    std::vector<std::string> deleted = Deletions();
    for (size_t i = 0; i < deleted.size(); ++i)
      for (size_t j = i + 1; j < deleted.size(); ++j)
        EXPECT_NE(deleted[j].rfind(deleted[i] + "\\", 0), 0u)
            << deleted[j] << " went after its parent " << deleted[i];
    std::sort(expected.begin(), expected.end());
    std::sort(deleted.begin(), deleted.end());
    EXPECT_EQ(deleted, expected);
  }
}

TEST_F(DatabaseTest, RemovalWithNothingInstalled) {
  for (DWORD platform : {VER_PLATFORM_WIN32_NT, VER_PLATFORM_WIN32_WINDOWS}) {
    for (bool shell : {true, false}) {
      HostRegistryReset();
      HostSetPlatformId(platform);
      HostSetShellLibraryPresent(shell);
      HostRegistryTraceCalls(true);
      RemovePreviousDatabase();
      EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\morvelan"));
      MakeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\morvelan\\OTHER");
      RemovePreviousDatabase();
      EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\morvelan\\OTHER"));
      EXPECT_TRUE(Deletions().empty());
    }
  }
}

// A subkey that denies access stops the deletion there, by the shell
// library's deletion or by DeleteKeyTree: what lies before it in the
// registry's order is gone, the rest stays.
TEST_F(DatabaseTest, DeniedChildStopsTheTreeDeletion) {
  for (bool shell : {true, false}) {
    SCOPED_TRACE(shell ? "the shell library's deletion" : "DeleteKeyTree");
    HostRegistryReset();
    HostSetShellLibraryPresent(shell);
    InstallTree();
    ASSERT_TRUE(HostRegistryDenyAccess(
        HKEY_LOCAL_MACHINE, "SOFTWARE\\morvelan\\DRIVER2\\MAPPINGS\\W"));
    RemovePreviousDatabase();  // the refusal is swallowed
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kDriver2));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::string(kDriver2) + "\\SETS"));
    size_t keys, values;  // W itself cannot be opened
    EXPECT_TRUE(CountKeys(HKEY_LOCAL_MACHINE,
                          std::string(kDriver2) + "\\MAPPINGS\\W", &keys,
                          &values));
    // MAPPINGS\VENDOR  X enumerates first and went before W refused.
    EXPECT_EQ(Deletions(), std::vector<std::string>{std::string(kFull) +
                                                    "\\MAPPINGS\\VENDOR  X"});
  }

  HKEY parent;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\morvelan", 0,
                          KEY_WRITE, &parent),
            ERROR_SUCCESS);
  EXPECT_FALSE(DeleteKeyTree(parent, "DRIVER2", false));
  EXPECT_TRUE(DeleteKeyTree(parent, "ABSENT", false));
  EXPECT_FALSE(DeleteKeyTree(parent, "ABSENT", true));
  EXPECT_TRUE(DeleteKeyTree(parent, "OTHER", true));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\morvelan\\OTHER"));
  RegCloseKey(parent);
}

TEST_F(DatabaseTest, NoWriteAccessToTheParentTouchesNothing) {
  InstallTree();
  ASSERT_TRUE(HostRegistryDenyAccess(HKEY_LOCAL_MACHINE, "SOFTWARE\\morvelan"));
  RemovePreviousDatabase();
  EXPECT_TRUE(Deletions().empty());
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::string(kDriver2) + "\\SETS"));
}

TEST_F(DatabaseTest, ForgetInstalledVersion) {
  InstallTree();
  ForgetInstalledVersion();
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kDriver2, "DriverVersion"),
            StoredValue());
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::string(kDriver2) + "\\SETS"));
  ForgetInstalledVersion();  // nothing left to forget: no harm
  HostRegistryReset();
  ForgetInstalledVersion();
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kDriver2));
}
