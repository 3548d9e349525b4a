#include "tools/script_check.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <set>

#include "payload/payload.h"
#include "payload/payload_io_host.h"
#include "platform/registry_host.h"
#include "script/database.h"
#include "script/script_scan.h"
#include "setup/setup_run.h"

namespace {

const uint32_t kMaxScriptBytes = 0xffffffffu - 8;

// ---- The file as written -----------------------------------------------------

void AppendUnit(std::string* out, uint32_t unit) {
  out->push_back(static_cast<char>(unit & 0xff));
  out->push_back(static_cast<char>(unit >> 8));
}

std::string EncodeUtf16(const std::u32string& text) {
  std::string out = "\xff\xfe";
  for (char32_t c : text) {
    if (c >= 0x10000) {
      AppendUnit(&out, 0xD800 + ((c - 0x10000) >> 10));
      AppendUnit(&out, 0xDC00 + ((c - 0x10000) & 0x3ff));
    } else {
      AppendUnit(&out, c);
    }
  }
  return out;
}

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
  size_t line = 1, column = 1;
  for (size_t i = start; i < bytes.size();) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    size_t length = c < 0x80 ? 1 : (c & 0xe0) == 0xc0 ? 2
                                 : (c & 0xf0) == 0xe0 ? 3
                                 : (c & 0xf8) == 0xf0 ? 4 : 0;
    char32_t point = length == 1 ? c : length == 2 ? c & 0x1f
                                 : length == 3 ? c & 0x0f : c & 0x07;
    bool ok = length > 0 && i + length <= bytes.size();
    for (size_t k = 1; ok && k < length; ++k) {
      unsigned char next = static_cast<unsigned char>(bytes[i + k]);
      ok = (next & 0xc0) == 0x80;
      point = point << 6 | (next & 0x3f);
    }
    static const char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (ok && (point < kSmallest[length] || point > 0x10FFFF ||
               (point >= 0xD800 && point <= 0xDFFF)))
      ok = false;
    if (!ok) {
      *badLine = line;
      *badColumn = column;
      return false;
    }
    text->push_back(point);
    if (point == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
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

bool StartsWithFolded(const std::string& text, const char* prefix) {
  return MatchKeyword(text.c_str(), prefix);
}

std::string Quoted(const std::string& ansi);

// The program's text is ANSI; findings show it in UTF-8.
std::string AnsiToUtf8(const std::string& ansi) {
  std::u32string wide;
  for (unsigned char c : ansi)
    wide.push_back(HostAnsiToWide(c));
  return ToUtf8(wide);
}

std::string Quoted(const std::string& ansi) {
  return "\"" + AnsiToUtf8(ansi) + "\"";
}

const char* const kRoots[] = {"HKEY_LOCAL_MACHINE\\", "HKEY_CURRENT_USER\\",
                              "HKEY_CLASSES_ROOT\\"};

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

// The line's first character after blanks.
char FirstCharacter(const std::string& text, const LineMap& lines,
                    size_t line) {
  size_t i = lines.starts[line - 1];
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
    ++i;
  return i < text.size() ? text[i] : '\0';
}

std::string LineText(const std::string& text, const LineMap& lines,
                     size_t line) {
  size_t start = lines.starts[line - 1];
  size_t end = text.find('\n', start);
  if (end == std::string::npos)
    end = text.size();
  return text.substr(start, end - start);
}

// The names of a key path, as the registry splits it (empty names are
// skipped), each with its offset in the path.
std::vector<std::pair<size_t, std::string>> SplitPathAt(
    const std::string& path) {
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

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> names;
  for (auto& name : SplitPathAt(path))
    names.push_back(std::move(name.second));
  return names;
}

struct Analysis {
  const SourceScript& script;
  const std::string& text;  // the program's text, before the import
  const LineMap& lines;
  CheckReport* report;

  void Add(Finding::Severity severity, size_t offset, std::string message) {
    report->findings.push_back(Finding{severity, lines.LineOf(offset),
                                       lines.ColumnOf(offset),
                                       std::move(message)});
  }
  void AddAtLine(size_t line, std::string message) {
    report->findings.push_back(
        Finding{Finding::kWarning, line, 1, std::move(message)});
  }
};

// Characters that the code page lacks, and a NUL that ends the text early.
void CheckCharacters(Analysis* a) {
  const std::u32string& source = a->script.text;
  size_t lastLine = 0;
  for (size_t i = 0; i < a->text.size() && i < source.size(); ++i) {
    if (a->text[i] != '?' || source[i] == '?')
      continue;
    size_t line = a->lines.LineOf(i);
    if (line == lastLine)
      continue;  // one report a line is enough
    lastLine = line;
    char code[16];
    snprintf(code, sizeof(code), "U+%04X", static_cast<unsigned>(source[i]));
    a->Add(Finding::kWarning, i,
           std::string("character ") + code +
               " is not in the ANSI code page (Windows-1252): the program "
               "writes '?' instead");
  }
  if (a->text.size() < source.size()) {
    size_t after = 0;
    for (size_t i = a->text.size(); i < source.size(); ++i)
      after += source[i] == '\n';
    a->report->findings.push_back(
        Finding{Finding::kWarning, a->lines.Lines() ? a->lines.Lines() : 1,
                a->text.size() ? a->lines.ColumnOf(a->text.size() - 1) + 1 : 1,
                "a NUL character ends the script for the program: the " +
                    std::to_string(after) + " line(s) after it are never read"});
  }
}

}  // namespace

std::string ToUtf8(const std::u32string& text) {
  std::string out;
  for (char32_t c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xc0 | c >> 6));
      out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xe0 | c >> 12));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3f)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    } else {
      out.push_back(static_cast<char>(0xf0 | c >> 18));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3f)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3f)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    }
  }
  return out;
}

