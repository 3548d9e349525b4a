#include "tests/runners.h"

#include <stdlib.h>

#include <algorithm>
#include <map>

#include "payload/payload.h"
#include "payload/payload_io_host.h"
#include "platform/host/controls.h"
#include "platform/host/cp1252.h"
#include "platform/host/hive_text.h"
#include "platform/host/trace.h"
#include "script/script_import.h"
#include "setup/message_box_host.h"
#include "setup/setup_run.h"

namespace {

std::vector<std::string> Words(const std::string& args) {
  std::vector<std::string> words;
  for (size_t pos = 0; pos < args.size();) {
    size_t end = args.find(' ', pos);
    if (end == std::string::npos)
      end = args.size();
    words.push_back(args.substr(pos, end - pos));
    pos = end + 1;
  }
  return words;
}

std::string Utf16Script(const std::string& ascii) {
  std::string bytes = "\xff\xfe";
  for (char c : "Windows Registry Editor Version 5.00\r\n\r\n" + ascii) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  return bytes;
}

}  // namespace

std::string CanonicalDump(const std::string& hiveText,
                          const std::vector<std::string>& keys) {
  HiveTree tree;
  std::string error;
  EXPECT_TRUE(ReadHiveTree(hiveText, &tree, &error))
      << "the hive text does not read: " << error;
  std::string out;
  for (const auto& [folded, key] : tree) {
    const std::string* top = nullptr;
    for (const std::string& given : keys)
      if (HostKeyIsUnder(key.path, given))
        top = &given;
    if (!top)
      continue;
    out += "[" + *top + key.path.substr(top->size()) + "]\n";
    for (const auto& [name, value] : key.values) {
      out += "\"" + value.name + "\"=hex(" + std::to_string(value.type) + "):";
      char hex[4];
      for (size_t i = 0; i < value.data.size(); ++i) {
        snprintf(hex, sizeof(hex), i ? ",%02x" : "%02x",
                 static_cast<unsigned char>(value.data[i]));
        out += hex;
      }
      out += "\n";
    }
  }
  return out;
}

int OutcomeByTheRules(const std::string& file) {
  HostRegistryReset();
  HostEchoMessageBoxes(false);
  HostSetModuleImage("/rules/drvsetup", file);
  int outcome = SetupRun("-ns -ne");
  HostClearModuleImage();
  HostEchoMessageBoxes(true);
  return outcome;
}

Process Runner::Run(Payload payload, const std::string& args,
                    const std::string& environment) {
  if (payload == Payload::kShipped)
    return RunProgram(Shipped(), args, environment);
  std::string packed = PackedImage(ScriptFor(payload), ReadBinaryFile(Image()));
  if (payload == Payload::kCorruptTrailer)
    packed.replace(packed.size() - 4, 4, std::string("\xf0\xff\xff\x7f", 4));
  return RunBytes(packed, args, environment);
}

Process Runner::RunBytes(const std::string& bytes, const std::string& args,
                         const std::string& environment) {
  std::string path = Folder() + (UnderWine() ? "/variant.exe" : "/variant");
  WriteFile(path, bytes, true);
  Process p = RunProgram(path, args, environment);
  unlink(path.c_str());
  return p;
}

// ---- The native program -----------------------------------------------------

Runner::Runner(const char* folder, std::string image, std::string shipped,
               bool underWine)
    : dir_(MakeTempDir(folder)),
      image_(std::move(image)),
      shipped_(std::move(shipped)),
      underWine_(underWine) {}

Runner::~Runner() {
  RemoveTree(dir_);
}

HostRunner::HostRunner()
    : Runner("host", DRVSETUP_HOST_IMAGE, DRVSETUP_HOST_PROGRAM, false),
      hive_(dir_ + "/registry.hive") {}

void HostRunner::Prepare(const std::string& script) {
  unlink(hive_.c_str());
  if (script.empty())
    return;
  HostRegistryReset();
  std::vector<char> text(script.begin(), script.end());
  text.push_back('\0');
  ASSERT_TRUE(ImportScript(text.data()));
  WriteFile(hive_, HostRegistryExport());
}

Process HostRunner::RunProgram(const std::string& path,
                               const std::string& args,
                               const std::string& environment) {
  std::vector<std::string> argv = Words(args);
  argv.insert(argv.begin(), path);
  std::vector<std::string> env = {"DRVSETUP_HIVE=" + hive_};
  env.push_back(environment.empty() ? "DRVSETUP_PLATFORM=nt" : environment);
  return RunProcess(argv, env);
}

void HostRunner::Load() {
  HostRegistryReset();
  std::string text = ReadBinaryFile(hive_);
  std::string error;
  if (!text.empty()) {
    ASSERT_TRUE(HostRegistryImport(text, &error)) << error;
  }
}

std::string HostRunner::Dump(const std::vector<std::string>& keys) {
  Load();
  // The stand-in keeps HKEY_CLASSES_ROOT under HKEY_LOCAL_MACHINE, as
  // Windows does; the keys are given by the names the dump uses.
  return CanonicalDump(HostRegistryExport(), keys);
}


// ---- The Windows program under Wine -----------------------------------------

const char kOlderDatabase[] =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
    "\"DriverVersion\"=dword:00000046\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\MAPPINGS\\OLD]\r\n"
    "\"load1\"=\"Gone\"\r\n";

bool WineAvailable() {
  return !std::string(DRVSETUP_WIN64_BUILD).empty();
}

WineRunner::WineRunner()
    : Runner("winerun",
             std::string(DRVSETUP_WIN64_BUILD) + "/drvsetup_image.exe",
             std::string(DRVSETUP_WIN64_BUILD) + "/drvsetup.exe", true) {
  WineEnvironment();  // the prefix, made now rather than in a first run
}

