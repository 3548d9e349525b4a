#include "setup/setup_run.h"

#include <ctype.h>
#include <stdio.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "payload/payload.h"
#include "payload/payload_io_host.h"
#include "platform/host/mutex.h"
#include "setup/message_box_host.h"
#include "setup/run_lock.h"
#include "tests/test_support.h"

namespace {

const char kDriver2[] = "SOFTWARE\\morvelan\\DRIVER2";
const char kUpdated[] = "Disc burning driver information successfully updated.";
const char kCurrent[] =
    "Disc burning driver information is already up-to-date.";
const char kCorrupt[] =
    "Error: the disc burning driver setup file is corrupted.";
const char kInvalid[] =
    "Error: the disc burning driver setup data is not valid.";
const char kFailed[] = "Error installing disc burning driver data.";

std::string Script(const char* versionLine, const char* extra = "") {
  return EncodeUtf16Script(
      std::string("Windows Registry Editor Version 5.00\r\n\r\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n") +
      versionLine +
      "\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\MAPPINGS\\"
      "VENDOR  DRIVE \xc3\x97 2]\r\n\"load1\"=\"MMC-Writer\"\r\n" +
      extra);
}

class SetupRunTest : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    HostClearMessageBoxes();
    HostMutexReset();
  }
  void TearDown() override {
    HostClearModuleImage();
    EXPECT_EQ(ScriptText, nullptr);
    EXPECT_EQ(ModulePathW, nullptr);
    EXPECT_EQ(ModulePathA, nullptr);
    RegistryTest::TearDown();
  }
};

}  // namespace

TEST_F(SetupRunTest, OutcomesAndBoxes) {
  const std::string good = PackedImage(Script("\"DriverVersion\"=dword:00000047"));
  struct Case {
    const char* what;
    std::string image;
    const char* tail;
    RunOutcome outcome;
    const char* box;  // null when no box may show
    unsigned int style;
    bool installed;
  };
  const Case cases[] = {
      {"install", good, "", 0, kUpdated, 0x40, true},
      {"install silently", good, "-ns -ne", 0, nullptr, 0, true},
      {"errors hidden, success shown", good, "-ne", 0, kUpdated, 0x40, true},
      {"quoted -ns", good, "\"-ns\"", 0, nullptr, 0, true},
      {"unknown options ignored", good, "/v -V --ns", 0, kUpdated, 0x40, true},
      {"version", good, "-v", 0, "Version: 71\n", 0x40, false},
      {"version with -ns", good, "-ns -v", 0, "Version: 71\n", 0x40, false},
      {"version 2^31 shows signed",
       PackedImage(Script("\"DriverVersion\"=dword:80000000")), "-v", 0,
       "Version: -2147483648\n", 0x40, false},
      {"nothing appended", "MZ", "", -1, kCorrupt, 0x10, false},
      {"length past the start", PackedImage(Script("x")).substr(10), "", -1,
       kCorrupt, 0x10, false},
      {"corrupt, silently", "MZ", "-ne", -1, nullptr, 0, false},
      {"corrupt, version mode shows nothing", "MZ", "-v", -1, nullptr, 0,
       false},
      {"no version line", PackedImage(Script("\"Other\"=dword:1")), "", -2,
       kInvalid, 0x10, false},
      {"blank after the version",
       PackedImage(Script("\"DriverVersion\"=dword:47 ")), "-ns", -2, kInvalid,
       0x10, false},
      {"empty script", PackedImage(""), "", -2, kInvalid, 0x10, false},
      {"failing import",
       PackedImage(Script("\"DriverVersion\"=dword:47", "\"x\"=hex:1\r\n")), "",
       -3, kFailed, 0x10, true},
      {"failing import, errors hidden",
       PackedImage(Script("\"DriverVersion\"=dword:47", "\"x\"=hex:1\r\n")),
       "-ne", -3, nullptr, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HostRegistryReset();
    HostClearMessageBoxes();
    HostSetModuleImage("/opt/drvsetup", c.image);
    EXPECT_EQ(SetupRun(c.tail), c.outcome);
    const std::vector<HostMessageBox>& boxes = HostMessageBoxes();
    if (c.box) {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, c.box);
      EXPECT_EQ(boxes[0].title, "Disc burning driver setup");
      EXPECT_EQ(boxes[0].style, c.style);
    } else {
      EXPECT_TRUE(boxes.empty());
    }
    EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE,
                        std::string(kDriver2) + "\\MAPPINGS\\VENDOR  DRIVE \xd7 2"),
              c.installed);
    EXPECT_EQ(ScriptText, nullptr);
  }
}

