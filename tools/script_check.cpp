#include "tools/script_check.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>

#include "payload/payload_io_host.h"
#include "platform/host/cp1252.h"
#include "platform/host/controls.h"
#include "platform/host/hive_text.h"
#include "platform/host/trace.h"
#include "script/database.h"
#include "script/script_import.h"
#include "script/script_scan.h"
#include "setup/setup_run.h"
#include "tools/script_run.h"
#include "tools/utf16.h"

const std::vector<FindingKind> kFindingKinds = {
    {"multiline-header", true,
     "a header whose ']' stands on a later line: the line breaks and the "
     "lines in between become part of the key name"},
    {"line-break-in-name", true,
     "a carriage return inside a key or value name"},
    {"missing-bracket", true,
     "a line that looks like a section header but lacks its '[': the "
     "program ignores it, and the values after it land in the key before "
     "it"},
    {"dword-cut", true,
     "a dword of more than eight hex digits: the program keeps only the "
     "last eight"},
    {"value-before-header", false,
     "value lines before the first section header, which the import skips"},
    {"default-value-line", false, "'@=' lines, which the import ignores"},
    {"repeated-header", false,
     "a key opened by more than one header: their values merge"},
    {"letter-case", false,
     "spellings of one key that differ only in letter case: the registry "
     "keeps the first"},
    {"value-set-twice", false, "a value set more than once: the last wins"},
    {"not-in-code-page", false,
     "characters that the ANSI code page lacks: the program writes '?'"},
    {"nul-ends-script", false,
     "a NUL character, after which the program reads nothing"},
    {"long-name", false, "names beyond what a supported registry takes"},
    {"outside-database", false,
     "keys outside HKEY_LOCAL_MACHINE\\Software\\morvelan\\DRIVER2, which no "
     "update ever removes"},
    {"wow6432node", false,
     "paths through Wow6432Node, the 64-bit registry editor's name for the "
     "32-bit view that the product writes"},
    {"short-version", false,
     "a version written with fewer than eight hex digits"},
    {"dword-leading-zeros", false,
     "a dword of more than eight hex digits, the extra ones leading zeros"},
    {"version-not-installed", false,
     "after installing, the database key does not hold the version that "
     "the program reads"},
    {"version-jump", false,
     "pack --newer-than: the version jumps by more than 100"},
};

namespace {

const uint32_t kMaxScriptBytes = 0xffffffffu - 8;

// ---- The file as written -----------------------------------------------------

// UTF-16LE after the byte-order mark; pairs become one character and a lone
// surrogate stays one. A last odd byte, which the program ignores, is
// dropped.
std::u32string DecodeUtf16(const std::string& bytes) {
  std::u32string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    char32_t unit = static_cast<unsigned char>(bytes[i]) |
                    static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
      char32_t next = static_cast<unsigned char>(bytes[i + 2]) |
                      static_cast<unsigned char>(bytes[i + 3]) << 8;
      if (next >= 0xDC00 && next <= 0xDFFF) {
        text.push_back(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
        i += 2;
        continue;
      }
    }
    text.push_back(unit);
  }
  return text;
}

// Strict UTF-8; on failure, where the bad byte is.
bool DecodeUtf8(const std::string& bytes, size_t start, std::u32string* text,
                LoadError* error) {
  error->line = error->column = 1;
  for (size_t i = start; i < bytes.size();) {
    char32_t point;
    size_t length = ReadUtf8(bytes, i, &point);
    if (!length) {
      char byte[8];
      snprintf(byte, sizeof(byte), "0x%02X",
               static_cast<unsigned char>(bytes[i]));
      error->message = std::string("byte ") + byte +
                       " is not UTF-8, and the file has no UTF-16LE "
                       "byte-order mark: save the script as UTF-8 or as "
                       "UTF-16LE (the registry editor's Unicode export)";
      return false;
    }
    text->push_back(point);
    error->column = point == '\n' ? 1 : error->column + 1;
    error->line += point == '\n';
    i += length;
  }
  return true;
}

// The program's text is ANSI; findings show it in UTF-8. With showControls,
// control characters become their Unicode pictures, which no ANSI name can
// hold: a line feed in a name cannot be mistaken for a backslash and an n.
std::string AnsiToUtf8(const std::string& ansi, bool showControls = false) {
  std::u32string wide;
  for (unsigned char c : ansi)
    wide.push_back(!showControls ? Cp1252ToWide(c)
                   : c < 0x20    ? 0x2400 + c
                   : c == 0x7f   ? 0x2421
                                 : Cp1252ToWide(c));
  return ToUtf8(wide);
}

std::string VisibleName(const std::string& ansi) {
  return AnsiToUtf8(ansi, true);
}

