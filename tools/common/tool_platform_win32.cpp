// The tools' entry, arguments and files on Windows: the wide command line
// and wide paths, converted from and to UTF-8 here alone, and outputs
// replaced with MoveFileExW. Compiled as Windows code, apart from the
// engine's stand-in.

#include "tools/common/tool_platform.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <iostream>

#include "script/system_library.h"

namespace {

std::wstring Wide(const std::string& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(),
                              static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                      &wide[0], n);
  return wide;
}

std::string Utf8(const wchar_t* wide) {
  int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr,
                              nullptr);
  std::string utf8(n > 0 ? static_cast<size_t>(n) - 1 : 0, '\0');
  if (n > 1)
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &utf8[0], n, nullptr, nullptr);
  return utf8;
}

// A file opened for its identity or for reading; INVALID_HANDLE_VALUE when
// it cannot be.
HANDLE Open(const std::string& path, DWORD access) {
  return CreateFileW(Wide(path).c_str(), access,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                     nullptr);
}

bool Identity(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE file = Open(path, 0);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  bool ok = GetFileInformationByHandle(file, info);
  CloseHandle(file);
  return ok;
}

// What one ReadFile or WriteFile call moves of what is left: at most a
// gigabyte, which a DWORD holds.
DWORD Chunk(size_t left) {
  return static_cast<DWORD>(left < (1u << 30) ? left : (1u << 30));
}

bool WriteAll(HANDLE file, const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, Chunk(bytes.size() - done),
                   &written, nullptr) ||
        written == 0)
      return false;
    done += written;
  }
  return true;
}

// Everything a handle gives until its end: a file, a pipe or a console.
bool ReadAll(HANDLE file, std::string* bytes) {
  char buffer[65536];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, buffer, sizeof(buffer), &read, nullptr))
      return GetLastError() == ERROR_BROKEN_PIPE;  // its writer is done
    if (read == 0)
      return true;
    bytes->append(buffer, read);
  }
}

bool Fail(const char* tool, const std::string& what) {
  std::cerr << tool << ": " << what << "\n";
  return false;
}

// Standard output, in binary for the bytes of a file.
bool WriteStandardOutput(const char* tool, const std::string& bytes) {
  std::cout.flush();
  fflush(stdout);
  int mode = _setmode(_fileno(stdout), _O_BINARY);
  bool ok = fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() &&
            fflush(stdout) == 0;
  _setmode(_fileno(stdout), mode);
  return ok || Fail(tool, "cannot write standard output");
}

// The file that path ends at, through symbolic links, so that a link
// stays a link; the path itself when it names nothing yet.
std::wstring FinalPath(const std::string& path) {
  HANDLE file = Open(path, 0);
  if (file == INVALID_HANDLE_VALUE)
    return Wide(path);
  wchar_t final[32768];
  DWORD length = GetFinalPathNameByHandleW(file, final, 32768,
                                           FILE_NAME_NORMALIZED);
  CloseHandle(file);
  return length > 0 && length < 32768 ? std::wstring(final, length)
                                      : Wide(path);
}

// A new file beside target, under a name no file has, moved over target
// once it is whole; failures name the path as given.
bool ReplaceAtomically(const char* tool, const std::string& path,
                       const std::wstring& wideTarget,
                       const std::string& bytes) {
  std::wstring temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (unsigned attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE;
       ++attempt) {
    wchar_t suffix[32];
    swprintf(suffix, 32, L".tmp-%lu-%u", GetCurrentProcessId(),
             GetTickCount() + attempt * 7919);
    temporary = wideTarget + suffix;
    file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
      break;
  }
  if (file == INVALID_HANDLE_VALUE)
    return Fail(tool, "cannot write " + path);
  bool ok = WriteAll(file, bytes) && FlushFileBuffers(file);
  ok = CloseHandle(file) && ok;
  if (!ok || !MoveFileExW(temporary.c_str(), wideTarget.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(temporary.c_str());
    return Fail(tool, (ok ? "cannot replace " : "cannot write ") + path);
  }
  return true;
}

}  // namespace

// The entry (-municode): the C runtime splits the wide command line, so
// that no library beyond KERNEL32 and msvcrt is imported, and none is
// loaded before the library search is limited to the system folder.
extern "C" int wmain(int argc, wchar_t** argv) {
  RestrictLibrarySearch();
  // A console shows UTF-8 only when told to; files and pipes take the
  // bytes as they are.
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i)
    args.push_back(Utf8(argv[i]));
  return ToolMain(args);
}

InputProblem ReadInputFile(const std::string& path, std::string* bytes) {
  bytes->clear();
  if (path == "-")
    return ReadAll(GetStdHandle(STD_INPUT_HANDLE), bytes)
               ? InputProblem::kNone
               : InputProblem::kUnreadable;
  DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return InputProblem::kMissing;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY)
    return InputProblem::kNotAFile;
  HANDLE file = Open(path, GENERIC_READ);
  if (file == INVALID_HANDLE_VALUE)
    return InputProblem::kUnreadable;
  bool ok = ReadAll(file, bytes);
  CloseHandle(file);
  return ok ? InputProblem::kNone : InputProblem::kUnreadable;
}

std::string SameFileAs(const std::string& path,
                       const std::vector<std::string>& inputs) {
  BY_HANDLE_FILE_INFORMATION out;
  if (path == "-" || !Identity(path, &out))
    return "";
  for (const std::string& input : inputs) {
    BY_HANDLE_FILE_INFORMATION in;
    if (input != "-" && Identity(input, &in) &&
        in.dwVolumeSerialNumber == out.dwVolumeSerialNumber &&
        in.nFileIndexHigh == out.nFileIndexHigh &&
        in.nFileIndexLow == out.nFileIndexLow)
      return input;
  }
  return "";
}

bool WriteOutput(const char* tool, const std::string& path,
                 const std::string& bytes, const std::string&) {
  if (path == "-")
    return WriteStandardOutput(tool, bytes);
  // What is not a file on a disk (a pipe, a device such as CON or NUL) is
  // written as it is.
  HANDLE existing = CreateFileW(Wide(path).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (existing != INVALID_HANDLE_VALUE) {
    if (GetFileType(existing) != FILE_TYPE_DISK) {
      bool ok = WriteAll(existing, bytes);
      CloseHandle(existing);
      return ok || Fail(tool, "cannot write " + path);
    }
    CloseHandle(existing);
  }
  DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return Fail(tool, "cannot write " + path + ": a folder");
  return ReplaceAtomically(tool, path, FinalPath(path), bytes);
}
