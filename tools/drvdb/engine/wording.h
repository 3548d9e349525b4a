// How drvdb says what it finds: the program's ANSI text shown as UTF-8,
// and the words for each way the program's run can stop.
#pragma once

#include <stdint.h>

#include <string>

#include "platform/windows_api.h"
#include "script/script_fault.h"

/// The end of every error whose script the program installs all the same:
/// what follows it says what it writes.
extern const char kGateVerdict[];

/// The program's text (Windows-1252) as UTF-8. With showControls, control
/// characters become their Unicode pictures, which no ANSI name can hold:
/// a line feed in a name cannot be mistaken for a backslash and an n.
std::string AnsiToUtf8(const std::string& ansi, bool showControls = false);

/// A name as the registry holds it, control characters as their pictures.
std::string VisibleName(const std::string& ansi);

/// The text in double quotes, as UTF-8.
std::string Quoted(const std::string& ansi);

/// Eight hex digits, as the registry editor writes a dword.
std::string Hex8(uint32_t value);

/// Why the run stops at `at` of the text: the words for fault, with what
/// the registry answered a key that it refused (createResult).
std::string FaultMessage(ScriptFault fault, const std::string& text,
                         size_t at, LONG createResult);
