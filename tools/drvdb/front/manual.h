// drvdb's manual page, in the roff that man reads, made from the same text
// and tables as --help.
#pragma once

#include <string>
#include <vector>

struct ManualText {
  std::string version;                 // "drvdb 1.0.0"
  std::vector<std::string> usages;     // one for each command, after "drvdb "
  std::string about;                   // paragraphs, blank lines between
  std::vector<std::string> commands;   // each command's part of --help
  std::string outputs;                 // the paragraph on outputs
};

/// The page, dated from SOURCE_DATE_EPOCH when it is set (so that a release
/// is the same bytes whenever it is built), else from today. ASCII only.
std::string ManualPage(const ManualText& text);