// An install takes the lock that every logon session shares (the plain
// name where the system refuses the backslash), and never fails or waits
// for it beyond the bound: refused or held, the run goes on unlocked. No
// box is shown while it is held.
TEST_F(SetupRunTest, TakesTheLockAroundTheRegistryWork) {
  const std::string global = kRunLockName, plain = kRunLockName + 7;
  struct Case {
    const char* what;
    bool nt;
    void (*control)();
    const char* tail;
    std::vector<std::string> taken;
    RunOutcome outcome;
  };
  const Case cases[] = {
      {"NT family", true, nullptr, "", {global}, 0},
      {"the non-NT family refuses the backslash", false, nullptr, "",
       {plain}, 0},
      {"held by another copy past the bound: goes on unlocked", true,
       [] { HostMutexHeldElsewhere(kRunLockName, false); }, "", {}, 0},
      {"left by a copy that was killed: taken over", true,
       [] { HostMutexHeldElsewhere(kRunLockName, true); }, "", {global}, 0},
      {"refused: goes on unlocked", true, [] { HostMutexRefuse(true); }, "",
       {}, 0},
      {"-v changes nothing and takes no lock", true, nullptr, "-v", {}, 0},
      {"a failing run releases it too", true, nullptr, "bad", {global}, -3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HostRegistryReset();
    HostMutexReset();
    HostClearMessageBoxes();
    HostSetPlatformId(c.nt ? VER_PLATFORM_WIN32_NT : VER_PLATFORM_WIN32_WINDOWS);
    if (c.control)
      c.control();
    const bool bad = std::string(c.tail) == "bad";
    HostSetModuleImage(
        "/opt/drvsetup",
        PackedImage(Script("\"DriverVersion\"=dword:47",
                           bad ? "\"x\"=hex:1\r\n" : "")));
    EXPECT_EQ(SetupRun(bad ? "" : c.tail), c.outcome);
    EXPECT_EQ(HostMutexesTaken(), c.taken);
    EXPECT_EQ(HostMutexesHeld(), 0u) << "the lock outlived the run";
    ASSERT_EQ(HostMessageBoxes().size(), 1u);
    EXPECT_EQ(HostMessageBoxes()[0].locksHeld, 0u)
        << "a box was shown while the lock was held";
  }
}

TEST_F(SetupRunTest, SecondRunIsCurrent) {
  HostSetModuleImage("/opt/drvsetup",
                     PackedImage(Script("\"DriverVersion\"=dword:00000047")));
  EXPECT_EQ(SetupRun(""), 0);
  std::string after = HostRegistryExport();
  EXPECT_EQ(SetupRun(""), 1);
  EXPECT_EQ(HostRegistryExport(), after);
  ASSERT_EQ(HostMessageBoxes().size(), 2u);
  EXPECT_EQ(HostMessageBoxes()[1].text, kCurrent);
  EXPECT_EQ(HostMessageBoxes()[1].style, 0x40u);
}

TEST_F(SetupRunTest, NonNtFamilyReadsThroughTheAnsiPath) {
  HostSetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
  SetStoredValue(HKEY_LOCAL_MACHINE,
                 std::string(kDriver2) + "\\MAPPINGS\\OLD\\DEEP", "x", Sz("1"));
  SetStoredValue(HKEY_LOCAL_MACHINE, kDriver2, "DriverVersion", Dword(3));
  HostSetModuleImage("C:\\WINDOWS\\drvsetup.exe",
                     PackedImage(Script("\"DriverVersion\"=dword:00000047")));
  EXPECT_EQ(SetupRun("-ns"), 0);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE,
                         std::string(kDriver2) + "\\MAPPINGS\\OLD"));
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kDriver2, "DriverVersion"),
            Dword(71));
}

TEST_F(SetupRunTest, LongModulePathIsFoundInFull) {
  for (size_t length : {1998u, 1999u, 2000u, 2001u, 4500u}) {
    SCOPED_TRACE(length);
    HostRegistryReset();
    HostSetModuleImage(std::string(length - 4, 'p') + ".exe",
                       PackedImage(Script("\"DriverVersion\"=dword:1")));
    EXPECT_EQ(SetupRun("-ns"), 0);
  }
}

