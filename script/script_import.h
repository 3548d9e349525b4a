// Writes the keys and values of a registry script into the registry.
//
// The dialect: "[ROOT\path]" section headers under HKEY_LOCAL_MACHINE,
// HKEY_CURRENT_USER or HKEY_CLASSES_ROOT; "name"="text" string values and
// "name"=dword:hex double words inside a section. Lines that begin with
// anything else are ignored. The walk over headers and value lines is
// script_walk.h's.
#pragma once

#include <stdint.h>

#include "platform/registry.h"

/// Imports the whole script in one pass, editing the text in place: header
/// brackets, closing quotes and line ends become terminators and escape
/// backslashes are removed, so the text is of no further use afterwards.
/// Stops at the first header or value line that cannot be parsed or written;
/// what was written before it stays. The database key's DriverVersion is
/// the one value written out of order: parsed where it stands, and written
/// last, once everything else is in (the last such line's value, under the
/// first line's spelling, as the registry would have kept it).
bool ImportScript(char* scriptText);

/// Parses one value line, already cut at its end, and writes the value into
/// key. The line is edited in place.
bool SetValueFromLine(HKEY key, char* line);

/// A value line as the import reads it, before anything is written.
struct ScriptValue {
  const char* name;  // terminated in place
  DWORD type;        // REG_SZ or REG_DWORD
  const char* text;  // a string's text, unescaped and terminated in place
  uint32_t number;   // a double word's number
  const char* digits;     // a double word's hex digits, as written
  const char* digitsEnd;  // and where they end
};

/// The parse of SetValueFromLine, without the write: fills value, or
/// records in LastScriptStop why the line fails.
bool ParseValueLine(char* line, ScriptValue* value);

/// Maps a key path onto its root and the subkey path after the root's
/// prefix ("HKEY_LOCAL_MACHINE\", "HKEY_CURRENT_USER\" or
/// "HKEY_CLASSES_ROOT\", in any letter case). False for any other path.
bool SplitRoot(const char* keyPath, HKEY* root, const char** subKey);
