#include "setup/run_lock.h"

const char kRunLockName[] = "Global\\morvelan DRIVER2 setup";

HANDLE TakeRunLock() {
  // The non-NT family, and NT 4.0 without Terminal Services, refuse the
  // backslash: there every copy shares the plain name.
  HANDLE lock = CreateMutexA(nullptr, FALSE, kRunLockName);
  if (!lock)
    lock = CreateMutexA(nullptr, FALSE, kRunLockName + 7);
  if (!lock)
    return nullptr;
  DWORD waited = WaitForSingleObject(lock, kRunLockWaitMs);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
    return lock;
  CloseHandle(lock);
  return nullptr;
}

void ReleaseRunLock(HANDLE lock) {
  if (!lock)
    return;
  ReleaseMutex(lock);
  CloseHandle(lock);
}