std::string Quoted(const std::string& ansi) {
  return "\"" + AnsiToUtf8(ansi) + "\"";
}

std::string Hex8(uint32_t value) {
  char text[16];
  snprintf(text, sizeof(text), "%08x", value);
  return text;
}

std::string FaultMessage(ScriptFault fault, const std::string& text,
                         size_t at, LONG createResult) {
  std::string rest = text.substr(at, 40);
  rest = rest.substr(0, rest.find_first_of("\r\n"));
  switch (fault) {
    case kFaultNone:
    case kFaultNoVersionLine:
      break;
    case kFaultVersionNoDigit:
      return "hex digits must follow \"DriverVersion\"=dword: directly";
    case kFaultVersionTrailing:
      return "nothing may follow the version's digits on its line, not even "
             "a blank";
    case kFaultHeaderUnclosed:
      return "section header without a closing ']' anywhere after it";
    case kFaultUnknownRoot:
      if (!rest.empty() && rest[0] == '-')
        return "deletion headers ([-KEY]) are not supported";
      return "key path is not under HKEY_LOCAL_MACHINE\\, "
             "HKEY_CURRENT_USER\\ or HKEY_CLASSES_ROOT\\";
    case kFaultKeyNotCreated:
      if (createResult == ERROR_ACCESS_DENIED)
        return "the registry refuses this key (no new key may go directly "
               "under HKEY_LOCAL_MACHINE)";
      if (createResult == ERROR_BAD_PATHNAME)
        return "the registry refuses this key: its path begins with a "
               "backslash after the root";
      return "the registry refuses this key: a name over 256 characters, "
             "more than 32 new levels at once or more than 512 in all";
    case kFaultNameUnclosed:
      return "value name without its closing quote";
    case kFaultNoEquals:
      return "expected '=' after the value name";
    case kFaultStringEmpty:
      return "the line ends right after the string's opening quote";
    case kFaultStringUnclosed:
      return "string value without its closing quote (a backslash makes the "
             "next character literal, a quote included)";
    case kFaultStringTrailing:
      return "only blanks may follow a string value's closing quote";
    case kFaultUnsupportedType: {
      std::string type = rest.substr(0, rest.find(':') == std::string::npos
                                            ? rest.size()
                                            : rest.find(':') + 1);
      return "unsupported value type " + Quoted(type) +
             ": only \"text\" and dword: values can be installed";
    }
    case kFaultDwordNoDigit:
      return "hex digits must follow dword: directly";
    case kFaultDwordTrailing:
      return "only blanks may follow a dword value's digits";
    case kFaultValueNotSet:
      return "the registry refuses this value (a name over 16,383 "
             "characters)";
  }
  return "unknown failure";
}

// The names of a key path, as the registry splits it (empty names are
// skipped), each with its offset in the path.
std::vector<std::pair<size_t, std::string>> SplitPath(const std::string& path) {
  std::vector<std::pair<size_t, std::string>> names;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t end = path.find('\\', pos);
    if (end == std::string::npos)
      end = path.size();
    if (end > pos)
      names.push_back({pos, path.substr(pos, end - pos)});
    pos = end + 1;
  }
  return names;
}

// The key a key path names, folded as the registry compares it; empty for
// a path under none of the importer's roots.
std::string FoldedKey(const std::string& keyPath) {
  HKEY root;
  const char* subKey;
  if (!SplitRoot(keyPath.c_str(), &root, &subKey))
    return "";
  return HostFoldName(HostKeyPath(root, subKey));
}

const std::string& DatabaseKey() {
  static const std::string key =
      HostFoldName(HostKeyPath(HKEY_LOCAL_MACHINE, kDatabaseKeyPath));
  return key;
}

// ---- The model -----------------------------------------------------------------

const char kGateVerdict[] =
    ": the program would install this script, exit 0, and write ";

// What every analysis reads, and where it writes its findings.
struct Model {
  const SourceScript& script;
  const ScriptRun& run;
  CheckReport* report;

  size_t Line(size_t offset) const { return run.lines.LineOf(offset); }
  // The key a header opened, as the registry keeps it (its first spelling),
  // shown in UTF-8; as written when the import never reached the header.
  std::string KeyShown(const RunHeader& h) const {
    return VisibleName(h.call && h.call->result == ERROR_SUCCESS
                           ? h.call->stored
                           : run.KeyPath(h));
  }
  void Add(Finding::Severity severity, size_t offset, std::string message,
           const char* kind) {
    const bool empty = run.lines.Lines() == 0;
    report->findings.push_back(
        Finding{severity, empty ? 1 : run.lines.LineOf(offset),
                empty ? 1 : run.lines.ColumnOf(offset), std::move(message),
                kind});
  }
  void Error(size_t offset, std::string message, const char* kind) {
    Add(Finding::kError, offset, std::move(message), kind);
  }
  void Warn(size_t offset, std::string message, const char* kind) {
    Add(Finding::kWarning, offset, std::move(message), kind);
  }
  void WarnAtLine(size_t line, std::string message, const char* kind) {
    report->findings.push_back(
        Finding{Finding::kWarning, line, 1, std::move(message), kind});
  }
};

