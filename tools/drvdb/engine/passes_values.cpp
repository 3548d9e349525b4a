// The passes over the values: values set twice, names the platforms refuse
// or garble, double words cut short, and how the version is written and
// installed.

#include <stdlib.h>
#include <string.h>

#include "script/script_scan.h"
#include "script/version_probe.h"
#include "setup/setup_run.h"
#include "tools/drvdb/engine/passes.h"
#include "tools/drvdb/engine/wording.h"

namespace {

// A double word of more than eight digits: the program keeps the last
// eight. What the cut digits change decides between an error and a
// warning.
void CheckLongDword(const Model& m, size_t at, const std::string& digits,
                    const std::string& what, Findings* found) {
  if (digits.size() <= 8)
    return;
  const std::string cut = digits.substr(0, digits.size() - 8);
  uint32_t kept = 0;
  AccumulateHex(digits.c_str(), &kept);
  const std::string count = std::to_string(digits.size());
  if (cut.find_first_not_of('0') == std::string::npos) {
    found->push_back(FindingAt(
        m, Kind::kDwordLeadingZeros, at,
        what + "dword:" + digits + " has " + count +
            " hex digits; the leading zeros change nothing, but the "
            "registry editor writes eight: dword:" + Hex8(kept)));
    return;
  }
  found->push_back(FindingAt(
      m, Kind::kDwordCut, at,
      what + "dword:" + digits + " has " + count +
          " hex digits, and the program keeps only the last eight: \"" + cut +
          "\" is cut, and machines get dword:" + Hex8(kept) + " (" +
          std::to_string(kept) + ")" + kGateVerdict + "that number"));
}

// One value line that the import passed in a key it made.
void CheckValueLine(const Model& m, size_t i, Findings* found) {
  const ScriptRun& run = m.run;
  const RunValue& v = run.values[i];
  const size_t line = m.Line(v.start);
  const std::string name = run.Name(v);
  if (m.firstSetter[i] != i) {
    const RunValue& first = run.values[m.firstSetter[i]];
    const std::string kept = run.Name(first);
    found->push_back(FindingAtLine(
        Kind::kValueSetTwice, line,
        "value " + Quoted(name) +
            " is set again: this replaces the value from line " +
            std::to_string(m.Line(first.start)) +
            (kept == name ? ""
                          : " (as " + Quoted(kept) +
                                ", the name the registry keeps)")));
  }
  if (name.find('\r') != std::string::npos)
    found->push_back(FindingAt(
        m, Kind::kLineBreakInName, v.start + 1 + name.find('\r'),
        "a carriage return stands in this value name" +
            std::string(kGateVerdict) +
            "a value with a line break in its name"));
  if (name.size() > 255)
    found->push_back(FindingAtLine(
        Kind::kLongName, line,
        "value name of " + std::to_string(name.size()) +
            " characters: Windows 95, 98 and Me take at most 255"));
  if (v.type == REG_DWORD)
    CheckLongDword(m, v.digits,
                   run.text.substr(v.digits, v.digitsEnd - v.digits), "",
                   found);
}

}  // namespace

// Values: set twice, line breaks in names, the platforms' limits, long
// double words. A value line that the import passed is set, whether its
// own call wrote it or a later one (the version is written last).
void CheckValues(const Model& m, Findings* found) {
  for (size_t i = 0; i < m.run.values.size(); ++i)
    if (m.firstSetter[i] != std::string::npos)
      CheckValueLine(m, i, found);
  for (size_t i = 0; i < m.headers.size(); ++i) {
    if (!m.headers[i].closed)
      continue;
    for (const auto& name : SplitPath(m.headers[i].keyPath))
      if (name.second.size() == 256)
        found->push_back(FindingAt(
            m, Kind::kLongName, m.run.headers[i].open + 1 + name.first,
            "key name of 256 characters: Windows takes at most 255 (Wine "
            "takes 256)"));
  }
}

// The version: how it is written, and whether the database key holds it
// after installing.
void CheckVersion(const Model& m, Findings* found) {
  const ScriptRun& run = m.run;
  if (!run.hasVersion)
    return;
  const size_t line = m.versionLine;
  const std::string& written = m.versionText;
  const std::string digits = written.substr(strlen(kVersionType));
  if (digits.size() < 8) {
    std::string message = written + " is hexadecimal: version " +
                          std::to_string(run.version);
    if (digits.find_first_not_of("0123456789") == std::string::npos)
      message += "; for " + digits + " write dword:" +
                 Hex8(static_cast<uint32_t>(strtoul(digits.c_str(), nullptr,
                                                    10)));
    else
      message += "; write all eight digits: dword:" + Hex8(run.version);
    found->push_back(FindingAtLine(Kind::kShortVersion, line, message));
  }
  bool passed = false;
  for (const RunValue& v : run.values)
    passed = passed || (v.passed && m.Line(v.start) == line);
  if (!passed)
    CheckLongDword(m, m.versionDigits, digits, "the version line's ", found);
  // A path through Wow6432Node has its own finding, with the export that
  // avoids it.
  if (run.outcome != kOutcomeUpdated || m.wowHeaders)
    return;
  if (!m.installed) {
    found->push_back(FindingAtLine(
        Kind::kVersionNotInstalled, line,
        "after installing, the program finds no installed version in "
        "HKEY_LOCAL_MACHINE\\Software\\morvelan\\DRIVER2: every run will "
        "install again"));
  } else if (m.installedVersion != run.version) {
    const uint32_t installed = m.installedVersion;
    found->push_back(FindingAtLine(
        Kind::kVersionNotInstalled, line,
        "the program reads version " + std::to_string(run.version) +
            " here, but after installing the database key holds " +
            std::to_string(installed) + ", from a later line" +
            (installed < run.version
                 ? ": every run will install again"
                 : ": a release must exceed " + std::to_string(installed) +
                       " to update the machines")));
  }
}
