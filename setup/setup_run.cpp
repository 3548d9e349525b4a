#include "setup/setup_run.h"

#include <stdio.h>

#include "payload/payload.h"
#include "script/script_fault.h"
#include "script/version_probe.h"
#include "setup/commit.h"
#include "setup/message_box.h"
#include "setup/run_lock.h"
#include "setup/update_sequence.h"

namespace {

// The flags of the current run, set by SetupRun from its command tail.
RunFlags Flags;

const char kBoxTitle[] = "Disc burning driver setup";

struct OutcomeMessage {
  RunOutcome outcome;
  const char* text;
  unsigned int style;
};

const OutcomeMessage kOutcomeMessages[] = {
    {kOutcomeAlreadyCurrent,
     "Disc burning driver information is already up-to-date.",
     kBoxInformation},
    {kOutcomeUpdated, "Disc burning driver information successfully updated.",
     kBoxInformation},
    {kOutcomePayloadUnreadable,
     "Error: the disc burning driver setup file is corrupted.", kBoxError},
    {kOutcomeVersionInvalid,
     "Error: the disc burning driver setup data is not valid.", kBoxError},
    {kOutcomeInstallFailed, "Error installing disc burning driver data.",
     kBoxError},
};

void ShowVersion(uint32_t version) {
  char text[100];
  // Shown signed: a version of 2^31 or more reads as a negative number.
  snprintf(text, sizeof(text), "Version: %d\n", static_cast<int>(version));
  ShowMessageBox(text, kBoxTitle, kBoxInformation);
}

const OutcomeMessage* FindOutcome(RunOutcome outcome) {
  for (const OutcomeMessage& message : kOutcomeMessages) {
    if (message.outcome == outcome)
      return &message;
  }
  return nullptr;
}

void ReportOutcome(RunOutcome outcome) {
  bool allowed = outcome < 0 ? Flags.showErrors : Flags.showSuccess;
  const OutcomeMessage* message = FindOutcome(outcome);
  if (allowed && message)
    ShowMessageBox(message->text, kBoxTitle, message->style);
}

}  // namespace

const char* OutcomeBoxText(RunOutcome outcome) {
  const OutcomeMessage* message = FindOutcome(outcome);
  return message ? message->text : nullptr;
}

RunOutcome RunScriptStages(const RunFlags& flags, char* scriptText,
                           const char** versionLine) {
  *versionLine = nullptr;
  if (!ProbeEmbeddedVersion(scriptText))
    return kOutcomeVersionInvalid;
  *versionLine = LastScriptStop.at;
  if (flags.showVersion)
    ShowVersion(EmbeddedVersion);
  if (!flags.install)
    return kOutcomeUpdated;
  // Copies started at once take turns: each tests the installed version
  // afresh once it holds the lock.
  HANDLE lock = TakeRunLock();
  RunOutcome outcome = UpdateSequence(EmbeddedVersion, scriptText);
  ReleaseRunLock(lock);
  // The box must tell the outcome that lasts: writes that could not be made
  // durable are a failed installation.
  if (!CommitRegistry() && outcome >= 0)
    outcome = kOutcomeInstallFailed;
  return outcome;
}

RunOutcome SetupRun(const char* commandTail) {
  Flags = ParseOptions(commandTail);
  RunOutcome outcome = kOutcomePayloadUnreadable;
  GetModulePath();
  const char* versionLine;
  if (ReadPayload())
    outcome = RunScriptStages(Flags, ScriptText, &versionLine);
  FreeRunBuffers();  // before the box: nothing is held while the user reads
  ReportOutcome(outcome);
  return outcome;
}
