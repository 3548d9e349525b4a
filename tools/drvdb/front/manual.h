// drvdb's manual page, in the roff that man reads, made from the same text
// and tables as --help.
#pragma once

#include <string>
#include <utility>
#include <vector>

/// A command as the command table gives it.
struct ManualCommandText {
  std::string title;  // "drvdb check [OPTIONS] FILE..."
  std::string about;  // its lines
  std::vector<std::pair<std::string, std::vector<std::string>>> options;
                      // each option's label and the lines of its help
};

struct ManualText {
  std::string version;                 // "drvdb 1.0.0"
  std::vector<std::string> usages;     // one for each command, after "drvdb "
  std::string about;                   // paragraphs, blank lines between
  std::vector<ManualCommandText> commands;
  std::string outputs;                 // the paragraph on outputs
};

/// The page, dated from SOURCE_DATE_EPOCH when it is set (so that a release
/// is the same bytes whenever it is built), else from today. ASCII only.
std::string ManualPage(const ManualText& text);
