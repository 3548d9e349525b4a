#include "setup/setup_run.h"

#include <stdio.h>

#include "payload/payload.h"
#include "platform/registry.h"
#include "script/script_scan.h"
#include "setup/message_box.h"
#include "setup/run_lock.h"

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

RunOutcome RunStages() {
  GetModulePath();
  if (!ReadPayload())
    return kOutcomePayloadUnreadable;
  if (!ProbeEmbeddedVersion(ScriptText))
    return kOutcomeVersionInvalid;
  if (Flags.showVersion)
    ShowVersion(EmbeddedVersion);
  if (!Flags.install)
    return kOutcomeUpdated;
  // Copies started at once take turns: each tests the installed version
  // afresh once it holds the lock.
  HANDLE lock = TakeRunLock();
  RunOutcome outcome = UpdateSequence(EmbeddedVersion, ScriptText);
  ReleaseRunLock(lock);
  return outcome;
}

}  // namespace

const char* OutcomeBoxText(RunOutcome outcome) {
  const OutcomeMessage* message = FindOutcome(outcome);
  return message ? message->text : nullptr;
}

RunOutcome SetupRun(const char* commandTail) {
  Flags = ParseOptions(commandTail);
  RunOutcome outcome = RunStages();
  FreeRunBuffers();  // before the box: nothing is held while the user reads
  // The box must tell the outcome that lasts: writes that could not be made
  // durable are a failed installation.
  if (!CommitRegistry() && outcome >= 0)
    outcome = kOutcomeInstallFailed;
  ReportOutcome(outcome);
  return outcome;
}
