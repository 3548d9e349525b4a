// The passes over the keys a script names: keys named twice or spelt two
// ways, and keys outside the database.

#include <stdint.h>

#include <map>
#include <set>

#include "platform/host/cp1252.h"
#include "platform/host/hive_text.h"
#include "tools/drvdb/engine/passes.h"
#include "tools/drvdb/engine/wording.h"

namespace {

// Spellings of one key that differ only in letter case among the script's
// own headers (not against keys that every machine has): one finding for
// each name spelt differently, counting the later headers that repeat it.
void CheckSpellings(const Model& m, Findings* found) {
  // Folded prefix -> its first spelling, the header that wrote it, its
  // finding and how many later headers repeat the difference.
  struct Spelling {
    std::string name;
    size_t header;
    size_t finding = SIZE_MAX;
    size_t more = 0;
  };
  std::map<std::string, Spelling> spellings;
  for (size_t i = 0; i < m.headers.size(); ++i) {
    if (m.headers[i].firstOfKey != i)
      continue;
    std::string prefix;
    for (const auto& name : SplitPath(m.headers[i].keyPath)) {
      prefix += "\\" + HostFoldName(name.second);
      auto spelled = spellings.emplace(prefix, Spelling{name.second, i});
      Spelling& first = spelled.first->second;
      if (spelled.second || first.name == name.second)
        continue;
      if (first.finding == SIZE_MAX) {
        first.finding = found->size();
        found->push_back(FindingAt(
            m, Kind::kLetterCase, m.run.headers[i].open + 1 + name.first,
            Quoted(name.second) + " differs only in letter case from " +
                Quoted(first.name) + " on line " +
                std::to_string(m.headers[first.header].line) +
                "; the registry keeps the first spelling"));
      } else {
        ++first.more;
      }
      break;
    }
  }
  for (const auto& spelled : spellings) {
    const Spelling& s = spelled.second;
    if (s.more)
      (*found)[s.finding].message += " (and in " + std::to_string(s.more) +
                                     " more header" + (s.more > 1 ? "s" : "") +
                                     ")";
  }
}

// The key a header names, as 64-bit Windows resolves a path through
// Wow6432Node for the product's 32-bit view.
std::string ViewKey(const std::string& key) {
  const std::string software = "HKEY_LOCAL_MACHINE\\SOFTWARE\\";
  const std::string wow = software + "WOW6432NODE";
  if (!HostKeyIsUnder(key, wow))
    return key;
  return key.size() == wow.size() ? software.substr(0, software.size() - 1)
                                  : software + key.substr(wow.size() + 1);
}

}  // namespace

// Repeated headers, and headers that differ from an earlier one only in
// letter case; then the spellings of their names. Counted over the whole
// script.
void CheckKeyNames(const Model& m, Findings* found) {
  for (size_t i = 0; i < m.headers.size(); ++i) {
    const ModelHeader& h = m.headers[i];
    if (h.firstOfKey == std::string::npos || h.firstOfKey == i)
      continue;
    const ModelHeader& first = m.headers[h.firstOfKey];
    const std::string line = std::to_string(first.line);
    const size_t open = m.run.headers[i].open;
    if (first.keyPath == h.keyPath)
      found->push_back(FindingAt(
          m, Kind::kRepeatedHeader, open,
          "repeated header: the key was opened on line " + line +
              " already; their values merge"));
    else
      found->push_back(FindingAt(
          m, Kind::kLetterCase, open,
          "names the same key as the header on line " + line +
              ", differing only in letter case; the registry keeps [" +
              m.KeyShown(h.firstOfKey) + "]"));
  }
  CheckSpellings(m, found);
}

// Keys outside the database: an update deletes only DRIVER2, so whatever a
// script writes elsewhere stays on every machine for good. Paths through
// Wow6432Node get one finding of their own.
void CheckScope(const Model& m, Findings* found) {
  std::set<std::string> outside;
  size_t first = std::string::npos;
  for (size_t i = 0; i < m.headers.size(); ++i) {
    const std::string key = ViewKey(m.headers[i].key);
    // The database's own parents are made anyway; a value in one is not.
    bool parent =
        HostKeyIsUnder(FoldedDatabaseKey(), key) && !m.headers[i].hasValues;
    if (key.empty() || HostKeyIsUnder(key, FoldedDatabaseKey()) || parent)
      continue;
    if (!outside.insert(key).second)
      continue;
    if (first == std::string::npos)
      first = i;
  }
  if (m.wowHeaders)
    found->push_back(FindingAt(
        m, Kind::kWow6432Node, m.run.headers[m.firstWowHeader].open,
        "the key path runs through Wow6432Node" +
            std::string(m.wowHeaders > 1
                            ? " (and " + std::to_string(m.wowHeaders - 1) +
                                  " more header(s))"
                            : "") +
            ": that is the 64-bit registry editor's name for the 32-bit "
            "view that the product writes, and on 32-bit Windows these "
            "keys would land in a key literally named Wow6432Node; export "
            "with reg export \"HKLM\\Software\\morvelan\\DRIVER2\" FILE "
            "/reg:32, which writes the path the program uses"));
  if (first == std::string::npos)
    return;
  std::string more = outside.size() > 1
                         ? " and " + std::to_string(outside.size() - 1) +
                               " more key(s)"
                         : std::string();
  found->push_back(FindingAt(
      m, Kind::kOutsideDatabase, m.run.headers[first].open,
      "writes outside HKEY_LOCAL_MACHINE\\Software\\morvelan\\DRIVER2, "
      "which an update never deletes: [" +
          AnsiToUtf8(m.headers[first].keyPath) + "]" + more));
}
