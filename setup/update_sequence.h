// The install branch of the run, for RunScriptStages and its tests alone:
// every caller outside setup/ runs the stages, lock and commit included.
#pragma once

#include <stdint.h>

#include "setup/setup_run.h"

/// Nothing when the installed version is current (1); otherwise removes the
/// installed database and imports the script (0), or reports a failed
/// import (-3). The script text is edited by the import.
RunOutcome UpdateSequence(uint32_t embeddedVersion, char* scriptText);
