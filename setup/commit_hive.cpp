// The native program saves its stand-in registry to the hive file that it
// opened, if any, and says why on standard error when it cannot.

#include "setup/commit.h"

#include <stdio.h>

#include <string>

#include "platform/host/hive_file.h"

bool CommitRegistry() {
  std::string error;
  if (HostHiveSave(&error))
    return true;
  fprintf(stderr, "drvsetup: registry hive not saved: %s\n", error.c_str());
  return false;
}
