#include "tests/wine.h"

#include <gtest/gtest.h>

const char kWine[] = "/usr/lib/wine/wine64";

namespace {

const char kWineServer[] = "/usr/lib/wine/wineserver";
std::string g_prefix;  // the Wine prefix, once made

std::vector<std::string> Settings() {
  return {"WINEPREFIX=" + g_prefix, "WINEDEBUG=-all", "DISPLAY="};
}

void StartWine() {
  g_prefix = MakeTempDir("wine");
  pid_t pid = fork();
  if (pid == 0) {
    setenv("WINEPREFIX", g_prefix.c_str(), 1);
    execl(kWineServer, kWineServer, "-p", static_cast<char*>(nullptr));
    _exit(127);
  }
  waitpid(pid, nullptr, 0);
  // Judged by whether the prefix works, not by wineboot's status.
  Process boot = RunProcess(
      {"bash", "-c",
       ". '" DRVSETUP_SOURCE_DIR "/tests/wine_prefix.sh' && boot_wine_prefix"},
      Settings(), 600);
  EXPECT_EQ(boot.status, 0) << boot.err;
}

}  // namespace

std::vector<std::string> WineEnvironment() {
  if (g_prefix.empty())
    StartWine();
  return Settings();
}

Process RunUnderWine(std::vector<std::string> args) {
  args.insert(args.begin(), kWine);
  return RunProcess(args, WineEnvironment());
}

std::string WindowsPath(const std::string& path) {
  std::string windows = "Z:" + path;
  for (char& c : windows)
    if (c == '/')
      c = '\\';
  return windows;
}

void StopWine() {
  if (g_prefix.empty())
    return;
  // Every process of the prefix ends before its folder goes: a server whose
  // folder is gone can no longer be asked to end.
  RunProcess({"bash", "-c",
              ". '" DRVSETUP_SOURCE_DIR "/tests/wine_prefix.sh' && "
              "end_wine_prefix \"$0\"",
              g_prefix},
             {}, 120);
  RemoveTree(g_prefix);
  g_prefix.clear();
}
