#include "tools/drvdb/engine/program_file.h"

#include <stdio.h>

#include <fstream>
#include <iterator>

#include "payload/container.h"
#include "payload/payload.h"
#include "payload/payload_io_host.h"

namespace {

// The container as the program's own reader finds it in the first size
// bytes of file.
PayloadContainer Locate(const std::string& file,
                        size_t size = std::string::npos) {
  PayloadContainer container{};
  PayloadFile opened = OpenPayloadBytes(file, size);
  LocateContainer(opened, &container);
  ClosePayloadFile(opened);
  return container;
}

// The container that ends at end, judged as a packed program must be: a
// trailer after the image, and a script between them that begins with the
// byte-order mark.
void Judge(const std::string& file, const PayloadContainer& c,
           AppendedPayload* payload) {
  auto fail = [&](AppendedPayload::Problem problem, std::string why) {
    payload->problem = problem;
    payload->why = std::move(why);
  };
  uint64_t after = c.end - payload->imageEnd;
  if (after == 0)
    return fail(AppendedPayload::kNoTrailer,
                "no payload: nothing follows the image");
  if (after < 4)
    return fail(AppendedPayload::kNoTrailer,
                "no trailer: only " + std::to_string(after) +
                    " byte(s) follow the image, fewer than its four");
  payload->length = c.length;
  if (!c.fits)
    return fail(AppendedPayload::kLengthPastFile,
                "the trailer's length " + std::to_string(c.length) +
                    " reaches past the start of the file");
  if (c.length > after - 4)
    return fail(AppendedPayload::kLengthPastFile,
                "the trailer's length " + std::to_string(c.length) +
                    " reaches back into the image: only " +
                    std::to_string(after - 4) +
                    " bytes lie between the image and the trailer");
  payload->script = file.substr(c.scriptAt, c.length);
  if (payload->script.size() < 2 ||
      static_cast<unsigned char>(payload->script[0]) != 0xff ||
      static_cast<unsigned char>(payload->script[1]) != 0xfe)
    return fail(AppendedPayload::kNoByteOrderMark,
                "the script does not begin with the UTF-16LE byte-order "
                "mark: the program would lose its first character");
}

// What the integrity record says is wrong with the copy, or "".
std::string Damage(const std::string& file, const PayloadContainer& c) {
  if (c.recordEnd != c.end)
    return "the integrity record says the program ends at " +
           std::to_string(c.recordEnd) + ", but it ends at " +
           std::to_string(c.end) + " (cut short, or something appended)";
  if (!c.hasTrailer || c.recordLength != c.length)
    return "the integrity record says the script is " +
           std::to_string(c.recordLength) + " bytes long, but the trailer "
           "says " + std::to_string(c.length);
  uint32_t digest = 0;
  PayloadFile opened = OpenPayloadBytes(file);
  bool read = DigestContainer(opened, c, &digest);
  ClosePayloadFile(opened);
  char text[64];
  snprintf(text, sizeof(text), "digest %08x, but the record says %08x",
           digest, c.recordDigest);
  if (!read || digest != c.recordDigest)
    return std::string("the program's bytes have changed: ") + text;
  return "";
}

// A signed program whose container does not read: a signing tool pads the
// file with zeros to a multiple of eight before its table; after a program
// packed without alignment, those zeros stand where the program reads its
// trailer. Would the container read, had the file ended before them?
void ExplainSigned(const std::string& file, const PayloadContainer& c,
                   AppendedPayload* payload) {
  size_t zeros = 0;
  while (zeros < 7 && c.end - zeros > payload->imageEnd &&
         file[c.end - zeros - 1] == '\0')
    ++zeros;
  for (size_t pad = 1; pad <= zeros; ++pad) {
    AppendedPayload hidden;
    hidden.imageEnd = payload->imageEnd;
    Judge(file, Locate(file, c.end - pad), &hidden);
    if (hidden.problem == AppendedPayload::kNone) {
      payload->problem = AppendedPayload::kSignedUnaligned;
      payload->why = "signed after a payload that the program cannot find: " +
                     std::to_string(pad) +
                     " zero byte(s) of the signing tool's padding follow its "
                     "trailer, before the certificate table at " +
                     std::to_string(c.end) +
                     "; pack the unsigned image with drvdb pack, which "
                     "aligns the file, and sign again";
      return;
    }
  }
  payload->why += " (before the certificate table at " +
                  std::to_string(c.end) + ")";
}

}  // namespace

bool FindImageEnd(const std::string& file, uint64_t* end, bool* isPe) {
  PayloadContainer c = Locate(file);
  if (isPe)
    *isPe = c.isPe;
  *end = c.imageEnd;
  return c.hasImage;
}

CertificateTable FindCertificateTable(const std::string& file) {
  PayloadContainer c = Locate(file);
  CertificateTable table;
  table.at = c.tableAt;
  table.size = c.tableSize;
  if (c.tableSize != 0)
    table.state = c.signedAtEnd ? CertificateTable::kAtEnd
                                : CertificateTable::kDamaged;
  return table;
}

AppendedPayload ReadAppendedPayload(const std::string& file) {
  AppendedPayload payload;
  if (file.empty()) {
    payload.problem = AppendedPayload::kEmpty;
    payload.why = "empty file";
    return payload;
  }
  const PayloadContainer c = Locate(file);
  if (!c.hasImage) {
    payload.problem = AppendedPayload::kNotExecutable;
    payload.why = c.imageCut ? "not a whole executable: its headers reach "
                               "past the end of the file"
                             : "not an executable: no PE or ELF image";
    return payload;
  }
  payload.imageEnd = c.imageEnd;
  payload.table = FindCertificateTable(file);
  if (c.end < payload.imageEnd) {
    payload.problem = AppendedPayload::kNotExecutable;
    payload.why = "the certificate table starts inside the image";
    return payload;
  }
  if (c.hasRecord) {
    payload.hasRecord = true;
    payload.recordAt = c.recordAt;
    payload.digest = c.recordDigest;
    std::string damage = Damage(file, c);
    if (!damage.empty()) {
      payload.problem = AppendedPayload::kDamaged;
      payload.why = "a damaged copy: " + damage +
                    "; the program answers -1 (\"corrupted\") and changes "
                    "nothing: copy the program again";
      return payload;
    }
  }
  Judge(file, c, &payload);
  if (c.signedAtEnd && payload.problem != AppendedPayload::kNone)
    ExplainSigned(file, c, &payload);
  return payload;
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
