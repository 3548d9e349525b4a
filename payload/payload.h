// The drive database appended to the program's own executable:
//
//   [executable image][script: N bytes of UTF-16LE, BOM first][N: 4 bytes LE]
//
// followed, in a signed program, by its certificate table. container.h
// says how the reader finds the container's parts.
#pragma once

#include <stdint.h>

#include "platform/windows_api.h"

/// The running executable's full path: wide on the NT family, ANSI on the
/// other; only the one of the running family is filled. Owned by the run.
extern WCHAR* ModulePathW;
extern char* ModulePathA;
/// The decoded script, one NUL-terminated ANSI string. Owned by the run.
extern char* ScriptText;

/// Fills ModulePathW or ModulePathA, growing the buffer until the path fits.
/// A platform failure leaves an empty path, which ReadPayload then fails to
/// open.
void GetModulePath();

/// Reads the script out of the executable at the module path and decodes it
/// into ScriptText. Fails, with ScriptText untouched, on a file that cannot
/// be opened or read, a trailer whose length does not fit in the file, or a
/// conversion or allocation that fails.
bool ReadPayload();

/// Converts a NUL-terminated UTF-16 string into a new NUL-terminated string
/// in the ANSI code page (characters it lacks become the platform's default
/// character). Null when the conversion or the allocation fails.
char* WideToAnsi(const WCHAR* wide);

/// Decodes a script's raw bytes, read from the payload, into ScriptText: the
/// first code unit (the byte-order mark) dropped whatever it holds, a last
/// odd byte ignored, converted to the ANSI code page. The buffer holds at
/// least two bytes, and is overwritten. False when the conversion fails.
bool DecodeScript(unsigned char* raw, uint32_t size);

/// Frees the module paths and ScriptText, each if allocated.
void FreeRunBuffers();
