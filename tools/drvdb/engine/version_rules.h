// What drvdb says of a version beside the last release's (OLD): a jump
// larger than a maintainer would mean, and a version written in decimal
// where the program reads hexadecimal. pack --newer-than and diff judge by
// these.
#pragma once

#include <stdint.h>

#include <string>

#include "tools/drvdb/engine/check.h"

/// A version that jumps further than this is probably a typing error, and
/// no machine ever goes back below it.
const uint32_t kLargeVersionJump = 100;

/// A version whose digits, read as decimal, lie at most this far above
/// OLD's was probably meant as decimal.
const uint32_t kDecimalSlip = 10;

/// Whether now's version jumps from old's by more than kLargeVersionJump.
bool LargeJump(const CheckReport& old, const CheckReport& now);

/// Whether now's version was written in decimal: its digits are all decimal
/// and, read so, lie 1 to kDecimalSlip above old's version, while the
/// program reads them as a larger hexadecimal number. The message says both
/// readings and the line to write:
/// "dword:00000072 is version 114; version 72 is dword:00000048".
bool DecimalVersion(const CheckReport& old, const CheckReport& now,
                    std::string* message);
