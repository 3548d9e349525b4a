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

#include <string>
#include <vector>

#include "payload/payload_io_host.h"
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
    char16_t unit = HostAnsiToWide(c);
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

struct Result {
  int status;
  std::string tree;
  std::string err;  // the program's standard error
};

Result RunOn(Runner* runner, const std::string& image,
             const GeneratedScript& script, int state) {
  std::vector<std::string> roots(std::begin(kGeneratedRoots),
                                 std::end(kGeneratedRoots));
  if (runner->UnderWine()) {
    Process p = static_cast<WineRunner*>(runner)->RegDump(
        StateOperations(state, script.version));
    EXPECT_EQ(p.status, 0) << p.err;
  } else {
    runner->Prepare(StateScript(state, script.version));
  }
  Process p = runner->RunBytes(Packed(image, script.text), "-ns -ne");
  return Result{p.status, runner->Dump(roots), p.err};
}

int Count(const char* variable, int fallback) {
  const char* value = getenv(variable);
  return value && *value ? atoi(value) : fallback;
}

}  // namespace

TEST(Differential, AgainstWine) {
  if (!WineAvailable())
    GTEST_SKIP() << "no win64 build given";
  const int scripts = Count("DRVSETUP_DIFF_SCRIPTS", 20);
  const int firstSeed = Count("DRVSETUP_DIFF_SEED", 1);
  HostRunner native;
  WineRunner wine;
  const std::string nativeImage = ReadBinaryFile(native.Image());
  const std::string wineImage = ReadBinaryFile(wine.Image());
  int runs = 0, disagreements = 0;
  int outcomes[256] = {};
  for (int seed = firstSeed; seed < firstSeed + scripts; ++seed) {
    GeneratedScript script = GenerateScript(static_cast<uint32_t>(seed));
    for (int state = 0; state < 5; ++state) {
      Result a = RunOn(&native, nativeImage, script, state);
      Result b = RunOn(&wine, wineImage, script, state);
      ++runs;
      ++outcomes[a.status & 0xff];
      if (a.status == b.status && a.tree == b.tree)
        continue;
      ++disagreements;
      ADD_FAILURE() << "seed " << seed << ", " << kStates[state]
                    << " registry: native exit " << a.status << ", Wine exit "
                    << b.status << "\nscript:\n" << Printable(script.text)
                    << "\nnative tree:\n" << Printable(a.tree)
                    << "\nWine tree:\n" << Printable(b.tree)
                    << "\nWine's standard error:\n" << b.err;
      if (disagreements >= 5)
        return;
    }
  }
  printf("  %d runs (%d scripts from seed %d, 5 registries each): "
         "%d agree; exits 0: %d, 1: %d, -2: %d, -3: %d\n",
         runs, scripts, firstSeed, runs - disagreements, outcomes[0],
         outcomes[1], outcomes[254], outcomes[253]);
}
