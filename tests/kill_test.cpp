// A hive that survives: the native program is killed with SIGKILL at random
// moments of an update. After every kill the hive loads and holds either the
// complete old database or the complete new one, and whatever the kill left
// behind does not disturb the next run. CTest kills a few dozen times;
// DRVSETUP_KILLS asks for more (scripts/kill.sh).
//
// Runs started together take turns on the hive and never lose each other's
// writes.

#include <signal.h>
#include <stdio.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/runners.h"

namespace {

// An older database with a marker key that the update removes, large enough
// that its removal takes a while.
std::string OldDatabase() {
  std::string script =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
      "\"DriverVersion\"=dword:00000046\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\OTHER]\r\n\"keep\"=\"yes\"\r\n";
  for (int i = 0; i < 2000; ++i)
    script += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\MAPPINGS\\OLD " +
              std::to_string(i) + "]\r\n\"load1\"=\"Gone\"\r\n";
  return script;
}

pid_t Start(const std::string& program, const std::string& hive) {
  pid_t pid = fork();
  if (pid == 0) {
    setenv("DRVSETUP_HIVE", hive.c_str(), 1);
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    execl(program.c_str(), program.c_str(), "-ns", "-ne",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

double Now() {
  struct timeval now;
  gettimeofday(&now, nullptr);
  return static_cast<double>(now.tv_sec) +
         static_cast<double>(now.tv_usec) / 1e6;
}

}  // namespace

TEST(NativeHive, SurvivesKillsDuringAnUpdate) {
  const char* asked = getenv("DRVSETUP_KILLS");
  const int kills = asked && *asked ? atoi(asked) : 40;
  HostRunner runner;
  runner.Prepare(OldDatabase());
  const std::string oldHive = ReadBinaryFile(runner.hive());
  const std::string program = runner.Shipped();

  // How long an update takes, to spread the kills over it.
  double start = Now();
  ASSERT_EQ(runner.RunProgram(program, "-ns -ne", "").status, 0);
  const double update = Now() - start;

  std::mt19937 random(20261208);
  int keptOld = 0, gotNew = 0;
  for (int i = 0; i < kills; ++i) {
    SCOPED_TRACE("kill " + std::to_string(i));
    WriteFile(runner.hive(), oldHive);
    pid_t pid = Start(program, runner.hive());
    usleep(static_cast<useconds_t>(
        std::uniform_real_distribution<double>(0, 1.3 * update)(random) * 1e6));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);

    std::string hive = ReadBinaryFile(runner.hive());
    bool old = hive == oldHive;
    if (old) {
      ++keptOld;
    } else {
      ++gotNew;
      runner.Load();
      CheckRegistry({Check::kComplete, "", "", {}});
      CheckRegistry({Check::kKeyAbsent,
                     "SOFTWARE\\morvelan\\DRIVER2\\MAPPINGS\\OLD 0", "", {}});
      CheckRegistry({Check::kValue, "SOFTWARE\\morvelan\\OTHER", "keep",
                     Sz("yes")});
    }
    // The next run finishes what was killed, or finds it done.
    Process next = runner.RunProgram(program, "-ns -ne", "");
    EXPECT_EQ(next.status, old ? 0 : 1) << next.err;
    runner.Load();
    CheckRegistry({Check::kComplete, "", "", {}});
    if (HasFailure())
      break;
  }
  printf("  %d kills over %.0f ms updates: %d left the old database, %d the "
         "new one, none anything else\n",
         kills, update * 1000, keptOld, gotNew);
}

TEST(NativeHive, RunsStartedTogetherKeepEachOthersWrites) {
  // Four programs, each writing a key of its own and its version outside
  // DRIVER2 (so that each one installs), started together on one hive.
  HostRunner runner;
  const std::string image = ReadBinaryFile(runner.Image());
  const int kRuns = 4;
  std::vector<std::string> programs;
  for (int i = 0; i < kRuns; ++i) {
    std::string n = std::to_string(i);
    std::string script =
        "[HKEY_CURRENT_USER\\together\\" + n + "]\r\n"
        "\"DriverVersion\"=dword:1\r\n\"run\"=\"" + n + "\"\r\n";
    programs.push_back(runner.Folder() + "/program-" + n);
    WriteFile(programs.back(), PackedImage(EncodeUtf16Script(script), image),
              true);
  }
  std::vector<std::thread> threads;
  std::vector<int> statuses(kRuns);
  for (int i = 0; i < kRuns; ++i)
    threads.emplace_back([&, i] {
      statuses[i] = runner.RunProgram(programs[i], "-ns -ne", "").status;
    });
  for (std::thread& t : threads)
    t.join();
  runner.Load();
  for (int i = 0; i < kRuns; ++i) {
    EXPECT_EQ(statuses[i], 0);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, "together\\" + std::to_string(i),
                        "run"),
              Sz(std::to_string(i)));
  }
}
