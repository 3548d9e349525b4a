// Forming the command tail that SetupRun reads.
#pragma once

#include <string>

/// The tail of a Windows command line: skips the program name (a quoted run
/// up to its closing quote, never mistaking the second byte of a double-byte
/// character for it, or else a run of characters above the space), then
/// every character from 1 to 32.
const char* CommandTailFromCommandLine(const char* commandLine);

/// The tail on a host that passes an argument vector: the arguments after
/// the program name joined by single spaces.
std::string CommandTailFromArguments(int argc, const char* const* argv);

/// True when c is the first byte of a double-byte character in the ANSI
/// code page (IsDBCSLeadByte).
bool IsLeadByte(unsigned char c);