// The header whose section (or key path) holds offset, or npos.
size_t HeaderAt(const ScriptRun& run, size_t offset) {
  size_t found = std::string::npos;
  for (size_t i = 0; i < run.headers.size() && run.headers[i].open <= offset;
       ++i)
    found = i;
  return found;
}

// ---- The analyses ----------------------------------------------------------------

// Where a run without a version line could have found one: the first line
// that begins with "DriverVersion" in quotes, or the database key's header.
void ReportNoVersion(Model* m) {
  const ScriptRun& run = m->run;
  for (size_t line = 1; line <= run.lines.Lines(); ++line) {
    const size_t start = run.lines.starts[line - 1];
    const char* p = SkipBlanks(run.text.c_str() + start);
    if (!MatchKeyword(p, "\"DriverVersion\""))
      continue;
    const char* value = SkipBlanks(p + 15);
    if (*value == '=')
      value = SkipBlanks(value + 1);
    m->Error(static_cast<size_t>(p - run.text.c_str()),
             *value == '"'
                 ? "the version is a string here: the program reads the "
                   "version only from \"DriverVersion\"=dword: and hex "
                   "digits, finds none, and fails with -2"
                 : "this is not the version line that the program reads: "
                   "\"DriverVersion\"=dword: and hex digits, with no blanks "
                   "between them; it finds none and fails with -2",
             nullptr);
    return;
  }
  for (const RunHeader& h : run.headers) {
    if (FoldedKey(run.KeyPath(h)) == DatabaseKey()) {
      m->Error(h.open,
               "the database key has no \"DriverVersion\"=dword: line: the "
               "program cannot tell the database's version",
               nullptr);
      return;
    }
  }
  m->Error(0,
           "no \"DriverVersion\"=dword: line: the program cannot tell the "
           "database's version",
           nullptr);
}

// The error that decides the run, where the program stopped.
void ReportStop(Model* m) {
  const ScriptRun& run = m->run;
  if (m->report->outcome >= 0)
    return;
  if (m->report->outcome == kOutcomePayloadUnreadable)
    return m->Error(0, "the program cannot decode the script", nullptr);
  if (run.fault == kFaultNoVersionLine || run.stopAt == std::string::npos)
    return ReportNoVersion(m);
  LONG createResult = ERROR_SUCCESS;
  size_t header = HeaderAt(run, run.stopAt);
  if (header != std::string::npos && run.headers[header].call)
    createResult = run.headers[header].call->result;
  m->Error(run.stopAt,
           FaultMessage(run.fault, run.text, run.stopAt, createResult),
           nullptr);
}

// Characters that the code page lacks, and a NUL that ends the text early.
void CheckCharacters(Model* m) {
  const std::u32string& source = m->script.text;
  const std::string& text = m->run.text;
  size_t lastLine = 0;
  for (size_t i = 0; i < text.size() && i < source.size(); ++i) {
    if (text[i] != '?' || source[i] == '?' || m->Line(i) == lastLine)
      continue;  // one report a line is enough
    lastLine = m->Line(i);
    char code[16];
    snprintf(code, sizeof(code), "U+%04X", static_cast<unsigned>(source[i]));
    m->Warn(i,
            std::string("character ") + code +
                " is not in the ANSI code page (Windows-1252): the program "
                "writes '?' instead",
            "not-in-code-page");
  }
  if (text.size() < source.size()) {
    size_t after = 0;
    for (size_t i = text.size(); i < source.size(); ++i)
      after += source[i] == '\n';
    const LineMap& lines = m->run.lines;
    m->report->findings.push_back(Finding{
        Finding::kWarning, lines.Lines() ? lines.Lines() : 1,
        text.size() ? lines.ColumnOf(text.size() - 1) + 1 : 1,
        "a NUL character ends the script for the program: the " +
            std::to_string(after) + " line(s) after it are never read",
        "nul-ends-script"});
  }
}

