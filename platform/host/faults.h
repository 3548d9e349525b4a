// One fault control for the stand-in: while a run is counted, the Nth
// platform call that the program makes fails as the real function fails on
// Windows, and every other call behaves normally. The stand-in's registry,
// files, module path, code-page conversion, libraries, version query,
// mutexes, message box and the native program's hive save each count
// themselves; allocations count where a test wraps malloc (a link-time
// wrap, never a second code path in the program). drvdb's POSIX file seam
// counts its writes of output files the same way.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

/// The kinds of platform call, each with the errors it can give.
enum class HostCall {
  kRegistry,       // RegOpenKeyExA ... SHDeleteKeyA: an error code
  kRegistryClose,  // RegCloseKey: fails, and still closes the handle
  kModulePath,     // GetModuleFileNameW/A: 0
  kFileOpen,       // CreateFileW/A: ERROR_SHARING_VIOLATION
  kFileSeek,       // SetFilePointer: INVALID_SET_FILE_POINTER
  kFileRead,       // ReadFile: fails, or reads fewer bytes than asked
  kFileClose,      // CloseHandle of the file: fails, and still closes it
  kConversion,     // WideCharToMultiByte: 0
  kLibrary,        // GetModuleHandleA, GetProcAddress, LoadLibrary(Ex)A,
                   // GetSystemDirectoryA: null or 0
  kVersionQuery,   // GetVersionExA: FALSE
  kMutex,          // CreateMutexA: null; WaitForSingleObject: WAIT_FAILED
  kMutexRelease,   // ReleaseMutex, CloseHandle of the mutex: FALSE, and
                   // still released
  kBox,            // MessageBoxA: 0, no box shown
  kHiveSave,       // the native program's hive save: fails
  kAllocation,     // malloc: null
  // drvdb's own output files, replaced through a temporary file:
  kOutputWrite,    // write: fails, or writes part and then fails
  kOutputRename,   // rename over the file: fails
};

/// One call of a counted run, as made.
struct HostCallRecord {
  HostCall kind;
  const char* function;
  std::string detail;  // what tells two calls of one function apart: the
                       // access asked, the name given
};

/// The errors a kind of call can give, by name: "ERROR_ACCESS_DENIED",
/// "short read". Every kind has at least one.
const std::vector<const char*>& HostCallErrors(HostCall kind);
const char* HostCallKindName(HostCall kind);

/// Starts counting the calls of a run from nothing, with none failing, and
/// records each when record is set.
void HostFaultsCount(bool record);
/// From now on call (1-based, counted since HostFaultsCount) fails with the
/// error of its kind at index error.
void HostFaultsFail(uint64_t call, size_t error);
/// Stops counting; no call fails.
void HostFaultsStop();
uint64_t HostFaultsCounted();
const std::vector<HostCallRecord>& HostFaultsRecord();
/// Whether the call that was to fail has been made.
bool HostFaultsHit();

/// For the stand-in's functions: counts this call; 0 when it behaves, else
/// 1 + the index of the error it must fail with.
size_t HostFaultAt(HostCall kind, const char* function,
                   const std::string& detail = std::string());

/// The registry's error for a failing call (1 + index, from HostFaultAt).
int32_t HostRegistryFault(size_t error);
