#include "tools/executable.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "payload/payload.h"
#include "payload/payload_io_host.h"

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

// Where a PE file's file header and optional header stand.
struct PeHeaders {
  uint64_t file;          // after the "PE\0\0" signature
  uint64_t optional;
  uint64_t optionalSize;  // as the file header gives it
};

// False for a file that is not a PE file, or that holds fewer than size
// bytes of headers from the signature on.
bool FindPeHeaders(const std::string& file, uint64_t size, PeHeaders* h) {
  if (file.size() < 64 || file.compare(0, 2, "MZ") != 0)
    return false;
  uint64_t pe = Read(file, 0x3c, 4);
  if (!Fits(file, pe, size) || file.compare(pe, 4, std::string("PE\0\0", 4)))
    return false;
  *h = PeHeaders{pe + 4, pe + 24, Read(file, pe + 20, 2)};
  return true;
}

bool PeImageEnd(const std::string& file, uint64_t* end) {
  PeHeaders h;
  if (!FindPeHeaders(file, 24, &h))
    return false;
  uint64_t sections = Read(file, h.file + 2, 2);
  uint64_t symbols = Read(file, h.file + 8, 4);
  uint64_t symbolCount = Read(file, h.file + 12, 4);
  uint64_t optional = h.optional, optionalSize = h.optionalSize;
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

bool FindImageEnd(const std::string& file, uint64_t* end, bool* isPe) {
  bool pe = PeImageEnd(file, end);
  if (isPe)
    *isPe = pe;
  return pe || ElfImageEnd(file, end);
}

namespace {

// Where a PE file's certificate-table entry stands, as the program finds it
// (field by field, with the same checks); false when it has none.
bool CertificateEntry(const std::string& file, uint64_t* entry) {
  PeHeaders h;
  if (!FindPeHeaders(file, 26, &h))
    return false;
  uint64_t magic = Read(file, h.optional, 2);
  if (magic != 0x10b && magic != 0x20b)
    return false;
  uint64_t counted = magic == 0x20b ? 108 : 92;  // PE32+ or PE32
  uint64_t security = counted + 4 + 4 * 8;
  if (h.optionalSize < security + 8 || !Fits(file, h.optional, security + 8) ||
      Read(file, h.optional + counted, 4) < 5)
    return false;
  *entry = h.optional + security;
  return true;
}

void Write(std::string* file, uint64_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    (*file)[at + i] = static_cast<char>(value >> (8 * i));
}

}  // namespace

CertificateTable FindCertificateTable(const std::string& file) {
  CertificateTable table;
  uint64_t entry;
  if (!CertificateEntry(file, &entry))
    return table;
  table.at = Read(file, entry, 4);
  table.size = Read(file, entry + 4, 4);
  if (table.size != 0)
    table.state = table.at + table.size == file.size()
                      ? CertificateTable::kAtEnd
                      : CertificateTable::kDamaged;
  return table;
}

bool SetCertificateEntry(std::string* file, uint32_t at, uint32_t size) {
  uint64_t entry;
  if (!CertificateEntry(*file, &entry))
    return false;
  Write(file, entry, at);
  Write(file, entry + 4, size);
  return true;
}

std::string MinimalPeHeaders(bool pe32plus) {
  const uint32_t pe = 0x40, optionalSize = pe32plus ? 240 : 224;
  std::string file(pe + 24 + optionalSize, '\0');
  file[0] = 'M';
  file[1] = 'Z';
  Write(&file, 0x3c, pe);
  file.replace(pe, 4, std::string("PE\0\0", 4));
  Write(&file, pe + 20, optionalSize);            // and no sections
  Write(&file, pe + 24, pe32plus ? 0x20b : 0x10b);  // with the 16 directories
  Write(&file, pe + 24 + (pe32plus ? 108 : 92), 16);
  Write(&file, pe + 24 + 60, static_cast<uint32_t>(file.size()));  // headers
  return file;
}

namespace {

// The container that ends at end of the file, as the program reads it.
void ReadContainer(const std::string& file, uint64_t end,
                   AppendedPayload* payload) {
  auto fail = [&](AppendedPayload::Problem problem, std::string why) {
    payload->problem = problem;
    payload->why = std::move(why);
  };
  uint64_t after = end - payload->imageEnd;
  if (after == 0)
    return fail(AppendedPayload::kNoTrailer,
                "no payload: nothing follows the image");
  if (after < 4)
    return fail(AppendedPayload::kNoTrailer,
                "no trailer: only " + std::to_string(after) +
                    " byte(s) follow the image, fewer than its four");
  payload->length = static_cast<uint32_t>(Read(file, end - 4, 4));
  if (payload->length > end - 4)
    return fail(AppendedPayload::kLengthPastFile,
                "the trailer's length " + std::to_string(payload->length) +
                    " reaches past the start of the file");
  if (payload->length > after - 4)
    return fail(AppendedPayload::kLengthPastFile,
                "the trailer's length " + std::to_string(payload->length) +
                    " reaches back into the image: only " +
                    std::to_string(after - 4) +
                    " bytes lie between the image and the trailer");
  payload->script = file.substr(end - 4 - payload->length, payload->length);
  if (payload->script.size() < 2 ||
      static_cast<unsigned char>(payload->script[0]) != 0xff ||
      static_cast<unsigned char>(payload->script[1]) != 0xfe)
    return fail(AppendedPayload::kNoByteOrderMark,
                "the script does not begin with the UTF-16LE byte-order "
                "mark: the program would lose its first character");
}

}  // namespace

AppendedPayload ReadAppendedPayload(const std::string& file) {
  AppendedPayload payload;
  if (file.empty()) {
    payload.problem = AppendedPayload::kEmpty;
    payload.why = "empty file";
    return payload;
  }
  if (!FindImageEnd(file, &payload.imageEnd)) {
    payload.problem = AppendedPayload::kNotExecutable;
    payload.why = "not an executable: no PE or ELF image";
    return payload;
  }
  payload.table = FindCertificateTable(file);
  bool isSigned = payload.table.state == CertificateTable::kAtEnd;
  uint64_t end = isSigned ? payload.table.at : file.size();
  if (end < payload.imageEnd) {
    payload.problem = AppendedPayload::kNotExecutable;
    payload.why = "the certificate table starts inside the image";
    return payload;
  }
  ReadContainer(file, end, &payload);
  if (!isSigned || payload.problem == AppendedPayload::kNone)
    return payload;
  // A signing tool pads the file with zeros to a multiple of eight before
  // its table; after a program packed without alignment, those zeros stand
  // where the program reads its trailer.
  size_t zeros = 0;
  while (zeros < 7 && end - zeros > payload.imageEnd &&
         file[end - zeros - 1] == '\0')
    ++zeros;
  for (size_t pad = 1; pad <= zeros; ++pad) {
    AppendedPayload hidden;
    hidden.imageEnd = payload.imageEnd;
    ReadContainer(file, end - pad, &hidden);
    if (hidden.problem == AppendedPayload::kNone) {
      payload.problem = AppendedPayload::kSignedUnaligned;
      payload.why = "signed after a payload that the program cannot find: " +
                    std::to_string(pad) +
                    " zero byte(s) of the signing tool's padding follow its "
                    "trailer, before the certificate table at " +
                    std::to_string(end) +
                    "; pack the unsigned image with drvdb pack, which "
                    "aligns the file, and sign again";
      return payload;
    }
  }
  payload.why += " (before the certificate table at " + std::to_string(end) +
                 ")";
  return payload;
}

std::string PackProgram(const std::string& image, const std::string& script,
                        bool alignForSigning) {
  uint64_t unaligned = image.size() + script.size() + 4;
  size_t zeros = alignForSigning ? (8 - unaligned % 8) % 8 : 0;
  uint32_t size = static_cast<uint32_t>(script.size());
  std::string packed = image + std::string(zeros, '\0') + script;
  for (int i = 0; i < 4; ++i)
    packed.push_back(static_cast<char>(size >> (8 * i)));
  return packed;
}

bool ReadScriptAsTheProgram(const std::string& script) {
  // Not a PE image: nothing before the script can be taken for a
  // certificate table.
  HostSetModuleImage("/host/drvsetup", PackProgram("image ", script, false));
  GetModulePath();
  bool ok = ReadPayload();
  HostClearModuleImage();
  if (!ok)
    FreeRunBuffers();
  return ok;
}

bool ReadScriptFileAsTheProgram(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string script((std::istreambuf_iterator<char>(in)),
                     std::istreambuf_iterator<char>());
  return in && !script.empty() && ReadScriptAsTheProgram(script);
}