// Line breaks in key names: a header whose ']' stands on a later line
// swallows the lines in between; a lone CR in a header stays in the name.
void CheckLineBreaksInKeys(Model* m) {
  for (const RunHeader& h : m->run.headers) {
    if (h.close == std::string::npos)
      continue;
    size_t first = m->Line(h.open), last = m->Line(h.close);
    if (last != first) {
      m->Error(h.open,
               "this header's ']' is on line " + std::to_string(last) +
                   ": the " + std::to_string(last - first) +
                   " line break(s) in between and the lines they end become "
                   "part of the key name" + kGateVerdict +
                   "a key with line breaks in its name",
               "multiline-header");
    } else if (m->run.KeyPath(h).find('\r') != std::string::npos) {
      m->Error(h.open + 1 + m->run.KeyPath(h).find('\r'),
               "a carriage return stands in this key name" +
                   std::string(kGateVerdict) +
                   "a key with a line break in its name",
               "line-break-in-name");
    }
  }
}

// Lines the import ignores that look meant: value lines before the first
// header, default values, headers lacking their '['.
void CheckIgnoredLines(Model* m) {
  const ScriptRun& run = m->run;
  std::vector<size_t> read(run.lines.Lines() + 2, 0);  // 0, or header + 1
  for (size_t i = 0; i < run.headers.size(); ++i) {
    const RunHeader& h = run.headers[i];
    size_t last =
        h.close == std::string::npos ? run.lines.Lines() : m->Line(h.close);
    for (size_t l = m->Line(h.open); l <= last; ++l)
      read[l] = i + 1;
  }
  for (const RunValue& v : run.values)
    read[m->Line(v.start)] = v.header + 1;
  const size_t versionLine =
      run.hasVersion ? m->Line(run.versionAt) : std::string::npos;
  size_t firstHeaderLine = run.headers.empty() ? run.lines.Lines() + 1
                                               : m->Line(run.headers[0].open);
  size_t section = 0;  // the section a line is in
  for (size_t line = 1; line <= run.lines.Lines(); ++line) {
    if (read[line]) {
      section = read[line] - 1;
      continue;
    }
    const size_t start = run.lines.starts[line - 1];
    const char* first = SkipBlanks(run.text.c_str() + start);
    if (line < firstHeaderLine) {
      if (*first == '"')
        m->WarnAtLine(line,
                      line == versionLine
                          ? "the version line stands before any section "
                            "header: the probe reads it, but the import "
                            "never writes it"
                          : "value line before the first section header: "
                            "ignored",
                      "value-before-header");
      continue;
    }
    if (*first == '@') {
      m->WarnAtLine(line,
                    "default-value line ('@=') ignored: to set a key's "
                    "default value write \"\"=",
                    "default-value-line");
      continue;
    }
    const char* lineEnd = NextLine(first);
    if (FoldedKey(std::string(first, lineEnd)).empty() ||
        std::find(first, lineEnd, ']') == lineEnd)
      continue;
    m->Error(static_cast<size_t>(first - run.text.c_str()),
             "looks like a section header but lacks its '[': the program "
             "ignores this line, and the values after it land in [" +
                 m->KeyShown(run.headers[section]) + "]" + kGateVerdict +
                 "them into that key",
             "missing-bracket");
  }
}

// Spellings of one key that differ only in letter case among the script's
// own headers (not against keys that every machine has): one finding for
// each name spelt differently, counting the later headers that repeat it.
void CheckSpellings(Model* m, const std::vector<size_t>& firstHeaders) {
  const ScriptRun& run = m->run;
  // Folded prefix -> its first spelling, the header that wrote it, its
  // finding and how many later headers repeat the difference.
  struct Spelling {
    std::string name;
    size_t header;
    size_t finding = SIZE_MAX;
    size_t more = 0;
  };
  std::map<std::string, Spelling> spellings;
  for (size_t i : firstHeaders) {
    const RunHeader& h = run.headers[i];
    std::string prefix;
    for (const auto& name : SplitPath(run.KeyPath(h))) {
      prefix += "\\" + HostFoldName(name.second);
      auto spelled = spellings.emplace(prefix, Spelling{name.second, i});
      Spelling& first = spelled.first->second;
      if (spelled.second || first.name == name.second)
        continue;
      if (first.finding == SIZE_MAX) {
        first.finding = m->report->findings.size();
        m->Warn(h.open + 1 + name.first,
                Quoted(name.second) + " differs only in letter case from " +
                    Quoted(first.name) + " on line " +
                    std::to_string(m->Line(run.headers[first.header].open)) +
                    "; the registry keeps the first spelling",
                "letter-case");
      } else {
        ++first.more;
      }
      break;
    }
  }
  for (const auto& spelled : spellings) {
    const Spelling& s = spelled.second;
    if (s.more)
      m->report->findings[s.finding].message +=
          " (and in " + std::to_string(s.more) + " more header" +
          (s.more > 1 ? "s" : "") + ")";
  }
}

