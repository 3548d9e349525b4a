#include "tools/drvdb/engine/program_file.h"

#include <stdio.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>

#include "payload/container.h"
#include "payload/payload.h"
#include "payload/payload_io_host.h"

namespace {

// The container as the program's own reader finds it in the first size
// bytes of file, and, when asked, its problems, every one of them.
PayloadContainer Locate(const std::string& file, uint32_t* problems = nullptr,
                        uint32_t* digest = nullptr,
                        size_t size = std::string::npos) {
  PayloadContainer container{};
  PayloadFile opened = OpenPayloadBytes(file, size);
  const bool located = LocateContainer(opened, &container);
  if (problems)
    *problems = (located ? 0u : uint32_t{kHeadersUnread}) |
                ContainerProblems(opened, container, false, digest);
  ClosePayloadFile(opened);
  return container;
}

// The problems of the part after the image, where the script and its
// trailer stand.
const uint32_t kPayloadProblems = kNothingAfterImage | kShortTrailer |
                                  kLengthPastStart | kLengthIntoImage |
                                  kMarkMissing;

// The words for what the record finds wrong with the copy.
std::string Damage(const PayloadContainer& c, uint32_t problems,
                   uint32_t digest) {
  if (problems & kRecordEndDiffers)
    return "the integrity record says the program ends at " +
           std::to_string(c.recordEnd) + ", but it ends at " +
           std::to_string(c.end) + " (cut short, or something appended)";
  if (problems & kRecordLengthDiffers)
    return "the integrity record says the script is " +
           std::to_string(c.recordLength) + " bytes long, but the trailer "
           "says " + std::to_string(c.length);
  char text[64];
  snprintf(text, sizeof(text), "digest %08x, but the record says %08x",
           digest, c.recordDigest);
  return std::string("the program's bytes have changed: ") + text;
}

// The words for what is wrong after the image.
void SayPayload(const PayloadContainer& c, uint32_t problems,
                AppendedPayload* payload) {
  auto fail = [&](AppendedPayload::Problem problem, std::string why) {
    payload->problem = problem;
    payload->why = std::move(why);
  };
  const uint64_t after = c.end - c.imageEnd;
  if (problems & kNothingAfterImage)
    return fail(AppendedPayload::kNoTrailer,
                "no payload: nothing follows the image");
  if (problems & kShortTrailer)
    return fail(AppendedPayload::kNoTrailer,
                "no trailer: only " + std::to_string(after) +
                    " byte(s) follow the image, fewer than its four");
  payload->length = c.length;
  if (problems & kLengthPastStart)
    return fail(AppendedPayload::kLengthPastFile,
                "the trailer's length " + std::to_string(c.length) +
                    " reaches past the start of the file");
  if (problems & kLengthIntoImage)
    return fail(AppendedPayload::kLengthPastFile,
                "the trailer's length " + std::to_string(c.length) +
                    " reaches back into the image: only " +
                    std::to_string(after - 4) +
                    " bytes lie between the image and the trailer");
  if (problems & kMarkMissing)
    return fail(AppendedPayload::kNoByteOrderMark,
                "the script does not begin with the UTF-16LE byte-order "
                "mark: the program would lose its first character");
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
    uint32_t problems;
    Locate(file, &problems, nullptr, c.end - pad);
    if (!(problems & kPayloadProblems)) {
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

CertificateTable TableOf(const PayloadContainer& c) {
  CertificateTable table;
  table.at = c.tableAt;
  table.size = c.tableSize;
  if (c.tableSize != 0)
    table.state = c.signedAtEnd ? CertificateTable::kAtEnd
                                : CertificateTable::kDamaged;
  return table;
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
  return TableOf(Locate(file));
}

AppendedPayload ReadAppendedPayload(const std::string& file) {
  AppendedPayload payload;
  if (file.empty()) {
    payload.problem = AppendedPayload::kEmpty;
    payload.why = "empty file";
    return payload;
  }
  uint32_t problems = 0, digest = 0;
  const PayloadContainer c = Locate(file, &problems, &digest);
  payload.isPe = c.isPe;
  payload.hasImage = c.hasImage;
  if (!c.hasImage) {
    payload.problem = AppendedPayload::kNotExecutable;
    payload.why = problems & kImageCut
                      ? "not a whole executable: its headers reach past the "
                        "end of the file"
                      : "not an executable: no PE or ELF image";
    return payload;
  }
  payload.imageEnd = c.imageEnd;
  payload.table = TableOf(c);
  if (problems & kTableInImage) {
    payload.problem = AppendedPayload::kNotExecutable;
    payload.why = "the certificate table starts inside the image";
    return payload;
  }
  if (c.hasRecord) {
    payload.hasRecord = true;
    payload.recordAt = c.recordAt;
    payload.digest = c.recordDigest;
    if (problems & (kRecordEndDiffers | kRecordLengthDiffers | kDigestDiffers)) {
      payload.problem = AppendedPayload::kDamaged;
      payload.why = "a damaged copy: " + Damage(c, problems, digest) +
                    "; the program answers -1 (\"corrupted\") and changes "
                    "nothing: copy the program again";
      return payload;
    }
  }
  SayPayload(c, problems, &payload);
  if (payload.problem == AppendedPayload::kNone ||
      payload.problem == AppendedPayload::kNoByteOrderMark)
    payload.script = file.substr(c.scriptAt, c.length);
  if (c.signedAtEnd && payload.problem != AppendedPayload::kNone)
    ExplainSigned(file, c, &payload);
  return payload;
}

bool DecodeAsTheProgram(const std::string& script) {
  // The program's own decoding, from a copy that holds at least two bytes,
  // as its reader's buffer does.
  std::vector<unsigned char> raw(script.begin(), script.end());
  raw.resize(std::max<size_t>(raw.size(), 2));
  return DecodeScript(raw.data(), static_cast<uint32_t>(script.size()));
}

bool DecodeFileAsTheProgram(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string script((std::istreambuf_iterator<char>(in)),
                     std::istreambuf_iterator<char>());
  return in && !script.empty() && DecodeAsTheProgram(script);
}
