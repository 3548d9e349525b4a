#include "tools/script_check.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <set>

#include "payload/payload.h"
#include "payload/payload_io_host.h"
#include "platform/host/controls.h"
#include "platform/host/hive_text.h"
#include "platform/host/trace.h"
#include "script/database.h"
#include "script/script_scan.h"
#include "setup/setup_run.h"
#include "tools/executable.h"
#include "tools/utf16.h"

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
                size_t* badLine, size_t* badColumn) {
  *badLine = *badColumn = 1;
  for (size_t i = start; i < bytes.size();) {
    char32_t point;
    size_t length = ReadUtf8(bytes, i, &point);
    if (!length)
      return false;
    text->push_back(point);
    *badColumn = point == '\n' ? 1 : *badColumn + 1;
    *badLine += point == '\n';
    i += length;
  }
  return true;
}

// ---- What the run did, mapped back onto the text -------------------------------

// Lines of the text as the program sees it.
struct LineMap {
  std::vector<size_t> starts;  // offset of each line's first character
  size_t size = 0;

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

// The program's text is ANSI; findings show it in UTF-8.
// With showControls, control characters become their Unicode pictures.
std::string AnsiToUtf8(const std::string& ansi, bool showControls = false) {
  std::u32string wide;
  for (unsigned char c : ansi)
    wide.push_back(!showControls ? HostAnsiToWide(c)
                   : c < 0x20    ? 0x2400 + c
                   : c == 0x7f   ? 0x2421
                                 : HostAnsiToWide(c));
  return ToUtf8(wide);
}

std::string Quoted(const std::string& ansi) {
  return "\"" + AnsiToUtf8(ansi) + "\"";
}

struct RootName {
  const char* prefix;  // as the importer matches it
  const char* folded;  // the key the stand-in keeps it under
};
const RootName kRoots[] = {
    {"HKEY_LOCAL_MACHINE\\", "HKEY_LOCAL_MACHINE"},
    {"HKEY_CURRENT_USER\\", "HKEY_CURRENT_USER"},
    {"HKEY_CLASSES_ROOT\\", "HKEY_LOCAL_MACHINE\\SOFTWARE\\CLASSES"},
};
const char kDatabase[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\MORVELAN\\DRIVER2";

std::string FaultMessage(ScriptFault fault, const std::string& text,
                         size_t at, LONG createResult) {
  std::string rest = text.substr(at, 40);
  rest = rest.substr(0, rest.find_first_of("\r\n"));
  switch (fault) {
    case kFaultNone:
      break;
    case kFaultNoVersionLine:
      return "no \"DriverVersion\"=dword: line: the program cannot tell the "
             "database's version";
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

// ---- The script as the import walks it -----------------------------------------

// A section header: where its brackets stand, and the import's call for it.
struct Header {
  size_t open;   // the '['
  size_t close;  // the ']', or npos when there is none
  const HostRegistryCall* call = nullptr;  // when the import got this far
};

// A value line inside a section, and the import's call for it.
struct ValueLine {
  size_t start;   // its opening quote
  size_t header;  // the section's index in the headers
  const HostRegistryCall* call = nullptr;
};

// The script's headers and value lines, found by the import's own walk
// (over the whole text, wherever the import stopped), with the registry
// calls linked to them in order: the import makes one create call per
// header and one set call per value line, until it stops.
struct Walk {
  std::vector<Header> headers;
  std::vector<ValueLine> values;
  size_t reached = 0;  // headers that the import created keys for
};

Walk WalkScript(const std::string& text) {
  Walk walk;
  const char* base = text.c_str();
  const char* p = SkipBlanks(base);
  while (*p != '[' && *p != '\0')
    p = SkipBlanks(NextLine(p));
  while (*p == '[') {
    const char* close = strchr(p + 1, ']');
    walk.headers.push_back(
        Header{static_cast<size_t>(p - base),
               close ? static_cast<size_t>(close - base) : std::string::npos});
    if (!close)
      break;
    p = SkipBlanks(NextLine(close + 1));
    while (*p != '[' && *p != '\0') {
      const char* line = p;
      p = SkipBlanks(NextLine(line));
      if (*line == '"')
        walk.values.push_back(ValueLine{static_cast<size_t>(line - base),
                                        walk.headers.size() - 1});
    }
  }
  size_t header = 0, value = 0;
  for (const HostRegistryCall& call : HostRegistryCalls()) {
    if (call.kind == HostRegistryCall::kCreateKey &&
        header < walk.headers.size())
      walk.headers[header++].call = &call;
    else if (call.kind == HostRegistryCall::kSetValue &&
             value < walk.values.size())
      walk.values[value++].call = &call;
  }
  walk.reached = header;
  return walk;
}

// What every analysis reads, and where it writes its findings.
struct Model {
  const SourceScript& script;
  const std::string& text;  // the program's text, before the import edits it
  const LineMap& lines;
  const Walk& walk;
  size_t versionLine;  // 0 without a version
  CheckReport* report;

  size_t Line(size_t offset) const { return lines.LineOf(offset); }
  // The key path of a header as written, between its brackets.
  std::string KeyPath(const Header& h) const {
    size_t end = h.close == std::string::npos ? text.size() : h.close;
    return text.substr(h.open + 1, end - h.open - 1);
  }
  // The key a header opened, as the registry keeps it (its first spelling),
  // shown in UTF-8; as written when the import never reached the header.
  std::string KeyShown(const Header& h) const {
    return AnsiToUtf8(h.call ? h.call->stored : KeyPath(h));
  }
  void Add(Finding::Severity severity, size_t offset, std::string message,
           const char* gate = nullptr) {
    report->findings.push_back(Finding{severity, lines.LineOf(offset),
                                       lines.ColumnOf(offset),
                                       std::move(message), gate});
  }
  void Warn(size_t offset, std::string message) {
    Add(Finding::kWarning, offset, std::move(message));
  }
  void WarnAtLine(size_t line, std::string message) {
    report->findings.push_back(
        Finding{Finding::kWarning, line, 1, std::move(message)});
  }
};

// The key a header names, folded as the registry compares it, with its
// root as the stand-in keeps it; empty for a path under none of the roots.
std::string FoldedKey(const std::string& keyPath) {
  for (const RootName& root : kRoots) {
    if (!MatchKeyword(keyPath.c_str(), root.prefix))
      continue;
    std::string key = root.folded;
    for (const auto& name : SplitPath(keyPath.substr(strlen(root.prefix))))
      key += "\\" + HostFoldName(name.second);
    return key;
  }
  return "";
}

// ---- The analyses ----------------------------------------------------------------

const char kGateVerdict[] =
    ": the program would install this script, exit 0, and write ";

// The error that decides the run, where the program stopped.
void ReportStop(Model* m, const ScriptStop& stop, const char* base) {
  if (m->report->outcome >= 0)
    return;
  LONG createResult = ERROR_SUCCESS;
  if (m->walk.reached)
    createResult = m->walk.headers[m->walk.reached - 1].call->result;
  bool inText = stop.at && stop.at >= base && stop.at <= base + m->text.size();
  size_t at = inText ? static_cast<size_t>(stop.at - base) : 0;
  std::string message = FaultMessage(stop.fault, m->text, at, createResult);
  if (inText)
    m->Add(Finding::kError, at, message);
  else
    m->report->findings.push_back(Finding{Finding::kError, 0, 0, message});
}

// Characters that the code page lacks, and a NUL that ends the text early.
void CheckCharacters(Model* m) {
  const std::u32string& source = m->script.text;
  size_t lastLine = 0;
  for (size_t i = 0; i < m->text.size() && i < source.size(); ++i) {
    if (m->text[i] != '?' || source[i] == '?' || m->Line(i) == lastLine)
      continue;  // one report a line is enough
    lastLine = m->Line(i);
    char code[16];
    snprintf(code, sizeof(code), "U+%04X", static_cast<unsigned>(source[i]));
    m->Warn(i, std::string("character ") + code +
                   " is not in the ANSI code page (Windows-1252): the "
                   "program writes '?' instead");
  }
  if (m->text.size() < source.size()) {
    size_t after = 0;
    for (size_t i = m->text.size(); i < source.size(); ++i)
      after += source[i] == '\n';
    const LineMap& lines = m->lines;
    m->report->findings.push_back(Finding{
        Finding::kWarning, lines.Lines() ? lines.Lines() : 1,
        m->text.size() ? lines.ColumnOf(m->text.size() - 1) + 1 : 1,
        "a NUL character ends the script for the program: the " +
            std::to_string(after) + " line(s) after it are never read"});
  }
}

// Line breaks in key names: a header whose ']' stands on a later line
// swallows the lines in between; a lone CR in a header stays in the name.
void CheckLineBreaksInKeys(Model* m) {
  for (const Header& h : m->walk.headers) {
    if (h.close == std::string::npos)
      continue;
    size_t first = m->Line(h.open), last = m->Line(h.close);
    if (last != first) {
      m->Add(Finding::kError, h.open,
             "this header's ']' is on line " + std::to_string(last) +
                 ": the " + std::to_string(last - first) +
                 " line break(s) in between and the lines they end become "
                 "part of the key name" + kGateVerdict +
                 "a key with line breaks in its name",
             kGateKinds[0].name);
    } else if (m->KeyPath(h).find('\r') != std::string::npos) {
      m->Add(Finding::kError, h.open + 1 + m->KeyPath(h).find('\r'),
             "a carriage return stands in this key name" +
                 std::string(kGateVerdict) +
                 "a key with a line break in its name",
             kGateKinds[1].name);
    }
  }
}

// Lines the import ignores that look meant: value lines before the first
// header, default values, headers lacking their '['.
void CheckIgnoredLines(Model* m) {
  const Walk& walk = m->walk;
  std::vector<size_t> read(m->lines.Lines() + 2, 0);  // 0, or header + 1
  for (size_t i = 0; i < walk.headers.size(); ++i) {
    const Header& h = walk.headers[i];
    size_t last = h.close == std::string::npos ? m->lines.Lines()
                                                : m->Line(h.close);
    for (size_t l = m->Line(h.open); l <= last; ++l)
      read[l] = i + 1;
  }
  for (const ValueLine& v : walk.values)
    read[m->Line(v.start)] = v.header + 1;
  size_t firstHeaderLine = walk.headers.empty()
                               ? m->lines.Lines() + 1
                               : m->Line(walk.headers[0].open);
  size_t section = 0;  // the section a line is in
  for (size_t line = 1; line <= m->lines.Lines(); ++line) {
    if (read[line]) {
      section = read[line] - 1;
      continue;
    }
    size_t start = m->lines.starts[line - 1];
    const char* first = SkipBlanks(m->text.c_str() + start);
    if (line < firstHeaderLine) {
      if (*first == '"' && line == m->versionLine)
        m->WarnAtLine(line,
                      "the version line stands before any section header: "
                      "the probe reads it, but the import never writes it");
      else if (*first == '"')
        m->WarnAtLine(line,
                      "value line before the first section header: ignored");
      continue;
    }
    if (*first == '@') {
      m->WarnAtLine(line,
                    "default-value line ('@=') ignored: to set a key's "
                    "default value write \"\"=");
      continue;
    }
    const char* lineEnd = NextLine(first);
    if (FoldedKey(std::string(first, lineEnd)).empty() ||
        std::find(first, lineEnd, ']') == lineEnd)
      continue;
    m->WarnAtLine(line,
                  "looks like a section header but lacks its '[': ignored, "
                  "and the values after it go into [" +
                      m->KeyShown(walk.headers[section]) + "]");
  }
}

// Keys named twice: repeated headers, and spellings of one key that differ
// only in letter case among the script's own headers (not against keys
// that every machine has). Counted over the whole script.
void CheckKeyNames(Model* m) {
  std::map<std::string, size_t> firstHeader;  // folded key -> header
  // Folded prefix -> its first spelling, the header that wrote it, its
  // finding and how many later headers repeat the difference.
  struct Spelling {
    std::string name;
    size_t header;
    size_t finding = SIZE_MAX;
    size_t more = 0;
  };
  std::map<std::string, Spelling> spellings;
  const Walk& walk = m->walk;
  for (size_t i = 0; i < walk.headers.size(); ++i) {
    const Header& h = walk.headers[i];
    const std::string path = m->KeyPath(h);
    const std::string key = FoldedKey(path);
    if (key.empty() || h.close == std::string::npos)
      continue;
    auto seen = firstHeader.find(key);
    if (seen != firstHeader.end()) {
      const Header& f = walk.headers[seen->second];
      std::string line = std::to_string(m->Line(f.open));
      if (m->KeyPath(f) == path)
        m->Warn(h.open, "repeated header: the key was opened on line " +
                            line + " already; their values merge");
      else
        m->Warn(h.open, "names the same key as the header on line " + line +
                            ", differing only in letter case; the registry "
                            "keeps [" + m->KeyShown(f) + "]");
      continue;
    }
    firstHeader[key] = i;
    std::string prefix;
    for (const auto& name : SplitPath(path)) {
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
                    std::to_string(m->Line(walk.headers[first.header].open)) +
                    "; the registry keeps the first spelling");
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
  std::set<uintptr_t> distinct;
  for (const Header& h : walk.headers)
    if (h.call && h.call->result == ERROR_SUCCESS)
      distinct.insert(h.call->key);
  m->report->keys = distinct.size();
}

// Keys outside the database: an update deletes only DRIVER2, so whatever a
// script writes elsewhere stays on every machine for good.
void CheckScope(Model* m) {
  std::set<std::string> outside;
  const Header* first = nullptr;
  std::vector<bool> hasValues(m->walk.headers.size(), false);
  for (const ValueLine& v : m->walk.values)
    hasValues[v.header] = true;
  for (size_t i = 0; i < m->walk.headers.size(); ++i) {
    const Header& h = m->walk.headers[i];
    std::string key = FoldedKey(m->KeyPath(h));
    // The database's own parents are made anyway; a value in one is not.
    bool parent = HostKeyIsUnder(kDatabase, key) && !hasValues[i];
    if (key.empty() || HostKeyIsUnder(key, kDatabase) || parent)
      continue;
    if (outside.insert(key).second && !first)
      first = &h;
  }
  if (!first)
    return;
  std::string more = outside.size() > 1
                         ? " and " + std::to_string(outside.size() - 1) +
                               " more key(s)"
                         : std::string();
  m->Warn(first->open, "writes outside HKEY_LOCAL_MACHINE\\Software\\morvelan"
                       "\\DRIVER2, which an update never deletes: [" +
                           AnsiToUtf8(m->KeyPath(*first)) + "]" + more);
}

// Values: set twice, line breaks in names, the platforms' limits.
void CheckValues(Model* m) {
  std::map<std::pair<uintptr_t, std::string>, size_t> firstSet;
  for (const ValueLine& v : m->walk.values) {
    if (!v.call || v.call->result != ERROR_SUCCESS)
      continue;
    const HostRegistryCall& call = *v.call;
    size_t line = m->Line(v.start);
    const size_t nameEnd = m->text.find('"', v.start + 1);
    std::string name = m->text.substr(v.start + 1, nameEnd - v.start - 1);
    auto id = std::make_pair(call.key, HostFoldName(call.stored));
    if (call.created) {
      firstSet[id] = line;
      ++m->report->values;
    } else {
      std::string spelled = call.stored == name
                                ? ""
                                : " (as " + Quoted(call.stored) +
                                      ", the name the registry keeps)";
      m->WarnAtLine(line, "value " + Quoted(name) +
                              " is set again: this replaces the value from "
                              "line " + std::to_string(firstSet[id]) + spelled);
    }
    if (name.find('\r') != std::string::npos)
      m->Add(Finding::kError, v.start + 1 + name.find('\r'),
             "a carriage return stands in this value name" +
                 std::string(kGateVerdict) +
                 "a value with a line break in its name",
             kGateKinds[1].name);
    if (name.size() > 255)
      m->WarnAtLine(line, "value name of " + std::to_string(name.size()) +
                              " characters: Windows 95, 98 and Me take at "
                              "most 255");
  }
  for (const Header& h : m->walk.headers) {
    if (h.close == std::string::npos)
      continue;
    for (const auto& name : SplitPath(m->KeyPath(h)))
      if (name.second.size() == 256)
        m->Warn(h.open + 1 + name.first,
                "key name of 256 characters: Windows takes at most 255 "
                "(Wine takes 256)");
  }
}

// The version: how it is written, where it stands, set twice, and whether
// the program finds it installed afterwards.
void CheckVersion(Model* m) {
  CheckReport* report = m->report;
  if (!report->hasVersion)
    return;
  const size_t line = m->versionLine;
  const std::string& written = report->versionText;
  size_t digits = written.size() - 6;  // after "dword:"
  if (digits < 8) {
    std::string message = written + " is hexadecimal: version " +
                          std::to_string(report->version);
    std::string asDecimal = written.substr(6);
    char eight[16];
    if (asDecimal.find_first_not_of("0123456789") == std::string::npos &&
        asDecimal.size() <= 9) {
      snprintf(eight, sizeof(eight), "%08x",
               static_cast<unsigned>(strtoul(asDecimal.c_str(), nullptr, 10)));
      message += "; for " + asDecimal + " write dword:" + eight;
    } else {
      snprintf(eight, sizeof(eight), "%08x", report->version);
      message += "; write all eight digits: dword:" + std::string(eight);
    }
    m->WarnAtLine(line, message);
  }
  const Walk& walk = m->walk;
  std::vector<size_t> sets;
  for (const ValueLine& v : walk.values)
    if (v.call && v.call->result == ERROR_SUCCESS &&
        HostFoldName(v.call->stored) == HostFoldName(kVersionValueName))
      sets.push_back(m->Line(v.start));
  for (size_t i = 1; i < sets.size(); ++i)
    m->WarnAtLine(sets[i], "DriverVersion is set again: the version comes "
                           "from line " + std::to_string(line) + " only");
  if (!walk.headers.empty() && line >= m->Line(walk.headers[0].open)) {
    size_t own = 0;
    while (own + 1 < walk.headers.size() &&
           m->Line(walk.headers[own + 1].open) <= line)
      ++own;
    if (own != 0)
      m->WarnAtLine(line, "the version line is not in the first section (it "
                          "is in [" +
                              m->KeyShown(walk.headers[own]) + "])");
  }
  if (report->outcome == kOutcomeUpdated && NeedsUpdate(report->version))
    m->WarnAtLine(line ? line : 1,
                  "after installing, the program finds no installed version "
                  "in HKEY_LOCAL_MACHINE\\Software\\morvelan\\DRIVER2: every "
                  "run will install again");
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
                SourceScript* script, std::string* error) {
  script->path = path;
  script->text.clear();
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xff &&
      static_cast<unsigned char>(bytes[1]) == 0xfe) {
    script->text = DecodeUtf16(bytes);
    script->shipped = bytes;
  } else if (bytes.size() >= 2 &&
             static_cast<unsigned char>(bytes[0]) == 0xfe &&
             static_cast<unsigned char>(bytes[1]) == 0xff) {
    *error = "big-endian UTF-16: the program reads only UTF-16LE (save it "
             "as UTF-16LE with its byte-order mark, or as UTF-8)";
    return false;
  } else {
    size_t start = bytes.compare(0, 3, "\xef\xbb\xbf") == 0 ? 3 : 0;
    size_t line, column;
    if (!DecodeUtf8(bytes, start, &script->text, &line, &column)) {
      *error = std::to_string(line) + ":" + std::to_string(column) +
               ": neither UTF-16LE with its byte-order mark nor UTF-8 text";
      return false;
    }
    script->shipped = "\xff\xfe";  // UTF-8 already checked: converts as is
    AppendUtf16(&script->shipped, bytes.substr(start));
  }
  if (script->shipped.size() > kMaxScriptBytes) {
    *error = "too large for the program's four-byte length";
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

void ResetMachine() {
  HostRegistryReset();
  HostRegistryKeepJournal(false);
}

int InstallScript(const SourceScript& script, bool* hasVersion,
                  uint32_t* version) {
  *hasVersion = false;
  if (!ReadScriptAsTheProgram(script.shipped))
    return kOutcomePayloadUnreadable;
  int outcome = kOutcomeVersionInvalid;
  if (ProbeEmbeddedVersion(ScriptText)) {
    *hasVersion = true;
    *version = EmbeddedVersion;
    outcome = UpdateSequence(EmbeddedVersion, ScriptText);
  }
  FreeRunBuffers();
  return outcome;
}

const GateKind kGateKinds[2] = {
    {"multiline-header",
     "a header whose ']' stands on a later line: the lines in between "
     "become part of the key name"},
    {"line-break-in-name",
     "a carriage return inside a key or value name"},
};

std::string VersionShown(const CheckReport& report) {
  if (!report.hasVersion)
    return "none";
  return std::to_string(report.version) + " (" + report.versionText + ")";
}

std::string VisibleName(const std::string& ansi) {
  return AnsiToUtf8(ansi, true);
}

CheckReport CheckScript(const SourceScript& script) {
  CheckReport report;
  ResetMachine();
  HostRegistryTraceCalls(true);
  if (!ReadScriptAsTheProgram(script.shipped)) {
    report.outcome = kOutcomePayloadUnreadable;
    report.findings.push_back(
        Finding{Finding::kError, 0, 0, "the program cannot decode the script"});
    HostRegistryTraceCalls(false);
    return report;
  }
  const std::string text = ScriptText;  // before the import edits it
  const char* base = ScriptText;
  LineMap lines(text);
  report.lines = lines.Lines();

  const bool probed = ProbeEmbeddedVersion(ScriptText);
  ScriptStop stop = LastScriptStop;
  size_t versionLine = 0;
  report.outcome = kOutcomeVersionInvalid;
  if (probed) {
    const size_t at = static_cast<size_t>(stop.at - base);
    versionLine = lines.LineOf(at);
    const size_t type = at + strlen("\"DriverVersion\"=");
    report.versionText =
        text.substr(type, text.find_first_not_of(
                              "0123456789abcdefABCDEF", type + 6) - type);
    report.hasVersion = true;
    report.version = EmbeddedVersion;
    report.outcome = UpdateSequence(EmbeddedVersion, ScriptText);
    stop = LastScriptStop;
  }
  const Walk walk = WalkScript(text);
  report.headers = walk.reached;
  Model model{script, text, lines, walk, versionLine, &report};
  ReportStop(&model, stop, base);
  CheckCharacters(&model);
  // Without a version the import never runs: what it would do is moot.
  if (probed) {
    CheckLineBreaksInKeys(&model);
    CheckIgnoredLines(&model);
    CheckKeyNames(&model);
    CheckScope(&model);
    CheckValues(&model);
    CheckVersion(&model);
  }

  FreeRunBuffers();
  HostRegistryTraceCalls(false);
  std::stable_sort(report.findings.begin(), report.findings.end(),
                   [](const Finding& x, const Finding& y) {
                     return x.line < y.line ||
                            (x.line == y.line && x.column < y.column);
                   });
  return report;
}

InstalledTree ReadInstalledTree() {
  InstalledTree tree;
  const std::string text = HostRegistryExport();
  HiveReader reader{text};
  HiveLine line;
  std::string error;
  TreeKey* key = nullptr;
  while (ReadHiveLine(&reader, &line, &error)) {
    if (line.kind == HiveLine::kKey) {
      const std::string path = HivePath(line);
      key = &tree[HostFoldName(path)];
      key->path = VisibleName(path);
      continue;
    }
    const HiveValue& v = line.value;
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
    key->values[HostFoldName(v.name)] = {VisibleName(v.name), shown};
  }
  return tree;
}
