#include "payload/container.h"

#include <stdlib.h>
#include <string.h>

namespace {

// Set by a read of the headers that fails: every range read lies inside the
// file, so a failure is the file's or the system's, and the copy does not
// read, rather than read as if the part were missing.
bool HeaderReadFailed;

bool ReadHeader(PayloadFile file, uint64_t at, void* buffer, uint32_t size) {
  if (ReadPayloadAt(file, at, buffer, size))
    return true;
  HeaderReadFailed = true;
  return false;
}

// Little-endian fields of headers read into memory.
uint64_t Field(const unsigned char* bytes, uint64_t at, int size) {
  const unsigned char* field = bytes + static_cast<size_t>(at);
  uint64_t value = 0;
  for (int i = size - 1; i >= 0; --i)
    value = value << 8 | field[i];
  return value;
}

bool Fits(uint64_t fileSize, uint64_t at, uint64_t size) {
  return at <= fileSize && size <= fileSize - at;
}

void SetImageEnd(uint64_t furthest, PayloadContainer* c) {
  c->imageCut = furthest > c->fileSize;
  c->hasImage = !c->imageCut;
  c->imageEnd = c->hasImage ? furthest : 0;
}

// Reads a table of count entries of entrySize bytes into a new buffer;
// null when it does not lie inside the file or cannot be read.
unsigned char* ReadTable(PayloadFile file, uint64_t fileSize, uint64_t at,
                         uint64_t count, uint64_t entrySize) {
  uint64_t size = count * entrySize;
  if (count > 0xffff || entrySize > 0xffff || !Fits(fileSize, at, size))
    return nullptr;
  unsigned char* table = static_cast<unsigned char*>(malloc(size ? static_cast<size_t>(size) : 1));
  if (table && !ReadHeader(file, at, table, static_cast<uint32_t>(size))) {
    free(table);
    return nullptr;
  }
  return table;
}

// Where a PE file's headers stand.
struct PeHeaders {
  uint64_t optional;      // the optional header's offset
  uint64_t optionalSize;  // as the file header gives it
  uint64_t sections;
  uint64_t symbols, symbolCount;
  unsigned char header[256];  // the optional header's first bytes
  uint64_t headerBytes;       // how many of them were read
};

// CRC-32, eight bytes a step: the tables for slicing by eight, made by the
// compiler (a table made at run time would need a guard, and the guard the
// C++ runtime's threading support).
struct CrcTables {
  uint32_t t[8][256];
};

constexpr CrcTables MakeCrcTables() {
  CrcTables tables{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k)
      c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    tables.t[0][i] = c;
  }
  for (uint32_t i = 0; i < 256; ++i)
    for (int k = 1; k < 8; ++k)
      tables.t[k][i] =
          (tables.t[k - 1][i] >> 8) ^ tables.t[0][tables.t[k - 1][i] & 0xff];
  return tables;
}

constexpr CrcTables kCrcTables = MakeCrcTables();

uint32_t UpdateCrc(uint32_t crc, const unsigned char* p, size_t size) {
  const uint32_t(*t)[256] = kCrcTables.t;
  for (; size >= 8; p += 8, size -= 8) {
    uint32_t low = crc ^ (p[0] | p[1] << 8 | p[2] << 16 |
                          static_cast<uint32_t>(p[3]) << 24);
    crc = t[7][low & 0xff] ^ t[6][(low >> 8) & 0xff] ^
          t[5][(low >> 16) & 0xff] ^ t[4][low >> 24] ^ t[3][p[4]] ^
          t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
  }
  for (; size; ++p, --size)
    crc = t[0][(crc ^ *p) & 0xff] ^ (crc >> 8);
  return crc;
}

// Reads the record if it stands at at.
bool ReadRecordAt(PayloadFile file, uint64_t at, PayloadContainer* c) {
  unsigned char record[kRecordSize];
  if (!Fits(c->fileSize, at, kRecordSize) ||
      !ReadHeader(file, at, record, kRecordSize) ||
      memcmp(record, kRecordMarker, 8) != 0)
    return false;
  c->hasRecord = true;
  c->recordAt = at;
  c->recordEnd = static_cast<uint32_t>(Field(record, 8, 4));
  c->recordLength = static_cast<uint32_t>(Field(record, 12, 4));
  c->recordDigest = static_cast<uint32_t>(Field(record, kRecordDigestAt, 4));
  return true;
}

