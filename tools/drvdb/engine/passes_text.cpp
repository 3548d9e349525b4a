// Where the program's run fails, and the passes over the text: what the
// code page changes, line breaks inside key names, and the lines the import
// skips that look meant.

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "script/script_scan.h"
#include "script/version_probe.h"
#include "setup/setup_run.h"
#include "tools/drvdb/engine/passes.h"
#include "tools/drvdb/engine/wording.h"

namespace {

// The run's stop at an offset of the program's text.
RunStop StopAt(const Model& m, size_t offset, std::string message) {
  const LineMap& lines = m.run.lines;
  const bool empty = lines.Lines() == 0;
  return RunStop{empty ? 1 : lines.LineOf(offset),
                 empty ? 1 : lines.ColumnOf(offset), std::move(message)};
}

// Where a run without a version line could have found one: the first line
// that begins with the version's name in quotes, or the database key's
// header.
RunStop NoVersion(const Model& m) {
  const ScriptRun& run = m.run;
  for (size_t line = 1; line <= run.lines.Lines(); ++line) {
    const size_t start = run.lines.starts[line - 1];
    const char* p = SkipBlanks(run.text.c_str() + start);
    if (!MatchKeyword(p, kVersionName))
      continue;
    const char* value = SkipBlanks(p + strlen(kVersionName));
    if (*value == '=')
      value = SkipBlanks(value + 1);
    return StopAt(
        m, static_cast<size_t>(p - run.text.c_str()),
        *value == '"'
            ? "the version is a string here: the program reads the version "
              "only from \"DriverVersion\"=dword: and hex digits, finds "
              "none, and fails with -2"
            : "this is not the version line that the program reads: "
              "\"DriverVersion\"=dword: and hex digits, with no blanks "
              "between them; it finds none and fails with -2");
  }
  for (size_t i = 0; i < m.headers.size(); ++i)
    if (m.headers[i].key == FoldedDatabaseKey())
      return StopAt(m, run.headers[i].open,
                    "the database key has no \"DriverVersion\"=dword: line: "
                    "the program cannot tell the database's version");
  return StopAt(m, 0,
                "no \"DriverVersion\"=dword: line: the program cannot tell "
                "the database's version");
}

}  // namespace

bool ReportStop(const Model& m, RunStop* stop) {
  const ScriptRun& run = m.run;
  if (run.outcome >= 0)
    return false;
  if (run.outcome == kOutcomePayloadUnreadable) {
    *stop = StopAt(m, 0, "the program cannot decode the script");
  } else if (run.fault == kFaultNoVersionLine ||
             run.stopAt == std::string::npos) {
    *stop = NoVersion(m);
  } else {
    LONG createResult = ERROR_SUCCESS;
    const size_t header = m.HeaderAt(run.stopAt);
    if (header != std::string::npos && run.headers[header].call)
      createResult = run.headers[header].call->result;
    *stop = StopAt(m, run.stopAt,
                   FaultMessage(run.fault, run.text, run.stopAt, createResult));
  }
  return true;
}

void CheckCharacters(const Model& m, Findings* found) {
  const std::u32string& source = m.script.text;
  const std::string& text = m.run.text;
  size_t lastLine = 0;
  for (size_t i = 0; i < text.size() && i < source.size(); ++i) {
    if (text[i] != '?' || source[i] == '?' || m.Line(i) == lastLine)
      continue;  // one report a line is enough
    lastLine = m.Line(i);
    char code[16];
    snprintf(code, sizeof(code), "U+%04X", static_cast<unsigned>(source[i]));
    found->push_back(FindingAt(
        m, Kind::kNotInCodePage, i,
        std::string("character ") + code +
            " is not in the ANSI code page (Windows-1252): the program "
            "writes '?' instead"));
  }
  if (text.size() < source.size()) {
    size_t after = 0;
    for (size_t i = text.size(); i < source.size(); ++i)
      after += source[i] == '\n';
    const LineMap& lines = m.run.lines;
    found->push_back(Finding{
        Kind::kNulEndsScript, lines.Lines() ? lines.Lines() : 1,
        text.size() ? lines.ColumnOf(text.size() - 1) + 1 : 1,
        "a NUL character ends the script for the program: the " +
            std::to_string(after) + " line(s) after it are never read"});
  }
}

// A header whose ']' stands on a later line swallows the lines in between;
// a lone CR in a header stays in the name.
void CheckLineBreaksInKeys(const Model& m, Findings* found) {
  for (size_t i = 0; i < m.headers.size(); ++i) {
    const ModelHeader& h = m.headers[i];
    const size_t open = m.run.headers[i].open;
    if (!h.closed)
      continue;
    if (h.lastLine != h.line) {
      found->push_back(FindingAt(
          m, Kind::kMultilineHeader, open,
          "this header's ']' is on line " + std::to_string(h.lastLine) +
              ": the " + std::to_string(h.lastLine - h.line) +
              " line break(s) in between and the lines they end become "
              "part of the key name" + kGateVerdict +
              "a key with line breaks in its name"));
    } else if (h.keyPath.find('\r') != std::string::npos) {
      found->push_back(FindingAt(
          m, Kind::kLineBreakInName, open + 1 + h.keyPath.find('\r'),
          "a carriage return stands in this key name" +
              std::string(kGateVerdict) +
              "a key with a line break in its name"));
    }
  }
}

// Value lines before the first header, default values, headers lacking
// their '['.
void CheckIgnoredLines(const Model& m, Findings* found) {
  const ScriptRun& run = m.run;
  const size_t firstHeaderLine =
      m.headers.empty() ? run.lines.Lines() + 1 : m.headers[0].line;
  size_t section = 0;  // the section a line is in
  for (size_t line = 1; line <= run.lines.Lines(); ++line) {
    if (m.lineHeader[line]) {
      section = m.lineHeader[line] - 1;
      continue;
    }
    const size_t start = run.lines.starts[line - 1];
    const char* first = SkipBlanks(run.text.c_str() + start);
    if (line < firstHeaderLine) {
      if (*first == '"')
        found->push_back(FindingAtLine(
            Kind::kValueBeforeHeader, line,
            line == m.versionLine
                ? "the version line stands before any section header: the "
                  "probe reads it, but the import never writes it"
                : "value line before the first section header: ignored"));
      continue;
    }
    if (*first == '@') {
      found->push_back(FindingAtLine(
          Kind::kDefaultValueLine, line,
          "default-value line ('@=') ignored: to set a key's default value "
          "write \"\"="));
      continue;
    }
    const char* lineEnd = NextLine(first);
    if (FoldedKey(std::string(first, lineEnd)).empty() ||
        std::find(first, lineEnd, ']') == lineEnd)
      continue;
    found->push_back(FindingAt(
        m, Kind::kMissingBracket,
        static_cast<size_t>(first - run.text.c_str()),
        "looks like a section header but lacks its '[': the program ignores "
        "this line, and the values after it land in [" +
            m.KeyShown(section) + "]" + kGateVerdict +
            "them into that key"));
  }
}
