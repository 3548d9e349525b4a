// End-to-end scenarios of the packed program, shared by the runs of the
// native program against its hive and of the Windows program under Wine.
#pragma once

#include <string>
#include <vector>

#include "tests/test_support.h"

enum class Payload {
  kShipped,        // the sample database as packed by the build
  kCorruptTrailer, // a length far past the start of the file
  kNoVersionLine,  // the DriverVersion line renamed
  kFailingImport,  // the sample database with a hex value at its end
};

struct ScenarioRun {
  Payload payload;
  std::string args;  // under Wine every run is "-ns -ne"
  int exitStatus;    // the outcome's low byte
  std::string box;   // the message box text the native run shows, or ""
  bool unchanged;    // the registry is the same before and after this run
};

struct Check {
  enum Kind {
    kComplete,       // the whole sample database, DriverVersion 71
    kLikeHostRun,    // morvelan's tree equals an in-process run's
    kKeyPresent,
    kKeyAbsent,
    kValue,
  } kind;
  std::string path;  // under HKEY_LOCAL_MACHINE
  std::string name;
  StoredValue value;
};

struct Scenario {
  std::string name;
  std::string prepare;      // registry script applied to a fresh registry
  std::vector<ScenarioRun> runs;
  std::vector<Check> checks;
  std::string environment;  // NAME=VALUE for the native run, or ""
  bool underWine;           // Wine cannot switch family or shell library
};

const std::vector<Scenario>& Scenarios();

/// Scenarios print as their names in test listings.
inline void PrintTo(const Scenario& scenario, std::ostream* out) {
  *out << scenario.name;
}

/// The sample database's script bytes, changed for the payload kind.
std::string ScriptFor(Payload payload);

/// The subtree HKEY_LOCAL_MACHINE\SOFTWARE\morvelan of the stand-in in the
/// hive's text form, values sorted within each key.
std::string MorvelanTree();

/// Checks the stand-in against a scenario's expectations.
void CheckRegistry(const Check& check);

// Cases with key paths over 260 characters stay in the native tests: Wine's
// ANSI registry functions refuse such subkey strings (ERROR_MORE_DATA),
// which Windows itself does not.
