// Writes the keys and values of a registry script into the registry.
//
// The dialect: "[ROOT\path]" section headers under HKEY_LOCAL_MACHINE,
// HKEY_CURRENT_USER or HKEY_CLASSES_ROOT; "name"="text" string values and
// "name"=dword:hex double words inside a section. Lines that begin with
// anything else are ignored.
#pragma once

#include "platform/registry.h"

/// Imports the whole script in one pass, editing the text in place: header
/// brackets, closing quotes and line ends become terminators and escape
/// backslashes are removed, so the text is of no further use afterwards.
/// Stops at the first header or value line that cannot be parsed or written;
/// what was written before it stays.
bool ImportScript(char* scriptText);

/// Parses one value line, already cut at its end, and writes the value into
/// key. The line is edited in place.
bool SetValueFromLine(HKEY key, char* line);
