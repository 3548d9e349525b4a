#include "payload/payload.h"

#include <stdlib.h>
#include <string.h>

#include "payload/payload_io.h"

WCHAR* ModulePathW;
char* ModulePathA;
char* ScriptText;

namespace {

const DWORD kInitialPathCapacity = 2000;
// Far beyond any path the platform can give; stops the growth if the
// platform keeps answering with a full buffer.
const DWORD kMaxPathCapacity = 1u << 20;

DWORD ModuleFileName(WCHAR* buffer, DWORD capacity) {
  return ModuleFileNameW(buffer, capacity);
}

DWORD ModuleFileName(char* buffer, DWORD capacity) {
  return ModuleFileNameA(buffer, capacity);
}

template <typename Char>
void FillModulePath(Char** path) {
  for (DWORD capacity = kInitialPathCapacity; capacity <= kMaxPathCapacity;
       capacity *= 2) {
    free(*path);
    *path = static_cast<Char*>(malloc((capacity + 1) * sizeof(Char)));
    if (!*path)
      return;
    DWORD length = ModuleFileName(*path, capacity);
    (*path)[length < capacity ? length : capacity] = 0;
    if (length < capacity - 1)
      return;
  }
  (*path)[0] = 0;  // never fitted: an empty path fails the open
}

// Decodes the raw script in its own buffer, which must hold at least two
// bytes: the first code unit (the byte-order mark) is dropped whatever it
// holds, and a last odd byte is ignored. Each unit moves two bytes down, so
// it is read before it is overwritten, and the payload is never held twice.
WCHAR* DecodeUtf16InPlace(unsigned char* raw, uint32_t size) {
  static_assert(sizeof(WCHAR) == 2, "a code unit takes the place of one");
  size_t count = size >= 2 ? size / 2 - 1 : 0;
  WCHAR* wide = reinterpret_cast<WCHAR*>(raw);
  for (size_t i = 0; i < count; ++i) {
    const unsigned char* unit = raw + 2 + 2 * i;
    wide[i] = static_cast<WCHAR>(unit[0] | unit[1] << 8);
  }
  wide[count] = 0;
  return wide;
}

// Little-endian fields of a header read into memory.
uint32_t Field(const unsigned char* bytes, size_t at, int size) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i)
    value = value << 8 | bytes[at + i];
  return value;
}

bool ReadAt(PayloadFile file, uint64_t at, void* buffer, uint32_t size) {
  uint64_t position;
  return SeekPayloadFile(file, static_cast<int64_t>(at), false, &position) &&
         ReadPayloadFile(file, buffer, size);
}

// Where the container ends. A signed program carries its certificate table
// (the PE security directory, data directory 4, whose address is a file
// offset) after the payload, at the very end of the file. When that table
// is non-empty and ends exactly where the file ends, the container ends
// where the table begins; in every other case, an unsigned program or a
// damaged entry, at the end of the file.
uint64_t ContainerEnd(PayloadFile file, uint64_t fileEnd) {
  const uint32_t kPeHeader = 24;  // "PE\0\0" and the file header
  unsigned char header[kPeHeader + 152];  // and the optional header's start
  if (!ReadAt(file, 0, header, 64) || header[0] != 'M' || header[1] != 'Z')
    return fileEnd;
  uint32_t pe = Field(header, 0x3c, 4);
  if (!ReadAt(file, pe, header, kPeHeader + 2) ||
      memcmp(header, "PE\0\0", 4) != 0)
    return fileEnd;
  uint32_t optionalSize = Field(header, 20, 2);
  uint32_t magic = Field(header, kPeHeader, 2);
  if (magic != 0x10b && magic != 0x20b)
    return fileEnd;
  // PE32 and PE32+ differ in where the directories start.
  uint32_t counted = magic == 0x20b ? 108 : 92;
  uint32_t security = counted + 4 + 4 * 8;
  if (optionalSize < security + 8 ||
      !ReadAt(file, static_cast<uint64_t>(pe) + kPeHeader, header + kPeHeader,
              security + 8) ||
      Field(header, kPeHeader + counted, 4) < 5)
    return fileEnd;
  uint64_t at = Field(header, kPeHeader + security, 4);
  uint64_t size = Field(header, kPeHeader + security + 4, 4);
  if (size == 0 || at + size != fileEnd)
    return fileEnd;
  return at;
}

bool ReadScript(PayloadFile file) {
  uint64_t fileEnd;
  if (!SeekPayloadFile(file, 0, true, &fileEnd))
    return false;
  uint64_t end = ContainerEnd(file, fileEnd);
  unsigned char trailer[4];
  if (end < sizeof(trailer) ||
      !ReadAt(file, end - sizeof(trailer), trailer, sizeof(trailer)))
    return false;
  uint64_t trailerAt = end - sizeof(trailer);
  uint32_t size = Field(trailer, 0, 4);
  // The script must lie inside the file, before the trailer. Checked before
  // anything is allocated, so a damaged trailer cannot ask for gigabytes.
  if (size > trailerAt)
    return false;
  unsigned char* raw = static_cast<unsigned char*>(malloc(size >= 2 ? size : 2));
  if (!raw)
    return false;
  if (!ReadAt(file, trailerAt - size, raw, size)) {
    free(raw);
    return false;
  }
  char* text = WideToAnsi(DecodeUtf16InPlace(raw, size));
  free(raw);
  if (!text)
    return false;
  free(ScriptText);
  ScriptText = text;
  return true;
}

}  // namespace

void GetModulePath() {
  if (IsNtPlatform())
    FillModulePath(&ModulePathW);
  else
    FillModulePath(&ModulePathA);
}

bool ReadPayload() {
  PayloadFile file = nullptr;
  if (IsNtPlatform()) {
    if (ModulePathW)
      file = OpenPayloadFileW(ModulePathW);
  } else if (ModulePathA) {
    file = OpenPayloadFileA(ModulePathA);
  }
  if (!file)
    return false;
  bool ok = ReadScript(file);
  ClosePayloadFile(file);
  return ok;
}

char* WideToAnsi(const WCHAR* wide) {
  int needed = ConvertWideToAnsi(wide, nullptr, 0);
  if (needed <= 0)
    return nullptr;
  char* ansi = static_cast<char*>(malloc(static_cast<size_t>(needed) + 2));
  if (!ansi)
    return nullptr;
  int written = ConvertWideToAnsi(wide, ansi, needed + 1);
  if (written <= 0) {
    free(ansi);
    return nullptr;
  }
  ansi[written < needed + 1 ? written : needed + 1] = '\0';
  return ansi;
}

void FreeRunBuffers() {
  free(ModulePathW);
  free(ModulePathA);
  free(ScriptText);
  ModulePathW = nullptr;
  ModulePathA = nullptr;
  ScriptText = nullptr;
}
