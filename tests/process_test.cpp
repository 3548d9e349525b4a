// Runs the packed program as a process: the native one against a hive file
// of its own, and, when a win64 build is given, the Windows one under Wine
// with its real registry. Both go through the same scenario table.

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "setup/message_box_host.h"
#include "tests/runners.h"

namespace {

// ---- The scenarios ----------------------------------------------------------

std::string BoxLine(const std::string& text) {
  HostMessageBox box{text, "Disc burning driver setup",
                     text.rfind("Error", 0) == 0 ? 0x10u : 0x40u, 0};
  return HostMessageBoxLine(box) + "\n";
}

void RunScenario(Runner* runner, const Scenario& scenario, bool native) {
  runner->Prepare(scenario.prepare);
  for (const ScenarioRun& run : scenario.runs) {
    SCOPED_TRACE("run with \"" + run.args + "\"");
    runner->Load();
    std::string before = MorvelanTree();
    Process p = runner->Run(run.payload, run.args, scenario.environment);
    EXPECT_EQ(p.status, run.exitStatus) << p.err;
    if (native) {
      EXPECT_EQ(p.err, run.box.empty() ? "" : BoxLine(run.box));
    }
    runner->Load();
    if (run.unchanged) {
      EXPECT_TRUE(MorvelanTree() == before) << "the run changed the registry";
    }
  }
  for (const Check& check : scenario.checks) {
    runner->Load();
    CheckRegistry(check);
  }
}

// A scenario, and whether it runs the Windows program under Wine.
using ScenarioOn = std::pair<Scenario, bool>;

std::string ScenarioName(const ::testing::TestParamInfo<ScenarioOn>& param) {
  return param.param.first.name;
}

// One table for both programs: the native one on every scenario, the
// Windows one under Wine on those that Wine can stage (one prefix for all).
std::vector<ScenarioOn> ScenariosOn(bool wine) {
  std::vector<ScenarioOn> chosen;
  for (const Scenario& s : Scenarios())
    if (!wine || (s.underWine && WineAvailable()))
      chosen.push_back({s, wine});
  return chosen;
}

class ScenarioTest : public ::testing::TestWithParam<ScenarioOn> {};
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ScenarioTest);

TEST_P(ScenarioTest, Runs) {
  const Scenario& scenario = GetParam().first;
  if (GetParam().second) {
    WineRunner runner;
    RunScenario(&runner, scenario, false);
  } else {
    HostRunner runner;
    RunScenario(&runner, scenario, true);
  }
}

INSTANTIATE_TEST_SUITE_P(Process, ScenarioTest,
                         ::testing::ValuesIn(ScenariosOn(false)), ScenarioName);
INSTANTIATE_TEST_SUITE_P(Wine, ScenarioTest,
                         ::testing::ValuesIn(ScenariosOn(true)), ScenarioName);

// ---- The native hive --------------------------------------------------------

TEST(NativeHive, UnreadableHiveIsLeftAlone) {
  const std::string classes = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes]\n";
  std::string deep = classes + "[HKEY_CURRENT_USER";
  for (int i = 0; i < 50000; ++i)
    deep += "\\k";
  struct Case {
    std::string what, hive, reason;
  };
  const Case cases[] = {
      {"malformed", "[HKEY_LOCAL_MACHINE]\n\"broken\n", "malformed value"},
      {"600 levels", classes + "[HKEY_CURRENT_USER" + [] {
         std::string s;
         for (int i = 0; i < 600; ++i)
           s += "\\level";
         return s;
       }() + "]\n", "more than 512 levels deep"},
      {"50,000 levels", deep + "]\n", "more than 512 levels deep"},
      {"key name of 257", classes + "[HKEY_CURRENT_USER\\" +
           std::string(257, 'n') + "]\n", "key name longer than 256"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HostRunner runner;
    WriteFile(runner.hive(), c.hive);
    Process p = runner.Run(Payload::kShipped, "-ns", "");
    EXPECT_EQ(p.status, ExitStatusOf(kOutcomeInstallFailed));
    EXPECT_NE(p.err.find("registry hive unusable"), std::string::npos) << p.err;
    EXPECT_NE(p.err.find(c.reason), std::string::npos) << p.err;
    EXPECT_NE(p.err.find("Error installing disc burning driver data."),
              std::string::npos);
    EXPECT_EQ(ReadBinaryFile(runner.hive()), c.hive);
    p = runner.Run(Payload::kShipped, "-v", "");
    EXPECT_EQ(p.status, ExitStatusOf(kOutcomeUpdated)) << p.err;
    EXPECT_EQ(ReadBinaryFile(runner.hive()), c.hive);
  }
  // A hive that is a directory cannot be read either.
  HostRunner runner;
  ASSERT_EQ(mkdir(runner.hive().c_str(), 0755), 0);
  Process p = runner.Run(Payload::kShipped, "-ns", "");
  EXPECT_EQ(p.status, ExitStatusOf(kOutcomeInstallFailed));
  EXPECT_NE(p.err.find("registry hive unusable"), std::string::npos) << p.err;
}