void WineRunner::Prepare(const std::string& script) {
  // Deleted, and seen to be gone: under load Wine once left the tree of the
  // run before in place.
  const char kMorvelan[] = "HKEY_LOCAL_MACHINE\\Software\\morvelan";
  for (int attempt = 0; attempt < 3; ++attempt) {
    RegDump({"delete", kMorvelan});
    Process left = RegDump({"dump", kMorvelan});
    if (IsWholeDump(left) && left.out == "; regdump done\n")
      break;
    printf("  Wine kept %s after its deletion; deleting it again\n", kMorvelan);
  }
  if (script.empty())
    return;
  std::string file = dir_ + "/prepare.reg";
  WriteFile(file, Utf16Script(script));
  Process p = SettingUp({"regedit", "/s", file});
  ASSERT_EQ(p.status, 0) << p.err;
}

Process WineRunner::SettingUp(const std::vector<std::string>& args) {
  // Under load Wine's launcher has answered 1 for regedit with nothing on
  // standard error. The set-up steps are harmless to repeat.
  Process p;
  for (int attempt = 0; attempt < 3; ++attempt) {
    p = Wine(args);
    if (p.status == 0)
      break;
    printf("  Wine's %s answered %d; once more\n%s", args[0].c_str(),
           p.status, p.err.c_str());
  }
  return p;
}

bool IsWineLaunchFailure(const Process& run) {
  return run.status == 1 &&
         (run.err.find("could not be started") != std::string::npos ||
          run.err.find("ShellExecuteEx failed") != std::string::npos);
}

bool IsWholeDump(const Process& dump) {
  const std::string done = "; regdump done\n";
  return dump.status == 0 && dump.out.size() >= done.size() &&
         dump.out.compare(dump.out.size() - done.size(), done.size(), done) ==
             0;
}

Process WineRunner::RunProgram(const std::string& path, const std::string&,
                               const std::string&) {
  Process p = Wine({path, "-ns", "-ne"});
  if (IsWineLaunchFailure(p)) {
    printf("  Wine could not start %s; running it once more\n%s",
           path.c_str(), p.err.c_str());
    p = Wine({path, "-ns", "-ne"});
  }
  return p;
}

pid_t WineRunner::StartProgram(const std::string& path) {
  return Start({path, "-ns", "-ne"});
}

pid_t WineRunner::Start(const std::vector<std::string>& args) {
  const std::vector<std::string> env = WineEnvironment();
  std::vector<std::string> argv = args;
  argv.insert(argv.begin(), kWine);
  pid_t pid = fork();
  if (pid == 0) {
    for (const std::string& setting : env)
      putenv(strdup(setting.c_str()));
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> pointers;
    for (const std::string& a : argv)
      pointers.push_back(const_cast<char*>(a.c_str()));
    pointers.push_back(nullptr);
    execv(kWine, pointers.data());
    _exit(127);
  }
  return pid;
}

int WaitFor(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
    return -1;
  return WEXITSTATUS(status);
}

void WineRunner::ReportWindows98To(const std::string& fileName) {
  Process set = SettingUp({"reg", "add",
                           "HKCU\\Software\\Wine\\AppDefaults\\" + fileName,
                           "/v", "Version", "/d", "win98", "/f"});
  ASSERT_EQ(set.status, 0) << set.err;
}

Process WineRunner::RegDump(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {std::string(DRVSETUP_WIN64_BUILD) +
                                   "/regdump.exe"};
  argv.insert(argv.end(), args.begin(), args.end());
  return Wine(argv);
}

Process WineRunner::Wine(std::vector<std::string> args) {
  return RunUnderWine(std::move(args));
}

void WineRunner::Load() {
  HostRegistryReset();
  std::string file = dir_ + "/export.reg";
  unlink(file.c_str());
  Wine({"regedit", "/e", file, "HKEY_LOCAL_MACHINE\\Software\\morvelan"});
  std::string bytes = ReadBinaryFile(file);
  if (bytes.size() < 2)
    return;  // no such key: nothing exported
  std::u16string units = Utf16Units(bytes).substr(1);
  // The export is a registry script in our dialect; read it back with the
  // program's own importer.
  char* text = WideToAnsi(reinterpret_cast<const WCHAR*>(units.c_str()));
  ASSERT_NE(text, nullptr);
  bool imported = ImportScript(text);
  free(text);
  ASSERT_TRUE(imported) << "Wine's export did not import";
}

std::string WineRunner::Dump(const std::vector<std::string>& keys) {
  std::vector<std::string> args = {"dump"};
  args.insert(args.end(), keys.begin(), keys.end());
  Process p = RegDump(args);
  if (!IsWholeDump(p))  // Wine lost the output: read it again, once
    p = RegDump(args);
  EXPECT_TRUE(IsWholeDump(p)) << p.status << p.err;
  return CanonicalDump(p.out, keys);
}

// ---- Signing ----------------------------------------------------------------

bool Have(const char* command) {
  return RunProcess({"sh", "-c", std::string("command -v ") + command}, {})
             .status == 0;
}

Signer::Signer(const std::string& dir)
    : key_(dir + "/key.pem"), cert_(dir + "/cert.pem") {
  Process made = RunProcess(
      {"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
       key_, "-out", cert_, "-days", "2", "-subj", "/CN=drvsetup test"},
      {});
  EXPECT_EQ(made.status, 0) << made.err;
}

Process Signer::Sign(const std::string& in, const std::string& out) const {
  unlink(out.c_str());
  return RunProcess({"osslsigncode", "sign", "-certs", cert_, "-key", key_,
                     "-in", in, "-out", out},
                    {});
}

Process Signer::Verify(const std::string& file) const {
  return RunProcess({"osslsigncode", "verify", "-CAfile", cert_, "-in", file},
                    {});
}
