// drvdb's reports as text: each finding as FILE:LINE:COLUMN: with its line
// and a caret under the column, and a summary line.
#pragma once

#include <ostream>
#include <set>
#include <string>

#include "tools/drvdb/engine/check.h"
#include "tools/drvdb/engine/gate.h"
#include "tools/drvdb/engine/source.h"

/// A finding's message with the option that allows its kind.
std::string Message(const Finding& finding);

/// One finding: where and what, its line, and a caret under its column.
void PrintFinding(std::ostream& out, const SourceScript& script,
                  const Finding& finding, const Gate& gate);

/// Where the program's run stops, as an error told the same way.
void PrintStop(std::ostream& out, const SourceScript& script,
               const RunStop& stop);

/// "71 (dword:00000047)": the version as the program reads it, and as
/// written.
std::string VersionShown(const CheckReport& report);

/// An outcome and the box that says it, and for -3 what the run leaves.
std::string OutcomeText(int outcome);

/// Every finding (with quiet, only those that block and the run's own
/// failure), then the verdict: the run's failure, or ok/fails with the
/// summary and the counts of errors, warnings and allowed findings.
void PrintReport(std::ostream& out, const SourceScript& script,
                 const CheckReport& report, const Gate& gate, bool quiet,
                 bool showAllowed);

/// What would let the report's findings pass the gate, the run's own
/// failure aside (no allowance helps that), in lines that begin with lead:
/// the --allow= list of every kind that blocks (with more, kinds that block
/// elsewhere), which passes as it stands, and for each line the comment to
/// write above it. Nothing when no finding of a kind blocks.
void PrintWhatWouldPass(std::ostream& out, const std::string& lead,
                        const SourceScript& script, const CheckReport& report,
                        const Gate& gate, const std::set<Kind>& more = {});