// Keys named twice: repeated headers, and headers that differ from an
// earlier one only in letter case; then the spellings of their names.
// Counted over the whole script.
void CheckKeyNames(Model* m) {
  const ScriptRun& run = m->run;
  std::map<std::string, size_t> firstHeader;  // folded key -> header
  std::vector<size_t> firsts;
  for (size_t i = 0; i < run.headers.size(); ++i) {
    const RunHeader& h = run.headers[i];
    const std::string path = run.KeyPath(h);
    const std::string key = FoldedKey(path);
    if (key.empty() || h.close == std::string::npos)
      continue;
    auto seen = firstHeader.find(key);
    if (seen == firstHeader.end()) {
      firstHeader[key] = i;
      firsts.push_back(i);
      continue;
    }
    const RunHeader& f = run.headers[seen->second];
    std::string line = std::to_string(m->Line(f.open));
    if (run.KeyPath(f) == path)
      m->Warn(h.open,
              "repeated header: the key was opened on line " + line +
                  " already; their values merge",
              "repeated-header");
    else
      m->Warn(h.open,
              "names the same key as the header on line " + line +
                  ", differing only in letter case; the registry keeps [" +
                  m->KeyShown(f) + "]",
              "letter-case");
  }
  CheckSpellings(m, firsts);
}

// The key a header names, as 64-bit Windows resolves a path through
// Wow6432Node for the product's 32-bit view; whether it did.
std::string ViewKey(const std::string& key, bool* throughWow) {
  const std::string software = "HKEY_LOCAL_MACHINE\\SOFTWARE\\";
  const std::string wow = software + "WOW6432NODE";
  *throughWow = HostKeyIsUnder(key, wow);
  if (!*throughWow)
    return key;
  return key.size() == wow.size() ? software.substr(0, software.size() - 1)
                                  : software + key.substr(wow.size() + 1);
}

// Keys outside the database: an update deletes only DRIVER2, so whatever a
// script writes elsewhere stays on every machine for good. Paths through
// Wow6432Node get one finding of their own.
void CheckScope(Model* m) {
  const ScriptRun& run = m->run;
  std::vector<std::string> outside;
  const RunHeader* first = nullptr;
  const RunHeader* firstWow = nullptr;
  size_t wow = 0;
  std::vector<bool> hasValues(run.headers.size(), false);
  for (const RunValue& v : run.values)
    hasValues[v.header] = true;
  for (size_t i = 0; i < run.headers.size(); ++i) {
    const RunHeader& h = run.headers[i];
    bool throughWow;
    const std::string key = ViewKey(FoldedKey(run.KeyPath(h)), &throughWow);
    if (throughWow && !wow++)
      firstWow = &h;
    // The database's own parents are made anyway; a value in one is not.
    bool parent = HostKeyIsUnder(DatabaseKey(), key) && !hasValues[i];
    if (key.empty() || HostKeyIsUnder(key, DatabaseKey()) || parent)
      continue;
    if (std::find(outside.begin(), outside.end(), key) != outside.end())
      continue;
    outside.push_back(key);
    if (!first)
      first = &h;
  }
  if (firstWow)
    m->Warn(firstWow->open,
            "the key path runs through Wow6432Node" +
                std::string(wow > 1 ? " (and " + std::to_string(wow - 1) +
                                          " more header(s))"
                                    : "") +
                ": that is the 64-bit registry editor's name for the 32-bit "
                "view that the product writes, and on 32-bit Windows these "
                "keys would land in a key literally named Wow6432Node; "
                "export with reg export \"HKLM\\Software\\morvelan\\DRIVER2\" "
                "FILE /reg:32, which writes the path the program uses",
            "wow6432node");
  if (!first)
    return;
  std::string more = outside.size() > 1
                         ? " and " + std::to_string(outside.size() - 1) +
                               " more key(s)"
                         : std::string();
  m->Warn(first->open,
          "writes outside HKEY_LOCAL_MACHINE\\Software\\morvelan\\DRIVER2, "
          "which an update never deletes: [" +
              AnsiToUtf8(run.KeyPath(*first)) + "]" + more,
          "outside-database");
}

// A double word of more than eight digits: the program keeps the last
// eight. What the cut digits change decides between an error and a
// warning.
void CheckLongDword(Model* m, size_t at, const std::string& digits,
                    const std::string& what) {
  if (digits.size() <= 8)
    return;
  const std::string cut = digits.substr(0, digits.size() - 8);
  uint32_t kept = 0;
  AccumulateHex(digits.c_str(), &kept);
  const std::string count = std::to_string(digits.size());
  if (cut.find_first_not_of('0') == std::string::npos) {
    m->Warn(at,
            what + "dword:" + digits + " has " + count +
                " hex digits; the leading zeros change nothing, but the "
                "registry editor writes eight: dword:" + Hex8(kept),
            "dword-leading-zeros");
    return;
  }
  m->Error(at,
           what + "dword:" + digits + " has " + count +
               " hex digits, and the program keeps only the last eight: \"" +
               cut + "\" is cut, and machines get dword:" + Hex8(kept) +
               " (" + std::to_string(kept) + ")" + kGateVerdict +
               "that number",
           "dword-cut");
}

