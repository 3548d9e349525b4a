// The importer on arbitrary text, against a fresh stand-in registry: it
// stops where it says and why, leaves no key open, and what it leaves
// survives the hive's text form. Importing the same text again changes
// nothing more.

#include <string.h>

#include <vector>

#include "fuzz/fuzz_support.h"
#include "script/script_import.h"
#include "script/script_fault.h"

namespace {

bool Import(const uint8_t* data, size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  const char* end = text.data() + strlen(text.data());  // before any edit
  bool ok = ImportScript(text.data());
  const ScriptStop& stop = LastScriptStop;
  FUZZ_CHECK(ok == (stop.fault == kFaultNone));
  FUZZ_CHECK(stop.at >= text.data() && stop.at <= end);
  FUZZ_CHECK(!ok || stop.at == end);
  FUZZ_CHECK(HostRegistryOpenHandles() == 0);
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  HostRegistryReset();
  bool ok = Import(data, size);
  std::string first = HostRegistryExport();
  CheckHiveRoundTrip();
  FUZZ_CHECK(Import(data, size) == ok);
  FUZZ_CHECK(HostRegistryExport() == first);
  EndInput();
  return 0;
}
