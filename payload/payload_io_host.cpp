// Payload file calls of the stand-in: the native program's on hosts without
// Windows, and drvdb's everywhere, which reads programs it holds in memory.
// Paths are byte strings; the wide form holds one byte per code unit, so
// any path survives the round trip. The ANSI code page is Windows-1252
// (platform/host/cp1252.h).

#include <string.h>

#include <algorithm>

#include <filesystem>
#include <fstream>
#include <string>

#include "payload/payload.h"
#include "payload/payload_io.h"
#include "payload/payload_io_host.h"
#include "platform/host/cp1252.h"
#include "platform/host/faults.h"

namespace {

struct HostFile {
  std::ifstream disk;         // a file on disk, unless
  const std::string* memory;  // the in-memory image
  uint64_t position;
  uint64_t size;              // of the in-memory image
};

size_t g_open_files = 0;

PayloadFile InMemory(const std::string* bytes, uint64_t size) {
  ++g_open_files;
  HostFile* file = new HostFile;
  file->memory = bytes;
  file->position = 0;
  file->size = size;
  return file;
}

bool g_has_image = false;
std::string g_image_path;
std::string g_image;

std::string ExecutablePath() {
  if (g_has_image)
    return g_image_path;
  std::error_code error;
  return std::filesystem::read_symlink("/proc/self/exe", error).string();
}

// Like GetModuleFileName: a path that does not fit is cut to capacity
// characters, the last one being the terminator, and capacity is answered.
template <typename Char>
DWORD CopyPath(Char* buffer, DWORD capacity) {
  if (HostFaultAt(HostCall::kModulePath, sizeof(Char) == 1
                                             ? "GetModuleFileNameA"
                                             : "GetModuleFileNameW"))
    return 0;
  std::string path = ExecutablePath();
  if (path.empty() || capacity == 0)
    return 0;
  DWORD copied = path.size() < capacity ? static_cast<DWORD>(path.size())
                                        : capacity - 1;
  for (DWORD i = 0; i < copied; ++i)
    buffer[i] = static_cast<Char>(static_cast<unsigned char>(path[i]));
  buffer[copied] = 0;
  return path.size() < capacity ? copied : capacity;
}

template <typename Char>
PayloadFile OpenPath(const Char* wide) {
  if (HostFaultAt(HostCall::kFileOpen,
                  sizeof(Char) == 1 ? "CreateFileA" : "CreateFileW"))
    return nullptr;  // ERROR_SHARING_VIOLATION
  std::string path;
  for (; *wide; ++wide) {
    if (static_cast<uint32_t>(*wide) > 0xff)
      return nullptr;  // cannot name a file here
    path.push_back(static_cast<char>(*wide));
  }
  if (g_has_image && path == g_image_path)
    return InMemory(&g_image, g_image.size());
  HostFile* file = new HostFile;
  file->memory = nullptr;
  file->position = 0;
  file->disk.open(path, std::ios::binary);
  if (!file->disk) {
    delete file;
    return nullptr;
  }
  ++g_open_files;
  return file;
}

uint64_t FileSize(HostFile* file, bool* ok) {
  if (file->memory) {
    *ok = true;
    return file->size;
  }
  file->disk.clear();
  file->disk.seekg(0, std::ios::end);
  std::streamoff end = file->disk.tellg();
  *ok = end >= 0;
  return static_cast<uint64_t>(end);
}

}  // namespace


void HostSetModuleImage(const std::string& path, const std::string& image) {
  g_has_image = true;
  g_image_path = path;
  g_image = image;
}

size_t HostOpenPayloadFiles() {
  return g_open_files;
}

void HostClearModuleImage() {
  g_has_image = false;
  g_image_path.clear();
  g_image.clear();
}

PayloadFile OpenPayloadBytes(const std::string& bytes, size_t size) {
  return InMemory(&bytes, size < bytes.size() ? size : bytes.size());
}

DWORD ModuleFileNameW(WCHAR* buffer, DWORD capacity) {
  return CopyPath(buffer, capacity);
}

DWORD ModuleFileNameA(char* buffer, DWORD capacity) {
  return CopyPath(buffer, capacity);
}

PayloadFile OpenPayloadFileW(const WCHAR* path) {
  return OpenPath(path);
}

PayloadFile OpenPayloadFileA(const char* path) {
  return OpenPath(reinterpret_cast<const unsigned char*>(path));
}

bool SeekPayloadFile(PayloadFile handle, int64_t offset, bool fromEnd,
                     uint64_t* position) {
  if (HostFaultAt(HostCall::kFileSeek, "SetFilePointer"))
    return false;
  HostFile* file = static_cast<HostFile*>(handle);
  int64_t base = 0;
  if (fromEnd) {
    bool ok;
    base = static_cast<int64_t>(FileSize(file, &ok));
    if (!ok)
      return false;
  }
  int64_t target = base + offset;
  if (target < 0)
    return false;
  file->position = static_cast<uint64_t>(target);
  *position = file->position;
  return true;
}

bool ReadPayloadFile(PayloadFile handle, void* buffer, uint32_t size) {
  HostFile* file = static_cast<HostFile*>(handle);
  char* out = static_cast<char*>(buffer);
  // A read that fails, or one that stops short: the second delivers the
  // first half of what was asked, and moves the file pointer past it.
  if (size_t fault = HostFaultAt(HostCall::kFileRead, "ReadFile")) {
    if (fault == 2 && file->memory && file->position <= file->size) {
      const uint64_t half = std::min<uint64_t>(size / 2, file->size - file->position);
      memcpy(out, file->memory->data() + file->position, half);
      file->position += half;
    }
    return false;
  }
  if (file->memory) {
    if (file->position > file->size || file->size - file->position < size)
      return false;
    memcpy(out, file->memory->data() + file->position, size);
    file->position += size;
    return true;
  }
  file->disk.clear();
  file->disk.seekg(static_cast<std::streamoff>(file->position));
  file->disk.read(out, static_cast<std::streamsize>(size));
  if (!file->disk || file->disk.gcount() != static_cast<std::streamsize>(size))
    return false;
  file->position += size;
  return true;
}

void ClosePayloadFile(PayloadFile handle) {
  HostFaultAt(HostCall::kFileClose, "CloseHandle");  // closed all the same
  --g_open_files;
  delete static_cast<HostFile*>(handle);
}

int ConvertWideToAnsi(const WCHAR* wide, char* ansi, int capacity) {
  if (HostFaultAt(HostCall::kConversion, "WideCharToMultiByte"))
    return 0;
  // One pass that counts the characters, terminator included, and writes
  // them when there is a buffer: a buffer too small is a failure, as the
  // platform's (ERROR_INSUFFICIENT_BUFFER). A surrogate pair is one
  // character, and none is in the code page.
  size_t count = 0;
  for (const WCHAR* p = wide;; ++p, ++count) {
    uint32_t unit = *p;
    if (ansi && count >= static_cast<size_t>(capacity > 0 ? capacity : 0))
      return 0;
    if (ansi)
      ansi[count] = Cp1252FromWide(unit);
    if (unit == 0)
      break;
    if (unit >= 0xD800 && unit <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF)
      ++p;
  }
  return count >= 0x7fffffff ? 0 : static_cast<int>(count + 1);
}
