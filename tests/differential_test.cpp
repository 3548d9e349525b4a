// Differential test against Wine's registry, an independent implementation:
// seeded random scripts run through the native program and through the
// Windows program under Wine, on a fresh registry and over an installed
// older, equal, newer and string-typed DriverVersion. The exit codes and
// the resulting trees (names with their case as created, types, data bytes)
// must agree.
//
// CTest runs a fixed batch; DRVSETUP_DIFF_SCRIPTS and DRVSETUP_DIFF_SEED
// choose another (scripts/differential.sh).

#include <stdio.h>
#include <stdlib.h>

#include <functional>
#include <string>
#include <vector>

#include "payload/payload_io_host.h"
#include "platform/host/cp1252.h"
#include "tests/runners.h"
#include "tests/script_generator.h"

namespace {

const char* const kStates[] = {"fresh", "older", "equal", "newer", "string"};

// The values installed before a run, key by key, in order.
struct StateValue {
  std::string key;  // below HKEY_LOCAL_MACHINE\SOFTWARE\morvelan
  std::string name;
  bool dword;
  uint32_t number;   // a dword's value
  std::string text;  // a string's value
};

std::vector<StateValue> StateValues(int state, uint32_t version) {
  switch (state) {
    case 1:
      return {{"DRIVER2", "DriverVersion", true, version - 1, ""},
              {"DRIVER2\\OLD", "load1", false, 0, "Gone"},
              {"OTHER", "keep", false, 0, "yes"}};
    case 2:
    case 3:
      return {{"DRIVER2", "DriverVersion", true, version + (state == 3), ""}};
    case 4:
      return {{"DRIVER2", "DriverVersion", false, 0, std::to_string(version)}};
  }
  return {};
}

// The state as a script, for the native program's registry.
std::string StateScript(int state, uint32_t version) {
  std::string script, key;
  for (const StateValue& v : StateValues(state, version)) {
    if (v.key != key)
      script += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\" + v.key + "]\r\n";
    key = v.key;
    char number[16];
    snprintf(number, sizeof(number), "%08x", v.number);
    script += "\"" + v.name + "\"=" +
              (v.dword ? "dword:" + std::string(number)
                       : "\"" + v.text + "\"") +
              "\r\n";
  }
  return script;
}

// The state as regdump's operations for Wine's registry: clear the roots the
// scripts write, then set each value; one process instead of three.
std::vector<std::string> StateOperations(int state, uint32_t version) {
  std::vector<std::string> ops = {"delete"};
  ops.insert(ops.end(), std::begin(kGeneratedRoots), std::end(kGeneratedRoots));
  for (const StateValue& v : StateValues(state, version)) {
    std::string bytes;
    if (v.dword) {
      for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<char>(v.number >> (8 * i)));
    } else {
      bytes = v.text;
      bytes.push_back('\0');
    }
    std::string hex;
    for (unsigned char c : bytes) {
      char pair[3];
      snprintf(pair, sizeof(pair), "%02x", c);
      hex += pair;
    }
    ops.insert(ops.end(), {"set", "HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\" + v.key,
                           v.name, v.dword ? "4" : "1", hex});
  }
  return ops;
}

// The script as the program carries it: UTF-16LE of its Windows-1252 text.
std::string Packed(const std::string& image, const std::string& ansi) {
  std::string units = "\xff\xfe";
  for (unsigned char c : ansi) {
    char16_t unit = Cp1252ToWide(c);
    units.push_back(static_cast<char>(unit & 0xff));
    units.push_back(static_cast<char>(unit >> 8));
  }
  return PackedImage(units, image);
}

std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\n' || (c >= 0x20 && c < 0x7f)) {
      out.push_back(static_cast<char>(c));
    } else {
      char code[8];
      snprintf(code, sizeof(code), "\\x%02x", c);
      out += code;
    }
  }
  return out;
}

// One side's run of a scenario. On the Wine side, wineFailed says that Wine
// itself failed: the read-back helper or the state's set-up exited with a
// failure, or the program's run ended in no exit code of the program's own
// (a crash, or a run killed at its time limit). The program's own codes, 1
// included, are results.
struct Result {
  int status;
  std::string tree;
  std::string err;  // what went to standard error, for the report
  bool wineFailed = false;
};

bool IsProgramsOwnExit(int status) {
  for (RunOutcome outcome :
       {kOutcomeAlreadyCurrent, kOutcomeUpdated, kOutcomePayloadUnreadable,
        kOutcomeVersionInvalid, kOutcomeInstallFailed})
    if (status == ExitStatusOf(outcome))
      return true;
  return false;
}

