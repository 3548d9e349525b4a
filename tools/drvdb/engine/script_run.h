// One install of a script by the program's own code on the stand-in
// registry, mapped back onto the text: its headers and value lines as the
// import's walk finds them, and each registry call linked to the header or
// value line whose name it was given (the names point into the text).
// drvdb's check and diff read what the program did from here.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "platform/host/trace.h"
#include "script/script_fault.h"

/// Lines of the text as the program sees it.
struct LineMap {
  std::vector<size_t> starts;  // offset of each line's first character
  size_t size = 0;

  LineMap() = default;
  explicit LineMap(const std::string& text) : size(text.size()) {
    starts.push_back(0);
    for (size_t i = 0; i < text.size(); ++i)
      if (text[i] == '\n' && i + 1 < text.size())
        starts.push_back(i + 1);
  }
  size_t Lines() const { return size == 0 ? 0 : starts.size(); }
  size_t LineOf(size_t offset) const {
    return static_cast<size_t>(
        std::upper_bound(starts.begin(), starts.end(), offset) -
        starts.begin());
  }
  size_t ColumnOf(size_t offset) const {
    return offset - starts[LineOf(offset) - 1] + 1;
  }
};

/// A section header: where its brackets stand, and the create call the
/// import made for it.
struct RunHeader {
  size_t open;   // the '['
  size_t close;  // the ']', or npos when there is none
  const HostRegistryCall* call = nullptr;
};

/// A value line of a section, as the import parsed it.
struct RunValue {
  size_t start;   // its opening quote
  size_t end;     // where the line ends
  size_t header;  // its section's index in the headers
  bool passed = false;  // the import parsed it: it lies before the stop
  const HostRegistryCall* call = nullptr;  // a set call given its name
  // The parse, for a line that was passed:
  size_t nameEnd = 0;  // the name's closing quote
  DWORD type = 0;
  size_t digits = 0, digitsEnd = 0;  // a double word's digits
};

/// Calls point into their run's own vector: a run is filled where it
/// stands and never copied.
struct ScriptRun {
  ScriptRun() = default;
  ScriptRun(const ScriptRun&) = delete;
  ScriptRun& operator=(const ScriptRun&) = delete;

  std::string text;  // as the program decoded it, before the import's edits
  LineMap lines;
  int outcome = -1;
  bool hasVersion = false;
  uint32_t version = 0;
  size_t versionAt = std::string::npos;  // the version line the probe read
  bool imported = false;                 // the import ran
  size_t stopAt = std::string::npos;  // where the probe or import stopped
  ScriptFault fault = kFaultNone;
  std::vector<RunHeader> headers;
  std::vector<RunValue> values;
  std::vector<HostRegistryCall> calls;  // every create and set call, in order

  std::string Name(const RunValue& v) const {
    return text.substr(v.start + 1, v.nameEnd - v.start - 1);
  }
  /// A header's key path as written, between its brackets.
  std::string KeyPath(const RunHeader& h) const {
    size_t end = h.close == std::string::npos ? text.size() : h.close;
    return text.substr(h.open + 1, end - h.open - 1);
  }
};

/// Runs the program's payload decoding, version probe and update sequence
/// on shipped (a script's bytes as the program carries them), against the
/// stand-in registry as it stands, into a fresh run.
void RunScript(const std::string& shipped, ScriptRun* run);