// Looks for the record where the image ends, then before the script.
void FindRecord(PayloadFile file, PayloadContainer* c) {
  if (c->hasImage && ReadRecordAt(file, c->imageEnd, c))
    return;
  for (uint64_t zeros = 0; c->fits && zeros < 8; ++zeros)
    if (c->scriptAt >= kRecordSize + zeros &&
        ReadRecordAt(file, c->scriptAt - kRecordSize - zeros, c))
      return;
}

// Zeros the part of a buffer that holds file bytes [at, at + size), where
// the buffer holds the file from offset start on.
void Blank(unsigned char* buffer, uint64_t start, uint64_t length,
           uint64_t at, uint64_t size) {
  uint64_t from = at > start ? at : start;
  uint64_t to = at + size < start + length ? at + size : start + length;
  if (from < to)
    memset(buffer + static_cast<size_t>(from - start), 0,
           static_cast<size_t>(to - from));
}

bool ReadPeHeaders(PayloadFile file, uint64_t fileSize, PeHeaders* pe) {
  unsigned char dos[64];
  if (fileSize < sizeof(dos) || !ReadHeader(file, 0, dos, sizeof(dos)) ||
      dos[0] != 'M' || dos[1] != 'Z')
    return false;
  uint64_t at = Field(dos, 0x3c, 4);
  unsigned char head[24];  // "PE\0\0" and the file header
  if (!Fits(fileSize, at, sizeof(head)) ||
      !ReadHeader(file, at, head, sizeof(head)) ||
      memcmp(head, "PE\0\0", 4) != 0)
    return false;
  pe->sections = Field(head, 6, 2);
  pe->symbols = Field(head, 12, 4);
  pe->symbolCount = Field(head, 16, 4);
  pe->optionalSize = Field(head, 20, 2);
  pe->optional = at + sizeof(head);
  uint64_t available = fileSize - pe->optional;
  pe->headerBytes = pe->optionalSize < sizeof(pe->header) ? pe->optionalSize
                                                          : sizeof(pe->header);
  if (pe->headerBytes > available)
    pe->headerBytes = available;
  return ReadHeader(file, pe->optional, pe->header,
                       static_cast<uint32_t>(pe->headerBytes));
}

// The furthest byte that a PE file's headers account for: the headers,
// every section's raw data, and the COFF symbols with their string table.
void PeImageEnd(PayloadFile file, const PeHeaders& pe, PayloadContainer* c) {
  uint64_t optionalSize = pe.optionalSize;
  if (optionalSize < 64 || !Fits(c->fileSize, pe.optional, optionalSize))
    return;
  uint64_t furthest = Field(pe.header, 60, 4);  // SizeOfHeaders
  uint64_t tableAt = pe.optional + optionalSize;
  unsigned char* table = ReadTable(file, c->fileSize, tableAt, pe.sections, 40);
  if (!table) {
    c->imageCut = true;
    return;
  }
  for (uint64_t i = 0; i < pe.sections; ++i) {
    uint64_t raw = Field(table, i * 40 + 16, 4);
    uint64_t at = Field(table, i * 40 + 20, 4);
    if (raw && at + raw > furthest)
      furthest = at + raw;
  }
  free(table);
  if (pe.symbols) {  // COFF symbols, then the string table with its size first
    uint64_t strings = pe.symbols + pe.symbolCount * 18;
    unsigned char size[4];
    if (!Fits(c->fileSize, strings, 4) ||
        !ReadHeader(file, strings, size, sizeof(size))) {
      c->imageCut = true;
      return;
    }
    if (strings + Field(size, 0, 4) > furthest)
      furthest = strings + Field(size, 0, 4);
  }
  SetImageEnd(furthest, c);
}

