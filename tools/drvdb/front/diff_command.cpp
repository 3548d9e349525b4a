// drvdb diff: what an update from OLD to NEW does to a machine, each key
// and value as its script writes it, with where it stands.

#include <algorithm>
#include <iostream>
#include <utility>
#include <vector>

#include "script/database.h"
#include "tools/drvdb/engine/check.h"
#include "tools/drvdb/front/commands.h"
#include "tools/drvdb/engine/gate.h"
#include "tools/drvdb/engine/installed_tree.h"
#include "tools/drvdb/front/report_text.h"
#include "tools/drvdb/engine/version_rules.h"
#include "setup/setup_run.h"

namespace {

struct DiffCounts {
  size_t keysAdded = 0, keysRemoved = 0, added = 0, removed = 0, changed = 0;
  bool Any() const {
    return keysAdded || keysRemoved || added || removed || changed;
  }
};

// The script that wrote a tree, to name its lines.
struct Side {
  const std::string& file;
  const InstalledTree& tree;
};

std::string Where(const std::string& file, size_t line) {
  return line ? file + ":" + std::to_string(line) + ": " : std::string();
}

std::string ValueLine(char sign, const std::string& file,
                      const TreeValue& value) {
  return std::string(1, sign) + "     " + Where(file, value.line) +
         (value.line ? value.written : value.shown) + "\n";
}

// A key's lines of the diff, in the order of the lines that wrote them
// (each value by its line in its own script, a changed one by NEW's).
class KeyLines {
 public:
  void Add(size_t line, std::string text) {
    lines_.push_back({line, std::move(text)});
  }
  std::string Text() {
    std::stable_sort(lines_.begin(), lines_.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    std::string text;
    for (const auto& line : lines_)
      text += line.second;
    return text;
  }

 private:
  std::vector<std::pair<size_t, std::string>> lines_;
};

void PrintKey(char sign, const std::string& file, const TreeKey& key) {
  std::cout << sign << " " << Where(file, key.line) << "[" << key.path
            << "]\n";
  KeyLines lines;
  for (const auto& value : key.values)
    lines.Add(value.second.line, ValueLine(sign, file, value.second));
  std::cout << lines.Text();
}

// One key in both trees: its values removed, changed and added.
void DiffValues(const Side& old, const TreeKey& before, const Side& now,
                const TreeKey& after, DiffCounts* counts) {
  KeyLines lines;
  for (const auto& [folded, value] : before.values) {
    auto kept = after.values.find(folded);
    if (kept == after.values.end()) {
      lines.Add(value.line, ValueLine('-', old.file, value));
      ++counts->removed;
    } else if (kept->second.data != value.data) {
      lines.Add(kept->second.line, ValueLine('-', old.file, value) +
                                       ValueLine('+', now.file, kept->second));
      ++counts->changed;
    }
  }
  for (const auto& [folded, value] : after.values)
    if (!before.values.count(folded)) {
      lines.Add(value.line, ValueLine('+', now.file, value));
      ++counts->added;
    }
  const std::string text = lines.Text();
  if (!text.empty())
    std::cout << "  " << Where(now.file, after.line) << "[" << after.path
              << "]\n" << text;
}

DiffCounts DiffTrees(const Side& old, const Side& now) {
  DiffCounts counts;
  auto a = old.tree.begin(), b = now.tree.begin();
  while (a != old.tree.end() || b != now.tree.end()) {
    if (b == now.tree.end() || (a != old.tree.end() && a->first < b->first)) {
      PrintKey('-', old.file, a->second);
      ++counts.keysRemoved;
      counts.removed += (a++)->second.values.size();
    } else if (a == old.tree.end() || b->first < a->first) {
      PrintKey('+', now.file, b->second);
      ++counts.keysAdded;
      counts.added += (b++)->second.values.size();
    } else {
      DiffValues(old, (a++)->second, now, (b++)->second, &counts);
    }
  }
  return counts;
}

std::string VersionOf(const Install& install) {
  return install.hasVersion ? std::to_string(install.version)
                            : std::string("none");
}

}  // namespace

int DiffCommand(const std::vector<std::string>& args) {
  if (args.size() != 2 || LooksLikeOption(args[0]) || LooksLikeOption(args[1]))
    return Usage("diff", "needs OLD and NEW, each a script or a program");
  if (int status = OneStandardInput("diff", args))
    return status;
  SourceScript oldScript, newScript;
  if (int status = LoadEither(args[0], &oldScript))
    return status;
  if (int status = LoadEither(args[1], &newScript))
    return status;

  // The versions as written, beside each other: one written in decimal.
  std::string decimal;
  const CheckReport newReport = CheckScript(newScript);
  const bool slip =
      DecimalVersion(CheckScript(oldScript), newReport, &decimal);

  ResetMachine();
  const Install old = InstallScript(oldScript);
  Install now = InstallScript(newScript);
  std::cout << "version: " << VersionOf(old) << " -> " << VersionOf(now)
            << "\n";
  if (slip)
    PrintFinding(std::cout, newScript,
                 Finding{Kind::kDecimalVersion, newReport.versionLine, 1,
                         decimal},
                 Gate());
  if (old.outcome < 0) {
    PrintStop(std::cout, oldScript, old.failure);
    std::cout << "note: " << args[0] << " does not install: the program "
              << "fails with " << old.outcome << "\n";
  }
  if (now.outcome == kOutcomeAlreadyCurrent) {
    std::cout << "note: " << args[1] << "'s version is not greater: machines "
              << "with " << args[0] << " stay \"already up-to-date\"; had "
              << "the update run, it would do this:\n";
    ResetMachine();
    InstallScript(oldScript);
    ForgetInstalledVersion();
    now = InstallScript(newScript);
  }
  if (now.outcome < 0) {
    PrintStop(std::cout, newScript, now.failure);
    std::cout << "note: " << args[1] << " does not install: the program "
              << "fails with " << now.outcome << " at that line, after "
              << "deleting the installed database; what follows is what "
              << "it leaves\n";
  }
  DiffCounts counts =
      DiffTrees(Side{args[0], old.tree}, Side{args[1], now.tree});
  std::cout << counts.keysAdded << " keys added, " << counts.keysRemoved
            << " removed; " << counts.added << " values added, "
            << counts.removed << " removed, " << counts.changed
            << " changed\n";
  bool differs = counts.Any() || old.hasVersion != now.hasVersion ||
                 old.version != now.version;
  return Code(differs ? Exit::kFailed : Exit::kOk);
}
