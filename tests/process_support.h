// Running programs as processes, for the tests that run the packed programs
// and the tools, and for the benchmark harness: temporary folders, files,
// and a run with a time limit.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "setup/setup_run.h"

/// The exit status a process of the program ends with for an outcome: its
/// low byte (-1 gives 255, -3 gives 253).
inline int ExitStatusOf(RunOutcome outcome) {
  return outcome & 0xff;
}

inline std::string ReadBinaryFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& bytes,
                      bool executable = false) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (executable)
    chmod(path.c_str(), 0755);
}

inline std::string MakeTempDir(const char* what) {
  std::string pattern = std::string("/tmp/drvsetup-") + what + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data()))
    abort();
  return buffer.data();
}

inline void RemoveTree(const std::string& path) {
  std::string command = "rm -rf '" + path + "'";
  if (system(command.c_str()) != 0)
    fprintf(stderr, "could not remove %s\n", path.c_str());
}

struct Process {
  int status = -1;  // exit status, or -1 when killed or not started
  std::string err;
  std::string out;
  double seconds = 0;    // wall time
  long maxRssKb = 0;     // peak resident memory
};

/// How RunProcess runs a program.
struct RunOptions {
  std::vector<std::string> environment;  // NAME=VALUE settings added
  int timeoutSeconds = 300;  // killed after this long; 0: waited for
  std::string folder;        // its working folder, or "" for this one's
  bool peakMemory = true;    // measured with /usr/bin/time, when there
  std::string input;         // a file for its standard input, or "" for
                             // /dev/null
};

// Runs argv as options say; stdin is /dev/null or options.input, stdout and
// stderr are captured. A run that
// takes longer than its time limit is killed. The peak memory comes from
// /usr/bin/time: a child forked from this (large) process would count this
// process's pages as its own. Without a time limit the run is waited for
// without polling, so that its time is exact.
inline Process RunProcessWith(std::vector<std::string> argv,
                              const RunOptions& options) {
  std::string dir = MakeTempDir("run");
  std::string errPath = dir + "/stderr", outPath = dir + "/stdout";
  std::string rssPath = dir + "/rss";
  if (options.peakMemory && access("/usr/bin/time", X_OK) == 0)
    argv.insert(argv.begin(), {"/usr/bin/time", "-q", "-f", "%M", "-o", rssPath});
  struct timeval start, now;
  gettimeofday(&start, nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);  // so that a timeout kills the whole run
    if (!options.folder.empty() && chdir(options.folder.c_str()) != 0)
      _exit(126);
    int in = open(options.input.empty() ? "/dev/null" : options.input.c_str(),
                  O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    for (const std::string& setting : options.environment)
      putenv(strdup(setting.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  Process result;
  int status = 0;
  for (int waited = 0;; ++waited) {
    if (options.timeoutSeconds <= 0) {
      waitpid(pid, &status, 0);
      break;
    }
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid)
      break;
    if (waited >= options.timeoutSeconds * 200) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      result.err = "killed after " + std::to_string(options.timeoutSeconds) +
                   " s";
      RemoveTree(dir);
      return result;
    }
    usleep(5000);
  }
  gettimeofday(&now, nullptr);
  result.seconds = static_cast<double>(now.tv_sec - start.tv_sec) +
                   static_cast<double>(now.tv_usec - start.tv_usec) / 1e6;
  std::string rss = ReadBinaryFile(rssPath);
  size_t last = rss.find_last_of("0123456789");
  if (last != std::string::npos)
    result.maxRssKb = atol(rss.c_str() + rss.find_last_not_of("0123456789", last) + 1);
  if (WIFEXITED(status))
    result.status = WEXITSTATUS(status);
  result.err = ReadBinaryFile(errPath);
  result.out = ReadBinaryFile(outPath);
  RemoveTree(dir);
  return result;
}

inline Process RunProcess(std::vector<std::string> argv,
                          const std::vector<std::string>& environment,
                          int timeoutSeconds = 300) {
  RunOptions options;
  options.environment = environment;
  options.timeoutSeconds = timeoutSeconds;
  return RunProcessWith(std::move(argv), options);
}
