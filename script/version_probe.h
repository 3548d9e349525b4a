// The embedded version probe: the database version that the script
// declares in its "DriverVersion"=dword: line.
#pragma once

#include <stdint.h>

/// The version line begins, after blanks and in any letter case, with the
/// keyword: the value name in its quotes, an equals sign and the type word,
/// then the hex digits. All are spelt from the one value name.
extern const char kVersionValueName[];  // DriverVersion
extern const char kVersionKeyword[];    // "DriverVersion"=dword:
extern const char kVersionName[];       // "DriverVersion", quotes included
extern const char kVersionType[];       // dword:

/// The database version the script declares; meaningful only after
/// ProbeEmbeddedVersion succeeded.
extern uint32_t EmbeddedVersion;

/// Finds the first line that begins (after blanks) with the keyword and
/// reads its hex number into EmbeddedVersion. Fails when no line matches,
/// when no hex digit follows the keyword, or when anything but CR, LF or the
/// end follows the digits. LastScriptStop says where and why.
bool ProbeEmbeddedVersion(const char* scriptText);
