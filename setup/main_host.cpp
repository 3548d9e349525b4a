// Native entry on a host without Windows: the library search is limited
// first, as the Windows entry limits it, over the stand-in's libraries; the
// registry is the stand-in,
// loaded from its hive file and saved back by the run before it reports (a
// hive that cannot be saved makes the run fail with -3); the exit status is
// the outcome's low byte (-1 gives 255, -3 gives 253).

#include <malloc.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "platform/host/hive_file.h"
#include "platform/host/platform.h"
#include "script/system_library.h"
#include "setup/command_tail.h"
#include "setup/setup_run.h"

namespace {

// Page faults are most of a short run's cost (on a virtual machine each can
// cost more than a thousand instructions). Large buffers come from the heap
// rather than fresh mappings, so that memory freed by one stage serves the
// next; the heap is grown once and offered huge pages, so that a megabyte
// takes one fault instead of 256.
void PrepareHeap() {
  const size_t kReserve = 30u << 20;  // below the largest threshold, 32 MB
  const uintptr_t kHuge = 2u << 20;
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  uintptr_t start = reinterpret_cast<uintptr_t>(sbrk(0));
  void* volatile block = malloc(kReserve);  // volatile: kept, not elided
  free(block);
  uintptr_t end = reinterpret_cast<uintptr_t>(sbrk(0));
  uintptr_t first = (start + kHuge - 1) & ~(kHuge - 1);
  if (end > first)
    madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

}  // namespace

int main(int argc, char** argv) {
  RestrictLibrarySearch();  // as on Windows, over the stand-in's libraries
  PrepareHeap();
  HostPlatformFromEnvironment();
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
