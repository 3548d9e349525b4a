// Runs the packed program as a process: the native one against a hive file
// of its own, and, when a win64 build is given, the Windows one under Wine
// with its real registry. Both go through the same scenario table.

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "payload/payload.h"
#include "script/script_import.h"
#include "setup/message_box_host.h"
#include "tests/process_support.h"
#include "tests/scenarios.h"

namespace {

// The packed program for a payload kind, built beside the shipped one.
std::string PackVariant(const std::string& image, const std::string& dir,
                        Payload payload, const std::string& suffix) {
  std::string script = ScriptFor(payload);
  std::string packed = PackedImage(script, ReadBinaryFile(image));
  if (payload == Payload::kCorruptTrailer)
    packed.replace(packed.size() - 4, 4, std::string("\xf0\xff\xff\x7f", 4));
  std::string path = dir + "/variant-" +
                     std::to_string(static_cast<int>(payload)) + suffix;
  WriteFile(path, packed, true);
  return path;
}

// How a scenario reaches a program and its registry.
class Runner {
 public:
  virtual ~Runner() = default;
  // A fresh registry holding what script describes.
  virtual void Prepare(const std::string& script) = 0;
  virtual Process Run(Payload payload, const std::string& args,
                      const std::string& environment) = 0;
  // Loads the program's registry into the in-process stand-in.
  virtual void Load() = 0;
};

class HostRunner : public Runner {
 public:
  HostRunner() : dir_(MakeTempDir("host")), hive_(dir_ + "/registry.hive") {}
  ~HostRunner() override { RemoveTree(dir_); }

  void Prepare(const std::string& script) override {
    unlink(hive_.c_str());
    if (script.empty())
      return;
    HostRegistryReset();
    std::vector<char> text(script.begin(), script.end());
    text.push_back('\0');
    ASSERT_TRUE(ImportScript(text.data()));
    WriteFile(hive_, HostRegistryExport());
  }

  Process Run(Payload payload, const std::string& args,
              const std::string& environment) override {
    std::string program = payload == Payload::kShipped
                              ? DRVSETUP_HOST_PROGRAM
                              : PackVariant(DRVSETUP_HOST_IMAGE, dir_, payload, "");
    std::vector<std::string> argv = {program};
    for (size_t pos = 0; pos < args.size();) {
      size_t end = args.find(' ', pos);
      if (end == std::string::npos)
        end = args.size();
      argv.push_back(args.substr(pos, end - pos));
      pos = end + 1;
    }
    std::vector<std::string> env = {"DRVSETUP_HIVE=" + hive_};
    if (!environment.empty())
      env.push_back(environment);
    else
      env.push_back("DRVSETUP_PLATFORM=nt");
    return RunProcess(argv, env);
  }

  void Load() override {
    HostRegistryReset();
    std::string text = ReadBinaryFile(hive_);
    std::string error;
    if (!text.empty()) {
      ASSERT_TRUE(HostRegistryImport(text, &error)) << error;
    }
  }

  const std::string& hive() const { return hive_; }

 private:
  std::string dir_;
  std::string hive_;
};

// ---- Wine -------------------------------------------------------------------

const char kWine[] = "/usr/lib/wine/wine64";
const char kWineServer[] = "/usr/lib/wine/wineserver";

std::string WineBuild() {
  return DRVSETUP_WIN64_BUILD;
}

// One prefix for the whole test run, with a server that stays up between
// the runs; made when the first Wine test needs it.
class WineEnvironment : public ::testing::Environment {
 public:
  static std::string prefix;

  static void Start() {
    if (!prefix.empty())
      return;
    prefix = MakeTempDir("wine");
    pid_t pid = fork();
    if (pid == 0) {
      setenv("WINEPREFIX", prefix.c_str(), 1);
      execl(kWineServer, kWineServer, "-p", static_cast<char*>(nullptr));
      _exit(127);
    }
    waitpid(pid, nullptr, 0);
    Process boot = RunProcess({kWine, "wineboot", "-i"}, Env(), 600);
    ASSERT_EQ(boot.status, 0) << boot.err;
  }

  void TearDown() override {
    if (prefix.empty())
      return;
    RunProcess({kWineServer, "-k"}, Env());
    RemoveTree(prefix);
  }

  static std::vector<std::string> Env() {
    return {"WINEPREFIX=" + prefix, "WINEDEBUG=-all", "DISPLAY="};
  }
};
std::string WineEnvironment::prefix;

std::string Utf16Script(const std::string& ascii) {
  std::string bytes = "\xff\xfe";
  for (char c : "Windows Registry Editor Version 5.00\r\n\r\n" + ascii) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  return bytes;
}

class WineRunner : public Runner {
 public:
  WineRunner() : dir_(MakeTempDir("winerun")) { WineEnvironment::Start(); }
  ~WineRunner() override { RemoveTree(dir_); }

