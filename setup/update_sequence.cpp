#include "script/database.h"
#include "script/script_import.h"
#include "setup/update_sequence.h"

RunOutcome UpdateSequence(uint32_t embeddedVersion, char* scriptText) {
  if (!NeedsUpdate(embeddedVersion))
    return kOutcomeAlreadyCurrent;
  // The installed version goes first, before the removal and the import,
  // which writes the new one last: on Windows every write lands at once,
  // and a run that fails or is killed at any point leaves a database that
  // carries no version, which the next run installs again.
  ForgetInstalledVersion();
  RemovePreviousDatabase();  // the import writes over whatever is left
  if (!ImportScript(scriptText))
    return kOutcomeInstallFailed;
  return kOutcomeUpdated;
}
