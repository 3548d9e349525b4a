// What the tools ask of the platform: their entry and arguments, the files
// they read, and where they write what they make (never over one of their
// inputs, "-" for standard output, a file replaced whole or not at all).
// POSIX hosts: tool_main_posix.cpp and tool_platform_posix.cpp; Windows:
// tool_platform_win32.cpp.
#pragma once

#include <string>
#include <vector>

/// The tool itself, which each tool defines: called by the platform's entry
/// with the arguments after the program's name, as UTF-8 (on Windows from
/// the wide command line, converted once, after the library search is
/// limited to the system folder and standard output readied for UTF-8).
/// Its result is the exit status.
int ToolMain(const std::vector<std::string>& args);

enum class InputProblem { kNone, kMissing, kNotAFile, kUnreadable };

/// Reads a whole file (a UTF-8 path); "-" is standard input, and a FIFO, a
/// device or /dev/fd/N is read as it comes, like a file. A folder is no
/// file. What is wrong when it cannot.
InputProblem ReadInputFile(const std::string& path, std::string* bytes);

/// The input among inputs that path names (the same file by any name: hard
/// and symbolic links included; "-" names none), or "" when it names none
/// of them.
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