bool LoadScript(const std::string& path, const std::string& bytes,
                SourceScript* script, std::string* error) {
  script->path = path;
  script->text.clear();
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xff &&
      static_cast<unsigned char>(bytes[1]) == 0xfe) {
    script->wasUtf16 = true;
    script->text = DecodeUtf16(bytes);
    script->shipped = bytes;
  } else if (bytes.size() >= 2 &&
             static_cast<unsigned char>(bytes[0]) == 0xfe &&
             static_cast<unsigned char>(bytes[1]) == 0xff) {
    *error = "big-endian UTF-16: the program reads only UTF-16LE (save it "
             "as UTF-16LE with its byte-order mark, or as UTF-8)";
    return false;
  } else {
    script->wasUtf16 = false;
    size_t start = bytes.compare(0, 3, "\xef\xbb\xbf") == 0 ? 3 : 0;
    size_t line, column;
    if (!DecodeUtf8(bytes, start, &script->text, &line, &column)) {
      *error = std::to_string(line) + ":" + std::to_string(column) +
               ": neither UTF-16LE with its byte-order mark nor UTF-8 text";
      return false;
    }
    script->shipped = EncodeUtf16(script->text);
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

namespace {

// Runs the payload stage on the script packed into an in-memory program.
bool DecodeAsTheProgram(const SourceScript& script) {
  return HostReadScript(script.shipped);
}

}  // namespace

bool ProbeScript(const SourceScript& script, uint32_t* version) {
  if (!DecodeAsTheProgram(script))
    return false;
  bool found = ProbeEmbeddedVersion(ScriptText);
  if (found)
    *version = EmbeddedVersion;
  FreeRunBuffers();
  return found;
}

int InstallScript(const SourceScript& script, bool* hasVersion,
                  uint32_t* version) {
  *hasVersion = false;
  if (!DecodeAsTheProgram(script))
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

CheckReport CheckScript(const SourceScript& script) {
  CheckReport report;
  ResetMachine();
  HostRegistryTraceCalls(true);
  if (!DecodeAsTheProgram(script)) {
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
  Analysis a{script, text, lines, &report};

  bool probed = ProbeEmbeddedVersion(ScriptText);
  ScriptStop probeStop = LastScriptStop;
  ScriptStop importStop{nullptr, kFaultNone};
  if (probed) {
    report.hasVersion = true;
    report.version = EmbeddedVersion;
    report.outcome = UpdateSequence(EmbeddedVersion, ScriptText);
    importStop = LastScriptStop;
  } else {
    report.outcome = kOutcomeVersionInvalid;
  }
  auto offsetOf = [&](const char* p) {
    return static_cast<size_t>(p - base);
  };
  auto inText = [&](const char* p) {
    return p && p >= base && p <= base + text.size();
  };

  // Calls the import made, by where their text lies.
  struct Header {
    size_t open, close, subKey;  // offsets of '[', ']' and the subkey path
    const HostRegistryCall* call;
  };
  std::vector<Header> headers;
  std::vector<std::pair<size_t, const HostRegistryCall*>> sets;  // line start
  LONG lastCreateResult = ERROR_SUCCESS;
  for (const HostRegistryCall& call : HostRegistryCalls()) {
    if (!inText(call.argument))
      continue;
    size_t at = offsetOf(call.argument);
    if (call.kind == HostRegistryCall::kCreateKey) {
      lastCreateResult = call.result;
      size_t open = text.rfind('[', at);
      size_t close = text.find(']', at);
      headers.push_back(Header{open, close, at, &call});
    } else {
      sets.push_back({at - 1, &call});
    }
  }
  report.headers = headers.size();

  // The error that decides the run.
  ScriptStop stop = probed ? importStop : probeStop;
  if (report.outcome < 0) {
    std::string message =
        FaultMessage(stop.fault, text, inText(stop.at) ? offsetOf(stop.at) : 0,
                     lastCreateResult);
    if (inText(stop.at))
      a.Add(Finding::kError, offsetOf(stop.at), message);
    else
      report.findings.push_back(Finding{Finding::kError, 0, 0, message});
  }

  CheckCharacters(&a);

  // Lines the import read, and the key each header named.
  std::vector<bool> consumed(lines.Lines() + 2, false);
  for (const Header& h : headers) {
    size_t last = h.close == std::string::npos ? lines.Lines()
                                               : lines.LineOf(h.close);
    for (size_t l = lines.LineOf(h.open); l <= last; ++l)
      consumed[l] = true;
    if (last != lines.LineOf(h.open))
      a.Add(Finding::kWarning, h.open,
            "this header's ']' is on line " + std::to_string(last) +
                ": the line breaks in between become part of the key name");
  }
  for (const auto& set : sets)
    consumed[lines.LineOf(set.first)] = true;

  // Ignored lines that look meant.
  size_t firstHeaderLine = headers.empty() ? lines.Lines() + 1
                                           : lines.LineOf(headers[0].open);
  size_t versionLine = probed ? lines.LineOf(offsetOf(probeStop.at)) : 0;
  size_t section = 0;  // index into headers of the section a line is in
  // Without a version the import never ran: which lines it would skip is
  // not known.
  for (size_t line = 1; probed && line <= lines.Lines(); ++line) {
    while (section + 1 < headers.size() &&
           lines.LineOf(headers[section + 1].open) <= line)
      ++section;
    if (consumed[line])
      continue;
    char first = FirstCharacter(text, lines, line);
    if (line < firstHeaderLine) {
      if (first == '"' && line == versionLine)
        a.AddAtLine(line,
                    "the version line stands before any section header: the "
                    "probe reads it, but the import never writes it");
      else if (first == '"')
        a.AddAtLine(line,
                    "value line before the first section header: ignored");
      continue;
    }
    if (first == '@') {
      a.AddAtLine(line,
                  "default-value line ('@=') ignored: to set a key's default "
                  "value write \"\"=");
      continue;
    }
    std::string content = LineText(text, lines, line);
    size_t lead = content.find_first_not_of(" \t");
    bool rootLike = false;
    for (const char* root : kRoots)
      rootLike = rootLike ||
                 (lead != std::string::npos &&
                  StartsWithFolded(content.substr(lead), root));
    if (rootLike && content.find(']') != std::string::npos) {
      std::string previous = headers[section].call->stored;
      a.AddAtLine(line,
                  "looks like a section header but lacks its '[': ignored, "
                  "and the values after it go into [" +
                      AnsiToUtf8(previous) + "]");
    }
  }

  // Keys: repeated headers and spellings that differ only in letter case.
  std::map<uintptr_t, size_t> firstHeader;  // key -> index into headers
  std::map<std::string, std::pair<size_t, size_t>> variants;  // first, more
  std::set<uintptr_t> distinct;
  for (size_t i = 0; i < headers.size(); ++i) {
    const Header& h = headers[i];
    if (h.call->result != ERROR_SUCCESS)
      continue;
    distinct.insert(h.call->key);
    std::string written = text.substr(
        h.subKey, (h.close == std::string::npos ? text.size() : h.close) -
                      h.subKey);
    auto seen = firstHeader.find(h.call->key);
    if (seen != firstHeader.end()) {
      const Header& f = headers[seen->second];
      std::string before = text.substr(f.subKey, f.close - f.subKey);
      size_t line = lines.LineOf(f.open);
      if (before == written)
        a.Add(Finding::kWarning, h.open,
              "repeated header: the key was opened on line " +
                  std::to_string(line) + " already; their values merge");
      else
        a.Add(Finding::kWarning, h.open,
              "names the same key as the header on line " +
                  std::to_string(line) +
                  ", differing only in letter case; the registry keeps [" +
                  AnsiToUtf8(h.call->stored) + "]");
      continue;
    }
    firstHeader[h.call->key] = i;
    // Names that an existing key already spells otherwise.
    std::vector<std::pair<size_t, std::string>> asked = SplitPathAt(written);
    std::vector<std::string> kept = SplitPath(h.call->stored);
    for (size_t k = 0; asked.size() <= kept.size() && k < asked.size(); ++k) {
      size_t keptIndex = kept.size() - asked.size() + k;
      const std::string& keptName = kept[keptIndex];
      if (asked[k].second == keptName)
        continue;
      std::string prefix;
      for (size_t j = 0; j <= keptIndex; ++j)
        prefix += (j ? "\\" : "") + kept[j];
      std::string id = HostFoldName(prefix) + "\n" + asked[k].second;
      auto variant = variants.find(id);
      if (variant == variants.end()) {
        variants[id] = {report.findings.size(), 0};
        a.Add(Finding::kWarning, h.subKey + asked[k].first,
              Quoted(asked[k].second) + " differs only in letter case from the "
              "existing key " + Quoted(keptName) +
                  "; the registry keeps the first spelling");
      } else {
        ++variant->second.second;
      }
      break;
    }
  }
  for (const auto& variant : variants) {
    size_t more = variant.second.second;
    if (more)
      report.findings[variant.second.first].message +=
          " (and in " + std::to_string(more) + " more header" +
          (more > 1 ? "s" : "") + ")";
  }
  report.keys = distinct.size();

  // Values: set twice, the version's place, and the platforms' limits.
  std::map<std::pair<uintptr_t, std::string>, size_t> firstSet;
  std::vector<size_t> versionSets;
  for (const auto& set : sets) {
    const HostRegistryCall& call = *set.second;
    size_t line = lines.LineOf(set.first);
    std::string name = call.argument;  // still terminated in the text
    if (call.result != ERROR_SUCCESS)
      continue;
    if (MatchKeyword(name.c_str(), kVersionValueName) &&
        name.size() == strlen(kVersionValueName))
      versionSets.push_back(line);
    auto id = std::make_pair(call.key, HostFoldName(call.stored));
    if (call.created) {
      firstSet[id] = line;
      ++report.values;
    } else {
      std::string spelled = call.stored == name
                                ? ""
                                : " (as " + Quoted(call.stored) +
                                      ", the name the registry keeps)";
      a.AddAtLine(line, "value " + Quoted(name) +
                            " is set again: this replaces the value from "
                            "line " + std::to_string(firstSet[id]) + spelled);
    }
    if (name.size() > 255)
      a.AddAtLine(line,
                  "value name of " + std::to_string(name.size()) +
                      " characters: Windows 95, 98 and Me take at most 255");
  }
  for (const Header& h : headers) {
    if (h.close == std::string::npos)
      continue;
    for (const auto& name :
         SplitPathAt(text.substr(h.subKey, h.close - h.subKey)))
      if (name.second.size() == 256)
        a.Add(Finding::kWarning, h.subKey + name.first,
              "key name of 256 characters: Windows takes at most 255 "
              "(Wine takes 256)");
  }
  for (size_t i = 1; i < versionSets.size(); ++i)
    a.AddAtLine(versionSets[i],
                "DriverVersion is set again: the version comes from line " +
                    std::to_string(versionLine) + " only");
  if (probed && !headers.empty() && versionLine >= firstHeaderLine) {
    size_t own = 0;
    while (own + 1 < headers.size() &&
           lines.LineOf(headers[own + 1].open) <= versionLine)
      ++own;
    if (own != 0)
      a.AddAtLine(versionLine,
                  "the version line is not in the first section (it is in [" +
                      AnsiToUtf8(headers[own].call->stored) + "])");
  }
  if (report.outcome == kOutcomeUpdated && NeedsUpdate(report.version))
    a.AddAtLine(versionLine ? versionLine : 1,
                "after installing, the program finds no installed version "
                "in HKEY_LOCAL_MACHINE\\Software\\morvelan\\DRIVER2: every "
                "run will install again");

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
  std::string text = HostRegistryExport();
  auto unescape = [](const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
      if (s[i] == '%' && i + 2 < s.size()) {
        out.push_back(static_cast<char>(strtol(s.substr(i + 1, 2).c_str(),
                                               nullptr, 16)));
        i += 2;
      } else {
        out.push_back(s[i]);
      }
    }
    return out;
  };
  TreeKey* key = nullptr;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line[0] == '[') {
      std::string path = unescape(line.substr(1, line.size() - 2));
      tree.keys.push_back({HostFoldName(path), TreeKey{AnsiToUtf8(path), {}}});
      key = &tree.keys.back().second;
    } else if (key) {
      size_t close = line.find("\"=");
      std::string name = unescape(line.substr(1, close - 1));
      std::string shown = line.substr(close + 2);
      if (!shown.empty() && shown[0] == '"')
        shown = Quoted(unescape(shown.substr(1, shown.size() - 2)));
      key->values.push_back({AnsiToUtf8(name), shown});
    }
  }
  std::sort(tree.keys.begin(), tree.keys.end(),
            [](const auto& x, const auto& y) { return x.first < y.first; });
  return tree;
}
