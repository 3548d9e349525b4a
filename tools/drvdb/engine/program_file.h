// The setup program's file as the tools see it: where its image ends (from
// its PE or ELF headers), whether it is signed, and what is appended after
// the image, all as the program's own reader finds them, with what is wrong
// said in words.
#pragma once

#include <cstdint>
#include <string>

#include "payload/container_writer.h"

/// The end of an executable's image: the furthest byte that its headers
/// account for (sections, segments, section headers, symbols), the
/// certificate table of a signed program not included. False for a file
/// that is not a PE or ELF executable, or whose headers point outside it.
/// isPe tells which of the two it is.
bool FindImageEnd(const std::string& file, uint64_t* end, bool* isPe = nullptr);

/// A PE file's certificate table (data directory 4, whose address is a file
/// offset). The program reads its payload before the table when the table
/// is non-empty and ends exactly at the end of the file (kAtEnd); any other
/// non-empty entry (kDamaged) it ignores, reading from the file's end.
struct CertificateTable {
  enum State { kNone, kAtEnd, kDamaged } state = kNone;
  uint64_t at = 0;
  uint64_t size = 0;
};
CertificateTable FindCertificateTable(const std::string& file);

/// The appended payload as the program reads it, and why it does not read.
struct AppendedPayload {
  enum Problem {
    kNone,
    kEmpty,            // an empty file
    kNotExecutable,    // no PE or ELF image
    kNoTrailer,        // nothing, or less than four bytes, after the image
    kLengthPastFile,   // the trailer's length does not fit
    kNoByteOrderMark,  // the script does not begin with FF FE
    kSignedUnaligned,  // a signing tool's padding hides the trailer
    kDamaged,          // the integrity record does not match
  } problem = kNone;
  std::string why;           // one line, for a problem
  bool hasImage = false;     // its PE or ELF headers lie whole in the file
  bool isPe = false;         // and are PE headers
  uint64_t imageEnd = 0;     // where the image ends
  CertificateTable table;    // kAtEnd: the container ends where it starts
  uint32_t length = 0;       // the trailer's length
  std::string script;        // the script's bytes, when the length fits
  bool hasRecord = false;    // an integrity record, which matched unless
  uint64_t recordAt = 0;     //   the problem says it did not
  uint32_t digest = 0;
};

/// The file located once by the program's own reader, and read as a packed
/// program: what its reader finds wrong, in words, each from the reader's
/// own problems (ContainerProblems).
AppendedPayload ReadAppendedPayload(const std::string& file);

/// Decodes script bytes (a payload without its container) as the program
/// decodes its own: on success ScriptText holds the text; FreeRunBuffers
/// releases it.
bool DecodeAsTheProgram(const std::string& script);

/// The same for a script file's bytes; false for a file that cannot be read
/// or is empty.
bool DecodeFileAsTheProgram(const std::string& path);