// The certificate-table entry: data directory 4 of the optional header, in
// PE32 and PE32+ alike.
void CertificateEntry(const PeHeaders& pe, PayloadContainer* c) {
  uint64_t magic = pe.headerBytes >= 2 ? Field(pe.header, 0, 2) : 0;
  if (magic != 0x10b && magic != 0x20b)
    return;
  uint64_t counted = magic == 0x20b ? 108 : 92;  // NumberOfRvaAndSizes
  uint64_t security = counted + 4 + 4 * 8;
  if (pe.optionalSize < security + 8 || pe.headerBytes < security + 8 ||
      Field(pe.header, counted, 4) < 5)
    return;
  c->checkSumAt = pe.optional + 64;
  c->tableEntry = true;
  c->tableEntryAt = pe.optional + security;
  c->tableAt = Field(pe.header, security, 4);
  c->tableSize = Field(pe.header, security + 4, 4);
  c->signedAtEnd = c->tableSize != 0 && c->tableAt + c->tableSize == c->fileSize;
}

// The furthest byte that an ELF file's headers account for: the headers,
// both header tables, every segment and every section that takes room.
void ElfImageEnd(PayloadFile file, PayloadContainer* c) {
  unsigned char h[64];
  if (c->fileSize < 52 ||
      !ReadHeader(file, 0, h, c->fileSize < 64 ? 52 : 64) ||
      memcmp(h, "\x7f" "ELF", 4) != 0)
    return;
  bool wide = h[4] == 2;
  if (h[5] != 1 || (wide && c->fileSize < 64))
    return;  // little-endian only, as every host we build on
  c->isElf = true;
  uint64_t phoff = wide ? Field(h, 32, 8) : Field(h, 28, 4);
  uint64_t shoff = wide ? Field(h, 40, 8) : Field(h, 32, 4);
  uint64_t phentsize = Field(h, wide ? 54 : 42, 2);
  uint64_t phnum = Field(h, wide ? 56 : 44, 2);
  uint64_t shentsize = Field(h, wide ? 58 : 46, 2);
  uint64_t shnum = Field(h, wide ? 60 : 48, 2);
  // Entries must hold the fields read from them.
  if ((phnum && phentsize < (wide ? 40u : 24u)) ||
      (shnum && shentsize < (wide ? 40u : 24u)))
    return;
  unsigned char* ph = ReadTable(file, c->fileSize, phoff, phnum, phentsize);
  unsigned char* sh = ph ? ReadTable(file, c->fileSize, shoff, shnum, shentsize)
                         : nullptr;
  if (!sh) {
    free(ph);
    c->imageCut = true;
    return;
  }
  uint64_t furthest = wide ? 64 : 52;
  if (phoff + phnum * phentsize > furthest)
    furthest = phoff + phnum * phentsize;
  if (shoff + shnum * shentsize > furthest)
    furthest = shoff + shnum * shentsize;
  for (uint64_t i = 0; i < phnum; ++i) {
    const unsigned char* e = ph + static_cast<size_t>(i * phentsize);
    uint64_t offset = wide ? Field(e, 8, 8) : Field(e, 4, 4);
    uint64_t size = wide ? Field(e, 32, 8) : Field(e, 16, 4);
    if (offset + size > furthest)
      furthest = offset + size;
  }
  for (uint64_t i = 0; i < shnum; ++i) {
    const unsigned char* e = sh + static_cast<size_t>(i * shentsize);
    uint64_t type = Field(e, 4, 4);
    uint64_t offset = wide ? Field(e, 24, 8) : Field(e, 16, 4);
    uint64_t size = wide ? Field(e, 32, 8) : Field(e, 20, 4);
    if (type != 8 && offset + size > furthest)  // SHT_NOBITS takes no room
      furthest = offset + size;
  }
  free(ph);
  free(sh);
  SetImageEnd(furthest, c);
}

}  // namespace

const char kRecordMarker[9] = "DRVSETUP";

bool ReadPayloadAt(PayloadFile file, uint64_t at, void* buffer,
                   uint32_t size) {
  uint64_t position;
  return SeekPayloadFile(file, static_cast<int64_t>(at), false, &position) &&
         ReadPayloadFile(file, buffer, size);
}

