#include "platform/host/faults.h"

namespace {

bool g_counting = false;
bool g_recording = false;
bool g_hit = false;
uint64_t g_calls = 0;
uint64_t g_failing = 0;  // 0: none
size_t g_error = 0;
std::vector<HostCallRecord> g_record;

struct KindRow {
  HostCall kind;
  const char* name;
  std::vector<const char*> errors;
};

// The program judges registry calls by success alone, so their three
// errors cannot lead it three ways; the test runs each all the same. Every
// other kind has the one failure the real function gives, or two (a read
// that fails and one that stops short) that the program's reader also
// cannot tell apart.
const std::vector<KindRow>& Kinds() {
  static const std::vector<KindRow> kinds = {
      {HostCall::kRegistry, "registry",
       {"ERROR_ACCESS_DENIED", "ERROR_KEY_DELETED",
        "ERROR_NO_SYSTEM_RESOURCES"}},
      {HostCall::kRegistryClose, "registry close", {"fails, still closed"}},
      {HostCall::kModulePath, "module path", {"answers 0"}},
      {HostCall::kFileOpen, "file open", {"ERROR_SHARING_VIOLATION"}},
      {HostCall::kFileSeek, "file seek", {"INVALID_SET_FILE_POINTER"}},
      {HostCall::kFileRead, "file read", {"fails", "short read"}},
      {HostCall::kFileClose, "file close", {"fails, still closed"}},
      {HostCall::kConversion, "code-page conversion", {"answers 0"}},
      {HostCall::kLibrary, "library", {"null"}},
      {HostCall::kVersionQuery, "version query", {"FALSE"}},
      {HostCall::kMutex, "mutex", {"null or WAIT_FAILED"}},
      {HostCall::kMutexRelease, "mutex release", {"FALSE, still released"}},
      {HostCall::kBox, "message box", {"answers 0"}},
      {HostCall::kHiveSave, "hive save", {"fails"}},
      {HostCall::kAllocation, "allocation", {"null"}},
      {HostCall::kOutputWrite, "output write", {"fails", "short write"}},
      {HostCall::kOutputRename, "output rename", {"fails"}},
  };
  return kinds;
}

const KindRow& Row(HostCall kind) {
  for (const KindRow& row : Kinds())
    if (row.kind == kind)
      return row;
  return Kinds().front();
}

}  // namespace

const std::vector<const char*>& HostCallErrors(HostCall kind) {
  return Row(kind).errors;
}

const char* HostCallKindName(HostCall kind) {
  return Row(kind).name;
}

void HostFaultsCount(bool record) {
  g_counting = true;
  g_recording = record;
  g_hit = false;
  g_calls = 0;
  g_failing = 0;
  g_record.clear();
}

void HostFaultsFail(uint64_t call, size_t error) {
  g_failing = call;
  g_error = error;
}

void HostFaultsStop() {
  g_counting = false;
  g_failing = 0;
}

uint64_t HostFaultsCounted() {
  return g_calls;
}

const std::vector<HostCallRecord>& HostFaultsRecord() {
  return g_record;
}

bool HostFaultsHit() {
  return g_hit;
}

size_t HostFaultAt(HostCall kind, const char* function,
                   const std::string& detail) {
  if (!g_counting)
    return 0;
  ++g_calls;
  if (g_recording)
    g_record.push_back(HostCallRecord{kind, function, detail});
  if (g_calls != g_failing)
    return 0;
  g_hit = true;
  const size_t errors = Row(kind).errors.size();
  return (g_error < errors ? g_error : errors - 1) + 1;
}

int32_t HostRegistryFault(size_t error) {
  static const int32_t kErrors[] = {5 /* ERROR_ACCESS_DENIED */,
                                 1018 /* ERROR_KEY_DELETED */,
                                 1450 /* ERROR_NO_SYSTEM_RESOURCES */};
  return kErrors[error - 1 < 3 ? error - 1 : 0];
}
