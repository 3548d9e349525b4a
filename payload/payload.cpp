#include "payload/payload.h"

#include <stdlib.h>
#include <string.h>

#include "payload/container.h"
#include "payload/payload_io.h"
#include "platform/registry.h"

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

bool ReadScript(PayloadFile file) {
  PayloadContainer container;
  // The script must lie inside the file, before the trailer. Checked before
  // anything is allocated, so a damaged trailer cannot ask for gigabytes.
  // A damaged copy is refused before anything is decoded.
  if (!LocateContainer(file, &container) ||
      ContainerProblems(file, container, true) & kRefusedProblems)
    return false;
  const uint32_t size = container.length;
  unsigned char* raw = static_cast<unsigned char*>(malloc(size >= 2 ? size : 2));
  if (!raw)
    return false;
  const bool ok = ReadPayloadAt(file, container.scriptAt, raw, size) &&
                  DecodeScript(raw, size);
  free(raw);
  return ok;
}

}  // namespace

void GetModulePath() {
  if (IsNtPlatform())
    FillModulePath(&ModulePathW);
  else
    FillModulePath(&ModulePathA);
}

bool ReadPayload() {
  // The path that GetModulePath filled decides how the file is opened: a
  // second question about the family, answered otherwise (a failed version
  // query answers the non-NT family), must not leave the run with no path.
  PayloadFile file = nullptr;
  if (ModulePathW)
    file = OpenPayloadFileW(ModulePathW);
  else if (ModulePathA)
    file = OpenPayloadFileA(ModulePathA);
  if (!file)
    return false;
  bool ok = ReadScript(file);
  ClosePayloadFile(file);
  return ok;
}

bool DecodeScript(unsigned char* raw, uint32_t size) {
  char* text = WideToAnsi(DecodeUtf16InPlace(raw, size));
  if (!text)
    return false;
  free(ScriptText);
  ScriptText = text;
  return true;
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