bool LocateContainer(PayloadFile file, PayloadContainer* c) {
  *c = PayloadContainer{};
  HeaderReadFailed = false;
  if (!SeekPayloadFile(file, 0, true, &c->fileSize))
    return false;
  PeHeaders pe;
  if (ReadPeHeaders(file, c->fileSize, &pe)) {
    c->isPe = true;
    PeImageEnd(file, pe, c);
    CertificateEntry(pe, c);
  } else {
    ElfImageEnd(file, c);
  }
  c->end = c->signedAtEnd ? c->tableAt : c->fileSize;
  unsigned char trailer[4];
  if (c->end >= 4 && ReadHeader(file, c->end - 4, trailer, sizeof(trailer))) {
    c->hasTrailer = true;
    c->length = static_cast<uint32_t>(Field(trailer, 0, 4));
    // The script must lie inside the file, before the trailer.
    c->fits = c->length <= c->end - 4;
    c->scriptAt = c->fits ? c->end - 4 - c->length : 0;
  }
  FindRecord(file, c);
  return !HeaderReadFailed;
}

bool DigestContainer(PayloadFile file, const PayloadContainer& c,
                     uint32_t* digest) {
  const uint32_t kChunk = 1 << 16;
  unsigned char* buffer = static_cast<unsigned char*>(malloc(kChunk));
  if (!buffer)
    return false;
  uint32_t crc = 0xFFFFFFFFu;
  bool ok = true;
  for (uint64_t at = 0; ok && at < c.end; at += kChunk) {
    uint32_t size = c.end - at < kChunk ? static_cast<uint32_t>(c.end - at)
                                        : kChunk;
    ok = ReadPayloadAt(file, at, buffer, size);
    // What signing changes, and the digest itself, count as zeros.
    if (c.checkSumAt)
      Blank(buffer, at, size, c.checkSumAt, 4);
    if (c.tableEntry)
      Blank(buffer, at, size, c.tableEntryAt, 8);
    if (c.hasRecord)
      Blank(buffer, at, size, c.recordAt + kRecordDigestAt, 4);
    crc = UpdateCrc(crc, buffer, size);
  }
  free(buffer);
  *digest = ~crc;
  return ok;
}

uint32_t ContainerProblems(PayloadFile file, const PayloadContainer& c,
                           bool firstRefusal, uint32_t* digest) {
  uint32_t problems = 0;
  if (!c.hasTrailer)
    problems |= kFileTooShort;
  else if (!c.fits)
    problems |= kLengthPastStart;
  if (firstRefusal && problems)
    return problems;
  if (c.imageCut)
    problems |= kImageCut;
  if (!c.hasImage && !c.imageCut)
    problems |= kNoImage;
  if (firstRefusal && problems & kRefusedProblems)
    return problems;
  if (c.hasRecord) {
    // A record is checked field by field: the digest only of a container
    // that agrees with it otherwise.
    uint32_t computed = 0;
    if (c.recordEnd != c.end)
      problems |= kRecordEndDiffers;
    else if (!c.hasTrailer || c.recordLength != c.length)
      problems |= kRecordLengthDiffers;
    else if (!DigestContainer(file, c, &computed) ||
             computed != c.recordDigest)
      problems |= kDigestDiffers;
    if (digest)
      *digest = computed;
  }
  if (firstRefusal || !c.hasImage)
    return problems;
  if (c.end < c.imageEnd) {
    problems |= kTableInImage;
    return problems;
  }
  const uint64_t after = c.end - c.imageEnd;
  if (after == 0) {
    problems |= kNothingAfterImage;
  } else if (after < 4) {
    problems |= kShortTrailer;
  } else if (c.fits && c.length > after - 4) {
    problems |= kLengthIntoImage;
  } else if (c.fits) {
    unsigned char mark[2] = {0, 0};
    if (c.length < 2 || !ReadPayloadAt(file, c.scriptAt, mark, 2) ||
        mark[0] != 0xff || mark[1] != 0xfe)
      problems |= kMarkMissing;
  }
  return problems;
}
