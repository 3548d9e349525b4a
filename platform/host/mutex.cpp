// Named mutexes of the stand-in, within one process and one thread.

#include "platform/host/mutex.h"

#include <string.h>

#include <map>
#include <memory>

#include "platform/host/faults.h"
#include "platform/host/platform.h"
#include "platform/host/win32.h"

namespace {

struct Mutex {
  std::string name;
  int owned = 0;         // this process's hold, counted as Windows counts
  int handles = 0;       // this process's open handles to it
  bool elsewhere = false;
  bool abandoned = false;
};

std::map<std::string, std::unique_ptr<Mutex>> g_mutexes;
std::vector<std::string> g_taken;
bool g_refuse = false;

Mutex* Named(const std::string& name) {
  std::unique_ptr<Mutex>& mutex = g_mutexes[name];
  if (!mutex) {
    mutex.reset(new Mutex);
    mutex->name = name;
  }
  return mutex.get();
}

}  // namespace

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name) {
  if (HostFaultAt(HostCall::kMutex, "CreateMutexA", name ? name : ""))
    return nullptr;
  if (g_refuse || !name || initialOwner)
    return nullptr;
  if (strchr(name, '\\') && HostPlatformId() != VER_PLATFORM_WIN32_NT)
    return nullptr;
  Mutex* mutex = Named(name);
  ++mutex->handles;
  return mutex;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD) {
  if (HostFaultAt(HostCall::kMutex, "WaitForSingleObject"))
    return WAIT_FAILED;
  Mutex* mutex = static_cast<Mutex*>(handle);
  if (!mutex)
    return WAIT_FAILED;
  DWORD result = WAIT_OBJECT_0;
  if (mutex->elsewhere) {
    if (!mutex->abandoned)
      return WAIT_TIMEOUT;  // nothing in this process can release it
    mutex->elsewhere = mutex->abandoned = false;
    result = WAIT_ABANDONED;
  }
  ++mutex->owned;
  g_taken.push_back(mutex->name);
  return result;
}

// A release or close that fails still lets the mutex go, as the test of a
// refusal at every call wants: the failure is reported, nothing is kept.
BOOL ReleaseMutex(HANDLE handle) {
  const bool fails = HostFaultAt(HostCall::kMutexRelease, "ReleaseMutex") != 0;
  Mutex* mutex = static_cast<Mutex*>(handle);
  if (!mutex || mutex->owned == 0)
    return 0;
  --mutex->owned;
  return fails ? 0 : 1;
}

BOOL CloseHandle(HANDLE handle) {
  const bool fails = HostFaultAt(HostCall::kMutexRelease, "CloseHandle") != 0;
  Mutex* mutex = static_cast<Mutex*>(handle);
  if (!mutex || mutex->handles == 0)
    return 0;
  --mutex->handles;
  return fails ? 0 : 1;
}

void HostMutexReset() {
  g_mutexes.clear();
  g_taken.clear();
  g_refuse = false;
}

void HostMutexHeldElsewhere(const std::string& name, bool abandoned) {
  Mutex* mutex = Named(name);
  mutex->elsewhere = true;
  mutex->abandoned = abandoned;
}

void HostMutexRefuse(bool refuse) {
  g_refuse = refuse;
}

const std::vector<std::string>& HostMutexesTaken() {
  return g_taken;
}

size_t HostMutexHandlesOpen() {
  size_t open = 0;
  for (const auto& mutex : g_mutexes)
    open += static_cast<size_t>(mutex.second->handles);
  return open;
}

size_t HostMutexesHeld() {
  size_t held = 0;
  for (const auto& mutex : g_mutexes)
    held += mutex.second->owned > 0;
  return held;
}
