// The setup run: options, stage order, outcomes and the one message box.
#pragma once

#include <stdint.h>

/// The outcome of a run, which is also the process exit code.
typedef int32_t RunOutcome;

const RunOutcome kOutcomeAlreadyCurrent = 1;     // installed version not older
const RunOutcome kOutcomeUpdated = 0;            // updated, or nothing asked
const RunOutcome kOutcomePayloadUnreadable = -1; // ReadPayload failed
const RunOutcome kOutcomeVersionInvalid = -2;    // ProbeEmbeddedVersion failed
const RunOutcome kOutcomeInstallFailed = -3;     // the import failed

struct RunFlags {
  bool install;
  bool showVersion;
  bool showErrors;
  bool showSuccess;
};

/// Reads the options "-v", "-ns" and "-ne" (each also with double quotes
/// around it as part of the token) from a command tail. Tokens end at a
/// blank, CR, LF or the end; words are compared case-sensitively and whole;
/// anything else is ignored. "-v" turns installing and both outcome boxes
/// off.
RunFlags ParseOptions(const char* commandTail);

/// The install branch: nothing when the installed version is current (1);
/// otherwise removes the installed database and imports the script (0), or
/// reports a failed import (-3). The script text is edited by the import.
RunOutcome UpdateSequence(uint32_t embeddedVersion, char* scriptText);

/// The text of the box that reports outcome, from the run's one table of
/// outcomes; null for a value that is no outcome.
const char* OutcomeBoxText(RunOutcome outcome);

/// The program's main routine: parses the options, reads the payload from
/// the running executable, probes its version, shows it or installs, frees
/// the run's buffers, shows the outcome box the flags allow and returns the
/// outcome.
RunOutcome SetupRun(const char* commandTail);
