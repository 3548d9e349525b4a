// Whole-file output for the tools: never leaves a half-written file behind.
#pragma once

#include <stdio.h>
#include <sys/stat.h>

#include <fstream>
#include <iostream>
#include <string>

/// Writes bytes to a temporary file beside path, gives it the permission
/// bits of modeFrom (when named and readable), then renames it over path.
/// Reports a failure on stderr under the tool's name.
inline bool WriteFileAtomically(const char* tool, const std::string& path,
                                const std::string& bytes,
                                const char* modeFrom = nullptr) {
  std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
      std::cerr << tool << ": cannot write " << temporary << "\n";
      remove(temporary.c_str());
      return false;
    }
  }
  struct stat info;
  if (modeFrom && stat(modeFrom, &info) == 0)
    chmod(temporary.c_str(), info.st_mode & 07777);
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    std::cerr << tool << ": cannot replace " << path << "\n";
    remove(temporary.c_str());
    return false;
  }
  return true;
}
