// A hive that survives: the native program is killed with SIGKILL at random
// moments of an update. After every kill the hive loads and holds either the
// complete old database or the complete new one, and whatever the kill left
// behind does not disturb the next run. CTest kills a few dozen times;
// DRVSETUP_KILLS asks for more (scripts/kill.sh).
//
// Under Wine every registry write lands at once, as on Windows: a first
// install killed part way leaves a partial database, which must carry no
// version, so that the next run repairs it. CTest kills at 8 points;
// DRVSETUP_WINE_KILLS asks for more.
//
// Runs started together take turns on the hive and never lose each other's
// writes. Under Wine, copies started at once take turns through the lock
// that every logon session shares.

#include <signal.h>
#include <math.h>
#include <stdlib.h>
#include <stdio.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tools/drvdb/front/exit_status.h"
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

const char kMorvelan[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan";

size_t KeysIn(const std::string& dump) {
  size_t keys = 0;
  for (size_t at = 0; (at = dump.find("\n[", at)) != std::string::npos; ++at)
    ++keys;
  return keys + (dump.compare(0, 1, "[") == 0);
}

// Packs a script built from the sample database, whose findings it repeats
// with the comments that allow them, into the runner's image.
Process PackSample(WineRunner* runner, const std::string& script,
                   const std::string& program) {
  return RunProcess({DRVDB_PROGRAM, "pack", "--quiet", runner->Image(),
                     script, program},
                    {});
}

struct KillResult {
  size_t keys;     // what the killed run left
  bool version;    // a DriverVersion among it
  bool complete;   // all of a clean install
  int next;        // the next run's exit status
  bool repaired;   // the next run left a clean install's tree
};

// Starts program on a registry without the database, kills it after delay
// seconds, and runs it again.
KillResult KillAndRepair(WineRunner* runner, const std::string& program,
                         double delay, const std::string& clean) {
  runner->Prepare("");
  pid_t pid = runner->StartProgram(program);
  usleep(static_cast<useconds_t>(delay * 1e6));
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  KillResult r;
  const std::string left = runner->Dump({kMorvelan});
  r.keys = KeysIn(left);
  r.version = left.find("\"DriverVersion\"=") != std::string::npos;
  r.complete = left == clean;
  r.next = runner->RunProgram(program, "", "").status;
  r.repaired = runner->Dump({kMorvelan}) == clean;
  return r;
}

}  // namespace

