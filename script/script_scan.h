// Scanning helpers shared by the option parser, the version probe and the
// importer, and the version probe itself. All of them work byte by byte on
// one NUL-terminated ANSI string.
#pragma once

#include <stddef.h>
#include <stdint.h>

/// Skips spaces and tabs; stops at anything else, CR, LF and NUL included.
const char* SkipBlanks(const char* p);
/// Advances to the first space, tab, CR, LF or NUL.
const char* SkipToTokenEnd(const char* p);
/// The position just after the next LF, or of the terminating NUL if no LF
/// follows. Only LF ends a line.
const char* NextLine(const char* p);
/// True for 0-9, a-f and A-F only.
bool IsHexDigit(char c);
/// Reads the run of hex digits at p into *value (value * 16 + digit, unsigned
/// 32-bit, so only the last eight digits count) and returns the position
/// after the run.
const char* AccumulateHex(const char* p, uint32_t* value);
/// True when the text at p begins with keyword, folding A-Z on both sides.
bool MatchKeyword(const char* p, const char* keyword);
/// True when the n bytes at a and at b are the same, folding A-Z.
bool SameFolded(const char* a, const char* b, size_t n);

// The importer edits the text it scans; these keep its positions writable.
inline char* SkipBlanks(char* p) {
  return const_cast<char*>(SkipBlanks(static_cast<const char*>(p)));
}
inline char* NextLine(char* p) {
  return const_cast<char*>(NextLine(static_cast<const char*>(p)));
}

/// Why the last version probe or import stopped short, and where. The
/// program itself never reads this; it lets a tool explain a failing script.
enum ScriptFault {
  kFaultNone,
  kFaultNoVersionLine,     // no line begins with the version keyword
  kFaultVersionNoDigit,    // no hex digit right after the keyword
  kFaultVersionTrailing,   // the version line goes on after its digits
  kFaultHeaderUnclosed,    // no ']' anywhere after a '['
  kFaultUnknownRoot,       // a key path under none of the three roots
  kFaultKeyNotCreated,     // the registry refused the key
  kFaultNameUnclosed,      // a value name without its closing quote
  kFaultNoEquals,          // no '=' after the value name
  kFaultStringEmpty,       // the line ends right after the opening quote
  kFaultStringUnclosed,    // the line ends before the closing quote
  kFaultStringTrailing,    // more than blanks after the closing quote
  kFaultUnsupportedType,   // neither a quoted string nor dword:
  kFaultDwordNoDigit,      // no hex digit right after dword:
  kFaultDwordTrailing,     // more than blanks after the digits
  kFaultValueNotSet,       // the registry refused the value
};

struct ScriptStop {
  const char* at;  // where in the text, or null for the text as a whole
  ScriptFault fault;
};

/// Set by ProbeEmbeddedVersion and ImportScript: on success at is the
/// version line (probe) or the end of the text (import), with kFaultNone.
/// Positions stay valid in the edited text: the import never moves a
/// character that lies after where it stopped.
extern ScriptStop LastScriptStop;

/// The database version the script declares; meaningful only after
/// ProbeEmbeddedVersion succeeded.
extern uint32_t EmbeddedVersion;

/// Finds the first line that begins (after blanks) with
/// "DriverVersion"=dword: in any letter case and reads its hex number into
/// EmbeddedVersion. Fails when no line matches, when no hex digit follows the
/// keyword, or when anything but CR, LF or the end follows the digits.
bool ProbeEmbeddedVersion(const char* scriptText);
