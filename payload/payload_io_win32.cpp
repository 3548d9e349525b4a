// Payload file calls on Windows.

#include "payload/payload_io.h"

namespace {

const DWORD kShareReadWriteDelete = 7;  // FILE_SHARE_READ | WRITE | DELETE
const DWORD kShareReadWrite = 3;        // the non-NT family knows no DELETE

PayloadFile FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

}  // namespace

DWORD ModuleFileNameW(WCHAR* buffer, DWORD capacity) {
  return GetModuleFileNameW(nullptr, buffer, capacity);
}

DWORD ModuleFileNameA(char* buffer, DWORD capacity) {
  return GetModuleFileNameA(nullptr, buffer, capacity);
}

PayloadFile OpenPayloadFileW(const WCHAR* path) {
  return FromHandle(CreateFileW(path, GENERIC_READ, kShareReadWriteDelete,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
}

PayloadFile OpenPayloadFileA(const char* path) {
  return FromHandle(CreateFileA(path, GENERIC_READ, kShareReadWrite, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
}

bool SeekPayloadFile(PayloadFile file, int64_t offset, bool fromEnd,
                     uint64_t* position) {
  LONG high = static_cast<LONG>(offset >> 32);
  DWORD low = SetFilePointer(static_cast<HANDLE>(file),
                             static_cast<LONG>(offset & 0xffffffff), &high,
                             fromEnd ? FILE_END : FILE_BEGIN);
  // INVALID_SET_FILE_POINTER is also the low half of a valid position just
  // under 4 GiB; no executable the loader accepts is that large.
  if (low == INVALID_SET_FILE_POINTER)
    return false;
  *position = static_cast<uint64_t>(static_cast<DWORD>(high)) << 32 | low;
  return true;
}

bool ReadPayloadFile(PayloadFile file, void* buffer, uint32_t size) {
  DWORD done = 0;
  return ReadFile(static_cast<HANDLE>(file), buffer, size, &done, nullptr) &&
         done == size;
}

void ClosePayloadFile(PayloadFile file) {
  CloseHandle(static_cast<HANDLE>(file));
}

int ConvertWideToAnsi(const WCHAR* wide, char* ansi, int capacity) {
  return WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, ansi ? capacity : 0,
                             nullptr, nullptr);
}