  void Prepare(const std::string& script) override {
    RunProcess({kWine, "reg", "delete", "HKLM\\Software\\morvelan", "/f"},
               WineEnvironment::Env());
    if (script.empty())
      return;
    std::string file = dir_ + "/prepare.reg";
    WriteFile(file, Utf16Script(script));
    Process p = RunProcess({kWine, "regedit", "/s", file}, WineEnvironment::Env());
    ASSERT_EQ(p.status, 0) << p.err;
  }

  Process Run(Payload payload, const std::string&, const std::string&) override {
    std::string program =
        payload == Payload::kShipped
            ? WineBuild() + "/drvsetup.exe"
            : PackVariant(WineBuild() + "/drvsetup_image.exe", dir_, payload,
                          ".exe");
    return RunProcess({kWine, program, "-ns", "-ne"}, WineEnvironment::Env());
  }

  void Load() override {
    HostRegistryReset();
    std::string file = dir_ + "/export.reg";
    unlink(file.c_str());
    RunProcess({kWine, "regedit", "/e", file,
                "HKEY_LOCAL_MACHINE\\Software\\morvelan"},
               WineEnvironment::Env());
    std::string bytes = ReadBinaryFile(file);
    if (bytes.size() < 2)
      return;  // no such key: nothing exported
    std::u16string units = Utf16Units(bytes).substr(1);
    // The export is a registry script in our dialect; read it back with the
    // program's own importer.
    char* text = WideToAnsi(reinterpret_cast<const WCHAR*>(units.c_str()));
    ASSERT_NE(text, nullptr);
    bool imported = ImportScript(text);
    free(text);
    ASSERT_TRUE(imported) << "Wine's export did not import";
  }

 private:
  std::string dir_;
};

// ---- The scenarios ----------------------------------------------------------

std::string BoxLine(const std::string& text) {
  HostMessageBox box{text, "Disc burning driver setup",
                     text.rfind("Error", 0) == 0 ? 0x10u : 0x40u};
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

std::string ScenarioName(const ::testing::TestParamInfo<Scenario>& param) {
  return param.param.name;
}

class NativeScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(NativeScenario, Runs) {
  HostRunner runner;
  RunScenario(&runner, GetParam(), true);
}

INSTANTIATE_TEST_SUITE_P(
    Process, NativeScenario, ::testing::ValuesIn(Scenarios()),
    ScenarioName);

std::vector<Scenario> WineScenarios() {
  std::vector<Scenario> chosen;
  if (WineBuild().empty())
    return chosen;
  for (const Scenario& s : Scenarios())
    if (s.underWine)
      chosen.push_back(s);
  return chosen;
}

class WineScenario : public ::testing::TestWithParam<Scenario> {};
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(WineScenario);

TEST_P(WineScenario, Runs) {
  WineRunner runner;
  RunScenario(&runner, GetParam(), false);
}

INSTANTIATE_TEST_SUITE_P(
    Wine, WineScenario, ::testing::ValuesIn(WineScenarios()),
    ScenarioName);

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
    EXPECT_EQ(p.status, 253);
    EXPECT_NE(p.err.find("registry hive unusable"), std::string::npos) << p.err;
    EXPECT_NE(p.err.find(c.reason), std::string::npos) << p.err;
    EXPECT_NE(p.err.find("Error installing disc burning driver data."),
              std::string::npos);
    EXPECT_EQ(ReadBinaryFile(runner.hive()), c.hive);
    p = runner.Run(Payload::kShipped, "-v", "");
    EXPECT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(ReadBinaryFile(runner.hive()), c.hive);
  }
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

TEST(NativeHive, ReplacedWholeAndReadable) {
  HostRunner runner;
  Process p = runner.Run(Payload::kShipped, "-ns", "");
  ASSERT_EQ(p.status, 0) << p.err;
  std::string text = ReadBinaryFile(runner.hive());
  EXPECT_EQ(text.rfind("; drvsetup registry hive\n", 0), 0u);
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\n"
                      "\"DriverVersion\"=dword:00000047\n"),
            std::string::npos);
  // A drive key with the multiplication sign, in the ANSI code page.
  EXPECT_NE(text.find("4%D74]"), std::string::npos);
  struct stat info;
  EXPECT_NE(stat((runner.hive() + ".tmp").c_str(), &info), 0)
      << "a temporary file was left behind";
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
    updated += p.status == 0;
    current += p.status == 1;
  }
  // Exactly one run installs; the others see its work.
  EXPECT_EQ(updated, 1);
  EXPECT_EQ(current, kRuns - 1);
  runner.Load();
  CheckRegistry({Check::kComplete, "", "", {}});
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new WineEnvironment);
  return RUN_ALL_TESTS();
}