// The kill points are spread over the import: after the start-up that a
// run with a damaged trailer measures, up to the end of a whole first
// install. Wine's start-up varies, so a few kills may land before the first
// key or after the last; most must leave part of the database. The sample
// database twice over gives the kills twice the room.
TEST(UnderWine, KilledFirstInstallsAreRepaired) {
  if (!WineAvailable())
    GTEST_SKIP() << "no win64 build given";
  const char* asked = getenv("DRVSETUP_WINE_KILLS");
  const int kills = asked && *asked ? atoi(asked) : 8;
  WineRunner runner;
  const std::string program = runner.Folder() + "/drvsetup-2x.exe";
  const std::string database = runner.Folder() + "/drives-2x.reg";
  ASSERT_EQ(RunProcess({DRVSETUP_GENDB, "--scale", "2", database}, {}).status,
            0);
  Process pack = PackSample(&runner, database, program);
  ASSERT_EQ(pack.status, Code(Exit::kOk)) << pack.err;
  std::string corrupt = ReadBinaryFile(program);
  corrupt.replace(corrupt.size() - 4, 4, std::string("\xf0\xff\xff\x7f", 4));
  // The shortest of three whole installs, and the longest of three runs
  // that stop at their damaged trailer: the import lies between.
  double whole = 1e9, startUp = 0;
  for (int i = 0; i < 3; ++i) {
    runner.Prepare("");
    double start = Now();
    ASSERT_EQ(runner.RunProgram(program, "", "").status, ExitStatusOf(kOutcomeUpdated));
    whole = std::min(whole, Now() - start);
    start = Now();
    ASSERT_EQ(runner.RunBytes(corrupt, "").status, ExitStatusOf(kOutcomePayloadUnreadable));
    startUp = std::max(startUp, Now() - start);
  }
  const std::string clean = runner.Dump({kMorvelan});
  const size_t allKeys = KeysIn(clean);

  // The kills first spread over the window between start-up and a whole
  // install. A loaded machine can shift the import within it, so where too
  // few have landed in the import, kills go on, up to three times as many,
  // between the latest kill that left nothing and the earliest that left the
  // whole database.
  const int wanted = (kills * 6 + 7) / 8;
  double lastEmpty = startUp, firstWhole = whole;
  int partial = 0, tried = 0;
  for (; tried < kills || (partial < wanted && tried < 3 * kills); ++tried) {
    double from = startUp, to = whole, place = (tried + 0.5) / kills;
    if (tried >= kills) {
      place = fmod(0.5 + tried * 0.618034, 1.0);
      if (firstWhole - lastEmpty >= 0.005)
        from = lastEmpty, to = firstWhole;
    }
    const double delay = from + place * (to - from);
    SCOPED_TRACE("kill after " + std::to_string(delay) + " s");
    KillResult r = KillAndRepair(&runner, program, delay, clean);
    printf("  kill %2d after %3.0f ms: %4zu of %zu keys, version %s; next "
           "run %d\n",
           tried, delay * 1000, r.keys, allKeys, r.version ? "there" : "absent",
           r.next);
    partial += r.keys > 0 && r.keys < allKeys;
    if (r.keys == 0)
      lastEmpty = std::max(lastEmpty, delay);
    if (r.complete)
      firstWhole = std::min(firstWhole, delay);
    EXPECT_TRUE(!r.version || r.complete)
        << "a partial database carries the version";
    EXPECT_EQ(r.next, r.complete ? 1 : 0);
    EXPECT_TRUE(r.repaired) << "the next run left another tree";
  }
  EXPECT_GE(partial, wanted) << "too few kills landed in the import";
  printf("  %d kills over %.0f ms first installs (start-up %.0f ms): %d left "
         "a partial database, every one repaired by the next run\n",
         tried, whole * 1000, startUp * 1000, partial);

  // The non-NT family, one kill in the middle of the import.
  runner.ReportWindows98To("win98-kill.exe");
  const std::string win98 = runner.Folder() + "/win98-kill.exe";
  WriteFile(win98, ReadBinaryFile(program), true);
  KillResult r = KillAndRepair(&runner, win98, (startUp + whole) / 2, clean);
  printf("  non-NT family, kill after %.0f ms: %zu of %zu keys, version %s; "
         "next run %d\n",
         (startUp + whole) / 2 * 1000, r.keys, allKeys,
         r.version ? "there" : "absent", r.next);
  EXPECT_TRUE(!r.version || r.complete);
  EXPECT_EQ(r.next, r.complete ? 1 : 0);
  EXPECT_TRUE(r.repaired);
  runner.Prepare("");
}

namespace {

// The sample database as a release one version newer would carry it.
std::string NewerProgram(WineRunner* runner) {
  std::string script = SampleDatabaseBytes();
  const std::string from = EncodeUtf16Script("dword:00000047").substr(2);
  const size_t at = script.find(from);
  EXPECT_NE(at, std::string::npos);
  script.replace(at, from.size(), EncodeUtf16Script("dword:00000048").substr(2));
  const std::string reg = runner->Folder() + "/newer.reg";
  const std::string exe = runner->Folder() + "/newer.exe";
  WriteFile(reg, script);
  Process pack = PackSample(runner, reg, exe);
  EXPECT_EQ(pack.status, Code(Exit::kOk)) << pack.err;
  return exe;
}

// Starts the lock's helper holding it for seconds; waits until it does.
pid_t HoldTheLock(WineRunner* runner, int seconds) {
  const std::string ready = runner->Folder() + "/ready";
  unlink(ready.c_str());
  pid_t holder = runner->Start({std::string(DRVSETUP_WIN64_BUILD) +
                                    "/lockhold.exe",
                                std::to_string(seconds), WindowsPath(ready)});
  for (int i = 0; i < 3000 && access(ready.c_str(), F_OK) != 0; ++i)
    usleep(10000);
  EXPECT_EQ(access(ready.c_str(), F_OK), 0) << "the helper took no lock";
  return holder;
}

}  // namespace