TEST(NativeHive, UnsavedHiveIsOneFailure) {
  // The hive cannot be replaced: the run reports -3 in its box as well as
  // in its exit status, and the hive stays as it was.
  HostRunner runner;
  ASSERT_EQ(mkdir((runner.hive() + ".tmp").c_str(), 0755), 0);
  Process p = runner.Run(Payload::kShipped, "", "");
  EXPECT_EQ(p.status, 253);
  EXPECT_NE(p.err.find("registry hive not saved"), std::string::npos) << p.err;
  EXPECT_EQ(p.err.find("successfully updated"), std::string::npos) << p.err;
  EXPECT_NE(p.err.find(BoxLine("Error installing disc burning driver data.")),
            std::string::npos) << p.err;
  struct stat info;
  EXPECT_NE(stat(runner.hive().c_str(), &info), 0) << "a hive was written";
}

// The hive is written whole and readable where the settings put it:
// DRVSETUP_HIVE, else under XDG_STATE_HOME, else under HOME.
TEST(NativeHive, ReplacedWholeAndReadable) {
  HostRunner runner;
  const std::string dir = runner.Folder();
  struct Case {
    const char* what;
    std::vector<std::string> environment;
    std::string hive;
  };
  const Case cases[] = {
      {"DRVSETUP_HIVE", {"DRVSETUP_HIVE=" + runner.hive()}, runner.hive()},
      {"XDG_STATE_HOME",
       {"DRVSETUP_HIVE=", "XDG_STATE_HOME=" + dir + "/state"},
       dir + "/state/drvsetup/registry.hive"},
      {"HOME", {"DRVSETUP_HIVE=", "XDG_STATE_HOME=", "HOME=" + dir + "/home"},
       dir + "/home/.local/state/drvsetup/registry.hive"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Process p = RunProcess({runner.Shipped(), "-ns"}, c.environment);
    ASSERT_EQ(p.status, ExitStatusOf(kOutcomeUpdated)) << p.err;
    std::string text = ReadBinaryFile(c.hive);
    EXPECT_EQ(text.rfind("; drvsetup registry hive\n", 0), 0u);
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\n"
                        "\"DriverVersion\"=dword:00000047\n"),
              std::string::npos);
    // A drive key with the multiplication sign, in the ANSI code page.
    EXPECT_NE(text.find("4%D74]"), std::string::npos);
    struct stat info;
    EXPECT_NE(stat((c.hive + ".tmp").c_str(), &info), 0)
        << "a temporary file was left behind";
  }
}

TEST(NativeHive, RunsStartedTogetherTakeTurns) {
  HostRunner runner;
  const int kRuns = 4;
  std::vector<Process> results(kRuns);
  std::vector<std::thread> threads;
  for (int i = 0; i < kRuns; ++i)
    threads.emplace_back([&, i] {
      results[i] = runner.Run(Payload::kShipped, "-ns -ne", "");
    });
  for (std::thread& t : threads)
    t.join();
  int updated = 0, current = 0;
  for (const Process& p : results) {
    updated += p.status == ExitStatusOf(kOutcomeUpdated);
    current += p.status == ExitStatusOf(kOutcomeAlreadyCurrent);
  }
  // Exactly one run installs; the others see its work.
  EXPECT_EQ(updated, 1);
  EXPECT_EQ(current, kRuns - 1);
  runner.Load();
  CheckRegistry({Check::kComplete, "", "", {}});
}

}  // namespace

// Ends the Wine server that the Wine tests started.
class WineCleanup : public ::testing::Environment {
 public:
  void TearDown() override { StopWine(); }
};

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new WineCleanup);
  return RUN_ALL_TESTS();
}