// The administrators' guide and the winget manifest give the program's
// outcomes and nothing else: every marked table (a row for each outcome,
// with its unsigned and hexadecimal forms and a success or failure type
// where the table has those columns), every marked list of success codes,
// and the manifest's success and failure codes. The tools' own default
// codes stand outside the marked places.
TEST(OutcomeTable, DeploymentGuideAndWingetManifestGiveIt) {
  std::set<int> outcomes, successes, failures;
  for (int code = -100; code <= 100; ++code)
    if (OutcomeBoxText(code)) {
      outcomes.insert(code);
      (code >= 0 ? successes : failures).insert(code);
    }
  ASSERT_EQ(outcomes.size(), 5u);
  auto integers = [](const std::string& text) {
    // Every run of digits, with a minus sign just before it kept.
    std::set<int> found;
    const auto digit = [&](size_t at) {
      return at < text.size() && isdigit(static_cast<unsigned char>(text[at]));
    };
    for (size_t at = 0; at < text.size();) {
      const size_t start = at;
      if (text[at] == '-' && digit(at + 1)) ++at;
      if (!digit(at)) {
        at = start + 1;
        continue;
      }
      while (digit(at)) ++at;
      found.insert(std::stoi(text.substr(start, at - start)));
    }
    return found;
  };
  auto cells = [](const std::string& row) {
    std::vector<std::string> out;
    std::stringstream in(row.substr(1));
    for (std::string cell; std::getline(in, cell, '|');) {
      cell.erase(0, cell.find_first_not_of(' '));
      cell.erase(cell.find_last_not_of(' ') + 1);
      out.push_back(cell);
    }
    return out;
  };
  std::vector<std::string> lines;
  {
    std::stringstream guide(ReadBinaryFile(std::string(DRVSETUP_SOURCE_DIR) +
                                           "/docs/deploying.md"));
    for (std::string line; std::getline(guide, line);)
      lines.push_back(line);
  }
  size_t tables = 0, lists = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] == "<!-- codes: table -->") {
      SCOPED_TRACE("the table after line " + std::to_string(i + 1));
      ++tables;
      ASSERT_LT(i + 2, lines.size());
      const std::vector<std::string> header = cells(lines[i + 1]);
      std::set<int> rows;
      for (size_t j = i + 3; j < lines.size() && lines[j].rfind("|", 0) == 0; ++j) {
        const std::vector<std::string> row = cells(lines[j]);
        const int code = std::stoi(row[0]);
        rows.insert(code);
        for (size_t c = 1; c < header.size() && c < row.size(); ++c) {
          char hex[16];
          snprintf(hex, sizeof(hex), "0x%08X", static_cast<uint32_t>(code));
          if (header[c] == "unsigned") {
            EXPECT_EQ(row[c], std::to_string(static_cast<uint32_t>(code)));
          } else if (header[c] == "hexadecimal") {
            EXPECT_EQ(row[c], hex);
          } else if (header[c] == "code type") {
            EXPECT_EQ(row[c].rfind(code >= 0 ? "Success" : "Fail", 0), 0u)
                << code << " is said to be " << row[c];
          }
        }
      }
      EXPECT_EQ(rows, outcomes);
    }
    const std::string list = "<!-- codes: success ";
    if (lines[i].rfind(list, 0) == 0) {
      SCOPED_TRACE("the list after line " + std::to_string(i + 1));
      ++lists;
      const std::string word =
          lines[i].substr(list.size(), lines[i].size() - list.size() - 4);
      size_t j = i + 1;
      while (j < lines.size() && lines[j].rfind("```", 0) != 0)
        ++j;
      while (++j < lines.size() && lines[j].find(word) == std::string::npos)
        ;
      ASSERT_LT(j, lines.size()) << "no line with " << word;
      EXPECT_EQ(integers(lines[j].substr(lines[j].find(word) + word.size())),
                successes);
    }
  }
  EXPECT_EQ(tables, 3u);
  EXPECT_EQ(lists, 2u);

  std::stringstream manifest(ReadBinaryFile(std::string(DRVSETUP_SOURCE_DIR) +
                                            "/data/winget-installer.yaml"));
  std::set<int> manifestSuccesses = {0}, manifestFailures;  // 0 is winget's
  bool inSuccesses = false;
  for (std::string line; std::getline(manifest, line);) {
    if (line.rfind("InstallerSuccessCodes:", 0) == 0 || line[0] != ' ')
      inSuccesses = line.rfind("InstallerSuccessCodes:", 0) == 0;
    else if (inSuccesses)
      for (int code : integers(line))
        manifestSuccesses.insert(code);
    if (line.find("InstallerReturnCode:") != std::string::npos)
      for (int code : integers(line))
        manifestFailures.insert(code);
  }
  EXPECT_EQ(manifestSuccesses, successes);
  EXPECT_EQ(manifestFailures, failures);
}
