// The one writer of the payload container (container.h), for the tools and
// the tests; the program itself only reads it. Host code: it builds files
// in memory.
#pragma once

#include <cstdint>
#include <string>

/// A packed program: image, then (withRecord) the integrity record, then
/// zeros when aligned, then the script and its length in four bytes.
/// alignForSigning makes the file's length a multiple of eight, so that a
/// signing tool appends its certificate table without padding the file
/// first (padding would end up where the program reads its trailer). The
/// zeros stand between the image and the script, where the program never
/// looks, so the script's bytes are exactly as given. The record's digest
/// is the program's own digest of the result.
std::string PackProgram(const std::string& image, const std::string& script,
                        bool alignForSigning, bool withRecord = false);

/// Sets a PE file's certificate-table entry; false when the file has no
/// such entry. For tests that damage a signed program's entry.
bool SetCertificateEntry(std::string* file, uint32_t at, uint32_t size);

/// The smallest PE headers that carry a certificate-table entry (an empty
/// one; no sections), PE32 or PE32+: a stand-in image for tests and fuzzers.
std::string MinimalPeHeaders(bool pe32plus);