// Whether Wine itself failed on one side's run: the state's set-up or the
// read-back failed or lost its output, Wine's launcher could not start the
// program (its 1 is not the program's), or the run ended in no exit code of
// the program's own.
bool WineSideFailed(const Process& setUp, const Process& run,
                    const Process& readBack) {
  return setUp.status != 0 || !IsWholeDump(readBack) ||
         IsWineLaunchFailure(run) || !IsProgramsOwnExit(run.status);
}

Result RunOn(Runner* runner, const std::string& image,
             const GeneratedScript& script, int state,
             bool breakReadBack = false) {
  std::vector<std::string> roots(std::begin(kGeneratedRoots),
                                 std::end(kGeneratedRoots));
  if (!runner->UnderWine()) {
    runner->Prepare(StateScript(state, script.version));
    Process p = runner->RunBytes(Packed(image, script.text), "-ns -ne");
    return Result{p.status, runner->Dump(roots), p.err};
  }
  WineRunner* wine = static_cast<WineRunner*>(runner);
  Process setUp = wine->RegDump(StateOperations(state, script.version));
  Process p = runner->RunBytes(Packed(image, script.text), "-ns -ne");
  // A broken read-back is a real Wine-side failure: the helper refuses an
  // operation it does not know.
  std::vector<std::string> dump = {breakReadBack ? "no-such-operation" : "dump"};
  dump.insert(dump.end(), roots.begin(), roots.end());
  Process readBack = wine->RegDump(dump);
  Result result{p.status, CanonicalDump(readBack.out, roots),
                "state set-up: exit " + std::to_string(setUp.status) + "\n" +
                    setUp.err + "program: exit " + std::to_string(p.status) +
                    "\n" + p.err + "read-back: exit " +
                    std::to_string(readBack.status) + "\n" + readBack.err};
  result.wineFailed = WineSideFailed(setUp, p, readBack);
  return result;
}

// How one scenario ended.
enum class Verdict {
  kAgree,
  kAgreeAfterWineFailure,  // Wine failed, and the one rerun agreed
  kDisagree,               // both finished normally, with different results
  kWineFailedAgain,        // Wine failed, and failed again on the rerun
};

// Compares the native result with Wine's. Only a Wine failure runs the
// scenario under Wine once more; a disagreement is never rerun. first holds
// the failed attempt, when there was one.
Verdict Judge(const Result& native, const std::function<Result()>& runWine,
              Result* wine, Result* first) {
  *wine = runWine();
  bool retried = false;
  if (wine->wineFailed) {
    *first = *wine;
    *wine = runWine();
    retried = true;
    if (wine->wineFailed)
      return Verdict::kWineFailedAgain;
  }
  if (native.status != wine->status || native.tree != wine->tree)
    return Verdict::kDisagree;
  return retried ? Verdict::kAgreeAfterWineFailure : Verdict::kAgree;
}

int Count(const char* variable, int fallback) {
  const char* value = getenv(variable);
  return value && *value ? atoi(value) : fallback;
}

}  // namespace

