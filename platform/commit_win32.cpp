// Windows writes its registry to disk by itself; a run has nothing left to
// commit.

#include "platform/registry.h"

bool CommitRegistry() {
  return true;
}
