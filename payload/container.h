// The container at the end of a program file, as the payload reader finds
// it:
//
//   [image][record][zeros][script: N bytes][N: 4 bytes LE][certificate table]
//
// The image's end is the furthest byte that its PE or ELF headers account
// for. A signed PE file carries its certificate table (data directory 4,
// whose address is a file offset) after the container; the container ends
// where that table begins when the entry is non-empty and names exactly the
// file's last bytes, and at the end of the file otherwise.
//
// The integrity record, which drvdb pack writes where the image ends, is
// looked for there (as the headers give it) and before the script (as the
// trailer gives it, past up to seven zeros), so that damage to either
// still finds it. It is 20 bytes, numbers little-endian:
//
//   "DRVSETUP"  the marker
//   end         where the container ends: the file's size when packed
//   N           the script's length, as the trailer gives it
//   digest      CRC-32 (the polynomial of zip and PNG) of the container's
//               bytes from the file's start, with the fields that signing
//               changes (the PE CheckSum and the certificate-table entry)
//               and the digest itself read as zeros
//
// A program without a record is read as it stands. The zeros (0 to 7)
// align the file for signing.
#pragma once

#include <stdint.h>

#include "payload/payload_io.h"

struct PayloadContainer {
  uint64_t fileSize;
  bool isPe;             // the file has PE headers (MZ, then "PE\0\0")
  bool isElf;            // or ELF headers
  bool hasImage;         // their image lies whole inside the file,
  uint64_t imageEnd;     //   ending here
  bool imageCut;         // the headers reach past the end of the file
  bool tableEntry;       // a PE certificate-table entry, as written:
  uint64_t tableEntryAt; //   where it stands in the file
  uint64_t tableAt;      //   its file offset
  uint64_t tableSize;    //   and size (0: not signed)
  bool signedAtEnd;      // the table names exactly the file's last bytes
  uint64_t end;          // where the container ends
  bool hasTrailer;       // at least four bytes before end
  uint32_t length;       // the trailer's N
  bool fits;             // N bytes fit before the trailer
  uint64_t scriptAt;     // where the script begins, when it fits
  uint64_t checkSumAt;   // a PE file's CheckSum field; 0 for none
  bool hasRecord;        // an integrity record was found:
  uint64_t recordAt;     //   where it stands,
  uint32_t recordEnd;    //   the container's end it gives,
  uint32_t recordLength; //   the script's length
  uint32_t recordDigest; //   and the digest
};

const uint32_t kRecordSize = 20;
const uint32_t kRecordDigestAt = 16;  // within the record
extern const char kRecordMarker[9];

/// The digest of the container as the record defines it; false when the
/// file cannot be read that far.
bool DigestContainer(PayloadFile file, const PayloadContainer& container,
                     uint32_t* digest);

/// What is wrong with a copy's container, a bit each: the program's reader
/// refuses a copy for some of them (kRefusedProblems), and drvdb names each
/// to its maintainers.
enum ContainerProblem : uint32_t {
  kHeadersUnread = 1u << 0,       // a read of a part inside the file failed
  kImageCut = 1u << 1,            // the headers reach past the end of the file
  kNoImage = 1u << 2,             // no PE or ELF headers at all
  kTableInImage = 1u << 3,        // the certificate table starts in the image
  kRecordEndDiffers = 1u << 4,    // the record's end is not the container's
  kRecordLengthDiffers = 1u << 5, // its length is not the trailer's, or there
                                  // is no trailer
  kDigestDiffers = 1u << 6,       // its digest does not match, or cannot be
                                  // read
  kFileTooShort = 1u << 7,        // fewer than four bytes in the whole file
  kNothingAfterImage = 1u << 8,   // the image ends where the container does
  kShortTrailer = 1u << 9,        // fewer than four bytes after the image
  kLengthPastStart = 1u << 10,    // N reaches past the start of the file
  kLengthIntoImage = 1u << 11,    // N reaches back into the image
  kMarkMissing = 1u << 12,        // the script does not begin with FF FE
};

/// The problems for which the program's reader refuses a copy (-1). It reads
/// a script that reaches into the image, or lacks its byte-order mark, as
/// it stands.
const uint32_t kRefusedProblems = kHeadersUnread | kImageCut |
                                  kRecordEndDiffers | kRecordLengthDiffers |
                                  kDigestDiffers | kFileTooShort |
                                  kLengthPastStart;

/// The container's problems. With firstRefusal, as the program reads: the
/// first problem it refuses the copy for, and no read after it (the digest
/// only of a container that is otherwise whole); otherwise every problem,
/// the byte-order mark read too, and digest set to what the record's digest
/// was compared with.
uint32_t ContainerProblems(PayloadFile file, const PayloadContainer& container,
                           bool firstRefusal, uint32_t* digest = nullptr);

/// Finds the container of an open program file. False when the file's size
/// cannot be had, or a read of a part that lies inside the file fails.
bool LocateContainer(PayloadFile file, PayloadContainer* container);

/// Reads size bytes at offset at; false on a failure or a short read.
bool ReadPayloadAt(PayloadFile file, uint64_t at, void* buffer,
                   uint32_t size);
