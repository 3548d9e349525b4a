#include "tools/drvdb/front/manual.h"

#include <stdlib.h>
#include <time.h>

#include <sstream>

#include "tools/drvdb/front/exit_status.h"
#include "tools/drvdb/engine/findings.h"

namespace {

// Text as roff sets it: backslashes and minus signs escaped (so that
// options copy as they read), and no line that roff would take for a
// request.
std::string Roff(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\''))
    out = "\\&" + out;
  return out;
}

std::string Date() {
  const char* epoch = getenv("SOURCE_DATE_EPOCH");
  time_t when = epoch && *epoch ? static_cast<time_t>(strtoll(epoch, nullptr, 10))
                                : time(nullptr);
  char date[32];
  const struct tm* parts = gmtime(&when);  // one thread: its buffer is ours
  if (!parts || !strftime(date, sizeof(date), "%Y-%m-%d", parts))
    return "";
  return date;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

// Paragraphs, blank lines between them; an indented line is an example.
std::string Paragraphs(const std::string& text) {
  std::string out = ".PP\n";
  for (const std::string& line : Lines(text)) {
    if (line.empty())
      out += ".PP\n";
    else if (line.compare(0, 4, "    ") == 0)
      out += ".RS\n.nf\n" + Roff(line.substr(4)) + "\n.fi\n.RE\n";
    else
      out += Roff(line) + "\n";
  }
  return out;
}

// A command: its title, its paragraph, and its options, each with its
// label in bold.
std::string Command(const ManualCommandText& command) {
  std::string out = ".SS " + Roff(command.title) + "\n";
  for (const std::string& line : Lines(command.about)) {
    const size_t text = line.find_first_not_of(' ');
    if (text != std::string::npos)
      out += Roff(line.substr(text)) + "\n";
  }
  for (const auto& [label, help] : command.options) {
    out += ".TP\n.B " + Roff(label) + "\n";
    for (const std::string& line : help)
      out += Roff(line) + "\n";
  }
  return out;
}

std::string Kinds() {
  std::string out = ".SH \"KINDS OF FINDING\"\n"
                    "Each is allowed by \\-\\-allow=NAME, or by a comment "
                    "above its line.\n";
  for (const KindRow& kind : kKinds)
    out += ".TP\n.B " + Roff(kind.name) + (kind.error ? " (error)" : "") +
           "\n" + Roff(kind.summary) + "\n";
  return out;
}

std::string Exits() {
  std::string out = ".SH \"EXIT STATUS\"\n";
  for (const ExitRow& exit : kExits)
    out += ".TP\n.B " + std::to_string(Code(exit.status)) + "\n" +
           Roff(exit.meaning) + "\n";
  return out;
}

}  // namespace

std::string ManualPage(const ManualText& text) {
  std::string page = ".TH DRVDB 1 \"" + Date() + "\" \"" +
                     Roff(text.version) + "\" \"User Commands\"\n";
  page += ".SH NAME\ndrvdb \\- checks, packs and inspects the drive database "
          "of the setup program\n";
  page += ".SH SYNOPSIS\n.nf\n";
  for (const std::string& usage : text.usages) {
    const std::vector<std::string> lines = Lines(usage);
    page += Roff("drvdb " + lines[0]) + "\n";
    for (size_t i = 1; i < lines.size(); ++i)  // a usage's own next lines
      page += Roff("      " + lines[i].substr(lines[i].find_first_not_of(' '))) +
              "\n";
  }
  page += ".fi\n.SH DESCRIPTION\n" + Paragraphs(text.about);
  page += ".SH COMMANDS\n";
  for (const ManualCommandText& command : text.commands)
    page += Command(command);
  page += ".SH OUTPUTS\n" + Paragraphs(text.outputs);
  return page + Kinds() + Exits();
}
