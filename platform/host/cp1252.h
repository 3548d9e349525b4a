// Windows-1252, the ANSI code page of the hosts without one: its bytes as
// characters and back, and the registry's fold of its letters. The payload
// reader's host conversion, the stand-in registry and the tools all use it.
#pragma once

#include <stdint.h>

#include <string>

/// The character a byte stands for; the five bytes the code page leaves
/// unassigned stand for themselves.
char16_t Cp1252ToWide(unsigned char c);

/// The byte for a UTF-16 code unit, or '?' for one the code page lacks.
char Cp1252FromWide(uint32_t unit);

/// A byte folded as the registry compares names: every letter in upper
/// case (a-z, the accented small letters, and s, z with caron, oe and y with
/// diaeresis of the 0x80-0x9F block), every other byte as it is.
unsigned char Cp1252Fold(unsigned char c);

/// A name as the registry compares it: every letter folded.
std::string HostFoldName(const std::string& name);
