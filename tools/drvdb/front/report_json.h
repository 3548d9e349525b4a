// drvdb's report as JSON, for CI: one object a file.
#pragma once

#include <ostream>
#include <string>

#include "tools/drvdb/engine/check.h"
#include "tools/drvdb/engine/gate.h"
#include "tools/drvdb/engine/source.h"

/// The text as a JSON string, control characters escaped.
std::string JsonString(const std::string& text);

/// The file, its verdict, the run's outcome, the summary and the findings,
/// each with its severity (as Label gives it), where, its kind's name and
/// its message.
void PrintJson(std::ostream& out, const SourceScript& script,
               const CheckReport& report, const Gate& gate);
