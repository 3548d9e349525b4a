#include "tools/drvdb/engine/version_rules.h"

#include <stdlib.h>
#include <string.h>

#include "script/version_probe.h"
#include "tools/drvdb/engine/wording.h"

bool LargeJump(const CheckReport& old, const CheckReport& now) {
  return old.hasVersion && now.hasVersion && now.version > old.version &&
         now.version - old.version > kLargeVersionJump;
}

bool DecimalVersion(const CheckReport& old, const CheckReport& now,
                    std::string* message) {
  if (!old.hasVersion || !now.hasVersion ||
      now.versionText.size() <= strlen(kVersionType))
    return false;
  const std::string digits = now.versionText.substr(strlen(kVersionType));
  if (digits.size() > 10 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const unsigned long long decimal = strtoull(digits.c_str(), nullptr, 10);
  if (decimal <= old.version || decimal - old.version > kDecimalSlip ||
      now.version <= decimal)
    return false;
  *message = now.versionText + " is version " + std::to_string(now.version) +
             "; version " + std::to_string(decimal) + " is dword:" +
             Hex8(static_cast<uint32_t>(decimal));
  return true;
}
