#include "tests/scenarios.h"

#include <algorithm>

#include "payload/payload_io_host.h"
#include "setup/setup_run.h"
#include "tests/runners.h"

namespace {

const char kDriver2[] = "SOFTWARE\\morvelan\\DRIVER2";
const char kUpdated[] = "Disc burning driver information successfully updated.";
const char kCurrent[] = "Disc burning driver information is already up-to-date.";

// A previous database three levels deep, older than the sample, with a
// sibling key that must survive.
const char kOldTree[] =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
    "\"DriverVersion\"=dword:00000046\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\MAPPINGS\\OLDVEND DRIVE-1]\r\n"
    "\"load1\"=\"Gone-Set\"\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\SETS\\Gone-Set]\r\n"
    "\"Device\"=\"3\"\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\OTHER]\r\n"
    "\"keep\"=\"yes\"\r\n";

std::vector<Check> OldTreeReplaced() {
  return {
      {Check::kComplete, "", "", {}},
      {Check::kKeyAbsent, std::string(kDriver2) + "\\MAPPINGS\\OLDVEND DRIVE-1", "", {}},
      {Check::kKeyAbsent, std::string(kDriver2) + "\\SETS\\Gone-Set", "", {}},
      {Check::kValue, "SOFTWARE\\morvelan\\OTHER", "keep", Sz("yes")},
  };
}

std::u16string Widen(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

}  // namespace

// The exit statuses the steps expect, from the run's outcomes.
const int kUpdatedStatus = ExitStatusOf(kOutcomeUpdated);
const int kCurrentStatus = ExitStatusOf(kOutcomeAlreadyCurrent);

const std::vector<Scenario>& Scenarios() {
  static const std::vector<Scenario> scenarios = {
      {"FirstInstall", "",
       {{Payload::kShipped, "", kUpdatedStatus, kUpdated, false}},
       {{Check::kComplete, "", "", {}}, {Check::kLikeHostRun, "", "", {}}},
       "", true},
      {"SecondRunWritesNothing", "",
       {{Payload::kShipped, "-ns", kUpdatedStatus, "", false},
        {Payload::kShipped, "", kCurrentStatus, kCurrent, true}},
       {{Check::kComplete, "", "", {}}},
       "", true},
      {"VersionOnly", "",
       {{Payload::kShipped, "-v", kUpdatedStatus, "Version: 71\n", true}},
       {{Check::kKeyAbsent, "SOFTWARE\\morvelan", "", {}}},
       "", false},
      {"Silent", "",
       {{Payload::kShipped, "-ns -ne", kUpdatedStatus, "", false}},
       {{Check::kComplete, "", "", {}}},
       "", true},
      {"NewerInstalledIsKept",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
       "\"DriverVersion\"=dword:00000048\r\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\SETS\\Mine]\r\n"
       "\"Device\"=\"1\"\r\n",
       {{Payload::kShipped, "", kCurrentStatus, kCurrent, true}},
       {{Check::kValue, kDriver2, "DriverVersion", Dword(72)},
        {Check::kKeyPresent, std::string(kDriver2) + "\\SETS\\Mine", "", {}},
        {Check::kKeyAbsent, std::string(kDriver2) + "\\FALLBACKS", "", {}}},
       "", true},
      {"StringVersionIsReplaced",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
       "\"DriverVersion\"=\"71\"\r\n",
       {{Payload::kShipped, "-ns", kUpdatedStatus, "", false}},
       {{Check::kComplete, "", "", {}}},
       "", true},
      {"OldTreeGoesSiblingStays", kOldTree,
       {{Payload::kShipped, "-ns", kUpdatedStatus, "", false}},
       OldTreeReplaced(), "", true},
      {"NonNtFamily", kOldTree,
       {{Payload::kShipped, "-ns", kUpdatedStatus, "", false}},
       OldTreeReplaced(), "DRVSETUP_PLATFORM=9x", false},
      {"NoShellLibrary", kOldTree,
       {{Payload::kShipped, "-ns", kUpdatedStatus, "", false}},
       OldTreeReplaced(), "DRVSETUP_NO_SHLWAPI=1", false},
      {"CorruptTrailer", kOldTree,
       {{Payload::kCorruptTrailer, "", ExitStatusOf(kOutcomePayloadUnreadable),
         "Error: the disc burning driver setup file is corrupted.", true}},
       {{Check::kValue, kDriver2, "DriverVersion", Dword(70)}},
       "", true},
      {"NoVersionLine", kOldTree,
       {{Payload::kNoVersionLine, "", ExitStatusOf(kOutcomeVersionInvalid),
         "Error: the disc burning driver setup data is not valid.", true}},
       {{Check::kValue, kDriver2, "DriverVersion", Dword(70)}},
       "", true},
      {"FailedImportIsRepaired", kOldTree,
       {{Payload::kFailingImport, "", ExitStatusOf(kOutcomeInstallFailed),
         "Error installing disc burning driver data.", false},
        {Payload::kShipped, "-ns", kUpdatedStatus, "", false}},
       {{Check::kComplete, "", "", {}},
        {Check::kKeyAbsent, std::string(kDriver2) + "\\BROKEN", "", {}},
        {Check::kValue, "SOFTWARE\\morvelan\\OTHER", "keep", Sz("yes")}},
       "", true},
  };
  return scenarios;
}

std::string ScriptFor(Payload payload) {
  std::u16string units = Utf16Units(SampleDatabaseBytes());
  switch (payload) {
    case Payload::kShipped:
    case Payload::kCorruptTrailer:
      break;
    case Payload::kNoVersionLine: {
      std::u16string line = Widen("\"DriverVersion\"=");
      size_t at = units.find(line);
      units.replace(at, line.size(), Widen("\"DriverVersionX\"="));
      break;
    }
    case Payload::kFailingImport:
      units += Widen(
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\SETS\\Late]\r\n"
          "\"Bad\"=hex:00\r\n");
      break;
  }
  std::string bytes;
  for (char16_t unit : units) {
    bytes.push_back(static_cast<char>(unit & 0xff));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

std::string MorvelanTree() {
  return CanonicalDump(HostRegistryExport(),
                       {"HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan"});
}

void CheckRegistry(const Check& check) {
  switch (check.kind) {
    case Check::kComplete: {
      size_t keys = 0, values = 0;
      ASSERT_TRUE(CountKeys(HKEY_LOCAL_MACHINE, kDriver2, &keys, &values));
      EXPECT_EQ(keys, 1810u);
      EXPECT_EQ(values, 4131u);
      EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kDriver2, "DriverVersion"), Dword(71));
      break;
    }
    case Check::kLikeHostRun: {
      std::string actual = MorvelanTree();
      HostRegistryReset();
      HostSetModuleImage("/opt/drvsetup", PackedImage(ScriptFor(Payload::kShipped)));
      EXPECT_EQ(SetupRun("-ns -ne"), 0);
      HostClearModuleImage();
      std::string expected = MorvelanTree();
      EXPECT_TRUE(actual == expected)
          << "trees differ; sizes " << actual.size() << " and " << expected.size();
      break;
    }
    case Check::kKeyPresent:
      EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, check.path)) << check.path;
      break;
    case Check::kKeyAbsent:
      EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, check.path)) << check.path;
      break;
    case Check::kValue:
      EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, check.path, check.name), check.value)
          << check.path << " " << check.name;
      break;
  }
}