// The rules of the verdict, with Wine's side injected: what is rerun, what
// fails the test, and what is reported apart.
TEST(Differential, RerunsOnlyWineFailures) {
  const Result native{1, "[tree]\n", ""};
  const Result same{1, "[tree]\n", ""};
  const Result other{1, "[other]\n", ""};
  Result helperFailed{1, "", "read-back: exit 1"};
  helperFailed.wineFailed = true;
  struct Case {
    const char* what;
    std::vector<Result> wine;  // the Wine side's runs, in turn
    Verdict verdict;
    size_t runs;
  };
  const Case cases[] = {
      {"agreement, exit 1 included", {same}, Verdict::kAgree, 1},
      {"a disagreement is never rerun", {other, same}, Verdict::kDisagree, 1},
      {"a Wine failure, then agreement", {helperFailed, same},
       Verdict::kAgreeAfterWineFailure, 2},
      {"a Wine failure, then a disagreement", {helperFailed, other},
       Verdict::kDisagree, 2},
      {"a Wine failure twice", {helperFailed, helperFailed},
       Verdict::kWineFailedAgain, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    size_t runs = 0;
    Result wine, first;
    Verdict verdict = Judge(native, [&] { return c.wine[runs++]; }, &wine,
                            &first);
    EXPECT_EQ(verdict, c.verdict);
    EXPECT_EQ(runs, c.runs);
  }
  // What counts as Wine's own failure on a run of the program.
  for (RunOutcome outcome :
       {kOutcomeAlreadyCurrent, kOutcomeUpdated, kOutcomePayloadUnreadable,
        kOutcomeVersionInvalid, kOutcomeInstallFailed})
    EXPECT_TRUE(IsProgramsOwnExit(ExitStatusOf(outcome))) << outcome;
  for (int status : {-1, 5, 127, 252})  // killed, crashed, not started
    EXPECT_FALSE(IsProgramsOwnExit(status)) << status;
  auto process = [](int status, const std::string& out, const std::string& err) {
    Process p;
    p.status = status;
    p.out = out;
    p.err = err;
    return p;
  };
  const Process fine = process(0, "", "");
  const Process dump = process(0, "[HKEY_CURRENT_USER\\x]\n; regdump done\n", "");
  struct Side {
    const char* what;
    Process setUp, run, readBack;
    bool wineFailed;
  };
  const Side sides[] = {
      {"the program's own 1", fine, process(1, "", ""), dump, false},
      {"Wine's launcher answered 1", fine,
       process(1, "", "Application could not be started, or no application "
                      "associated with the specified file.\nShellExecuteEx "
                      "failed: File not found.\n"),
       dump, true},
      {"a read-back whose output was lost", fine, fine,
       process(0, "", ""), true},
      {"a read-back cut short", fine, fine,
       process(0, "[HKEY_CURRENT_USER\\x]\n", ""), true},
      {"an empty tree, read back whole", fine, fine,
       process(0, "; regdump done\n", ""), false},
      {"a failed set-up", process(1, "", ""), fine, dump, true},
  };
  for (const Side& side : sides)
    EXPECT_EQ(WineSideFailed(side.setUp, side.run, side.readBack),
              side.wineFailed)
        << side.what;
}

TEST(Differential, AgainstWine) {
  if (!WineAvailable())
    GTEST_SKIP() << "no win64 build given";
  const int scripts = Count("DRVSETUP_DIFF_SCRIPTS", 20);
  const int firstSeed = Count("DRVSETUP_DIFF_SEED", 1);
  HostRunner native;
  WineRunner wine;
  const std::string nativeImage = ReadBinaryFile(native.Image());
  const std::string wineImage = ReadBinaryFile(wine.Image());
  int runs = 0, disagreements = 0, wineFailures = 0;
  int outcomes[256] = {};
  for (int seed = firstSeed; seed < firstSeed + scripts; ++seed) {
    GeneratedScript script = GenerateScript(static_cast<uint32_t>(seed));
    for (int state = 0; state < 5; ++state) {
      Result a = RunOn(&native, nativeImage, script, state);
      // The very first Wine run fails on purpose, so that every run shows
      // a Wine failure being rerun and reported apart.
      bool breakFirst = runs == 0;
      Result b, first;
      Verdict verdict = Judge(
          a,
          [&] {
            bool broken = breakFirst;
            breakFirst = false;
            return RunOn(&wine, wineImage, script, state, broken);
          },
          &b, &first);
      ++runs;
      ++outcomes[a.status & 0xff];
      const std::string scenario =
          "seed " + std::to_string(seed) + ", " + kStates[state] + " registry";
      if (verdict == Verdict::kAgree)
        continue;
      if (verdict == Verdict::kAgreeAfterWineFailure) {
        ++wineFailures;
        printf("  infrastructure failure, %s: Wine failed, and the rerun "
               "agreed; the failed run's log:\n%s\n",
               scenario.c_str(), first.err.c_str());
        continue;
      }
      ++disagreements;
      ADD_FAILURE() << scenario
                    << (verdict == Verdict::kWineFailedAgain
                            ? ": Wine failed twice"
                            : ": disagreement")
                    << ": native exit " << a.status << ", Wine exit "
                    << b.status << "\nscript:\n" << Printable(script.text)
                    << "\nnative tree:\n" << Printable(a.tree)
                    << "\nWine tree:\n" << Printable(b.tree)
                    << "\nWine's log:\n" << b.err;
      if (disagreements >= 5)
        return;
    }
  }
  EXPECT_GE(wineFailures, 1) << "the injected Wine failure was not rerun";
  printf("  %d runs (%d scripts from seed %d, 5 registries each): "
         "%d agree; exits 0: %d, 1: %d, -2: %d, -3: %d; %d infrastructure "
         "failure(s) rerun, one of them injected\n",
         runs, scripts, firstSeed, runs - disagreements,
         outcomes[ExitStatusOf(kOutcomeUpdated)],
         outcomes[ExitStatusOf(kOutcomeAlreadyCurrent)],
         outcomes[ExitStatusOf(kOutcomeVersionInvalid)],
         outcomes[ExitStatusOf(kOutcomeInstallFailed)], wineFailures);
}
