// The file, module and code-page calls of the payload reader, one narrow
// function each. Windows: payload_io_win32.cpp; other hosts:
// payload_io_host.cpp.
#pragma once

#include <stdint.h>

#include "platform/windows_api.h"

typedef void* PayloadFile;

/// The running executable's path into buffer (capacity characters), as
/// GetModuleFileNameW / GetModuleFileNameA for no module handle: the length
/// copied, capacity when it was cut short, 0 on failure.
DWORD ModuleFileNameW(WCHAR* buffer, DWORD capacity);
DWORD ModuleFileNameA(char* buffer, DWORD capacity);

/// Opens a file for reading, sharing read, write and delete (wide, NT
/// family) or read and write (ANSI). Null on failure.
PayloadFile OpenPayloadFileW(const WCHAR* path);
PayloadFile OpenPayloadFileA(const char* path);

/// Moves the file pointer to offset from the end (fromEnd) or from the start
/// and gives the new position. False on failure, a position before the start
/// included.
bool SeekPayloadFile(PayloadFile file, int64_t offset, bool fromEnd,
                     uint64_t* position);

/// Reads exactly size bytes; false on failure or a short read.
bool ReadPayloadFile(PayloadFile file, void* buffer, uint32_t size);

void ClosePayloadFile(PayloadFile file);

/// As WideCharToMultiByte (ANSI code page, no flags, length -1, no default
/// character): with a null ansi, the size the conversion needs, terminator
/// included; otherwise the bytes written, terminator included. 0 on failure.
int ConvertWideToAnsi(const WCHAR* wide, char* ansi, int capacity);
