#include <string>
#include <vector>

#include "script/version_probe.h"
#include "setup/update_sequence.h"
#include "tests/test_support.h"

namespace {

const char kDriver2[] = "SOFTWARE\\morvelan\\DRIVER2";

const char kScript[] =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
    "\"DriverVersion\"=dword:00000047\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\SETS\\MMC-Writer]\r\n"
    "\"Device\"=\"1\"\r\n";

class UpdateSequenceTest : public RegistryTest {
 protected:
  RunOutcome Run(const std::string& script) {
    std::vector<char> text(script.begin(), script.end());
    text.push_back('\0');
    if (!ProbeEmbeddedVersion(text.data()))
      return 99;
    return UpdateSequence(EmbeddedVersion, text.data());
  }
  void InstallOld(const StoredValue& version) {
    SetStoredValue(HKEY_LOCAL_MACHINE, kDriver2, "DriverVersion", version);
    SetStoredValue(HKEY_LOCAL_MACHINE, std::string(kDriver2) + "\\SETS\\Old",
                   "Device", Sz("9"));
  }
};

}  // namespace

TEST_F(UpdateSequenceTest, InstalledVersions) {
  struct Case {
    const char* what;
    bool installed;
    StoredValue version;
    RunOutcome outcome;
    bool oldSetRemains;
  };
  const Case cases[] = {
      {"nothing installed", false, StoredValue(), 0, false},
      {"older", true, Dword(70), 0, false},
      {"equal", true, Dword(71), 1, true},
      {"newer: no downgrade", true, Dword(72), 1, true},
      {"a string", true, Sz("71"), 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HostRegistryReset();
    if (c.installed)
      InstallOld(c.version);
    const uint64_t generation = HostRegistryGeneration();
    HostRegistryTraceCalls(true);
    EXPECT_EQ(Run(kScript), c.outcome);
    if (c.installed && c.outcome == 0) {
      // Before anything else changes: a run killed at any later point
      // leaves no version beside what is left of either database.
      const HostRegistryCall* first = nullptr;
      for (const HostRegistryCall& call : HostRegistryCalls())
        if (call.result == ERROR_SUCCESS) {
          first = &call;
          break;
        }
      ASSERT_NE(first, nullptr);
      EXPECT_EQ(first->kind, HostRegistryCall::kDeleteValue);
      EXPECT_EQ(first->stored, "DriverVersion");
    }
    HostRegistryTraceCalls(false);
    EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, std::string(kDriver2) + "\\SETS\\Old"),
              c.oldSetRemains);
    if (c.outcome == 1) {
      EXPECT_EQ(HostRegistryGeneration(), generation);
      EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kDriver2, "DriverVersion"),
                c.version);
    } else {
      EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kDriver2, "DriverVersion"),
                Dword(71));
      EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE,
                          std::string(kDriver2) + "\\SETS\\MMC-Writer",
                          "Device"),
                Sz("1"));
    }
  }
}

TEST_F(UpdateSequenceTest, FailedImportIsRepairedByTheNextRun) {
  InstallOld(Dword(70));
  std::string broken = std::string(kScript) + "\"Bad\"=hex:00\r\n";
  EXPECT_EQ(Run(broken), -3);
  // What the import wrote stays, but not the version that would make the
  // next run call it current.
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE,
                        std::string(kDriver2) + "\\SETS\\MMC-Writer"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::string(kDriver2) + "\\SETS\\Old"));
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kDriver2, "DriverVersion"),
            StoredValue());
  EXPECT_EQ(Run(kScript), 0);
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kDriver2, "DriverVersion"),
            Dword(71));
  EXPECT_EQ(Run(kScript), 1);
}

TEST_F(UpdateSequenceTest, RejectedFirstSectionWritesNothing) {
  InstallOld(Dword(70));
  EXPECT_EQ(Run("\"DriverVersion\"=dword:47\r\n[HKEY_USERS\\x]\r\n"), -3);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kDriver2));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\morvelan"));
}

TEST_F(UpdateSequenceTest, ScriptWithoutHeadersOnlyRemoves) {
  InstallOld(Dword(70));
  EXPECT_EQ(Run("\"DriverVersion\"=dword:47\r\n"), 0);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kDriver2));
}
