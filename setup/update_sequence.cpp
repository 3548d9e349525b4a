#include "script/database.h"
#include "script/script_import.h"
#include "setup/setup_run.h"

RunOutcome UpdateSequence(uint32_t embeddedVersion, char* scriptText) {
  if (!NeedsUpdate(embeddedVersion))
    return kOutcomeAlreadyCurrent;
  RemovePreviousDatabase();  // the import writes over whatever is left
  // While the import runs, the database key holds no version: a removal
  // stopped short may have left the old one, and the import writes the new
  // one last. A run that fails or is killed part way therefore leaves none,
  // and the next run repairs the half-written database instead of calling
  // it current.
  ForgetInstalledVersion();
  if (!ImportScript(scriptText))
    return kOutcomeInstallFailed;
  return kOutcomeUpdated;
}
