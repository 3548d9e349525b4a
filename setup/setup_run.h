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

/// An install that shows no box: what "-ns -ne" gives.
const RunFlags kSilentInstall = {true, false, false, false};

/// Reads the options "-v", "-ns" and "-ne" (each also with double quotes
/// around it as part of the token) from a command tail. Tokens end at a
/// blank, CR, LF or the end; words are compared case-sensitively and whole;
/// anything else is ignored. "-v" turns installing and both outcome boxes
/// off.
RunFlags ParseOptions(const char* commandTail);

/// The text of the box that reports outcome, from the run's one table of
/// outcomes; null for a value that is no outcome.
const char* OutcomeBoxText(RunOutcome outcome);

/// Every stage after the payload is read, on its text: the version probe
/// (-2 when it fails), the version box where the flags ask for it, and with
/// the install flag the lock, the update sequence and the commit (1, 0 or
/// -3). Sets *versionLine to the line the probe read, or null. The import
/// edits the text. No outcome box: that is SetupRun's, once the buffers are
/// freed.
RunOutcome RunScriptStages(const RunFlags& flags, char* scriptText,
                           const char** versionLine);

/// The program's main routine: parses the options, reads the payload from
/// the running executable, runs the stages on its script, frees the run's
/// buffers, shows the outcome box the flags allow and returns the outcome.
RunOutcome SetupRun(const char* commandTail);