// Copies started at once run one at a time: a copy waits while another
// holds the lock and changes nothing meanwhile; three copies over an older
// database end with one 0 and two 1s; two versions at once end with the
// newer one whole; and a lock left by a copy that was killed is taken over
// at once.
TEST(UnderWine, CopiesStartedAtOnceTakeTurns) {
  if (!WineAvailable())
    GTEST_SKIP() << "no win64 build given";
  WineRunner runner;
  const std::string program = runner.Shipped();
  runner.Prepare("");
  ASSERT_EQ(runner.RunProgram(program, "", "").status, ExitStatusOf(kOutcomeUpdated));
  const std::string clean = runner.Dump({kMorvelan});

  {
    SCOPED_TRACE("a copy started while the lock is held");
    runner.Prepare(kOlderDatabase);
    const std::string before = runner.Dump({kMorvelan});
    pid_t holder = HoldTheLock(&runner, 6);
    pid_t copy = runner.StartProgram(program);
    sleep(2);
    int status;
    EXPECT_EQ(waitpid(copy, &status, WNOHANG), 0) << "the copy did not wait";
    EXPECT_EQ(runner.Dump({kMorvelan}), before) << "it changed the registry";
    EXPECT_EQ(WaitFor(copy), 0);
    EXPECT_EQ(WaitFor(holder), 0);
    EXPECT_EQ(runner.Dump({kMorvelan}), clean);
  }
  for (int trial = 0; trial < 5; ++trial) {
    SCOPED_TRACE("three copies at once, trial " + std::to_string(trial));
    runner.Prepare(kOlderDatabase);
    std::vector<pid_t> copies;
    for (int i = 0; i < 3; ++i)
      copies.push_back(runner.StartProgram(program));
    std::vector<int> statuses;
    for (pid_t copy : copies)
      statuses.push_back(WaitFor(copy));
    std::sort(statuses.begin(), statuses.end());
    EXPECT_EQ(statuses, (std::vector<int>{0, 1, 1}));
    EXPECT_EQ(runner.Dump({kMorvelan}), clean);
  }
  const std::string newer = NewerProgram(&runner);
  runner.Prepare("");
  ASSERT_EQ(runner.RunProgram(newer, "", "").status, ExitStatusOf(kOutcomeUpdated));
  const std::string cleanNewer = runner.Dump({kMorvelan});
  for (int trial = 0; trial < 3; ++trial) {
    SCOPED_TRACE("two versions at once, trial " + std::to_string(trial));
    runner.Prepare(kOlderDatabase);
    pid_t older = runner.StartProgram(program);
    pid_t newest = runner.StartProgram(newer);
    int olderStatus = WaitFor(older), newerStatus = WaitFor(newest);
    EXPECT_TRUE(olderStatus == 0 || olderStatus == 1) << olderStatus;
    EXPECT_EQ(newerStatus, 0);
    EXPECT_EQ(runner.Dump({kMorvelan}), cleanNewer);
  }
  {
    SCOPED_TRACE("the lock's holder killed");
    runner.Prepare(kOlderDatabase);
    pid_t holder = HoldTheLock(&runner, 600);
    kill(holder, SIGKILL);
    WaitFor(holder);
    double start = Now();
    EXPECT_EQ(runner.RunProgram(program, "", "").status, ExitStatusOf(kOutcomeUpdated));
    EXPECT_LT(Now() - start, 30) << "it waited for the bound";
    EXPECT_EQ(runner.Dump({kMorvelan}), clean);
  }
  runner.Prepare("");
}

TEST(NativeHive, SurvivesKillsDuringAnUpdate) {
  const char* asked = getenv("DRVSETUP_KILLS");
  const int kills = asked && *asked ? atoi(asked) : 40;
  HostRunner runner;
  runner.Prepare(OldDatabase());
  const std::string oldHive = ReadBinaryFile(runner.hive());
  const std::string program = runner.Shipped();

  // How long an update takes, to spread the kills over it.
  double start = Now();
  ASSERT_EQ(runner.RunProgram(program, "-ns -ne", "").status, ExitStatusOf(kOutcomeUpdated));
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
    EXPECT_EQ(next.status, ExitStatusOf(old ? kOutcomeUpdated : kOutcomeAlreadyCurrent))
        << next.err;
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
