#include "tools/drvdb/engine/installed_tree.h"

#include "platform/host/cp1252.h"
#include "platform/host/hive_text.h"
#include "script/script_import.h"
#include "tools/drvdb/engine/model.h"
#include "tools/drvdb/engine/passes.h"
#include "tools/drvdb/engine/script_run.h"
#include "tools/drvdb/engine/wording.h"

namespace {

// Each key and value that an install wrote, by folded path (and folded
// name), with the line that wrote it and its spelling there.
struct SourceMap {
  std::map<std::string, std::pair<std::string, size_t>> keys;
  std::map<std::pair<std::string, std::string>, std::pair<std::string, size_t>>
      values;
};

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

// Each key on a header's path, with the header's spelling up to it: the
// subkey's names are the stored path's last names.
void MapKeys(const ScriptRun& run, SourceMap* map) {
  for (const RunHeader& h : run.headers) {
    if (!h.call || h.call->result != ERROR_SUCCESS)
      continue;
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
      map->keys.emplace(
          HostFoldName(storedPrefix),
          std::make_pair(VisibleName(path.substr(0, spelled)), line));
    }
  }
}

SourceMap MapSource(const SourceScript& script, const ScriptRun& run) {
  SourceMap map;
  MapKeys(run, &map);
  for (const RunValue& v : run.values) {
    const RunHeader& h = run.headers[v.header];
    if (!v.passed || !h.call || h.call->result != ERROR_SUCCESS)
      continue;
    const size_t line = run.lines.LineOf(v.start);
    map.values[{HostFoldName(h.call->stored), HostFoldName(run.Name(v))}] =
        {Written(script, line), line};
  }
  return map;
}

// A value as the registry holds it: text in quotes, other types in the
// hive's own form.
std::string Shown(const HiveValue& v) {
  if (v.type == REG_SZ && !v.data.empty() &&
      v.data.find('\0') == v.data.size() - 1)
    return "\"" + VisibleName(v.data.substr(0, v.data.size() - 1)) + "\"";
  std::string written;
  AppendHiveValue(&written, v.name, v.type, v.data);
  std::string shown = written.substr(written.find("\"=") + 2);
  shown.pop_back();
  return shown;
}

// The registry as it stands, mapped onto the lines of the script that the
// map was made from.
InstalledTree ReadTree(const SourceMap& source) {
  InstalledTree tree;
  for (const auto& [folded, stored] : HostRegistryTree()) {
    TreeKey& key = tree[folded];
    auto spelled = source.keys.find(folded);
    key.path = spelled == source.keys.end() ? VisibleName(stored.path)
                                            : spelled->second.first;
    key.line = spelled == source.keys.end() ? 0 : spelled->second.second;
    for (const auto& [name, v] : stored.values) {
      TreeValue& value = key.values[name];
      value.data = Shown(v);
      value.shown = "\"" + VisibleName(v.name) + "\"=" + value.data;
      auto line = source.values.find({folded, name});
      if (line != source.values.end()) {
        value.written = line->second.first;
        value.line = line->second.second;
      }
    }
  }
  return tree;
}

}  // namespace

Install InstallScript(const SourceScript& script) {
  ScriptRun run;
  RunScript(script.shipped, &run);
  Install install;
  install.outcome = run.outcome;
  install.hasVersion = run.hasVersion;
  install.version = run.version;
  if (run.outcome < 0) {
    Model model(script, run);
    BuildModel(&model);
    ReportStop(model, &install.failure);
  }
  install.tree = ReadTree(MapSource(script, run));
  return install;
}
