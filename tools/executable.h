// The setup program's file as the packing tools see it: where its image
// ends (from its PE or ELF headers) and what is appended after it.
#pragma once

#include <cstdint>
#include <string>

enum class ImageKind { kUnknown, kPe, kElf };

/// The kind of executable and the end of its image: the furthest byte that
/// its headers account for (sections, segments, section headers, symbols,
/// certificates). False for a file that is not a PE or ELF executable, or
/// whose headers point outside it.
bool FindImageEnd(const std::string& file, ImageKind* kind, uint64_t* end);

/// The appended payload as the program reads it, and why it does not read.
struct AppendedPayload {
  enum Problem {
    kNone,
    kEmpty,            // an empty file
    kNotExecutable,    // no PE or ELF image
    kNoTrailer,        // nothing, or less than four bytes, after the image
    kLengthPastFile,   // the trailer's length does not fit
    kNoByteOrderMark,  // the script does not begin with FF FE
  } problem = kNone;
  std::string why;         // one line, for a problem
  uint64_t imageEnd = 0;   // where the image ends
  uint32_t length = 0;     // the trailer's length
  std::string script;      // the script's bytes, when the length fits
};

AppendedPayload ReadAppendedPayload(const std::string& file);
