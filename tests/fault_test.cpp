// Every platform call of a run failed in turn: for each scenario a clean
// run counts its calls, then for every call N and every error of its kind
// one run fails call N, and the next run fails nothing. The native
// program's own code runs in this process, as its entry runs it, against
// the stand-in, with its hive file between runs; allocations are counted
// through a link-time wrap of malloc and free in this test alone.
//
// After each run: nothing is left open (key handles, files, mutexes, the
// run's allocations), the outcome is the one the failing call's stage
// gives, an outcome of 0 or 1 means the script's whole tree with its data
// (keys of the old database that a refused removal left may remain, and are
// counted), an installed version means a whole database, and no library is
// ever loaded by a bare name. The run after it answers 0 or 1 over the
// script's whole tree.
//
// DRVSETUP_FAULTS_SAMPLE=all runs every point of the sample database
// (scripts/faults.sh); by default the sample runs at a fixed spread.

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <map>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "payload/payload.h"
#include "payload/payload_io_host.h"
#include "platform/host/cp1252.h"
#include "platform/host/faults.h"
#include "platform/host/hive_file.h"
#include "platform/host/libraries.h"
#include "platform/host/mutex.h"
#include "script/system_library.h"
#include "setup/message_box_host.h"
#include "setup/setup_run.h"
#include "tests/test_support.h"

// Allocations, wrapped at link time: each the program makes is a platform
// call the fault control counts, and those of a run are kept until freed.
namespace {
std::unordered_set<void*>* g_live = nullptr;
}  // namespace

extern "C" void* __real_malloc(size_t size);
extern "C" void __real_free(void* block);

extern "C" void* __wrap_malloc(size_t size) {
  if (HostFaultAt(HostCall::kAllocation, "malloc"))
    return nullptr;
  void* block = __real_malloc(size);
  if (block && g_live)
    g_live->insert(block);
  return block;
}

extern "C" void __wrap_free(void* block) {
  if (block && g_live)
    g_live->erase(block);
  __real_free(block);
}

