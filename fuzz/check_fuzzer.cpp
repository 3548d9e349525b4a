// drvdb's check on arbitrary scripts (bytes of the ANSI code page, carried
// as the program carries them): it never crashes, it predicts the program's
// own outcome, and for a failing run it names the line where the program's
// import stops, counted here from the stop's offset in the decoded text.
// With every kind of finding allowed, it fails exactly when the run does.

#include <algorithm>
#include <string>

#include "fuzz/fuzz_support.h"
#include "payload/payload.h"
#include "payload/payload_io_host.h"
#include "platform/host/cp1252.h"
#include "script/script_fault.h"
#include "setup/setup_run.h"
#include "tools/drvdb/engine/check.h"
#include "tools/drvdb/engine/program_file.h"
#include "tools/drvdb/engine/gate.h"
#include "tools/drvdb/engine/source.h"

namespace {

// The program's own run on a fresh machine: its outcome, and the line
// where the probe or the import stopped (0 for the text as a whole).
int RunTheProgram(const std::string& shipped, size_t* stopLine) {
  ResetMachine();
  FUZZ_CHECK(DecodeAsTheProgram(shipped));
  const std::string decoded = ScriptText;  // the import edits its text
  const char* versionLine;
  const int outcome = RunScriptStages(kSilentInstall, ScriptText, &versionLine);
  *stopLine = 0;
  if (LastScriptStop.at) {
    const size_t at = static_cast<size_t>(LastScriptStop.at - ScriptText);
    *stopLine = 1 + static_cast<size_t>(std::count(
                        decoded.begin(), decoded.begin() + at, '\n'));
  }
  FreeRunBuffers();
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string shipped = "\xff\xfe";
  for (size_t i = 0; i < size; ++i) {
    char16_t unit = Cp1252ToWide(data[i]);
    shipped.push_back(static_cast<char>(unit & 0xff));
    shipped.push_back(static_cast<char>(unit >> 8));
  }
  size_t stopLine;
  const int outcome = RunTheProgram(shipped, &stopLine);

  SourceScript script;
  LoadError error;
  FUZZ_CHECK(LoadScript("fuzz.reg", shipped, &script, &error));
  const CheckReport report = CheckScript(script);
  FUZZ_CHECK(report.outcome == outcome);
  Gate everything;
  for (const KindRow& kind : kKinds)
    everything.allowed.insert(kind.kind);
  FUZZ_CHECK(Fails(report, everything) == (outcome < 0));
  for (const Finding& f : report.findings)
    FUZZ_CHECK(f.line >= 1 && f.column >= 1);
  FUZZ_CHECK(report.stopped == (outcome < 0));
  if (report.stopped)
    FUZZ_CHECK(report.stop.line >= 1 && report.stop.column >= 1 &&
               (stopLine == 0 || report.stop.line == stopLine));
  EndInput();
  return 0;
}
