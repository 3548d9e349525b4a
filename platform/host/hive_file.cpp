// The native program's registry persists in a text hive file between runs.

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/host/controls.h"
#include "platform/host/faults.h"
#include "platform/host/hive_file.h"
#include "platform/host/hive_text.h"

namespace {

std::string g_path;      // empty while no hive is open
uint64_t g_loaded = 0;   // the registry's generation as loaded
int g_lock_fd = -1;
bool g_readable = false;

std::string SystemError(const std::string& what) {
  return what + ": " + strerror(errno);
}

// The whole file; missing tells a file that is not there from one that
// cannot be read (a directory, say).
bool ReadWholeFile(const std::string& path, std::string* text, bool* missing,
                   std::string* error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  *missing = fd < 0 && errno == ENOENT;
  text->clear();
  char buffer[65536];
  ssize_t n = 0;
  while (fd >= 0 && ((n = read(fd, buffer, sizeof(buffer))) > 0 ||
                     (n < 0 && errno == EINTR)))
    text->append(buffer, n > 0 ? static_cast<size_t>(n) : 0);
  if (fd >= 0 && n == 0) {
    close(fd);
    return true;
  }
  *error = SystemError(path);
  if (fd >= 0)
    close(fd);
  return false;
}

std::string DirectoryOf(const std::string& path) {
  std::string directory = std::filesystem::path(path).parent_path();
  return directory.empty() ? "." : directory;
}

}  // namespace

std::string HostHiveDefaultPath() {
  const char* hive = getenv("DRVSETUP_HIVE");
  if (hive && *hive)
    return hive;
  const char* state = getenv("XDG_STATE_HOME");
  std::string base;
  if (state && *state) {
    base = state;
  } else {
    const char* home = getenv("HOME");
    base = std::string(home && *home ? home : ".") + "/.local/state";
  }
  return base + "/drvsetup/registry.hive";
}

namespace {

// Takes the hive's lock and loads the hive; a missing hive is a fresh
// registry.
bool LockAndLoad(const std::string& path, std::string* error) {
  std::string lockPath = path + ".lock";
  g_lock_fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  int locked;
  do
    locked = g_lock_fd < 0 ? -1 : flock(g_lock_fd, LOCK_EX);
  while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    *error = SystemError(lockPath);
    return false;
  }
  std::string text;
  bool missing;
  if (!ReadWholeFile(path, &text, &missing, error))
    return missing;
  if (HostRegistryImport(text, error))
    return true;
  *error = path + ": " + *error;
  return false;
}

}  // namespace

bool HostHiveOpen(const std::string& path, std::string* error) {
  g_path = path;
  std::error_code ignored;
  std::filesystem::create_directories(DirectoryOf(path), ignored);
  HostRegistryReset();
  g_readable = LockAndLoad(path, error);
  // A hive that cannot be read is left as it is, and never written.
  HostRegistrySetUnavailable(!g_readable);
  g_loaded = HostRegistryGeneration();
  return g_readable;
}

bool HostHiveSave(std::string* error) {
  if (g_path.empty())
    return true;  // no hive: the registry lives in memory only
  if (HostRegistryGeneration() == g_loaded)
    return true;  // nothing changed
  if (HostFaultAt(HostCall::kHiveSave, "HostHiveSave")) {
    *error = g_path + ": not saved, the save was made to fail";
    return false;
  }
  if (!g_readable) {
    *error = g_path + ": not saved, it could not be read";
    return false;
  }
  std::string temporary = g_path + ".tmp";  // the lock keeps it ours
  int fd = open(temporary.c_str(),
                O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    *error = SystemError(temporary);
    return false;
  }
  FILE* file = fdopen(fd, "w");
  if (!file || !HostRegistryWrite(file, "; drvsetup registry hive\n") ||
      fsync(fd) != 0) {
    *error = SystemError(temporary);
    if (file)
      fclose(file);
    else
      close(fd);
    unlink(temporary.c_str());
    return false;
  }
  fclose(file);
  if (rename(temporary.c_str(), g_path.c_str()) != 0) {
    *error = SystemError(g_path);
    unlink(temporary.c_str());
    return false;
  }
  int directory = open(DirectoryOf(g_path).c_str(), O_RDONLY | O_CLOEXEC);
  if (directory >= 0) {
    fsync(directory);
    close(directory);
  }
  g_loaded = HostRegistryGeneration();
  return true;
}

void HostHiveClose() {
  if (g_lock_fd >= 0)
    close(g_lock_fd);
  g_lock_fd = -1;
  g_path.clear();
}