// Values: set twice, line breaks in names, the platforms' limits, long
// double words. A value line that the import passed is set, whether its
// own call wrote it or a later one (the version is written last).
void CheckValues(Model* m) {
  const ScriptRun& run = m->run;
  // (key, folded name) -> the value line that set it first
  std::map<std::pair<uintptr_t, std::string>, const RunValue*> firstSet;
  for (const RunValue& v : run.values) {
    const RunHeader& h = run.headers[v.header];
    if (!v.passed || !h.call || h.call->result != ERROR_SUCCESS)
      continue;
    const size_t line = m->Line(v.start);
    const std::string name = run.Name(v);
    const auto id = std::make_pair(h.call->key, HostFoldName(name));
    auto first = firstSet.find(id);
    if (first == firstSet.end()) {
      firstSet[id] = &v;
      ++m->report->values;
    } else {
      const std::string kept = run.Name(*first->second);
      m->WarnAtLine(line,
                    "value " + Quoted(name) +
                        " is set again: this replaces the value from line " +
                        std::to_string(m->Line(first->second->start)) +
                        (kept == name ? ""
                                      : " (as " + Quoted(kept) +
                                            ", the name the registry keeps)"),
                    "value-set-twice");
    }
    if (name.find('\r') != std::string::npos)
      m->Error(v.start + 1 + name.find('\r'),
               "a carriage return stands in this value name" +
                   std::string(kGateVerdict) +
                   "a value with a line break in its name",
               "line-break-in-name");
    if (name.size() > 255)
      m->WarnAtLine(line,
                    "value name of " + std::to_string(name.size()) +
                        " characters: Windows 95, 98 and Me take at most 255",
                    "long-name");
    if (v.type == REG_DWORD)
      CheckLongDword(m, v.digits,
                     run.text.substr(v.digits, v.digitsEnd - v.digits), "");
  }
  for (const RunHeader& h : run.headers) {
    if (h.close == std::string::npos)
      continue;
    for (const auto& name : SplitPath(run.KeyPath(h)))
      if (name.second.size() == 256)
        m->Warn(h.open + 1 + name.first,
                "key name of 256 characters: Windows takes at most 255 "
                "(Wine takes 256)",
                "long-name");
  }
}

// The number that the database key holds after the run, if any.
bool InstalledVersion(uint32_t* version) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDatabaseKeyPath, 0, KEY_QUERY_VALUE,
                    &key) != ERROR_SUCCESS)
    return false;
  DWORD type = 0, size = 4;
  BYTE data[4];
  LONG rc = RegQueryValueExA(key, kVersionValueName, nullptr, &type, data,
                             &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_DWORD || size != 4)
    return false;
  *version = static_cast<uint32_t>(data[0] | data[1] << 8 | data[2] << 16 |
                                   static_cast<uint32_t>(data[3]) << 24);
  return true;
}

// The version: how it is written, and whether the database key holds it
// after installing.
void CheckVersion(Model* m) {
  const ScriptRun& run = m->run;
  CheckReport* report = m->report;
  if (!report->hasVersion)
    return;
  const size_t line = m->Line(run.versionAt);
  const std::string& written = report->versionText;
  const std::string digits = written.substr(6);  // after "dword:"
  if (digits.size() < 8) {
    std::string message = written + " is hexadecimal: version " +
                          std::to_string(report->version);
    if (digits.find_first_not_of("0123456789") == std::string::npos)
      message += "; for " + digits + " write dword:" +
                 Hex8(static_cast<uint32_t>(strtoul(digits.c_str(), nullptr,
                                                    10)));
    else
      message += "; write all eight digits: dword:" + Hex8(report->version);
    m->WarnAtLine(line, message, "short-version");
  }
  bool passed = false;
  for (const RunValue& v : run.values)
    passed = passed || (v.passed && m->Line(v.start) == line);
  if (!passed)
    CheckLongDword(m, run.versionAt + strlen("\"DriverVersion\"=dword:"),
                   digits, "the version line's ");
  if (report->outcome != kOutcomeUpdated)
    return;
  for (const Finding& f : report->findings)
    if (f.kind && strcmp(f.kind, "wow6432node") == 0)
      return;  // said already, with the export that avoids it
  uint32_t installed;
  if (!InstalledVersion(&installed)) {
    m->WarnAtLine(line,
                  "after installing, the program finds no installed version "
                  "in HKEY_LOCAL_MACHINE\\Software\\morvelan\\DRIVER2: every "
                  "run will install again",
                  "version-not-installed");
  } else if (installed != report->version) {
    m->WarnAtLine(
        line,
        "the program reads version " + std::to_string(report->version) +
            " here, but after installing the database key holds " +
            std::to_string(installed) + ", from a later line" +
            (installed < report->version
                 ? ": every run will install again"
                 : ": a release must exceed " + std::to_string(installed) +
                       " to update the machines"),
        "version-not-installed");
  }
}

