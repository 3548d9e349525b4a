// How the end-to-end tests reach a packed program and its registry: the
// native program against a hive file of its own, or the 64-bit Windows
// program under Wine with its real registry (one prefix and one server for
// the whole test process).
#pragma once

#include <string>
#include <vector>

#include "tests/process_support.h"
#include "tests/scenarios.h"
#include "tests/wine.h"

class Runner {
 public:
  /// A runner with a folder of its own for program files (removed with it),
  /// the built program without its database and the shipped one.
  Runner(const char* folder, std::string image, std::string shipped,
         bool underWine);
  virtual ~Runner();
  /// A fresh registry holding what script (our dialect, ASCII) describes.
  virtual void Prepare(const std::string& script) = 0;
  /// Runs the program file at path. Under Wine every run is "-ns -ne",
  /// environment is not passed (Wine cannot switch family or library), and
  /// a run that Wine's launcher could not start is run once more.
  virtual Process RunProgram(const std::string& path, const std::string& args,
                             const std::string& environment) = 0;
  /// Loads the program's registry into the in-process stand-in.
  virtual void Load() = 0;
  /// The keys given (ROOT\path, as the registry dump takes them) and every
  /// key below them, in a canonical text form: sorted by folded path, names
  /// as stored, each value as hex(TYPE):bytes in folded-name order.
  virtual std::string Dump(const std::vector<std::string>& keys) = 0;
  const std::string& Image() const { return image_; }
  const std::string& Shipped() const { return shipped_; }
  const std::string& Folder() const { return dir_; }
  /// Whether this is the Windows program under Wine.
  bool UnderWine() const { return underWine_; }

  /// The shipped program or a variant of it for a payload kind.
  Process Run(Payload payload, const std::string& args,
              const std::string& environment);
  /// A program file made of bytes, run as RunProgram does.
  Process RunBytes(const std::string& bytes, const std::string& args,
                   const std::string& environment = "");

 protected:
  const std::string dir_;

 private:
  const std::string image_, shipped_;
  const bool underWine_;
};

class HostRunner : public Runner {
 public:
  HostRunner();
  void Prepare(const std::string& script) override;
  Process RunProgram(const std::string& path, const std::string& args,
                     const std::string& environment) override;
  void Load() override;
  std::string Dump(const std::vector<std::string>& keys) override;
  const std::string& hive() const { return hive_; }

 private:
  const std::string hive_;
};

class WineRunner : public Runner {
 public:
  WineRunner();
  void Prepare(const std::string& script) override;
  Process RunProgram(const std::string& path, const std::string& args,
                     const std::string& environment) override;
  void Load() override;
  std::string Dump(const std::vector<std::string>& keys) override;
  /// Starts the program file at path ("-ns -ne") without waiting for it:
  /// the Wine process that runs it, for a test to kill or wait for.
  pid_t StartProgram(const std::string& path);
  /// Starts a Windows program with arguments, the same way.
  pid_t Start(const std::vector<std::string>& args);
  /// Makes Wine report Windows 98 to programs of this file name alone.
  void ReportWindows98To(const std::string& fileName);
  /// Runs regdump with these arguments; its output.
  Process RegDump(const std::vector<std::string>& args);
  /// Runs a Windows program (a path or one of Wine's own) with arguments.
  Process Wine(std::vector<std::string> args);
  /// Runs one of Wine's own tools for a test's set-up, up to three times
  /// until it answers 0; its last run.
  Process SettingUp(const std::vector<std::string>& args);
};

/// The outcome that the program's own logic gives file, run in this process
/// on a fresh stand-in registry.
int OutcomeByTheRules(const std::string& file);

/// Whether Wine's launcher, not the program, answered: Wine could not start
/// the program (exit 1, and its own message on standard error). That 1 is
/// not the program's "already current".
bool IsWineLaunchFailure(const Process& run);

/// Whether regdump's output arrived whole: it ends with regdump's closing
/// line. A read-back without it is Wine's failure, not an empty tree.
bool IsWholeDump(const Process& dump);

/// Waits for a started process; its exit status, or -1.
int WaitFor(pid_t pid);

/// Whether a win64 build was given, so that the Wine tests can run.
bool WineAvailable();

/// A database one version older than the sample's, with one key of its own
/// that an update removes.
extern const char kOlderDatabase[];

/// The canonical form of Runner::Dump, from the hive's text form.
std::string CanonicalDump(const std::string& hiveText,
                          const std::vector<std::string>& keys);


/// Whether a command is installed.
bool Have(const char* command);

/// A throwaway code-signing certificate made in dir, and the signing tool's
/// two commands.
class Signer {
 public:
  explicit Signer(const std::string& dir);
  Process Sign(const std::string& in, const std::string& out) const;
  Process Verify(const std::string& file) const;

 private:
  std::string key_, cert_;
};
