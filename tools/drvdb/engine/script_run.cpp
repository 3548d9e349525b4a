#include "tools/drvdb/engine/script_run.h"

#include <string.h>

#include "payload/payload.h"
#include "script/script_import.h"
#include "script/script_walk.h"
#include "script/version_probe.h"
#include "setup/setup_run.h"
#include "tools/drvdb/engine/program_file.h"

namespace {

// Headers and value lines, by the import's own walk, over the whole text
// wherever the import stopped.
void Walk(ScriptRun* run) {
  const char* base = run->text.c_str();
  const char* p = FirstHeader(base);
  while (*p == '[') {
    const char* close = HeaderClose(p);
    run->headers.push_back(RunHeader{
        static_cast<size_t>(p - base),
        close ? static_cast<size_t>(close - base) : std::string::npos});
    if (!close)
      return;
    p = SectionStart(close);
    const char* end;
    while (const char* line = NextValueLine(&p, &end))
      run->values.push_back(RunValue{static_cast<size_t>(line - base),
                                     static_cast<size_t>(end - base),
                                     run->headers.size() - 1});
  }
}

// Links each call to the header or value line that its name points into.
void LinkCalls(ScriptRun* run, const char* base) {
  const size_t size = run->text.size();
  std::vector<size_t> opens, starts;
  for (const RunHeader& h : run->headers)
    opens.push_back(h.open);
  for (const RunValue& v : run->values)
    starts.push_back(v.start);
  for (HostRegistryCall& call : run->calls) {
    const char* name = call.argument;
    call.argument = nullptr;  // the text it points into is freed after
    if (!name || name < base || name > base + size)
      continue;
    const size_t at = static_cast<size_t>(name - base);
    if (call.kind == HostRegistryCall::kCreateKey) {
      auto h = std::upper_bound(opens.begin(), opens.end(), at);
      if (h != opens.begin())
        run->headers[h - opens.begin() - 1].call = &call;
    } else if (call.kind == HostRegistryCall::kSetValue) {
      auto v = std::lower_bound(starts.begin(), starts.end(), at - 1);
      if (v != starts.end() && *v == at - 1)
        run->values[v - starts.begin()].call = &call;
    }
  }
}

// The value lines that the import parsed, parsed again by the program's
// own parse on a copy of the text.
void ParsePassed(ScriptRun* run) {
  if (!run->imported)
    return;
  std::string scratch = run->text;
  const ScriptStop saved = LastScriptStop;
  for (RunValue& v : run->values) {
    if (run->stopAt != std::string::npos && v.end >= run->stopAt &&
        run->fault != kFaultNone)
      break;
    scratch[v.end] = '\0';
    ScriptValue parsed;
    if (!ParseValueLine(&scratch[v.start], &parsed))
      break;
    v.passed = true;
    v.nameEnd = static_cast<size_t>(parsed.name - scratch.c_str()) +
                strlen(parsed.name);
    v.type = parsed.type;
    if (parsed.type == REG_DWORD) {
      v.digits = static_cast<size_t>(parsed.digits - scratch.c_str());
      v.digitsEnd = static_cast<size_t>(parsed.digitsEnd - scratch.c_str());
    }
  }
  LastScriptStop = saved;
}

}  // namespace

void RunScript(const std::string& shipped, ScriptRun* run) {
  HostRegistryTraceCalls(true);
  if (!DecodeAsTheProgram(shipped)) {
    run->outcome = kOutcomePayloadUnreadable;
    HostRegistryTraceCalls(false);
    return;
  }
  run->text = ScriptText;
  const char* base = ScriptText;
  run->lines = LineMap(run->text);
  // The program's own stages, as a silent install runs them.
  const char* versionLine;
  run->outcome = RunScriptStages(kSilentInstall, ScriptText, &versionLine);
  if (versionLine) {
    run->versionAt = static_cast<size_t>(versionLine - base);
    run->hasVersion = true;
    run->version = EmbeddedVersion;
    run->imported = run->outcome != kOutcomeAlreadyCurrent;
  }
  const ScriptStop stop = LastScriptStop;
  run->fault = stop.fault;
  if (stop.at)
    run->stopAt = static_cast<size_t>(stop.at - base);
  run->calls = HostRegistryCalls();
  Walk(run);
  LinkCalls(run, base);
  FreeRunBuffers();
  HostRegistryTraceCalls(false);
  ParsePassed(run);
}
