// The container at the end of a program file, as the payload reader finds
// it:
//
//   [image][zeros][script: N bytes][N: 4 bytes LE][certificate table]
//
// The image's end is the furthest byte that its PE or ELF headers account
// for. A signed PE file carries its certificate table (data directory 4,
// whose address is a file offset) after the container; the container ends
// where that table begins when the entry is non-empty and names exactly the
// file's last bytes, and at the end of the file otherwise.
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
};

/// Finds the container of an open program file. False only when the file's
/// size cannot be had.
bool LocateContainer(PayloadFile file, PayloadContainer* container);

/// Reads size bytes at offset at; false on a failure or a short read.
bool ReadPayloadAt(PayloadFile file, uint64_t at, void* buffer,
                   uint32_t size);
