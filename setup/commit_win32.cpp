// Windows writes its registry to disk by itself; a run has nothing left to
// commit.

#include "setup/commit.h"

bool CommitRegistry() {
  return true;
}
