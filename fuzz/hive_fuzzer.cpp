// The hive loader on arbitrary bytes: an accepted hive round-trips exactly
// (saved and loaded again, the same tree); a refused one leaves the
// registry as it was and says why.

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  HostRegistryReset();
  const std::string fresh = HostRegistryExport();
  std::string error;
  std::string text(reinterpret_cast<const char*>(data), size);
  if (HostRegistryImport(text, &error)) {
    CheckHiveRoundTrip();
  } else {
    FUZZ_CHECK(!error.empty());
    FUZZ_CHECK(HostRegistryExport() == fresh);
  }
  FUZZ_CHECK(HostRegistryOpenHandles() == 0);
  EndInput();
  return 0;
}
