// lockhold: holds the lock that copies of the setup program share, for the
// tests under Wine that start copies while another holds it.
//
//   lockhold SECONDS READY
//
// Takes the lock (waiting as long as it takes), creates the file READY to
// say so, holds the lock for SECONDS, then releases it.

#include <windows.h>

#include <stdlib.h>

#include "setup/run_lock.h"

int main(int argc, char** argv) {
  if (argc != 3)
    return 2;
  HANDLE lock = CreateMutexA(nullptr, FALSE, kRunLockName);
  if (!lock || WaitForSingleObject(lock, INFINITE) == WAIT_FAILED)
    return 1;
  HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready == INVALID_HANDLE_VALUE)
    return 1;
  CloseHandle(ready);
  Sleep(static_cast<DWORD>(atoi(argv[1])) * 1000);
  ReleaseMutex(lock);
  CloseHandle(lock);
  return 0;
}
