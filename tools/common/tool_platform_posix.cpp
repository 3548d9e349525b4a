#include "tools/common/tool_platform.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <iterator>

#include "platform/host/faults.h"

namespace {

// The descriptor that a path of the process's own names, or -1.
int OwnDescriptor(const std::string& path) {
  if (path == "/dev/stdout")
    return 1;
  if (path == "/dev/stderr")
    return 2;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    const size_t length = strlen(prefix);
    if (path.compare(0, length, prefix) != 0 || path.size() == length)
      continue;
    const std::string number = path.substr(length);
    if (number.find_first_not_of("0123456789") != std::string::npos ||
        number.size() > 6)
      return -1;
    return atoi(number.c_str());
  }
  return -1;
}

// Follows symbolic links to the path they end at (which need not exist);
// stops at a path that names one of the process's own descriptors.
std::string FinalTarget(std::string path) {
  for (int hops = 0; hops < 40 && OwnDescriptor(path) < 0; ++hops) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
      return path;
    char target[PATH_MAX];
    ssize_t length = readlink(path.c_str(), target, sizeof(target) - 1);
    if (length <= 0)
      return path;
    std::string next(target, static_cast<size_t>(length));
    if (next[0] != '/') {
      size_t slash = path.rfind('/');
      next = (slash == std::string::npos ? "" : path.substr(0, slash + 1)) +
             next;
    }
    path = next;
  }
  return path;
}

bool WriteAll(int fd, const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// A new output file's bytes, counted by the fault control: a write that
// fails, or one that writes part and then finds the disk full.
bool WriteNewFile(int fd, const std::string& bytes) {
  if (size_t fault = HostFaultAt(HostCall::kOutputWrite, "write")) {
    if (fault == 2)
      WriteAll(fd, bytes.substr(0, bytes.size() / 2));
    errno = fault == 2 ? ENOSPC : EIO;
    return false;
  }
  return WriteAll(fd, bytes);
}

int RenameOver(const std::string& from, const std::string& to) {
  if (HostFaultAt(HostCall::kOutputRename, "rename")) {
    errno = EIO;
    return -1;
  }
  return rename(from.c_str(), to.c_str());
}

// Says what could not be done, the same way on every platform.
bool Fail(const char* tool, const std::string& what) {
  std::cerr << tool << ": " << what << "\n";
  return false;
}

// A new file beside target, replaced over it once it is whole; failures
// name the path as given.
bool ReplaceAtomically(const char* tool, const std::string& target,
                       const std::string& path, const std::string& bytes,
                       mode_t mode) {
  std::string temporary = target + ".tmp-XXXXXX";
  int fd = mkstemp(&temporary[0]);  // a fresh name: never an existing file
  if (fd < 0)
    return Fail(tool, "cannot write " + path);
  bool ok = WriteNewFile(fd, bytes) && fchmod(fd, mode) == 0 && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (!ok || RenameOver(temporary, target) != 0) {
    unlink(temporary.c_str());
    return Fail(tool, (ok ? "cannot replace " : "cannot write ") + path);
  }
  return true;
}

}  // namespace

InputProblem ReadInputFile(const std::string& path, std::string* bytes) {
  bytes->clear();
  int fd = 0;  // "-": standard input
  if (path != "-") {
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
      return InputProblem::kMissing;
    if (S_ISDIR(info.st_mode))
      return InputProblem::kNotAFile;
    // A FIFO, /dev/fd/N (a shell's process substitution) or a device is
    // read as it comes, like a file.
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
      return InputProblem::kUnreadable;
  }
  char buffer[65536];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof(buffer))) > 0 ||
         (n < 0 && errno == EINTR))
    bytes->append(buffer, n > 0 ? static_cast<size_t>(n) : 0);
  if (fd != 0)
    close(fd);
  return n < 0 ? InputProblem::kUnreadable : InputProblem::kNone;
}

std::string SameFileAs(const std::string& path,
                       const std::vector<std::string>& inputs) {
  struct stat out;
  if (path == "-" || stat(path.c_str(), &out) != 0)
    return "";
  for (const std::string& input : inputs) {
    struct stat in;
    if (input != "-" && stat(input.c_str(), &in) == 0 &&
        in.st_dev == out.st_dev &&
        in.st_ino == out.st_ino)
      return input;
  }
  return "";
}

bool WriteOutput(const char* tool, const std::string& path,
                 const std::string& bytes, const std::string& modeFrom) {
  if (path == "-")
    return WriteAll(1, bytes) || Fail(tool, "cannot write standard output");
  const std::string target = FinalTarget(path);
  const int own = OwnDescriptor(target);
  if (own >= 0)
    return WriteAll(own, bytes) || Fail(tool, "cannot write " + path);
  struct stat info;
  if (stat(target.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode))
      return Fail(tool, "cannot write " + path + ": a folder");
    if (!S_ISREG(info.st_mode)) {  // a FIFO or a device: written as it is
      int fd = open(target.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd < 0)
        return Fail(tool, "cannot write " + path);
      bool ok = WriteAll(fd, bytes);
      ok = close(fd) == 0 && ok;
      return ok || Fail(tool, "cannot write " + path);
    }
    return ReplaceAtomically(tool, target, path, bytes, info.st_mode & 07777);
  }
  mode_t mask = umask(0);
  umask(mask);
  mode_t mode = 0666 & ~mask;
  struct stat from;
  if (!modeFrom.empty() && stat(modeFrom.c_str(), &from) == 0)
    mode = from.st_mode & 07777;
  return ReplaceAtomically(tool, target, path, bytes, mode);
}
