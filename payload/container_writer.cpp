#include "payload/container_writer.h"

#include "payload/container.h"
#include "payload/payload_io_host.h"

namespace {

void Write(std::string* file, uint64_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    (*file)[at + i] = static_cast<char>(value >> (8 * i));
}

// The container as the program's own reader finds it.
PayloadContainer Locate(const std::string& file) {
  PayloadContainer container{};
  PayloadFile opened = OpenPayloadBytes(file);
  LocateContainer(opened, &container);
  ClosePayloadFile(opened);
  return container;
}

}  // namespace

bool SetCertificateEntry(std::string* file, uint32_t at, uint32_t size) {
  PayloadContainer c = Locate(*file);
  if (!c.tableEntry)
    return false;
  Write(file, c.tableEntryAt, at);
  Write(file, c.tableEntryAt + 4, size);
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

std::string PackProgram(const std::string& image, const std::string& script,
                        bool alignForSigning, bool withRecord) {
  const size_t record = withRecord ? kRecordSize : 0;
  uint64_t unaligned = image.size() + record + script.size() + 4;
  size_t zeros = alignForSigning ? (8 - unaligned % 8) % 8 : 0;
  uint32_t size = static_cast<uint32_t>(script.size());
  std::string packed =
      image + std::string(record + zeros, '\0') + script + std::string(4, '\0');
  Write(&packed, packed.size() - 4, size);
  if (!withRecord)
    return packed;
  packed.replace(image.size(), 8, kRecordMarker, 8);
  Write(&packed, image.size() + 8, static_cast<uint32_t>(packed.size()));
  Write(&packed, image.size() + 12, size);
  // The digest is the program's own, over the packed bytes.
  uint32_t digest = 0;
  PayloadFile opened = OpenPayloadBytes(packed);
  PayloadContainer c;
  LocateContainer(opened, &c);
  DigestContainer(opened, c, &digest);
  ClosePayloadFile(opened);
  Write(&packed, image.size() + kRecordDigestAt, digest);
  return packed;
}

