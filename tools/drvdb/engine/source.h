// A script file as its maintainer wrote it: read as UTF-16LE with its
// byte-order mark (as the registry editor exports it and the program ships
// it) or as UTF-8 text (as kept in version control), with the bytes the
// program would carry.
#pragma once

#include <string>
#include <vector>

/// A script file as its maintainer wrote it.
struct SourceScript {
  std::string path;
  std::u32string text;  // its characters (after any byte-order mark)
  std::string shipped;  // the bytes the program carries: UTF-16LE, BOM first
  std::vector<size_t> lineStarts;  // where in text each line begins
};

/// Why a file is no script: where (1-based line and column) and what.
struct LoadError {
  size_t line = 0, column = 0;  // 0 when the file as a whole is wrong
  std::string message;
};

/// Reads script bytes: UTF-16LE with its byte-order mark (as shipped) or
/// UTF-8 text (with or without its mark), which is converted. False for
/// text that is neither.
bool LoadScript(const std::string& path, const std::string& bytes,
                SourceScript* script, LoadError* error);

/// The UTF-8 bytes of a character sequence.
std::string ToUtf8(const std::u32string& text);

/// The line of the script (1-based) as UTF-8, without its line end.
std::string SourceLine(const SourceScript& script, size_t line);