// ---- Where an installed tree came from -------------------------------------------

// Each key and value that the last install wrote, by folded path (and
// folded name), with the line that wrote it and its spelling there.
struct SourceMap {
  std::map<std::string, std::pair<std::string, size_t>> keys;
  std::map<std::pair<std::string, std::string>, std::pair<std::string, size_t>>
      values;
} g_source;

// A line as written, without its blanks before and its line end, control
// characters as their pictures.
std::string Written(const SourceScript& script, size_t line) {
  std::string text = SourceLine(script, line);
  text.erase(0, text.find_first_not_of(" \t"));
  std::string out;
  for (unsigned char c : text)
    out += c < 0x20 ? ToUtf8(std::u32string(1, 0x2400 + c))
                    : std::string(1, static_cast<char>(c));
  return out;
}

void MapSource(const SourceScript& script, const ScriptRun& run) {
  g_source = SourceMap();
  for (const RunHeader& h : run.headers) {
    if (!h.call || h.call->result != ERROR_SUCCESS)
      continue;
    // The subkey's names are the stored path's last names: each key on
    // the way gets the header's spelling up to it.
    const std::string path = run.KeyPath(h);
    HKEY root;
    const char* subKey;
    SplitRoot(path.c_str(), &root, &subKey);
    const std::string rootText(path.c_str(), subKey);
    const auto names = SplitPath(subKey);
    const auto stored = SplitPath(h.call->stored);
    const size_t line = run.lines.LineOf(h.open);
    std::string storedPrefix;
    for (size_t i = 0; i < stored.size(); ++i) {
      storedPrefix += (i ? "\\" : "") + stored[i].second;
      if (i + names.size() < stored.size())
        continue;
      const auto& name = names[i + names.size() - stored.size()];
      const size_t spelled = rootText.size() + name.first + name.second.size();
      g_source.keys.emplace(
          HostFoldName(storedPrefix),
          std::make_pair(VisibleName(path.substr(0, spelled)), line));
    }
  }
  for (const RunValue& v : run.values) {
    const RunHeader& h = run.headers[v.header];
    if (!v.passed || !h.call || h.call->result != ERROR_SUCCESS)
      continue;
    const size_t line = run.lines.LineOf(v.start);
    g_source.values[{HostFoldName(h.call->stored), HostFoldName(run.Name(v))}] =
        {Written(script, line), line};
  }
}

}  // namespace

std::string ToUtf8(const std::u32string& text) {
  std::string out;
  for (char32_t c : text) {
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
      c = 0xFFFD;  // a lone surrogate has no UTF-8 form
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    int length = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    out.push_back(static_cast<char>((0xF00 >> length) | c >> (6 * (length - 1))));
    for (int k = length - 2; k >= 0; --k)
      out.push_back(static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F)));
  }
  return out;
}

bool LoadScript(const std::string& path, const std::string& bytes,
                SourceScript* script, LoadError* error) {
  script->path = path;
  script->text.clear();
  *error = LoadError();
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xff &&
      static_cast<unsigned char>(bytes[1]) == 0xfe) {
    script->text = DecodeUtf16(bytes);
    script->shipped = bytes;
  } else if (bytes.size() >= 2 &&
             static_cast<unsigned char>(bytes[0]) == 0xfe &&
             static_cast<unsigned char>(bytes[1]) == 0xff) {
    error->message = "big-endian UTF-16: the program reads only UTF-16LE "
                     "(save it as UTF-16LE with its byte-order mark, or as "
                     "UTF-8)";
    return false;
  } else {
    size_t start = bytes.compare(0, 3, "\xef\xbb\xbf") == 0 ? 3 : 0;
    if (!DecodeUtf8(bytes, start, &script->text, error))
      return false;
    script->shipped = "\xff\xfe";  // UTF-8 already checked: converts as is
    AppendUtf16(&script->shipped, bytes.substr(start));
  }
  if (script->shipped.size() > kMaxScriptBytes) {
    *error = LoadError{0, 0, "too large for the program's four-byte length"};
    return false;
  }
  return true;
}

