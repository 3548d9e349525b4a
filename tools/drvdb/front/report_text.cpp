#include "tools/drvdb/front/report_text.h"

#include <map>
#include <sstream>

#include "setup/setup_run.h"

namespace {

std::string Summary(const CheckReport& report) {
  std::ostringstream out;
  out << "version " << VersionShown(report) << ", " << report.lines
      << " lines, " << report.headers << " headers, " << report.keys
      << " keys, " << report.values << " values";
  return out.str();
}

}  // namespace

std::string Message(const Finding& f) {
  return f.message + " [--allow=" + KindName(f.kind) + "]";
}

namespace {

// Where and what, the line, and a caret under the column.
void PrintAt(std::ostream& out, const SourceScript& script, size_t lineNumber,
             size_t column, const char* label, const std::string& message) {
  out << script.path << ":" << lineNumber << ":" << column << ": " << label
      << ": " << message << "\n";
  std::string line = SourceLine(script, lineNumber);
  out << line << "\n";
  // The caret keeps the line's tabs, so that it stands under the column.
  SourceScript view;
  LoadError error;
  LoadScript("", line, &view, &error);
  std::string caret;
  for (size_t i = 0; i + 1 < column && i < view.text.size(); ++i)
    caret.push_back(view.text[i] == U'\t' ? '\t' : ' ');
  for (size_t i = view.text.size(); i + 1 < column; ++i)
    caret.push_back(' ');
  out << caret << "^\n";
}

}  // namespace

void PrintFinding(std::ostream& out, const SourceScript& script,
                  const Finding& f, const Gate& gate) {
  PrintAt(out, script, f.line, f.column, Label(gate, f), Message(f));
}

void PrintStop(std::ostream& out, const SourceScript& script,
               const RunStop& stop) {
  PrintAt(out, script, stop.line, stop.column, "error", stop.message);
}

std::string VersionShown(const CheckReport& report) {
  if (!report.hasVersion)
    return "none";
  return std::to_string(report.version) + " (" + report.versionText + ")";
}

std::string OutcomeText(int outcome) {
  std::string text = std::to_string(outcome) + " (\"" +
                     OutcomeBoxText(outcome) + "\")";
  if (outcome == kOutcomeInstallFailed)
    text += ", after deleting the installed database (which also forgets "
            "its version: the next good program repairs it)";
  return text;
}

void PrintReport(std::ostream& out, const SourceScript& script,
                 const CheckReport& report, const Gate& gate, bool quiet,
                 bool showAllowed) {
  size_t errors = 0, warnings = 0, allowed = 0;
  for (const Finding* f : ReportOrder(report)) {
    if (!f) {
      PrintStop(out, script, report.stop);
      continue;
    }
    // Allowed findings are counted, and listed only when asked.
    if ((!quiet && (showAllowed || !Allowed(gate, *f))) || Blocks(gate, *f))
      PrintFinding(out, script, *f, gate);
    if (Allowed(gate, *f))
      ++allowed;
    else if (!IsError(*f))
      ++warnings;
    else
      ++errors;
  }
  if (report.outcome < 0) {
    out << script.path << ": the setup program would fail with "
        << OutcomeText(report.outcome) << "\n";
    return;
  }
  out << script.path << ": " << (Fails(report, gate) ? "fails" : "ok") << ": "
      << Summary(report);
  if (errors)
    out << "; the program would install it (exit 0), but " << errors
        << " error(s) write what no maintainer means";
  if (warnings)
    out << (errors ? ", " : "; ") << warnings << " warning"
        << (warnings > 1 ? "s" : "")
        << (gate.strict || gate.werror ? "" : " (errors with --werror)");
  if (allowed)
    out << (errors || warnings ? ", " : "; ") << allowed << " allowed";
  out << "\n";
}

void PrintWhatWouldPass(std::ostream& out, const std::string& lead,
                        const SourceScript& script, const CheckReport& report,
                        const Gate& gate, const std::set<Kind>& more) {
  std::set<Kind> kinds = more;
  std::map<size_t, std::set<Kind>> lines;
  // An allowance comment that is itself the finding is mended where it
  // stands, never allowed by another comment.
  std::map<size_t, const Finding*> comments;
  for (const Finding& f : report.findings)
    if (Blocks(gate, f)) {
      kinds.insert(f.kind);
      if (f.kind == Kind::kUnusedAllow || f.kind == Kind::kUnknownAllow)
        comments.emplace(f.line, &f);
      else
        lines[f.line].insert(f.kind);
    }
  if (kinds.empty())
    return;
  std::string allow;
  for (const KindRow& row : kKinds)  // in the table's order
    if (kinds.count(row.kind))
      allow += std::string(allow.empty() ? "" : ",") + row.name;
  out << lead << "to pass as it stands, allow every kind that refuses it: "
      << "--allow=" << allow << "\n";
  for (const auto& [line, f] : comments)
    out << script.path << ":" << line << ": "
        << (f->kind == Kind::kUnknownAllow
                ? "correct the allowance comment on this line: "
                : "take out of the allowance comment on this line what "
                  "allows nothing: ")
        << f->message << "\n";
  if (lines.empty())
    return;
  out << lead << "or allow each where it stands, with a comment above its "
      << "line:\n";
  for (const auto& [line, here] : lines) {
    std::string names;
    for (const KindRow& row : kKinds)
      if (here.count(row.kind))
        names += std::string(names.empty() ? "" : ",") + row.name;
    out << script.path << ":" << line << ": ; drvdb: allow=" << names << "\n";
  }
}
