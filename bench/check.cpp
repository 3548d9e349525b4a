// check: the payload reader's integrity check alone, on a packed program's
// file, with the program's own file calls (the same source on the host and,
// built by the win64 preset, under Wine): its container found and its
// record checked, the file read from the cache.
//
//   check PROGRAM [REPETITIONS]
//
// Prints the median time of one check.

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "payload/container.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: check PROGRAM [REPETITIONS]\n");
    return 2;
  }
  const int repetitions = argc > 2 ? atoi(argv[2]) : 15;
  std::vector<double> times;
  for (int r = 0; r < repetitions; ++r) {
    PayloadFile file = OpenPayloadFileA(argv[1]);
    if (!file) {
      fprintf(stderr, "check: cannot open %s\n", argv[1]);
      return 1;
    }
    auto start = std::chrono::steady_clock::now();
    PayloadContainer container;
    bool whole = LocateContainer(file, &container) &&
                 !(ContainerProblems(file, container, true) & kRefusedProblems);
    auto end = std::chrono::steady_clock::now();
    ClosePayloadFile(file);
    if (!whole || !container.hasRecord) {
      fprintf(stderr, "check: %s is not whole, or has no record\n", argv[1]);
      return 1;
    }
    times.push_back(
        std::chrono::duration<double, std::nano>(end - start).count());
  }
  if (times.empty())
    return 2;
  std::sort(times.begin(), times.end());
  printf("check %.0f ns median of %d\n", times[times.size() / 2],
         repetitions);
  return 0;
}