namespace {

const char kProgramPath[] = "/opt/drvsetup/drvsetup";

// Where the failing call stands in the run, which decides its outcome.
enum class Stage {
  kEntry,        // the library search limited, before the run
  kRead,         // the module path, the program file, its decoding
  kLock,         // the run lock taken
  kVersionTest,  // the installed version read
  kForget,       // the installed version forgotten
  kRemoval,      // the old database deleted
  kImport,       // the script written, its version last
  kUnlock,       // the run lock released
  kCommit,       // the hive saved
  kBox,          // the one box
};

const char* StageName(Stage stage) {
  static const char* const kNames[] = {
      "entry", "reading the program", "lock", "installed-version test",
      "forgetting the version", "removal", "import", "unlock",
      "hive save", "box"};
  return kNames[static_cast<int>(stage)];
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() &&
         text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The stage of each call of a clean run, from the calls that open each
// stage; the first entryCalls are the entry's.
std::vector<Stage> Stages(const std::vector<HostCallRecord>& calls,
                          size_t entryCalls) {
  std::vector<Stage> stages;
  Stage stage = Stage::kRead;
  for (size_t i = 0; i < calls.size(); ++i) {
    const HostCallRecord& call = calls[i];
    const std::string function = call.function;
    Stage next = stage;
    if (i < entryCalls) {
      stages.push_back(Stage::kEntry);
      continue;
    }
    if (call.detail.find("user32.dll") != std::string::npos ||
        call.kind == HostCall::kBox)
      next = Stage::kBox;
    else if (call.kind == HostCall::kMutex)
      next = Stage::kLock;
    else if (function == "RegOpenKeyExA" && EndsWith(call.detail, " 0x1"))
      next = Stage::kVersionTest;
    else if (function == "RegOpenKeyExA" &&
             call.detail == "Software\\morvelan\\DRIVER2 0x2")
      next = Stage::kForget;
    else if (function == "RegOpenKeyExA" &&
             call.detail == "Software\\morvelan 0x20006")
      next = Stage::kRemoval;
    else if (function == "RegCreateKeyExA")
      next = Stage::kImport;
    else if (call.kind == HostCall::kMutexRelease)
      next = Stage::kUnlock;
    else if (call.kind == HostCall::kHiveSave)
      next = Stage::kCommit;
    if (next > stage)
      stage = next;
    stages.push_back(stage);
  }
  return stages;
}

// The outcome that a run whose call failed must give, from the clean run's.
int ExpectedOutcome(Stage stage, const HostCallRecord& call, int clean) {
  const std::string function = call.function;
  switch (stage) {
    case Stage::kRead:
      // A close that fails has closed all the same; a version query that
      // fails makes the family the non-NT one, whose path is read as well.
      if (call.kind == HostCall::kFileClose ||
          call.kind == HostCall::kVersionQuery)
        return clean;
      return kOutcomePayloadUnreadable;
    case Stage::kVersionTest:
      // What cannot be read counts as not installed: the run updates.
      if (function == "RegCloseKey")
        return clean;
      return clean == kOutcomeAlreadyCurrent ? kOutcomeUpdated : clean;
    case Stage::kImport:
      // Every key made, every value set and the version written last must
      // succeed; only a close may fail.
      if (call.kind == HostCall::kRegistry)
        return kOutcomeInstallFailed;
      return clean;
    case Stage::kCommit:
      return kOutcomeInstallFailed;
    default:
      return clean;  // the run goes on without what failed
  }
}

// ---- The machine: a hive file, and the registry read back from it ----------

const std::string& DatabaseKey() {
  static const std::string key =
      HostFoldName("HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2");
  return key;
}

// The installed version, or -1.
int64_t InstalledVersion(const HiveTree& tree) {
  auto key = tree.find(DatabaseKey());
  if (key == tree.end())
    return -1;
  auto value = key->second.values.find(HostFoldName("DriverVersion"));
  if (value == key->second.values.end() || value->second.type != REG_DWORD ||
      value->second.data.size() != 4)
    return -1;
  const std::string& d = value->second.data;
  return static_cast<uint32_t>(static_cast<unsigned char>(d[0]) |
                               static_cast<unsigned char>(d[1]) << 8 |
                               static_cast<unsigned char>(d[2]) << 16 |
                               static_cast<unsigned char>(d[3]) << 24);
}

bool SameValue(const HiveValue& a, const HiveValue& b) {
  return a.type == b.type && a.data == b.data;
}

bool SameTree(const HiveTree& a, const HiveTree& b) {
  if (a.size() != b.size())
    return false;
  for (auto x = a.begin(), y = b.begin(); x != a.end(); ++x, ++y) {
    if (x->first != y->first ||
        x->second.values.size() != y->second.values.size())
      return false;
    for (auto v = x->second.values.begin(), w = y->second.values.begin();
         v != x->second.values.end(); ++v, ++w)
      if (v->first != w->first || !SameValue(v->second, w->second))
        return false;
  }
  return true;
}

// What a tree holds beside the script's: nothing, or what the old database
// had. Fills missing with the script's keys or values it lacks (or holds
// with other data) and stale with the old keys it kept.
void Compare(const HiveTree& tree, const HiveTree& script, const HiveTree& old,
             std::vector<std::string>* missing,
             std::vector<std::string>* foreign,
             std::vector<std::string>* stale) {
  for (const auto& [folded, key] : script) {
    auto held = tree.find(folded);
    if (held == tree.end()) {
      missing->push_back(key.path);
      continue;
    }
    for (const auto& [name, value] : key.values) {
      auto kept = held->second.values.find(name);
      if (kept == held->second.values.end() ||
          !SameValue(kept->second, value))
        missing->push_back(key.path + " \"" + value.name + "\"");
    }
  }
  for (const auto& [folded, key] : tree) {
    auto ours = script.find(folded);
    auto theirs = old.find(folded);
    if (ours == script.end() && theirs == old.end()) {
      foreign->push_back(key.path);
      continue;
    }
    if (ours == script.end())
      stale->push_back(key.path);
    for (const auto& [name, value] : key.values) {
      if (ours != script.end() && ours->second.values.count(name))
        continue;  // the script's, checked above
      if (theirs == old.end() || !theirs->second.values.count(name) ||
          !SameValue(theirs->second.values.at(name), value))
        foreign->push_back(key.path + " \"" + value.name + "\"");
    }
  }
}

// The failures the current test has reported so far.
int FailedParts() {
  return ::testing::UnitTest::GetInstance()
      ->current_test_info()
      ->result()
      ->total_part_count();
}

struct Scenario {
  const char* name;
  std::string program;  // the packed program
  std::string old;      // the program installed before, or ""
  const char* tail;     // the command tail
  DWORD family;
  bool shellLibrary;
  bool sample;          // the sample database: a spread of its points
};

struct Run {
  int outcome = 0;
  size_t boxes = 0;
  HiveTree tree;         // the hive afterwards
  std::string problems;  // what the run left behind it
  std::vector<HostCallRecord> calls;  // when recorded
  size_t entryCalls = 0;
  bool hit = false;
};

class Machine {
 public:
  Machine() : folder_(MakeTempDir("faults")), hive_(folder_ + "/registry.hive") {}
  ~Machine() { RemoveTree(folder_); }

  // Starts from what the hive held (an empty string: no hive).
  void Restore(const std::string& hive) {
    unlink(hive_.c_str());
    if (!hive.empty())
      WriteFile(hive_, hive);
  }
  std::string Saved() const { return ReadBinaryFile(hive_); }

  // One run of the program, as the native entry runs it: call failing
  // (0 for none) with the error of its kind at error.
  Run RunProgram(const Scenario& s, const std::string& program, uint64_t call,
                 size_t error, bool record) {
    Run run;
    HostSetPlatformId(s.family);
    HostSetShellLibraryPresent(s.shellLibrary);
    HostMutexReset();
    HostLibrariesReset(true, true);
    HostClearMessageBoxes();
    HostEchoMessageBoxes(false);
    LibrarySearchRestricted = false;  // a fresh process
    std::string why;
    if (!HostHiveOpen(hive_, &why))
      run.problems += "the hive did not open: " + why + "; ";
    HostSetModuleImage(kProgramPath, program);
    std::unordered_set<void*> live;
    HostFaultsCount(record);
    if (call)
      HostFaultsFail(call, error);
    g_live = &live;
    RestrictLibrarySearch();
    run.entryCalls = HostFaultsCounted();
    run.outcome = SetupRun(s.tail);
    g_live = nullptr;
    run.hit = HostFaultsHit();
    if (record)
      run.calls = HostFaultsRecord();
    HostFaultsStop();
    if (HostRegistryOpenHandles())
      run.problems += std::to_string(HostRegistryOpenHandles()) + " key(s) open; ";
    if (HostOpenPayloadFiles())
      run.problems += "the program file left open; ";
    if (HostMutexesHeld() || HostMutexHandlesOpen())
      run.problems += "the lock left held or open; ";
    if (!live.empty())
      run.problems += std::to_string(live.size()) + " allocation(s) not freed; ";
    for (const std::string& library : HostLibraryCalls())
      if ((library.rfind("LoadLibraryA(\"", 0) == 0 &&
           library.find('\\') == std::string::npos) ||
          (library.rfind("LoadLibraryExA(\"", 0) == 0 &&
           library.find(", 0x800)") == std::string::npos &&
           library.find('\\') == std::string::npos))
        run.problems += "loaded by a bare name: " + library + "; ";
    run.boxes = HostMessageBoxes().size();
    HostHiveClose();
    HostClearModuleImage();
    // What the next process finds.
    HostHiveOpen(hive_, &why);
    run.tree = HostRegistryTree();
    HostHiveClose();
    return run;
  }

 private:
  std::string folder_, hive_;
};

// A script of a few dozen lines: the database key with its version, keys
// three levels deep, strings and dwords.
std::string SmallScript(const char* version) {
  std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
      "\"DriverVersion\"=dword:" + std::string(version) + "\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\FALLBACKS]\r\n"
      "\"BeginSAO5\"=\"0\"\r\n\"Write2\"=\"1\"\r\n\r\n";
  for (const char* set : {"MMC-Writer", "CW-Writer"})
    text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\SETS\\" +
            std::string(set) + "]\r\n\"Device\"=dword:00000002\r\n"
            "\"BeginTAO\"=\"3\"\r\n\r\n";
  for (const char* drive : {"VENDOR  DRIVE-1", "VENDOR  DRIVE-2",
                            "OTHER   MODEL \xc3\x97 3"})
    text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\MAPPINGS\\" +
            std::string(drive) + "]\r\n\"load1\"=\"MMC-Writer\"\r\n"
            "\"Caps_WriteMaxSpeed\"=\"8310\"\r\n\r\n";
  return text;
}

// The older database an update replaces: another version, keys that the
// new one lacks, three levels deep, and values it sets otherwise.
std::string OldScript() {
  return "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
         "\"DriverVersion\"=dword:00000001\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\FALLBACKS]\r\n"
         "\"Write2\"=\"7\"\r\n\"Gone\"=\"1\"\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\MAPPINGS\\STALE\\SUB\\DEEP]\r\n"
         "\"load1\"=\"x\"\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\MAPPINGS\\OLD DRIVE]\r\n"
         "\"load1\"=\"y\"\r\n";
}

std::string Packed(const std::string& utf8OrUtf16) {
  static const std::string image = ReadBinaryFile(DRVSETUP_HOST_IMAGE);
  const std::string script = utf8OrUtf16.rfind("\xff\xfe", 0) == 0
                                 ? utf8OrUtf16
                                 : EncodeUtf16Script(utf8OrUtf16);
  return PackProgram(image, script, false, true);
}

// How a scenario's points ended: by stage, the outcomes; the points at
// which old keys stayed.
struct Tally {
  size_t points = 0, runs = 0, survived = 0, stalePoints = 0;
  std::map<std::string, std::map<int, size_t>> byStage;
};

void RunScenario(const Scenario& s, const HiveTree& scriptTree) {
  Machine machine;
  // The machine before: nothing, or the old program's install.
  machine.Restore("");
  if (!s.old.empty()) {
    Scenario install = s;
    install.tail = "-ns -ne";
    ASSERT_EQ(machine.RunProgram(install, s.old, 0, 0, false).outcome,
              kOutcomeUpdated);
  }
  const std::string before = s.old.empty() ? std::string() : machine.Saved();
  HiveTree oldTree;
  if (before.empty()) {
    HostRegistryReset();
    oldTree = HostRegistryTree();
  } else {
    std::string why;
    ASSERT_TRUE(ReadHiveTree(before, &oldTree, &why)) << why;
  }
  const int64_t oldVersion = InstalledVersion(oldTree);
  const int64_t newVersion = InstalledVersion(scriptTree);

  const Run clean = machine.RunProgram(s, s.program, 0, 0, true);
  EXPECT_EQ(clean.problems, "") << s.name;
  const std::vector<Stage> stages = Stages(clean.calls, clean.entryCalls);
  const size_t calls = clean.calls.size();

  // Every point, or for the sample a fixed spread of about 200 of its
  // points and errors.
  std::vector<std::pair<uint64_t, size_t>> points;
  for (uint64_t call = 1; call <= calls; ++call)
    for (size_t error = 0; error < HostCallErrors(clean.calls[call - 1].kind).size();
         ++error)
      points.push_back({call, error});
  const char* all = getenv("DRVSETUP_FAULTS_SAMPLE");
  if (s.sample && !(all && std::string(all) == "all")) {
    std::vector<std::pair<uint64_t, size_t>> spread;
    const size_t kSpread = 100;
    for (size_t i = 0; i < kSpread && i < points.size(); ++i)
      spread.push_back(points[i * points.size() / kSpread]);
    points = spread;
  }

  Tally tally;
  const time_t start = time(nullptr);
  for (const auto& [call, error] : points) {
    const HostCallRecord& made = clean.calls[call - 1];
    const Stage stage = stages[call - 1];
    const int failedBefore = FailedParts();
    SCOPED_TRACE(std::string(s.name) + ": call " + std::to_string(call) +
                 " of " + std::to_string(calls) + ", " + made.function + "(" +
                 made.detail + ") in the " + StageName(stage) + ", failing with " +
                 HostCallErrors(made.kind)[error]);
    machine.Restore(before);
    const Run run = machine.RunProgram(s, s.program, call, error, false);
    ++tally.points;
    ++tally.runs;
    ++tally.byStage[StageName(stage)][run.outcome];
    EXPECT_TRUE(run.hit) << "the call was never made";
    EXPECT_EQ(run.problems, "");
    EXPECT_EQ(run.outcome, ExpectedOutcome(stage, made, clean.outcome));
    // The box fails, or tells the outcome (version mode shows no error).
    const bool versionMode = std::string(s.tail) == "-v";
    EXPECT_EQ(run.boxes, stage == Stage::kBox || (versionMode && run.outcome < 0)
                             ? 0u
                             : clean.boxes);

    std::vector<std::string> missing, foreign, stale;
    Compare(run.tree, scriptTree, oldTree, &missing, &foreign, &stale);
    EXPECT_TRUE(foreign.empty()) << "not the script's nor the old database's: "
                                 << foreign.front();
    const int64_t version = InstalledVersion(run.tree);
    const bool untouched = SameTree(run.tree, oldTree);
    if (run.outcome >= 0) {
      EXPECT_TRUE(missing.empty()) << "success over a partial database: "
                                   << missing.front();
      EXPECT_EQ(version, newVersion);
    } else if (run.outcome != kOutcomeInstallFailed) {
      EXPECT_TRUE(untouched) << "a run that read nothing changed the registry";
    }
    // A version means a whole database: the old one untouched, or the new.
    if (version >= 0 && !untouched) {
      EXPECT_TRUE(version == newVersion && missing.empty())
          << "version " << version << " over a partial database";
    }
    if (!untouched && version == oldVersion && oldVersion >= 0)
      ADD_FAILURE() << "the old version over a changed database";
    // Old keys stay only where the removal was refused.
    if (!stale.empty() && !untouched) {
      ++tally.stalePoints;
      EXPECT_TRUE(stage == Stage::kRemoval || run.outcome == kOutcomeInstallFailed)
          << "old keys kept, first " << stale.front();
    }

    // The next run, with nothing failing, repairs the machine.
    const Run next = machine.RunProgram(s, s.program, 0, 0, false);
    ++tally.runs;
    EXPECT_EQ(next.problems, "");
    std::vector<std::string> nextMissing, nextForeign, nextStale;
    Compare(next.tree, scriptTree, oldTree, &nextMissing, &nextForeign, &nextStale);
    const int expectedNext = clean.outcome == kOutcomeInstallFailed
                                 ? kOutcomeInstallFailed
                                 : -100;
    if (expectedNext == kOutcomeInstallFailed) {
      // The script itself fails: every run fails as the clean one does.
      EXPECT_EQ(next.outcome, kOutcomeInstallFailed);
    } else {
      EXPECT_TRUE(next.outcome == kOutcomeUpdated ||
                  next.outcome == kOutcomeAlreadyCurrent)
          << "the next run answers " << next.outcome;
      EXPECT_TRUE(nextMissing.empty()) << "the next run leaves a partial "
                                          "database: " << nextMissing.front();
      EXPECT_EQ(InstalledVersion(next.tree), newVersion);
    }
    if (FailedParts() == failedBefore)
      ++tally.survived;
  }
  printf("%s: %zu calls; %zu points with their errors, %zu runs, %zu "
         "survived, old keys left at %zu; %lld s\n",
         s.name, calls, tally.points, tally.runs, tally.survived,
         tally.stalePoints, static_cast<long long>(time(nullptr) - start));
  for (const auto& [stage, outcomes] : tally.byStage) {
    printf("  %-24s", stage.c_str());
    for (const auto& [outcome, count] : outcomes)
      printf(" %zu x %d", count, outcome);
    printf("\n");
  }
}

}  // namespace

TEST(Faults, EveryCallFailedInTurn) {
  const std::string small = Packed(SmallScript("00000048"));
  const std::string old = Packed(OldScript());
  const std::string sample = Packed(SampleDatabaseBytes());
  const std::string failing =
      Packed(SmallScript("00000048") +
             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\LAST]\r\n"
             "\"x\"=hex:00\r\n");
  // The script's whole tree, as a clean first install leaves it.
  auto treeOf = [](const std::string& program) {
    Machine machine;
    Scenario first{"tree", program, "", "-ns -ne", VER_PLATFORM_WIN32_NT,
                   true, false};
    return machine.RunProgram(first, program, 0, 0, false).tree;
  };
  const HiveTree smallTree = treeOf(small);
  const HiveTree sampleTree = treeOf(sample);
  const HiveTree failingTree = treeOf(failing);  // what it writes before it fails

  const DWORD nt = VER_PLATFORM_WIN32_NT, nonNt = VER_PLATFORM_WIN32_WINDOWS;
  //  name                                  program  before  tail   family shell  sample
  const Scenario scenarios[] = {
      {"first install", small, "", "", nt, true, false},
      {"update, NT, shell library", small, old, "", nt, true, false},
      {"update, NT, no shell library", small, old, "", nt, false, false},
      {"update, non-NT family", small, old, "", nonNt, true, false},
      {"second run", small, small, "", nt, true, false},
      {"-v", small, small, "-v", nt, true, false},
      {"an import that fails at its last line", failing, old, "", nt, true, false},
      {"sample, first install", sample, "", "-ns -ne", nt, true, true},
      {"sample, update", sample, old, "", nt, true, true},
  };
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.name);
    const HiveTree& tree = s.program == sample    ? sampleTree
                           : s.program == failing ? failingTree
                                                  : smallTree;
    RunScenario(s, tree);
  }
}
