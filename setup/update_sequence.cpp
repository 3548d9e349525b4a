#include "script/database.h"
#include "script/script_import.h"
#include "setup/setup_run.h"

RunOutcome UpdateSequence(uint32_t embeddedVersion, char* scriptText) {
  if (!NeedsUpdate(embeddedVersion))
    return kOutcomeAlreadyCurrent;
  RemovePreviousDatabase();  // the import writes over whatever is left
  if (!ImportScript(scriptText)) {
    // The script's first section may already have written the new version;
    // without this the next run would call the half-written database
    // current and never repair it.
    ForgetInstalledVersion();
    return kOutcomeInstallFailed;
  }
  return kOutcomeUpdated;
}
