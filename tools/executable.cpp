#include "tools/executable.h"

#include <algorithm>

namespace {

uint64_t Read(const std::string& file, uint64_t at, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i)
    value = value << 8 | static_cast<unsigned char>(file[at + i]);
  return value;
}

bool Fits(const std::string& file, uint64_t at, uint64_t size) {
  return at <= file.size() && size <= file.size() - at;
}

bool PeImageEnd(const std::string& file, uint64_t* end) {
  if (!Fits(file, 0x3c, 4))
    return false;
  uint64_t pe = Read(file, 0x3c, 4);
  if (!Fits(file, pe, 24) || file.compare(pe, 4, std::string("PE\0\0", 4)))
    return false;
  uint64_t sections = Read(file, pe + 6, 2);
  uint64_t symbols = Read(file, pe + 12, 4);
  uint64_t symbolCount = Read(file, pe + 16, 4);
  uint64_t optionalSize = Read(file, pe + 20, 2);
  uint64_t optional = pe + 24;
  if (!Fits(file, optional, optionalSize) || optionalSize < 64)
    return false;
  uint64_t furthest = Read(file, optional + 60, 4);  // SizeOfHeaders
  uint64_t table = optional + optionalSize;
  if (!Fits(file, table, sections * 40))
    return false;
  for (uint64_t i = 0; i < sections; ++i) {
    uint64_t raw = Read(file, table + i * 40 + 16, 4);
    uint64_t at = Read(file, table + i * 40 + 20, 4);
    if (raw)
      furthest = std::max(furthest, at + raw);
  }
  if (symbols) {  // COFF symbols, then the string table with its size first
    uint64_t strings = symbols + symbolCount * 18;
    if (!Fits(file, strings, 4))
      return false;
    furthest = std::max(furthest, strings + Read(file, strings, 4));
  }
  // The certificate table (data directory 4) lies after the sections.
  uint64_t magic = Read(file, optional, 2);
  uint64_t directories = optional + (magic == 0x20b ? 112 : 96);
  if (directories + 5 * 8 <= table) {
    uint64_t at = Read(file, directories + 4 * 8, 4);
    uint64_t size = Read(file, directories + 4 * 8 + 4, 4);
    if (at && size)
      furthest = std::max(furthest, at + size);
  }
  if (furthest > file.size())
    return false;
  *end = furthest;
  return true;
}

bool ElfImageEnd(const std::string& file, uint64_t* end) {
  if (file.size() < 52 || file.compare(0, 4, "\x7f" "ELF") != 0)
    return false;
  bool wide = file[4] == 2;
  if (file[5] != 1 || (wide && file.size() < 64))
    return false;  // little-endian only, as every host we build on
  uint64_t phoff = wide ? Read(file, 32, 8) : Read(file, 28, 4);
  uint64_t shoff = wide ? Read(file, 40, 8) : Read(file, 32, 4);
  uint64_t phentsize = Read(file, wide ? 54 : 42, 2);
  uint64_t phnum = Read(file, wide ? 56 : 44, 2);
  uint64_t shentsize = Read(file, wide ? 58 : 46, 2);
  uint64_t shnum = Read(file, wide ? 60 : 48, 2);
  uint64_t furthest = wide ? 64 : 52;
  if (!Fits(file, phoff, phnum * phentsize) ||
      !Fits(file, shoff, shnum * shentsize))
    return false;
  furthest = std::max(furthest, phoff + phnum * phentsize);
  furthest = std::max(furthest, shoff + shnum * shentsize);
  for (uint64_t i = 0; i < phnum; ++i) {
    uint64_t at = phoff + i * phentsize;
    uint64_t offset = wide ? Read(file, at + 8, 8) : Read(file, at + 4, 4);
    uint64_t size = wide ? Read(file, at + 32, 8) : Read(file, at + 16, 4);
    furthest = std::max(furthest, offset + size);
  }
  for (uint64_t i = 0; i < shnum; ++i) {
    uint64_t at = shoff + i * shentsize;
    uint64_t type = Read(file, at + 4, 4);
    uint64_t offset = wide ? Read(file, at + 24, 8) : Read(file, at + 16, 4);
    uint64_t size = wide ? Read(file, at + 32, 8) : Read(file, at + 20, 4);
    if (type != 8)  // SHT_NOBITS takes no room in the file
      furthest = std::max(furthest, offset + size);
  }
  if (furthest > file.size())
    return false;
  *end = furthest;
  return true;
}

}  // namespace

bool FindImageEnd(const std::string& file, ImageKind* kind, uint64_t* end) {
  if (file.compare(0, 2, "MZ") == 0 && PeImageEnd(file, end)) {
    *kind = ImageKind::kPe;
    return true;
  }
  if (ElfImageEnd(file, end)) {
    *kind = ImageKind::kElf;
    return true;
  }
  *kind = ImageKind::kUnknown;
  return false;
}

AppendedPayload ReadAppendedPayload(const std::string& file) {
  AppendedPayload payload;
  auto fail = [&](AppendedPayload::Problem problem, std::string why) {
    payload.problem = problem;
    payload.why = std::move(why);
    return payload;
  };
  if (file.empty())
    return fail(AppendedPayload::kEmpty, "empty file");
  ImageKind kind;
  if (!FindImageEnd(file, &kind, &payload.imageEnd))
    return fail(AppendedPayload::kNotExecutable,
                "not an executable: no PE or ELF image");
  uint64_t after = file.size() - payload.imageEnd;
  if (after == 0)
    return fail(AppendedPayload::kNoTrailer,
                "no payload: nothing follows the image");
  if (after < 4)
    return fail(AppendedPayload::kNoTrailer,
                "no trailer: only " + std::to_string(after) +
                    " byte(s) follow the image, fewer than its four");
  payload.length = static_cast<uint32_t>(Read(file, file.size() - 4, 4));
  if (payload.length > file.size() - 4)
    return fail(AppendedPayload::kLengthPastFile,
                "the trailer's length " + std::to_string(payload.length) +
                    " reaches past the start of the file");
  if (payload.length > after - 4)
    return fail(AppendedPayload::kLengthPastFile,
                "the trailer's length " + std::to_string(payload.length) +
                    " reaches back into the image: only " +
                    std::to_string(after - 4) +
                    " bytes lie between the image and the trailer");
  payload.script = file.substr(file.size() - 4 - payload.length,
                               payload.length);
  if (payload.script.size() < 2 ||
      static_cast<unsigned char>(payload.script[0]) != 0xff ||
      static_cast<unsigned char>(payload.script[1]) != 0xfe)
    return fail(AppendedPayload::kNoByteOrderMark,
                "the script does not begin with the UTF-16LE byte-order "
                "mark: the program would lose its first character");
  return payload;
}
