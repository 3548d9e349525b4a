// Where the tools write what they make: never over one of their inputs,
// "-" for standard output, and a file replaced whole or not at all.
// POSIX hosts: output_posix.cpp.
#pragma once

#include <string>
#include <vector>

/// The input among inputs that path names (the same file by any name: hard
/// and symbolic links included), or "" when it names none of them.
std::string SameFileAs(const std::string& path,
                       const std::vector<std::string>& inputs);

/// Writes bytes to path. "-" is standard output. A path that is, or leads
/// through symbolic links to, a regular file or nothing yet is replaced
/// atomically through a new temporary file beside that final target, so a
/// link stays a link; the file keeps its permissions, or takes modeFrom's
/// when it is new. Any other final target (a FIFO, a device), and a path
/// that names one of the process's own descriptors (/dev/stdout,
/// /dev/fd/N, /proc/self/fd/N), is written directly. False, with the
/// reason on stderr under the tool's name, when it cannot be written.
bool WriteOutput(const char* tool, const std::string& path,
                 const std::string& bytes, const std::string& modeFrom = "");
