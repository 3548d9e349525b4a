// core: the program's core on the host, without file I/O: probing the
// version and importing the script into a fresh in-memory registry.
//
//   core SCRIPT [REPETITIONS]
//
// Prints the median time of the core and its time per script byte. With
// REPETITIONS 1, under callgrind --toggle-collect=ProbeAndImport, the instructions
// counted are exactly the core's.

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "payload/payload.h"
#include "platform/host/controls.h"
#include "tools/drvdb/engine/program_file.h"
#include "script/script_import.h"
#include "script/version_probe.h"

// The core alone, on purpose: the version probe and the import, without
// the run's other stages (the lock, the removal, the commit). Not inlined,
// so that callgrind can count exactly what it runs.
extern "C" __attribute__((noinline)) bool ProbeAndImport(char* text) {
  return ProbeEmbeddedVersion(text) && ImportScript(text);
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: core SCRIPT [REPETITIONS]\n");
    return 2;
  }
  int repetitions = argc > 2 ? atoi(argv[2]) : 15;
  std::ifstream in(argv[1], std::ios::binary);
  std::string script((std::istreambuf_iterator<char>(in)),
                     std::istreambuf_iterator<char>());
  if (!DecodeAsTheProgram(script)) {
    fprintf(stderr, "core: cannot read %s\n", argv[1]);
    return 1;
  }
  const std::string text = ScriptText;
  FreeRunBuffers();

  std::vector<double> times;
  std::vector<char> work(text.size() + 1);
  for (int r = 0; r < repetitions; ++r) {
    HostRegistryReset();
    memcpy(work.data(), text.c_str(), text.size() + 1);
    timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    bool ok = ProbeAndImport(work.data());
    clock_gettime(CLOCK_MONOTONIC, &end);
    if (!ok) {
      fprintf(stderr, "core: %s does not install\n", argv[1]);
      return 1;
    }
    times.push_back(static_cast<double>(end.tv_sec - start.tv_sec) * 1e9 +
                    static_cast<double>(end.tv_nsec - start.tv_nsec));
  }
  std::sort(times.begin(), times.end());
  double median = times[times.size() / 2];
  printf("%zu script bytes: core %.0f ns median of %d, %.2f ns/byte\n",
         script.size(), median, repetitions,
         median / static_cast<double>(script.size()));
  return 0;
}
