// Random registry scripts in the program's dialect, valid and invalid, for
// the differential test against Wine's registry. Every rule of the import
// has its turn: escapes, empty names, '=' inside names, blanks, repeated and
// case-colliding headers (Windows-1252 letters included), headers lacking
// their '[', a ']' on a later line, long dwords, the three roots, and a
// failing line now and then. Names stay short and paths shallow, away from
// the limits where Wine and Windows part (see tests/hostile_test.cpp).
#pragma once

#include <stdint.h>

#include <string>

struct GeneratedScript {
  std::string text;      // ANSI (Windows-1252) text, as the program sees it
  bool hasVersion;       // whether the probe should find a version
  uint32_t version;      // the version a correct version line gives
};

GeneratedScript GenerateScript(uint32_t seed);

/// The keys, as the registry dump takes them, below which a generated
/// script writes.
extern const char* const kGeneratedRoots[4];
