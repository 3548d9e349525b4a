// Native entry on a host without Windows: the registry is the stand-in,
// loaded from its hive file and saved back by the run before it reports (a
// hive that cannot be saved makes the run fail with -3); the exit status is
// the outcome's low byte (-1 gives 255, -3 gives 253).

#include <stdio.h>

#include <string>

#include "platform/registry_host.h"
#include "setup/command_tail.h"
#include "setup/setup_run.h"

int main(int argc, char** argv) {
  HostPlatformFromEnvironment();
  HostRegistryKeepJournal(false);
  std::string hive = HostHiveDefaultPath();
  std::string error;
  if (!HostHiveOpen(hive, &error))
    fprintf(stderr, "drvsetup: registry hive unusable, left as it is: %s\n",
            error.c_str());
  std::string tail = CommandTailFromArguments(argc, argv);
  RunOutcome outcome = SetupRun(tail.c_str());
  HostHiveClose();
  return outcome & 0xff;
}
