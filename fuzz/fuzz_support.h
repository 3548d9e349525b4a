// Checks shared by the fuzz harnesses. A failed check prints what broke and
// aborts, which libFuzzer reports as a crash with the input that caused it.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "platform/host/controls.h"
#include "platform/host/hive_text.h"
#include "platform/host/mutex.h"
#include "platform/host/trace.h"

#define FUZZ_CHECK(condition)                                        \
  do {                                                               \
    if (!(condition)) {                                              \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, \
              #condition);                                           \
      abort();                                                       \
    }                                                                \
  } while (0)

/// Ends an input as it began, with a fresh registry: an input that frees
/// what it allocates lets libFuzzer skip its leak scan, which would
/// otherwise dominate the time of every input.
inline void EndInput() {
  HostRegistryTraceCalls(false);
  HostRegistryReset();
  HostMutexReset();
}

/// The registry survives its hive's text form exactly: what is exported
/// loads back into the same tree.
inline void CheckHiveRoundTrip() {
  std::string text = HostRegistryExport();
  std::string error;
  FUZZ_CHECK(HostRegistryImport(text, &error));
  FUZZ_CHECK(HostRegistryExport() == text);
}
