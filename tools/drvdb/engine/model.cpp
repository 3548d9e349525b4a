#include "tools/drvdb/engine/model.h"

#include <string.h>

#include <map>
#include <set>

#include "platform/host/cp1252.h"
#include "platform/host/hive_text.h"
#include "script/database.h"
#include "script/script_import.h"
#include "script/script_scan.h"
#include "script/version_probe.h"
#include "tools/drvdb/engine/wording.h"

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

std::string FoldedKey(const std::string& keyPath) {
  HKEY root;
  const char* subKey;
  if (!SplitRoot(keyPath.c_str(), &root, &subKey))
    return "";
  return HostFoldName(HostKeyPath(root, subKey));
}

const std::string& FoldedDatabaseKey() {
  static const std::string key =
      HostFoldName(HostKeyPath(HKEY_LOCAL_MACHINE, kDatabaseKeyPath));
  return key;
}

namespace {

const char kWowKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432NODE";

// The headers, with the first of each key and the paths through
// Wow6432Node.
void IndexHeaders(Model* m) {
  const ScriptRun& run = m->run;
  std::map<std::string, size_t> firstOfKey;
  std::set<uintptr_t> keys;
  for (size_t i = 0; i < run.headers.size(); ++i) {
    const RunHeader& h = run.headers[i];
    ModelHeader header;
    header.keyPath = run.KeyPath(h);
    header.key = FoldedKey(header.keyPath);
    header.closed = h.close != std::string::npos;
    header.line = m->Line(h.open);
    header.lastLine = header.closed ? m->Line(h.close) : run.lines.Lines();
    header.hasValues = false;
    header.firstOfKey = std::string::npos;
    if (!header.key.empty() && header.closed)
      header.firstOfKey = firstOfKey.emplace(header.key, i).first->second;
    if (HostKeyIsUnder(header.key, kWowKey) && !m->wowHeaders++)
      m->firstWowHeader = i;
    m->reachedHeaders += h.call != nullptr;
    if (h.call && h.call->result == ERROR_SUCCESS)
      keys.insert(h.call->key);
    m->headers.push_back(header);
  }
  m->distinctKeys = keys.size();
}

// Which header's key path or value lines hold each line.
void IndexLines(Model* m) {
  const ScriptRun& run = m->run;
  m->lineHeader.assign(run.lines.Lines() + 2, 0);
  for (size_t i = 0; i < m->headers.size(); ++i)
    for (size_t l = m->headers[i].line; l <= m->headers[i].lastLine; ++l)
      m->lineHeader[l] = i + 1;
  for (const RunValue& v : run.values) {
    m->lineHeader[m->Line(v.start)] = v.header + 1;
    m->headers[v.header].hasValues = true;
  }
}

// The value lines that set each value, by key and folded name.
void IndexValues(Model* m) {
  const ScriptRun& run = m->run;
  std::map<std::pair<uintptr_t, std::string>, size_t> first;
  for (size_t i = 0; i < run.values.size(); ++i) {
    const RunValue& v = run.values[i];
    const RunHeader& h = run.headers[v.header];
    m->firstSetter.push_back(std::string::npos);
    if (!v.passed || !h.call || h.call->result != ERROR_SUCCESS)
      continue;
    auto set = first.emplace(std::make_pair(h.call->key,
                                            HostFoldName(run.Name(v))), i);
    m->firstSetter.back() = set.first->second;
    m->distinctValues += set.second;
  }
}

// The version as written, and where the probe's reading of it ends.
void IndexVersion(Model* m) {
  const ScriptRun& run = m->run;
  if (!run.hasVersion)
    return;
  m->versionLine = m->Line(run.versionAt);
  m->versionDigits = run.versionAt + strlen(kVersionKeyword);
  const size_t type = m->versionDigits - strlen(kVersionType);
  uint32_t ignored = 0;
  const char* text = run.text.c_str();
  const char* end = AccumulateHex(text + m->versionDigits, &ignored);
  m->versionText =
      run.text.substr(type, static_cast<size_t>(end - (text + type)));
}

// An allowance comment: "; drvdb: allow=" and the kinds, blanks allowed
// around the words.
const char kAllowDirective[] = "drvdb:";
const char kAllowWord[] = "allow=";

// A line the program ignores that begins (after blanks) with ';'; a line
// of a key path or a value line is none.
const char* Comment(const Model& m, size_t line) {
  if (m.lineHeader[line])
    return nullptr;
  const char* p =
      SkipBlanks(m.run.text.c_str() + m.run.lines.starts[line - 1]);
  return *p == ';' ? p : nullptr;
}

// The kinds that a comment line allows, from just after "allow=" to the
// line's end: names separated by commas, blanks around them.
void TakeKinds(const Model& m, const char* p, Allowance* allowance) {
  const char* base = m.run.text.c_str();
  while (*p && *p != '\r' && *p != '\n') {
    p = SkipBlanks(p);
    const char* end = p;
    while (*end && *end != ',' && *end != '\r' && *end != '\n')
      ++end;
    const char* last = end;
    while (last > p && (last[-1] == ' ' || last[-1] == '\t'))
      --last;
    const std::string name(p, last);
    const size_t at = static_cast<size_t>(p - base);
    Kind kind;
    if (FindKind(name, &kind))
      allowance->kinds.push_back({kind, at});
    else if (!name.empty())  // a comma too many allows nothing
      allowance->unknown.push_back({name, at});
    p = *end == ',' ? end + 1 : end;
  }
}

// The script's allowance comments, each with the line it allows.
void IndexAllowances(Model* m) {
  const size_t lines = m->run.lines.Lines();
  for (size_t line = 1; line <= lines; ++line) {
    const char* p = Comment(*m, line);
    if (!p)
      continue;
    p = SkipBlanks(p + 1);
    if (!MatchKeyword(p, kAllowDirective))
      continue;
    p = SkipBlanks(p + strlen(kAllowDirective));
    if (!MatchKeyword(p, kAllowWord))
      continue;
    Allowance allowance{line, line + 1, {}, {}};
    while (allowance.target <= lines && Comment(*m, allowance.target))
      ++allowance.target;
    TakeKinds(*m, p + strlen(kAllowWord), &allowance);
    m->allowances.push_back(allowance);
  }
}

}  // namespace

size_t Model::HeaderAt(size_t offset) const {
  size_t found = std::string::npos;
  for (size_t i = 0; i < run.headers.size() && run.headers[i].open <= offset;
       ++i)
    found = i;
  return found;
}

std::string Model::KeyShown(size_t header) const {
  const RunHeader& h = run.headers[header];
  return VisibleName(h.call && h.call->result == ERROR_SUCCESS
                         ? h.call->stored
                         : headers[header].keyPath);
}

void BuildModel(Model* m) {
  IndexHeaders(m);
  IndexLines(m);
  IndexValues(m);
  IndexVersion(m);
  IndexAllowances(m);
  const ScriptRun& run = m->run;
  m->readLines = !run.imported ? 0
                 : run.outcome < 0 && run.stopAt != std::string::npos
                     ? m->Line(run.stopAt)
                     : run.lines.Lines();
  m->installed = ReadInstalledVersion(&m->installedVersion);
}

Finding FindingAt(const Model& m, Kind kind, size_t offset,
                  std::string message) {
  const LineMap& lines = m.run.lines;
  const bool empty = lines.Lines() == 0;
  return Finding{kind, empty ? 1 : lines.LineOf(offset),
                 empty ? 1 : lines.ColumnOf(offset), std::move(message)};
}

Finding FindingAtLine(Kind kind, size_t line, std::string message) {
  return Finding{kind, line, 1, std::move(message)};
}
