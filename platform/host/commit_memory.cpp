// The stand-in without a hive file, as drvdb's engine uses it on Windows:
// the registry lives in memory only, and a run has nothing to commit.

#include "platform/registry.h"

bool CommitRegistry() {
  return true;
}
