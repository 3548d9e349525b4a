// Test control of the host code page.
#pragma once

/// Makes bytes first..last lead bytes of double-byte characters, as in a
/// double-byte ANSI code page; first > last restores Windows-1252.
void HostSetLeadBytes(unsigned char first, unsigned char last);
