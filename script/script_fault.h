// Why the last version probe or import stopped short, and where. The
// program itself never reads this; it lets a tool explain a failing script.
#pragma once

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

/// Records where and why a stage stopped; true exactly for kFaultNone, so
/// that a stage can return it.
bool Stop(const char* at, ScriptFault fault);
