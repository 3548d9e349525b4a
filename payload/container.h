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

/// Whether the container is whole: the image's headers lie inside the file,
/// and a record, if there is one, agrees with the container's end, with the
/// trailer and with the digest.
bool ContainerIsWhole(PayloadFile file, const PayloadContainer& container);

/// Finds the container of an open program file. False when the file's size
/// cannot be had, or a read of a part that lies inside the file fails.
bool LocateContainer(PayloadFile file, PayloadContainer* container);

/// Reads size bytes at offset at; false on a failure or a short read.
bool ReadPayloadAt(PayloadFile file, uint64_t at, void* buffer,
                   uint32_t size);