std::string SourceLine(const SourceScript& script, size_t line) {
  size_t start = 0;
  for (size_t n = 1; n < line; ++n) {
    start = script.text.find(U'\n', start);
    if (start == std::u32string::npos)
      return "";
    ++start;
  }
  size_t end = script.text.find(U'\n', start);
  std::u32string text = script.text.substr(
      start, end == std::u32string::npos ? std::u32string::npos : end - start);
  if (!text.empty() && text.back() == U'\r')
    text.pop_back();
  return ToUtf8(text);
}

const FindingKind* FindKind(const std::string& name) {
  for (const FindingKind& kind : kFindingKinds)
    if (name == kind.name)
      return &kind;
  return nullptr;
}

bool Allowed(const Gate& gate, const Finding& f) {
  return f.kind && gate.allowed.count(f.kind);
}

bool Blocks(const Gate& gate, const Finding& f) {
  if (Allowed(gate, f))
    return false;
  return f.severity == Finding::kError || gate.werror || gate.strict;
}

bool Fails(const CheckReport& report, const Gate& gate) {
  if (report.outcome < 0)
    return true;
  for (const Finding& f : report.findings)
    if (Blocks(gate, f))
      return true;
  return false;
}

std::string VersionShown(const CheckReport& report) {
  if (!report.hasVersion)
    return "none";
  return std::to_string(report.version) + " (" + report.versionText + ")";
}

void ResetMachine() {
  HostRegistryReset();
}

CheckReport CheckScript(const SourceScript& script) {
  CheckReport report;
  ResetMachine();
  ScriptRun run;
  RunScript(script.shipped, &run);
  report.outcome = run.outcome;
  report.lines = run.lines.Lines();
  if (run.hasVersion) {
    report.hasVersion = true;
    report.version = run.version;
    // The probe's own reading of the digits says where they end.
    const size_t type = run.versionAt + strlen("\"DriverVersion\"=");
    uint32_t ignored = 0;
    const char* digits = run.text.c_str() + type + strlen("dword:");
    report.versionText = run.text.substr(
        type, static_cast<size_t>(AccumulateHex(digits, &ignored) -
                                  (run.text.c_str() + type)));
  }
  std::set<uintptr_t> keys;
  for (const RunHeader& h : run.headers) {
    report.headers += h.call != nullptr;
    if (h.call && h.call->result == ERROR_SUCCESS)
      keys.insert(h.call->key);
  }
  report.keys = keys.size();

  Model model{script, run, &report};
  ReportStop(&model);
  CheckCharacters(&model);
  // Without a version the import never runs: what it would do is moot.
  if (run.hasVersion) {
    CheckLineBreaksInKeys(&model);
    CheckIgnoredLines(&model);
    CheckKeyNames(&model);
    CheckScope(&model);
    CheckValues(&model);
    CheckVersion(&model);
  }
  std::stable_sort(report.findings.begin(), report.findings.end(),
                   [](const Finding& x, const Finding& y) {
                     return x.line < y.line ||
                            (x.line == y.line && x.column < y.column);
                   });
  return report;
}

int InstallScript(const SourceScript& script, bool* hasVersion,
                  uint32_t* version, Finding* failure) {
  ScriptRun run;
  RunScript(script.shipped, &run);
  *hasVersion = run.hasVersion;
  *version = run.version;
  MapSource(script, run);
  if (run.outcome < 0) {
    CheckReport report;
    report.outcome = run.outcome;
    Model model{script, run, &report};
    ReportStop(&model);
    *failure = report.findings.front();
  }
  return run.outcome;
}

InstalledTree ReadInstalledTree() {
  InstalledTree tree;
  for (const auto& [folded, stored] : HostRegistryTree()) {
    TreeKey& key = tree[folded];
    auto source = g_source.keys.find(folded);
    key.path = source == g_source.keys.end() ? VisibleName(stored.path)
                                             : source->second.first;
    key.line = source == g_source.keys.end() ? 0 : source->second.second;
    for (const auto& [name, v] : stored.values) {
      std::string shown;
      if (v.type == REG_SZ && !v.data.empty() &&
          v.data.find('\0') == v.data.size() - 1) {
        shown = "\"" + VisibleName(v.data.substr(0, v.data.size() - 1)) + "\"";
      } else {
        std::string written;  // the hive's own form of other types
        AppendHiveValue(&written, v.name, v.type, v.data);
        shown = written.substr(written.find("\"=") + 2);
        shown.pop_back();
      }
      TreeValue& value = key.values[name];
      value.shown = "\"" + VisibleName(v.name) + "\"=" + shown;
      value.data = shown;
      auto line = g_source.values.find({folded, name});
      if (line != g_source.values.end()) {
        value.written = line->second.first;
        value.line = line->second.second;
      }
    }
  }
  return tree;
}
