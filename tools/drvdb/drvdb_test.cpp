// Runs drvdb as its users do, and the packed program beside it.

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <set>
#include <thread>

#include <string>
#include <vector>

#include "tests/process_support.h"
#include "tests/test_support.h"
#include "tests/wine.h"
#include "payload/container.h"
#include "platform/host/faults.h"
#include "tools/drvdb/engine/check.h"
#include "tools/drvdb/front/commands.h"
#include "tools/drvdb/engine/program_file.h"
#include "tools/drvdb/front/exit_status.h"
#include "tools/drvdb/engine/findings.h"
#include "tools/drvdb/engine/model.h"
#include "tools/drvdb/engine/passes.h"
#include "tools/drvdb/engine/script_run.h"
#include "tools/drvdb/engine/source.h"

namespace {

const char kHead[] =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
    "\"DriverVersion\"=dword:00000047\r\n";
const char kMappings[] =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\MAPPINGS\\";

// The tool as its users run it: the Linux drvdb, or drvdb.exe under Wine.
// Each test is run by both (a parameter); a call of drvdb.exe must say and
// do exactly what the Linux tool says and does for the same call, line ends
// aside, so every call runs the Linux tool too and compares. Both run in
// the test's folder, which they name relatively, so that they say the same.
struct Runner {
  const char* name;
  bool windows;
};
const Runner kLinux{"Linux", false}, kWindows{"Windows", true};

bool g_windows = false;  // the current test's runner
bool g_compare = true;   // whether a call of drvdb.exe is compared
std::string g_folder;    // the current test's folder

class Folder {
 public:
  Folder() : path_(MakeTempDir("drvdb")) { g_folder = path_; }
  ~Folder() { RemoveTree(path_); }
  std::string operator/(const std::string& name) const {
    return path_ + "/" + name;
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    if (DIR* dir = opendir(path_.c_str())) {
      while (dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.')
          names.push_back(entry->d_name);
      closedir(dir);
    }
    return names;
  }

 private:
  std::string path_;
};

std::string SameLineEnds(std::string text) {
  for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;)
    text.erase(at, 1);
  return text;
}

// The folder's files by their names in the folder.
std::vector<std::string> Relative(std::vector<std::string> args) {
  const std::string prefix = g_folder + "/";
  for (std::string& arg : args)
    if (arg.compare(0, prefix.size(), prefix) == 0)
      arg.erase(0, prefix.size());
  return args;
}

// Under load Wine's launcher has answered 1 with nothing on either stream
// (on a machine whose Wine was just installed, at the same call twice), or
// said that it could not start the program. drvdb never ends so: each of
// its failures says why. Such a run is Wine's, and runs once more.
bool WineFailedItself(const Process& p) {
  return p.status == 1 &&
         ((p.out.empty() && p.err.empty()) ||
          p.err.find("could not be started") != std::string::npos);
}

Process RunTool(bool windows, const std::vector<std::string>& args,
                const std::string& input) {
  RunOptions options;
  options.folder = g_folder;
  options.input = input;
  std::vector<std::string> argv = {DRVDB_PROGRAM};
  if (windows) {
    argv = {kWine, DRVDB_WINDOWS_PROGRAM};
    options.environment = WineEnvironment();
  }
  argv.insert(argv.end(), args.begin(), args.end());
  Process p = RunProcessWith(argv, options);
  if (windows && WineFailedItself(p)) {
    printf("  Wine answered 1 by itself for drvdb.exe; once more\n%s",
           p.err.c_str());
    p = RunProcessWith(argv, options);
  }
  return p;
}

// The file a call rewrites in place: bump's SCRIPT.
std::string RewrittenInPlace(const std::vector<std::string>& args) {
  return args.size() >= 2 && args[0] == "bump" && args.back() != "-"
             ? g_folder + "/" + args.back()
             : "";
}

// What a call writes, to compare: OUT of pack and extract, and the script
// that bump rewrites.
std::string Written(const std::vector<std::string>& args) {
  if (!RewrittenInPlace(args).empty())
    return ReadBinaryFile(RewrittenInPlace(args));
  if (args.size() < 3 || (args[0] != "pack" && args[0] != "extract") ||
      args.back() == "-")
    return "";
  return ReadBinaryFile(g_folder + "/" + args.back());
}

// Runs drvdb, with input (a file) as its standard input when given.
Process Tool(std::vector<std::string> args, const std::string& input = "") {
  args = Relative(args);
  if (!g_windows || !g_compare)
    return RunTool(g_windows, args, input);
  std::string call;
  for (const std::string& arg : args)
    call += " " + arg;
  // A file rewritten in place is given to drvdb.exe as it was.
  const std::string inPlace = RewrittenInPlace(args);
  const std::string before = inPlace.empty() ? "" : ReadBinaryFile(inPlace);
  Process linux = RunTool(false, args, input);
  const std::string linuxWrote = Written(args);
  if (!inPlace.empty())
    WriteFile(inPlace, before);
  Process windows = RunTool(true, args, input);
  EXPECT_EQ(windows.status, linux.status) << "drvdb" << call << windows.err;
  EXPECT_EQ(SameLineEnds(windows.out), SameLineEnds(linux.out))
      << "drvdb" << call;
  EXPECT_EQ(SameLineEnds(windows.err), SameLineEnds(linux.err))
      << "drvdb" << call;
  EXPECT_TRUE(Written(args) == linuxWrote)
      << "drvdb" << call << ": drvdb.exe wrote other bytes";
  windows.out = SameLineEnds(windows.out);
  windows.err = SameLineEnds(windows.err);
  return windows;
}

// Runs a native program that drvdb packed: a Windows program knows nothing
// of the execute permission, so it is given here.
Process RunPacked(const std::string& program, const std::string& hive) {
  chmod(program.c_str(), 0755);
  return RunProcess({program, "-ns", "-ne"}, {"DRVSETUP_HIVE=" + hive});
}

// Ends the Wine server and removes the prefix once every test has run.
class WineCleanup : public ::testing::Environment {
 public:
  void TearDown() override { StopWine(); }
};
::testing::Environment* const kWineCleanup =
    ::testing::AddGlobalTestEnvironment(new WineCleanup);

class DrvdbTest : public ::testing::TestWithParam<Runner> {
 protected:
  void SetUp() override {
    g_windows = GetParam().windows;
    g_compare = true;
    if (g_windows && std::string(DRVDB_WINDOWS_PROGRAM).empty())
      GTEST_SKIP() << "no win64 build given";
  }
};

// Every kind of finding allowed: the script ships whatever it holds.
std::string AllowEverything() {
  std::string allow = "--allow=";
  for (const KindRow& kind : kKinds)
    allow += std::string(kind.name) + ",";
  return allow;
}

// The kinds of finding that the sample database carries on purpose.
const char kSampleAllow[] = "--allow=missing-bracket,repeated-header,letter-case";

// A script's findings as "LINE:COLUMN: severity: message" prefixes, or
// ": severity: message" for the script as a whole.
struct CheckCase {
  const char* what;
  std::string script;  // UTF-8
  std::vector<std::string> findings;
};

std::vector<CheckCase> CheckCases() {
  const std::string h = kHead;
  const std::string m = kMappings;
  return {
      {"clean", h + m + "A]\r\n\"load1\"=\"x\"\r\n", {}},
      {"text after a string, escapes before it",
       h + m + "A]\r\n\"a\"=\"x\\\\y\\\"z\" ;c\r\n",
       {"6:15: error: only blanks may follow a string value"}},
      {"columns count characters", h + m + "A]\r\n\"\xc3\xa9\xe2\x82\xac\"=\"x\" y\n",
       {"6:10: error: only blanks may follow"}},
      {"binary value", h + m + "A]\r\n\"b\"=hex:01\r\n",
       {"6:5: error: unsupported value type \"hex:\""}},
      {"deletion header", h + "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\x]\r\n",
       {"5:2: error: deletion headers"}},
      {"no version", "[HKEY_CURRENT_USER\\x]\r\n\"a\"=\"1\"\r\n",
       {"1:1: error: no \"DriverVersion\"=dword: line"}},
      {"the database key without a version",
       "[HKEY_CURRENT_USER\\x]\r\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n\"a\"=\"1\"\r\n",
       {"2:1: error: the database key has no \"DriverVersion\"=dword: line"}},
      {"a version line that is a string",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
       "  \"DriverVersion\"=\"72\"\r\n",
       {"2:3: error: the version is a string here"}},
      {"a version line with blanks",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
       "\"DriverVersion\" = dword:00000048\r\n",
       {"2:1: error: this is not the version line that the program reads"}},
      {"blank after the version", "\"DriverVersion\"=dword:00000047 \r\n",
       {"1:31: error: nothing may follow the version's digits"}},
      {"value before the first header",
       "\"x\"=\"1\"\r\n" + h.substr(38),
       {"1:1: warning: value line before the first section header"}},
      {"version before any header",
       "\"DriverVersion\"=dword:00000047\r\n" + m + "A]\r\n",
       {"1:1: warning: the version line stands before any section header",
        "1:1: warning: after installing, the program finds no installed "
        "version"}},
      {"version in another key",
       "[HKEY_CURRENT_USER\\x]\r\n\"DriverVersion\"=dword:00000047\r\n",
       {"1:1: warning: writes outside HKEY_LOCAL_MACHINE\\Software\\morvelan"
        "\\DRIVER2, which an update never deletes: [HKEY_CURRENT_USER\\x] "
        "[--allow=outside-database]\n",
        "2:1: warning: after installing, the program finds no installed"}},
      {"version set twice: the installed one is the last",
       m + "A]\r\n" + h.substr(38) + "\"DriverVersion\"=dword:00000048\r\n",
       {"4:1: warning: the program reads version 71 here, but after "
        "installing the database key holds 72, from a later line: a release "
        "must exceed 72 to update the machines [--allow=version-not-installed]",
        "5:1: warning: value \"DriverVersion\" is set again: this replaces "
        "the value from line 4 [--allow=value-set-twice]"}},
      {"an export of the parent key",
       "Windows Registry Editor Version 5.00\r\n\r\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan]\r\n\r\n" + h.substr(38) +
           m + "A]\r\n\"load1\"=\"x\"\r\n",
       {}},
      {"the 64-bit editor's name for the 32-bit view",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\morvelan\\DRIVER2]\r\n"
       "\"DriverVersion\"=dword:00000047\r\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\morvelan\\DRIVER2\\X]\r\n",
       {"1:1: warning: the key path runs through Wow6432Node (and 1 more "
        "header(s)): that is the 64-bit registry editor's name for the 32-bit "
        "view that the product writes, and on 32-bit Windows these keys would "
        "land in a key literally named Wow6432Node; export with reg export "
        "\"HKLM\\Software\\morvelan\\DRIVER2\" FILE /reg:32"}},
      {"a dword cut to its last eight digits",
       h + m + "A]\r\n\"Flags\"=dword:123456789\r\n",
       {"6:15: error: dword:123456789 has 9 hex digits, and the program keeps "
        "only the last eight: \"1\" is cut, and machines get dword:23456789 "
        "(591751049): the program would install this script, exit 0, and "
        "write that number [--allow=dword-cut]"}},
      {"a version cut to its last eight digits",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
       "\"DriverVersion\"=dword:100000048\r\n",
       {"2:23: error: dword:100000048 has 9 hex digits, and the program keeps "
        "only the last eight: \"1\" is cut, and machines get dword:00000048 "
        "(72)"}},
      {"a version before any header, cut",
       "\"DriverVersion\"=dword:200000048\r\n" + m + "A]\r\n",
       {"1:1: warning: the version line stands before any section header",
        "1:1: warning: after installing, the program finds no installed",
        "1:23: error: the version line's dword:200000048 has 9 hex digits"}},
      {"leading zeros that change nothing",
       h + m + "A]\r\n\"Flags\"=DWORD:000000002a\r\n",
       {"6:15: warning: dword:000000002a has 10 hex digits; the leading zeros "
        "change nothing, but the registry editor writes eight: dword:0000002a "
        "[--allow=dword-leading-zeros]"}},
      {"header lacking its bracket",
       h + m + "A]\r\nHKEY_LOCAL_MACHINE\\SOFTWARE\\B]\r\n\"v\"=\"1\"\r\n",
       {"6:1: error: looks like a section header but lacks its '[': the "
        "program ignores this line, and the values after it land in "
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\MAPPINGS\\A]"}},
      {"default value", h + m + "A]\r\n@=\"x\"\r\n",
       {"6:1: warning: default-value line ('@=') ignored"}},
      {"repeated header and case", h + m + "A]\r\n" + m + "A]\r\n" + m + "a]\r\n",
       {"6:1: warning: repeated header: the key was opened on line 5",
        "7:1: warning: names the same key as the header on line 5"}},
      {"letter case beyond ASCII, among the script's own keys",
       h + m + "\xc3\xa9]\r\n" + m + "\xc3\x89\\x]\r\n",
       {"6:56: warning: \"\xc3\x89\" differs only in letter case from "
        "\"\xc3\xa9\" on line 5; the registry keeps the first spelling"}},
      {"letter case of a key every machine has",
       "[HKEY_LOCAL_MACHINE\\Software\\morvelan\\DRIVER2]\r\n"
       "\"DriverVersion\"=dword:00000047\r\n",
       {}},
      {"counts that do not depend on where an error stopped",
       h + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvelan\\DRIVER2\\X]\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvelan\\DRIVER2\\Y]\r\n"
           "\"v\"=hex:00\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvelan\\DRIVER2\\Z]\r\n",
       {"5:30: warning: \"Morvelan\" differs only in letter case from "
        "\"morvelan\" on line 3; the registry keeps the first spelling (and "
        "in 2 more headers)",
        "7:5: error: unsupported value type"}},
      {"outside the database",
       h + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\"
           "CurrentVersion\\Run]\r\n\"x\"=\"y\"\r\n"
           "[HKEY_CURRENT_USER\\Software\\x]\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan]\r\n",
       {"5:1: warning: writes outside HKEY_LOCAL_MACHINE\\Software\\morvelan"
        "\\DRIVER2, which an update never deletes: [HKEY_LOCAL_MACHINE\\"
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run] and 1 more "
        "key(s)"}},
      {"hexadecimal version written short",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
       "\"DriverVersion\"=dword:72\r\n",
       {"2:1: warning: dword:72 is hexadecimal: version 114; for 72 write "
        "dword:00000048"}},
      {"value set twice", h + m + "A]\r\n\"v\"=\"1\"\r\n\"V\"=\"2\"\r\n",
       {"7:1: warning: value \"V\" is set again: this replaces the value "
        "from line 6"}},
      {"bracket on a later line", h + m + "A\r\nB]\r\n\"v\"=\"1\"\r\n",
       {"5:1: error: this header's ']' is on line 6: the 1 line break(s) in "
        "between and the lines they end become part of the key name: the "
        "program would install this script, exit 0, and write a key with "
        "line breaks in its name [--allow=multiline-header]"}},
      {"carriage return in a key name", h + m + "A\rB]\r\n",
       {"5:57: error: a carriage return stands in this key name: the program "
        "would install this script, exit 0"}},
      {"carriage return in a value name", h + m + "A]\r\n\"a\rb\"=\"1\"\r\n",
       {"6:3: error: a carriage return stands in this value name"}},
      // The script's own allowances.
      {"an allowance covers the findings of its line",
       h + m + "A]\r\n; drvdb: allow=repeated-header\r\n" + m + "A]\r\n", {}},
      {"an allowance reaches no other line",
       h + "; drvdb: allow=repeated-header\r\n" + m + "A]\r\n" + m + "A]\r\n",
       {"5:16: warning: allow=repeated-header allows nothing: no finding of "
        "that kind stands on line 6, the next line that is no comment "
        "[--allow=unused-allow]",
        "7:1: warning: repeated header"}},
      {"an allowance over comments, for a header over two lines",
       h + "; drvdb: allow=multiline-header\r\n; the bracket below\r\n" + m +
           "A\r\nB]\r\n\"v\"=\"1\"\r\n",
       {}},
      {"an allowance of an unknown kind",
       h + m + "A]\r\n; drvdb: allow=value-set-twice, no-such-kind\r\n"
               "\"v\"=\"1\"\r\n",
       {"6:16: warning: allow=value-set-twice allows nothing",
        "6:33: error: no kind of finding is called \"no-such-kind\" (drvdb "
        "--help lists them) [--allow=unknown-allow]"}},
      {"a mistyped kind: the nearest is named",
       h + "; drvdb: allow=lettercase\r\n" + m + "A]\r\n",
       {"5:16: error: no kind of finding is called \"lettercase\"; did you "
        "mean letter-case? [--allow=unknown-allow]"}},
      // Allowances on lines the import never read are neither used nor
      // unused: none when the version line fails, none after the stop.
      {"allowances after a broken version line",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
       "\"DriverVersion\"=dword:zz\r\n; drvdb: allow=repeated-header\r\n" +
           m + "A]\r\n; drvdb: allow=letter-case\r\n" + m + "B]\r\n",
       {"2:23: error: hex digits must follow \"DriverVersion\"=dword: directly"}},
      {"allowances after the import's stop",
       h + m + "A]\r\n\"b\"=hex:01\r\n; drvdb: allow=letter-case\r\n" + m +
           "B]\r\n",
       {"6:5: error: unsupported value type \"hex:\""}},
      {"character outside the code page", h + m + "A]\r\n\"v\"=\"\xe4\xb8\x80\"\r\n",
       {"6:6: warning: character U+4E00 is not in the ANSI code page"}},
      {"names at the limits",
       h + m + std::string(256, 'k') + "]\r\n\"" + std::string(256, 'v') +
           "\"=\"1\"\r\n",
       {"5:56: warning: key name of 256 characters",
        "6:1: warning: value name of 256 characters"}},
      {"key name too long", h + m + std::string(257, 'k') + "]\r\n",
       {"5:2: error: the registry refuses this key"}},
  };
}

std::string Expected(const std::string& file, const std::string& finding) {
  return finding[0] == ':' ? file + finding : file + ":" + finding;
}

}  // namespace

TEST_P(DrvdbTest, CheckReportsWhereAndWhat) {
  Folder folder;
  const std::string file = folder / "s.reg";
  for (const CheckCase& c : CheckCases()) {
    SCOPED_TRACE(c.what);
    WriteFile(file, c.script);
    Process p = Tool({"check", file});
    bool error = false;
    for (const std::string& finding : c.findings) {
      EXPECT_NE(p.out.find(Expected("s.reg", finding)), std::string::npos)
          << p.out;
      error = error || finding.find(": error: ") != std::string::npos;
    }
    size_t reported = 0;
    for (size_t at = 0; (at = p.out.find(": warning: ", at)) != std::string::npos;
         ++at)
      ++reported;
    for (size_t at = 0; (at = p.out.find(": error: ", at)) != std::string::npos;
         ++at)
      ++reported;
    EXPECT_EQ(reported, c.findings.size()) << p.out;
    EXPECT_EQ(p.status, Code(error ? Exit::kFailed : Exit::kOk)) << p.out << p.err;
    bool warns = !c.findings.empty() && !error;
    EXPECT_EQ(Tool({"check", "--werror", file}).status,
              Code(error || warns ? Exit::kFailed : Exit::kOk));
  }
}

TEST_P(DrvdbTest, CaretStandsUnderTheColumn) {
  Folder folder;
  WriteFile(folder / "s.reg",
            std::string(kHead) + kMappings + "A]\r\n\t\"a\"=\"x\" ;c\r\n");
  Process p = Tool({"check", folder / "s.reg"});
  EXPECT_NE(p.out.find(":6:10: error: only blanks may follow a string "
                       "value's closing quote\n\t\"a\"=\"x\" ;c\n\t        ^\n"),
            std::string::npos)
      << p.out;
}

// The tool's verdict is the program's: each script, packed and run on a
// fresh machine, ends with the outcome the check predicts.
TEST_P(DrvdbTest, VerdictIsTheProgramsVerdict) {
  Folder folder;
  for (const CheckCase& c : CheckCases()) {
    SCOPED_TRACE(c.what);
    WriteFile(folder / "s.reg", c.script);
    Process check = Tool({"check", "--format=json", folder / "s.reg"});
    size_t at = check.out.find("\"outcome\": ");
    ASSERT_NE(at, std::string::npos) << check.out;
    int predicted = atoi(check.out.c_str() + at + 11);
    ASSERT_EQ(Tool({"pack", "--force", AllowEverything(), "--quiet",
                    DRVSETUP_HOST_IMAGE, folder / "s.reg", folder / "packed"})
                  .status,
              Code(Exit::kOk));
    unlink((folder / "hive").c_str());
    Process run = RunPacked(folder / "packed", folder / "hive");
    EXPECT_EQ(run.status, predicted & 0xff) << run.err;
  }
}

// The sample database, as shipped and as UTF-8 text in a folder whose name
// has spaces and letters outside ASCII, packed, inspected, extracted and
// installed.
TEST_P(DrvdbTest, PackInfoExtractRoundTrip) {
  Folder folder;
  const std::string shipped = SampleDatabaseBytes();
  // The same database as UTF-8, as kept in version control.
  SourceScript script;
  LoadError error;
  ASSERT_TRUE(LoadScript("", shipped, &script, &error));
  const std::string named = folder / "data \xc3\xa9t\xc3\xa9 \xe2\x82\xac";
  ASSERT_EQ(mkdir(named.c_str(), 0755), 0);
  WriteFile(named + "/drives \xc3\xbc.reg", ToUtf8(script.text));
  for (const std::string& input :
       {std::string(DRVSETUP_SOURCE_DIR) + "/data/drives.reg",
        named + "/drives \xc3\xbc.reg"}) {
    SCOPED_TRACE(input);
    // The sample allows its quirks where they stand: it passes the strict
    // gate as it is, its findings shown as allowed.
    EXPECT_EQ(Tool({"check", "--werror", input}).status, Code(Exit::kOk));
    Process pack = Tool({"pack", DRVSETUP_HOST_IMAGE, input,
                         folder / "packed"});
    ASSERT_EQ(pack.status, Code(Exit::kOk)) << pack.err;
    // Allowed findings are counted, and listed when asked for.
    EXPECT_EQ(pack.err.find("allowed:"), std::string::npos) << pack.err;
    EXPECT_NE(pack.err.find("; 6 allowed\n"), std::string::npos) << pack.err;
    Process shown = Tool({"pack", "--show-allowed", DRVSETUP_HOST_IMAGE, input,
                          folder / "packed"});
    ASSERT_EQ(shown.status, Code(Exit::kOk)) << shown.err;
    EXPECT_NE(shown.err.find(":4034:1: allowed: looks like a section header "
                             "but lacks its '['"),
              std::string::npos) << shown.err;
    Process json = Tool({"check", "--format", "json", input});
    size_t marked = 0;
    for (size_t at = 0; (at = json.out.find("\"allowed\": true", at)) != std::string::npos; ++at)
      ++marked;
    EXPECT_EQ(marked, 6u) << json.out;
    // info calls the packed program good, and says why its check passes.
    Process info = Tool({"info", folder / "packed"});
    EXPECT_EQ(info.status, Code(Exit::kOk)) << info.err;
    for (const char* line :
         {": payload reads", "script bytes:    491300", "version:         71",
          "lines:           7766", "headers:         1814",
          "distinct keys:   1810", "values:          4131",
          "check:           ok, 6 allowed"})
      EXPECT_NE(info.out.find(line), std::string::npos) << line << info.out;
    // Without its comments the sample fails the gate, and info still calls
    // the program good: the check line says what the gate finds.
    std::string bare = ToUtf8(script.text);
    for (size_t at; (at = bare.find("; drvdb: allow=")) != std::string::npos;)
      bare.erase(at, bare.find('\r', at) - at);
    WriteFile(folder / "bare.reg", bare);
    ASSERT_EQ(Tool({"pack", "--force", "--quiet", AllowEverything(),
                    DRVSETUP_HOST_IMAGE, folder / "bare.reg",
                    folder / "bare"}).status,
              Code(Exit::kOk));
    Process bareInfo = Tool({"info", folder / "bare"});
    EXPECT_EQ(bareInfo.status, Code(Exit::kOk)) << bareInfo.err;
    EXPECT_NE(bareInfo.out.find("check:           fails the gate (the "
                                "program itself installs it, exit 0): line "
                                "4034, column 1"),
              std::string::npos) << bareInfo.out;
    EXPECT_NE(Tool({"info", kSampleAllow, folder / "bare"})
                  .out.find("check:           ok, 6 allowed"),
              std::string::npos);
    ASSERT_EQ(Tool({"extract", folder / "packed", named + "/out \xc3\xa9.reg"})
                  .status,
              Code(Exit::kOk));
    EXPECT_TRUE(ReadBinaryFile(named + "/out \xc3\xa9.reg") == shipped);
    // The packed program installs it.
    Process run = RunPacked(folder / "packed", folder / "hive");
    EXPECT_EQ(run.status, 0) << run.err;
    unlink((folder / "hive").c_str());
  }
}

// A Windows program is packed aligned for signing, whatever the script's
// length; the padding never shows: extract gives the script back, packing
// that again gives the same program, and diff sees nothing.
TEST_P(DrvdbTest, WindowsProgramsPackAlignedForSigning) {
  Folder folder;
  WriteFile(folder / "image.exe", MinimalPeHeaders(true));
  for (int extra = 0; extra < 8; ++extra) {
    SCOPED_TRACE(extra);
    std::string script = EncodeUtf16Script(std::string(kHead) +
                                           std::string(extra / 2, ';'));
    if (extra % 2)
      script.push_back('\x41');
    WriteFile(folder / "in.reg", script);
    ASSERT_EQ(Tool({"pack", "--quiet", folder / "image.exe", folder / "in.reg",
                    folder / "a.exe"}).status, Code(Exit::kOk));
    EXPECT_EQ(ReadBinaryFile(folder / "a.exe").size() % 8, 0u);
    ASSERT_EQ(Tool({"extract", folder / "a.exe", folder / "out.reg"}).status, Code(Exit::kOk));
    EXPECT_TRUE(ReadBinaryFile(folder / "out.reg") == script);
    ASSERT_EQ(Tool({"pack", "--quiet", folder / "image.exe",
                    folder / "out.reg", folder / "b.exe"}).status, Code(Exit::kOk));
    EXPECT_TRUE(ReadBinaryFile(folder / "a.exe") ==
                ReadBinaryFile(folder / "b.exe"));
    Process diff = Tool({"diff", folder / "a.exe", folder / "in.reg"});
    EXPECT_NE(diff.out.find("0 keys added, 0 removed; 0 values added, 0 "
                            "removed, 0 changed"), std::string::npos)
        << diff.out;
  }
}

// Every bad input and refusal: one line on stderr, its own exit status, and
// no output written.
TEST_P(DrvdbTest, RefusalsAndBadInputs) {
  Folder folder;
  const std::string image = ReadBinaryFile(DRVSETUP_HOST_IMAGE);
  const std::string good = std::string(kHead) + kMappings + "A]\r\n";
  const std::string script = EncodeUtf16Script(good);
  WriteFile(folder / "image", image);
  WriteFile(folder / "good.reg", good);
  WriteFile(folder / "bad.reg", good + "\"v\"=hex:00\r\n");
  WriteFile(folder / "garbling.reg", good + kMappings + "B\r\nC]\r\n");
  std::string shortVersion = good;
  shortVersion.replace(shortVersion.find("00000047"), 8, "48");
  WriteFile(folder / "short.reg", shortVersion);
  std::string decimal = good;
  decimal.replace(decimal.find("00000047"), 8, "00000072");
  WriteFile(folder / "decimal.reg", decimal);
  WriteFile(folder / "binary.reg", std::string("\x80\x81\x82", 3));
  WriteFile(folder / "empty", "");
  WriteFile(folder / "text", "just text\n");
  WriteFile(folder / "packed", PackedImage(script, image));
  const std::string packed = PackedImage(script, image);
  WriteFile(folder / "truncated", packed.substr(0, packed.size() - 2));
  std::string far = packed;
  far.replace(far.size() - 4, 4, std::string("\xf0\xff\xff\x7f", 4));
  WriteFile(folder / "far", far);
  WriteFile(folder / "no-bom", PackedImage(script.substr(2), image));
  // Signed programs, as a signing tool leaves them: padded with zeros to a
  // multiple of eight, then the certificate table, which the entry names.
  auto sign = [](std::string file) {
    file.resize((file.size() + 7) / 8 * 8, '\0');
    const uint32_t at = static_cast<uint32_t>(file.size());
    file += "certificate table";
    SetCertificateEntry(&file, at, 17);
    return file;
  };
  const std::string pe = MinimalPeHeaders(false);
  std::string unaligned = PackProgram(pe, script, false);
  if (unaligned.size() % 8 == 0)
    unaligned = PackProgram(pe, script + std::string("\r\0\n\0", 4), false);
  WriteFile(folder / "signed", sign(PackProgram(pe, script, true)));
  WriteFile(folder / "signed-image", sign(pe));
  WriteFile(folder / "signed-unaligned", sign(unaligned));
  mkdir((folder / "dir").c_str(), 0755);
  const std::string nowhere = folder / "missing-dir/out";
  // A program with its integrity record, one bit of its script flipped.
  std::string damaged = PackProgram(image, script, false, true);
  damaged[damaged.size() - 10] ^= 1;
  WriteFile(folder / "damaged", damaged);

  struct Case {
    std::vector<std::string> args;
    Exit status;
    std::string says;  // on stderr
    std::string input = "";  // a file for standard input
  };
  const Case cases[] = {
      {{"info", folder / "absent"}, Exit::kMissing, "no such file"},
      {{"info", folder / "dir"}, Exit::kNotAFile, "not a regular file"},
      {{"info", folder / "empty"}, Exit::kEmpty, "empty file"},
      {{"info", folder / "text"}, Exit::kNotExecutable, "not an executable"},
      {{"info", folder / "image"}, Exit::kNoTrailer, "nothing follows the image"},
      {{"info", folder / "truncated"}, Exit::kLengthPastFile, "length"},
      {{"info", folder / "far"}, Exit::kLengthPastFile, "reaches past the start of the file"},
      {{"info", folder / "no-bom"}, Exit::kNoByteOrderMark, "byte-order mark"},
      {{"info", folder / "signed-unaligned"}, Exit::kSignedUnaligned,
       "signed after a payload that the program cannot find"},
      {{"extract", folder / "far", folder / "out"}, Exit::kLengthPastFile, "length"},
      {{"extract", folder / "packed", nowhere}, Exit::kUnwritable, "cannot write"},
      {{"check", folder / "binary.reg"}, Exit::kNotText,
       "binary.reg:1:1: error: byte 0x80 is not UTF-8"},
      {{"pack", folder / "image", folder / "bad.reg", folder / "out"}, Exit::kFailed,
       "refused"},
      {{"pack", folder / "packed", folder / "good.reg", folder / "out"}, Exit::kImageCarriesData,
       "--replace"},
      {{"pack", "--newer-than", folder / "packed", folder / "image",
        folder / "good.reg", folder / "out"},
       Exit::kNotNewer, "not greater than"},
      {{"pack", folder / "signed-image", folder / "good.reg", folder / "out"},
       Exit::kSigned, "is signed: pack the unsigned image, then sign"},
      {{"pack", "--replace", folder / "signed", folder / "good.reg",
        folder / "out"},
       Exit::kSigned, "replace the payload in the unsigned program, then sign again"},
      {{"pack", folder / "text", folder / "good.reg", folder / "out"}, Exit::kNotExecutable,
       "not an executable"},
      {{"pack", folder / "image", folder / "good.reg", nowhere}, Exit::kUnwritable,
       "cannot write"},
      {{"pack", folder / "image", folder / "good.reg"}, Exit::kUsage, "usage: drvdb"},
      {{"check"}, Exit::kUsage, "usage: drvdb"},
      {{"frobnicate"}, Exit::kUsage, "drvdb: unknown command \"frobnicate\"\nusage:"},
      // Wrong calls say what was wrong before the usage.
      {{"extract", folder / "packed"}, Exit::kUsage, "extract: needs a program and where"},
      {{"diff", folder / "good.reg"}, Exit::kUsage, "diff: needs OLD and NEW"},
      {{"extract", folder / "packed", "--hlp"}, Exit::kUsage,
       "OUT \"--hlp\" looks like an option"},
      {{"check", "--allow=everything", folder / "good.reg"}, Exit::kUsage,
       "no kind of finding is called \"everything\""},
      // A finding that garbles the tree fails the gate, even with --force.
      {{"pack", "--force", folder / "image", folder / "garbling.reg",
        folder / "out"},
       Exit::kFailed, "pack: refused: garbling.reg has findings that are not allowed"},
      // So does a warning: a release is a deliberate act.
      {{"pack", folder / "image", folder / "short.reg", folder / "out"}, Exit::kFailed,
       "warning: dword:48 is hexadecimal: version 72; for 48 write "
       "dword:00000030 [--allow=short-version]"},
      {{"check", "--allow=short-version,no-such-kind", folder / "good.reg"}, Exit::kUsage,
       "no kind of finding is called \"no-such-kind\""},
      // Options that take a value take it either way.
      {{"check", "--allow", "letter-case", folder / "good.reg"}, Exit::kOk, ""},
      {{"check", "--allow", "lettercase", folder / "good.reg"}, Exit::kUsage,
       "drvdb: check: --allow: no kind of finding is called \"lettercase\"; "
       "did you mean letter-case?\nusage: drvdb check [--werror]"},
      {{"check", "--format", "json", folder / "good.reg"}, Exit::kOk, ""},
      {{"check", "--format=xml", folder / "good.reg"}, Exit::kUsage,
       "--format takes text or json"},
      {{"info", "--allow", "letter-case", folder / "packed"}, Exit::kOk, ""},
      {{"check", folder / "good.reg", "--allow"}, Exit::kUsage, "--allow needs NAME"},
      // A wrong call: what was wrong, the command's own usage, and where
      // to read more.
      {{"info", "--frobnicate", folder / "packed"}, Exit::kUsage,
       "drvdb: info: unknown option --frobnicate\nusage: drvdb info "
       "[--allow=NAME,...] EXE\nmore: drvdb info --help\n"},
      // A version written in decimal, beside OLD's.
      {{"pack", "--newer-than", folder / "packed", folder / "image",
        folder / "decimal.reg", folder / "out"},
       Exit::kFailed,
       "warning: dword:00000072 is version 114; version 72 is dword:00000048"},
      // info answers for the program: whole, or a damaged copy.
      {{"info", folder / "damaged"}, Exit::kDamaged, "a damaged copy"},
      {{"info", folder / "packed"}, Exit::kOk, ""},
      {{"info", DRVSETUP_HOST_PROGRAM}, Exit::kOk, ""},
      // Standard input, once a call.
      {{"check", "-"}, Exit::kOk, "", folder / "good.reg"},
      {{"diff", folder / "good.reg", "-"}, Exit::kOk, "", folder / "good.reg"},
      {{"info", "-"}, Exit::kOk, "", folder / "packed"},
      {{"check", "-"}, Exit::kNotText, "-:1:1: error: byte 0x80",
       folder / "binary.reg"},
      {{"diff", "-", "-"}, Exit::kUsage, "only one input may be -",
       folder / "good.reg"},
      {{"pack", folder / "image", "-", "--newer-than", "-", folder / "out"},
       Exit::kUsage, "only one input may be -", folder / "good.reg"},
      // OLD may be a script.
      {{"pack", "--newer-than", folder / "good.reg", folder / "image",
        folder / "good.reg", folder / "out"},
       Exit::kNotNewer, "version 71 (dword:00000047) is not greater than good.reg's 71 "
           "(dword:00000047)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    Process p = Tool(c.args, c.input);
    EXPECT_EQ(p.status, Code(c.status)) << p.err;
    EXPECT_NE(p.err.find(c.says), std::string::npos) << p.err;
  }
  for (const std::string& name : folder.Names())
    EXPECT_TRUE(name != "out" && name.find(".tmp") == std::string::npos)
        << name << " was written";

  // What the refusals can be told to do.
  EXPECT_EQ(Tool({"pack", "--force", folder / "image", folder / "bad.reg",
                  folder / "forced"}).status, Code(Exit::kOk));
  std::string newer = good;
  newer.replace(newer.find("00000047"), 8, "00000048");
  WriteFile(folder / "newer.reg", newer);
  ASSERT_EQ(Tool({"pack", "--replace", "--newer-than", folder / "packed",
                  folder / "packed", folder / "newer.reg", folder / "swapped"})
                .status,
            Code(Exit::kOk));
  ASSERT_EQ(Tool({"extract", folder / "swapped", folder / "out.reg"}).status, Code(Exit::kOk));
  // The payload swapped, with a fresh integrity record.
  EXPECT_EQ(ReadBinaryFile(folder / "swapped").size(),
            image.size() + kRecordSize + script.size() + 4);
  Process swapped = Tool({"info", folder / "swapped"});
  EXPECT_NE(swapped.out.find("version:         72"), std::string::npos);
  EXPECT_NE(swapped.out.find("integrity:       record at " +
                             std::to_string(image.size()) + ", digest "),
            std::string::npos) << swapped.out;

  // A finding shipped knowingly; a jump in the version is told, and a large
  // one warned of.
  EXPECT_EQ(Tool({"pack", "--allow=multiline-header", folder / "image",
                  folder / "garbling.reg", folder / "allowed"}).status, Code(Exit::kOk));
  std::string jump = good;
  jump.replace(jump.find("00000047"), 8, "00000200");
  WriteFile(folder / "jump.reg", jump);
  {
    Process p = Tool({"pack", "--allow", "decimal-version", "--newer-than",
                      folder / "packed", folder / "image", folder / "decimal.reg",
                      folder / "decimal"});
    EXPECT_EQ(p.status, Code(Exit::kOk)) << p.err;
    EXPECT_NE(p.err.find("allowed: dword:00000072 is version 114"), std::string::npos)
        << p.err;
  }
  for (bool allowed : {false, true}) {
    std::vector<std::string> args = {"pack", "--newer-than", folder / "packed",
                                     folder / "image", folder / "jump.reg",
                                     folder / "jumped"};
    if (allowed)
      args.insert(args.begin() + 1, "--allow=version-jump");
    Process p = Tool(args);
    EXPECT_EQ(p.status, Code(allowed ? Exit::kOk : Exit::kFailed)) << p.err;
    EXPECT_NE(p.err.find("version 71 (dword:00000047) -> 512 "
                         "(dword:00000200)"),
              std::string::npos) << p.err;
    EXPECT_NE(p.err.find(std::string(allowed ? "allowed" : "warning") +
                         ": the version jumps by 441"),
              std::string::npos) << p.err;
  }
  // Programs are checked as scripts are; a missing version is said so.
  Process checked = Tool({"check", folder / "packed"});
  EXPECT_EQ(checked.status, Code(Exit::kOk)) << checked.out << checked.err;
  EXPECT_NE(checked.out.find("ok: version 71 (dword:00000047)"),
            std::string::npos) << checked.out;
  WriteFile(folder / "unversioned.reg", std::string(kMappings) + "A]\r\n");
  ASSERT_EQ(Tool({"pack", "--force", "--quiet", folder / "image",
                  folder / "unversioned.reg", folder / "unversioned"}).status,
            Code(Exit::kOk));
  // The program reads and is whole; the check line says what it would do.
  Process unversioned = Tool({"info", folder / "unversioned"});
  EXPECT_EQ(unversioned.status, Code(Exit::kOk));
  EXPECT_NE(unversioned.out.find("check:           fails with -2: line 1, "
                                 "column 1: no \"DriverVersion\"=dword: line"),
            std::string::npos) << unversioned.out;

  // A signed program reads, before its table.
  Process info = Tool({"info", folder / "signed"});
  EXPECT_EQ(info.status, Code(Exit::kOk)) << info.err;
  EXPECT_NE(info.out.find("certificate table at"), std::string::npos)
      << info.out;
  ASSERT_EQ(Tool({"extract", folder / "signed", folder / "out.reg"}).status, Code(Exit::kOk));
  EXPECT_TRUE(ReadBinaryFile(folder / "out.reg") == script);

  Process help = Tool({"--help"});
  EXPECT_EQ(help.status, Code(Exit::kOk));
  for (const char* word : {"check", "pack", "info", "extract", "diff", "--werror",
                           "--format=json", "--force", "--replace",
                           "--newer-than", "--quiet"})
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
  // The build's own program, packed with the sample and no --allow.
  EXPECT_NE(Tool({"info", DRVSETUP_HOST_PROGRAM})
                .out.find("check:           ok, 6 allowed"),
            std::string::npos);
  Process version = Tool({"--version"});
  EXPECT_EQ(version.status, Code(Exit::kOk));
  EXPECT_EQ(version.out, "drvdb " DRVSETUP_VERSION "\n");
  // -h and /? are --help, and each command's help lists what it can end
  // with: every status this test saw it end with.
  std::map<std::string, std::set<Exit>> seen;
  for (const Case& c : cases)
    seen[c.args[0]].insert(c.status);
  for (const auto& [command, statuses] : seen) {
    const Process own = Tool({command, "--help"});
    if (own.status != Code(Exit::kOk))
      continue;  // no such command
    EXPECT_TRUE(Tool({command, "-h"}).out == own.out);
    EXPECT_TRUE(Tool({command, "/?"}).out == own.out);
    const std::string listed = own.out.substr(own.out.find("\nExit status:\n"));
    for (Exit status : statuses) {
      char row[8];
      snprintf(row, sizeof(row), "    %-2d ", Code(status));
      char shared[8];
      snprintf(shared, sizeof(shared), "  %-2d ", Code(status));
      EXPECT_TRUE(listed.find(row) != std::string::npos ||
                  listed.find(shared) != std::string::npos)
          << command << " --help does not list " << Code(status) << ":\n" << listed;
    }
  }
  EXPECT_TRUE(Tool({"/?"}).out == help.out);
  Process checkHelp = Tool({"check", "--help"});
  EXPECT_EQ(checkHelp.status, Code(Exit::kOk));
  EXPECT_EQ(checkHelp.out.rfind("usage: drvdb check [--werror]", 0), 0u)
      << checkHelp.out;
  EXPECT_NE(checkHelp.out.find("--format=json"), std::string::npos);
  EXPECT_EQ(checkHelp.out.find("drvdb pack"), std::string::npos)
      << "one command's help, not all of it";
}

// bump rewrites the digits of the version line that the program reads, and
// nothing else, in either encoding; what it refuses stays as it was.
TEST_P(DrvdbTest, BumpRewritesOnlyTheVersionDigits) {
  Folder folder;
  const std::string body = std::string("; the drive database\r\n") +
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
                           "; raised with each release\r\n"
                           "  \"driverVERSION\"=DWORD:00000047\r\n" +
                           kMappings + "A]\r\n\"load1\"=\"MMC-Writer \xc3\x97\"\r\n";
  auto with = [&](const std::string& digits) {
    std::string text = body;
    return text.replace(text.find("00000047"), 8, digits);
  };
  auto utf16 = [](const std::string& utf8) { return EncodeUtf16Script(utf8); };
  const std::string lf = [&] {
    std::string text = with("47");
    for (size_t at; (at = text.find('\r')) != std::string::npos;)
      text.erase(at, 1);
    return text;
  }();
  const std::string image = ReadBinaryFile(DRVSETUP_HOST_IMAGE);
  struct Case {
    const char* what;
    std::string before;
    std::vector<std::string> options;
    Exit status;
    std::string after;  // the file afterwards ("" for as it was)
    std::string says;   // on stdout for a bump, else on stderr
  };
  const Case cases[] = {
      {"UTF-16LE, CR LF", utf16(body), {}, Exit::kOk, utf16(with("00000048")),
       "version 71 (DWORD:00000047) -> 72 (dword:00000048)\n"},
      {"UTF-8, LF, the short form", lf, {}, Exit::kOk,
       [&] { std::string t = lf; return t.replace(t.find("DWORD:47"), 8, "DWORD:00000048"); }(),
       "version 71 (DWORD:47) -> 72 (dword:00000048)\n"},
      {"UTF-8 with its mark", "\xef\xbb\xbf" + body, {}, Exit::kOk,
       "\xef\xbb\xbf" + with("00000048"), "-> 72 (dword:00000048)"},
      {"nine digits: all of them replaced", with("000000047"), {}, Exit::kOk,
       with("00000048"), "-> 72 (dword:00000048)"},
      {"--to N", body, {"--to", "100"}, Exit::kOk, with("00000064"),
       "-> 100 (dword:00000064)"},
      {"--to=0xN", body, {"--to=0x7FFFFFFF"}, Exit::kOk, with("7fffffff"),
       "-> 2147483647 (dword:7fffffff)"},
      {"--to a version not greater", body, {"--to", "71"}, Exit::kNotNewer, "",
       "version 71 (dword:00000047) is not greater than"},
      {"the greatest version", with("FFFFFFFF"), {}, Exit::kFailed, "",
       "the greatest a dword holds"},
      {"--to beyond a dword", body, {"--to", "4294967296"}, Exit::kUsage, "",
       "is no version"},
      {"two version lines", body + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
                                   "\"DriverVersion\"=dword:00000047\r\n",
       {}, Exit::kFailed, "", "its import installs version 71 from another line"},
      {"a version outside the database key",
       "\"DriverVersion\"=dword:00000047\r\n" + std::string(kMappings) + "A]\r\n",
       {}, Exit::kFailed, "", "its import installs no version"},
      {"no version line", std::string(kMappings) + "A]\r\n", {}, Exit::kFailed, "",
       "no version line that the program reads"},
      {"an import that fails", body + "\"x\"=hex:00\r\n", {}, Exit::kFailed, "",
       "fails (drvdb check says where)"},
      {"a packed program", PackedImage(utf16(body), image), {}, Exit::kUsage, "",
       "is a program, not a script"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(folder / "drives.reg", c.before);
    std::vector<std::string> args = {"bump"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(folder / "drives.reg");
    Process p = Tool(args);
    EXPECT_EQ(p.status, Code(c.status)) << p.err;
    EXPECT_NE((c.status == Exit::kOk ? p.out : p.err).find(c.says),
              std::string::npos) << p.out << p.err;
    EXPECT_TRUE(ReadBinaryFile(folder / "drives.reg") ==
                (c.after.empty() ? c.before : c.after));
  }
  for (const std::string& name : folder.Names())
    EXPECT_EQ(name, "drives.reg") << "left behind";

  // - reads standard input and writes standard output, the change on
  // standard error.
  WriteFile(folder / "in.reg", body);
  Process piped = Tool({"bump", "-"}, folder / "in.reg");
  EXPECT_EQ(piped.status, Code(Exit::kOk)) << piped.err;
  // drvdb.exe's run is compared with the Linux one line ends aside.
  EXPECT_TRUE(g_windows ? piped.out == SameLineEnds(with("00000048"))
                        : piped.out == with("00000048"));
  EXPECT_NE(piped.err.find("-> 72 (dword:00000048)"), std::string::npos);

  // The bumped script: check reads the new version, and the program
  // installs it over the old one.
  WriteFile(folder / "drives.reg", utf16(body));
  ASSERT_EQ(Tool({"pack", DRVSETUP_HOST_IMAGE, folder / "drives.reg",
                  folder / "old"}).status, Code(Exit::kOk));
  ASSERT_EQ(Tool({"bump", folder / "drives.reg"}).status, Code(Exit::kOk));
  Process checked = Tool({"check", "--werror", folder / "drives.reg"});
  EXPECT_EQ(checked.status, Code(Exit::kOk)) << checked.out;
  EXPECT_NE(checked.out.find("ok: version 72 (DWORD:00000048)"), std::string::npos)
      << checked.out;
  ASSERT_EQ(Tool({"pack", "--newer-than", folder / "old", DRVSETUP_HOST_IMAGE,
                  folder / "drives.reg", folder / "new"}).status, Code(Exit::kOk));
  EXPECT_EQ(RunPacked(folder / "old", folder / "hive").status, 0);
  EXPECT_EQ(RunPacked(folder / "new", folder / "hive").status, 0);
  EXPECT_EQ(RunPacked(folder / "new", folder / "hive").status, 1);
  EXPECT_EQ(RunPacked(folder / "old", folder / "hive").status, 1);
}

// A refusal says what would pass: its --allow= list, used as it stands,
// and its comments, written above their lines, each let the script pass.
TEST_P(DrvdbTest, RefusalSaysWhatWouldPass) {
  Folder folder;
  std::string several = std::string(kHead) + kMappings + "A]\r\n" +
                        kMappings + "B\r\nC]\r\n" + kMappings + "A]\r\n";
  several.replace(several.find("00000047"), 8, "48");
  WriteFile(folder / "image", ReadBinaryFile(DRVSETUP_HOST_IMAGE));
  WriteFile(folder / "several.reg", several);
  Process refused = Tool({"pack", folder / "image", folder / "several.reg",
                          folder / "out"});
  EXPECT_EQ(refused.status, Code(Exit::kFailed));
  const size_t at = refused.err.rfind("--allow=");
  ASSERT_NE(at, std::string::npos) << refused.err;
  const std::string allow =
      refused.err.substr(at, refused.err.find('\n', at) - at);
  EXPECT_EQ(allow, "--allow=multiline-header,repeated-header,short-version");
  EXPECT_EQ(Tool({"pack", "--quiet", allow, folder / "image",
                  folder / "several.reg", folder / "out"}).status,
            Code(Exit::kOk));
  // The comments, each above its line (from the last, so that the lines
  // named stay where they are).
  std::vector<std::pair<size_t, std::string>> comments;
  const std::string lead = "several.reg:";
  for (size_t p = refused.err.find("with a comment above its line");
       p != std::string::npos &&
       (p = refused.err.find("\n" + lead, p)) != std::string::npos;
       ++p) {
    const size_t number = p + 1 + lead.size();
    const size_t colon = refused.err.find(": ", number);
    comments.push_back({std::stoul(refused.err.substr(number, colon - number)),
                        refused.err.substr(colon + 2,
                                           refused.err.find('\n', colon) -
                                               colon - 2)});
  }
  std::vector<std::string> lines;
  for (size_t start = 0; start < several.size();) {
    const size_t end = several.find('\n', start) + 1;
    lines.push_back(several.substr(start, end - start));
    start = end;
  }
  ASSERT_FALSE(comments.empty()) << refused.err;
  std::string commented;
  for (size_t line = 1; line <= lines.size(); ++line) {
    for (const auto& [where, comment] : comments)
      if (where == line)
        commented += comment + "\r\n";
    commented += lines[line - 1];
  }
  EXPECT_EQ(comments.size(), 3u) << refused.err;
  WriteFile(folder / "commented.reg", commented);
  EXPECT_EQ(Tool({"check", "--werror", folder / "commented.reg"}).status,
            Code(Exit::kOk));
  EXPECT_EQ(Tool({"pack", "--quiet", folder / "image",
                  folder / "commented.reg", folder / "out"}).status,
            Code(Exit::kOk));
  // An allowance comment that is itself the finding is to be mended where
  // it stands: the refusal never suggests allowing it by another comment.
  WriteFile(folder / "mended.reg",
            std::string(kHead) + "; drvdb: allow=lettercase\r\n" + kMappings +
                "A]\r\n; drvdb: allow=repeated-header\r\n" + kMappings + "B]\r\n");
  Process mended = Tool({"pack", folder / "image", folder / "mended.reg", folder / "out"});
  EXPECT_EQ(mended.status, Code(Exit::kFailed));
  EXPECT_EQ(mended.err.find("; drvdb: allow=unused-allow"), std::string::npos) << mended.err;
  EXPECT_EQ(mended.err.find("; drvdb: allow=unknown-allow"), std::string::npos) << mended.err;
  EXPECT_NE(mended.err.find("mended.reg:5: correct the allowance comment on this line: no "
                            "kind of finding is called \"lettercase\"; did you mean "
                            "letter-case?"),
            std::string::npos) << mended.err;
  EXPECT_NE(mended.err.find("mended.reg:7: take out of the allowance comment on this line "
                            "what allows nothing: allow=repeated-header allows nothing"),
            std::string::npos) << mended.err;
  // check says the same when findings fail it.
  Process check = Tool({"check", "--werror", folder / "several.reg"});
  EXPECT_EQ(check.status, Code(Exit::kFailed));
  EXPECT_NE(check.out.find("several.reg: to pass as it stands, allow every "
                           "kind that refuses it: " + allow + "\n"),
            std::string::npos) << check.out;
  if (g_windows)
    return;  // a Windows program sees no FIFO, and no <(...)
  // A FIFO and a shell's process substitution are read like files.
  ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
  std::thread writer([&] { WriteFile(folder / "fifo", several); });
  Process fromFifo = Tool({"check", folder / "fifo"});
  int fd = open((folder / "fifo").c_str(), O_RDONLY | O_NONBLOCK);
  if (fd >= 0)
    close(fd);  // frees the writer, should nothing have read the FIFO
  writer.join();
  EXPECT_EQ(fromFifo.status, Code(Exit::kFailed)) << fromFifo.err;
  EXPECT_NE(fromFifo.out.find("fifo: fails: version 72"), std::string::npos)
      << fromFifo.out;
  Process substituted = RunProcess(
      {"bash", "-c",
       "'" DRVDB_PROGRAM "' diff <(cat '" + folder / "several.reg" + "') '" +
           folder / "commented.reg" + "'"},
      {});
  EXPECT_EQ(substituted.status, Code(Exit::kOk)) << substituted.err;
  EXPECT_NE(substituted.out.find("0 keys added, 0 removed; 0 values added, "
                                 "0 removed, 0 changed"),
            std::string::npos) << substituted.out;
}

// No output ever destroys a file: not an input by any name, not a file
// that happens to be called like a temporary one, not a symbolic link
// (which stays a link to the file it names), and not a FIFO (written as it
// is). Nothing here names a path outside the test's folder. Each row
// changes the folder, so drvdb.exe runs it alone; a Windows program sees
// no FIFO, nor a link that leads nowhere yet.
TEST_P(DrvdbTest, OutputsNeverDestroyAFile) {
  Folder folder;
  g_compare = false;
  const std::string good = std::string(kHead) + kMappings + "A]\r\n";
  const std::string script = EncodeUtf16Script(good);
  const std::string image = ReadBinaryFile(DRVSETUP_HOST_IMAGE);
  const std::string packed = PackedImage(script, image);
  auto at = [&](const std::string& name) { return folder / name; };
  struct Case {
    const char* what;
    std::function<void()> prepare;
    std::vector<std::string> args;
    Exit status;
    std::function<void(const Process&)> verify;
    bool unixOnly = false;
  };
  auto unchanged = [&](const std::string& name, const std::string& bytes) {
    return [&, name, bytes](const Process& p) {
      EXPECT_TRUE(ReadBinaryFile(at(name)) == bytes) << name << " changed";
      EXPECT_NE(p.err.find("it would be destroyed"), std::string::npos)
          << p.err;
    };
  };
  auto isLink = [&](const std::string& name) {
    struct stat info;
    return lstat(at(name).c_str(), &info) == 0 && S_ISLNK(info.st_mode);
  };
  std::string fromFifo;
  std::thread reader;
  const Case cases[] = {
      {"SCRIPT as OUT", nullptr,
       {"pack", at("image"), at("good.reg"), at("good.reg")}, Exit::kUsage,
       unchanged("good.reg", good)},
      {"IMAGE as OUT", nullptr,
       {"pack", at("image"), at("good.reg"), at("image")}, Exit::kUsage,
       unchanged("image", image)},
      {"EXE as OUT", nullptr, {"extract", at("packed"), at("packed")}, Exit::kUsage,
       unchanged("packed", packed)},
      {"a hard link to an input",
       [&] { ASSERT_EQ(link(at("good.reg").c_str(), at("hard.reg").c_str()), 0); },
       {"pack", at("image"), at("good.reg"), at("hard.reg")}, Exit::kUsage,
       unchanged("good.reg", good)},
      {"a symbolic link to an input",
       [&] { ASSERT_EQ(symlink("packed", at("to-packed").c_str()), 0); },
       {"extract", at("packed"), at("to-packed")}, Exit::kUsage,
       unchanged("packed", packed)},
      {"OLD as OUT", nullptr,
       {"pack", "--newer-than", at("old.exe"), at("image"), at("newer.reg"),
        at("old.exe")},
       Exit::kUsage, unchanged("old.exe", packed)},
      {"a file named like a temporary one",
       [&] { WriteFile(at("x.reg.tmp"), "mine"); },
       {"extract", at("packed"), at("x.reg")}, Exit::kOk,
       [&](const Process&) {
         EXPECT_EQ(ReadBinaryFile(at("x.reg.tmp")), "mine");
         EXPECT_TRUE(ReadBinaryFile(at("x.reg")) == script);
       }},
      {"a link to a regular file stays a link",
       [&] {
         WriteFile(at("target.reg"), "stale");
         chmod(at("target.reg").c_str(), 0640);
         ASSERT_EQ(symlink("target.reg", at("link.reg").c_str()), 0);
       },
       {"extract", at("packed"), at("link.reg")}, Exit::kOk,
       [&](const Process&) {
         EXPECT_TRUE(isLink("link.reg"));
         EXPECT_TRUE(ReadBinaryFile(at("target.reg")) == script);
         struct stat info;
         ASSERT_EQ(stat(at("target.reg").c_str(), &info), 0);
         if (!g_windows) {  // Windows keeps no permission bits of Unix's
           EXPECT_EQ(info.st_mode & 0777, 0640u) << "the permissions stay";
         }
       }},
      {"a chain of links to a new file",
       [&] {
         mkdir(at("sub").c_str(), 0755);
         ASSERT_EQ(symlink("sub/step", at("chain").c_str()), 0);
         ASSERT_EQ(symlink("new.reg", at("sub/step").c_str()), 0);
       },
       {"extract", at("packed"), at("chain")}, Exit::kOk,
       [&](const Process&) {
         EXPECT_TRUE(isLink("chain") && isLink("sub/step"));
         EXPECT_TRUE(ReadBinaryFile(at("sub/new.reg")) == script);
       },
       true},
      {"a link to a FIFO",
       [&] {
         ASSERT_EQ(mkfifo(at("fifo").c_str(), 0600), 0);
         ASSERT_EQ(symlink("fifo", at("to-fifo").c_str()), 0);
         reader = std::thread([&] { fromFifo = ReadBinaryFile(at("fifo")); });
       },
       {"extract", at("packed"), at("to-fifo")}, Exit::kOk,
       [&](const Process&) {
         // Unblocks the reader should nothing have opened the FIFO.
         int fd = open(at("fifo").c_str(), O_WRONLY | O_NONBLOCK);
         if (fd >= 0)
           close(fd);
         reader.join();
         EXPECT_TRUE(fromFifo == script);
         struct stat info;
         EXPECT_TRUE(lstat(at("fifo").c_str(), &info) == 0 &&
                     S_ISFIFO(info.st_mode));
       },
       true},
      {"- is standard output", nullptr, {"extract", at("packed"), "-"}, Exit::kOk,
       [&](const Process& p) { EXPECT_TRUE(p.out == script); }},
  };
  WriteFile(at("image"), image);
  WriteFile(at("good.reg"), good);
  WriteFile(at("packed"), packed);
  WriteFile(at("old.exe"), packed);
  std::string newer = good;
  newer.replace(newer.find("00000047"), 8, "00000048");
  WriteFile(at("newer.reg"), newer);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.unixOnly && g_windows)
      continue;
    if (c.prepare)
      c.prepare();
    Process p = Tool(c.args);
    EXPECT_EQ(p.status, Code(c.status)) << p.err;
    c.verify(p);
  }
  for (const std::string& name : folder.Names())
    EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name << " was left";
}

// drvdb.exe never touches the machine's registry: the registry of Wine's
// prefix exports the same before and after it checks, packs and diffs. The
// parts that the scripts write are compared, without what Wine's device
// services write in their own time: they keep rewriting
// HKEY_LOCAL_MACHINE\System, and on a loaded machine the network driver
// lists the network cards under Software seconds after a prefix's boot.
TEST_P(DrvdbTest, LeavesTheMachinesRegistryAlone) {
  if (!g_windows)
    GTEST_SKIP() << "the Linux tool meets no registry";
  Folder folder;
  WriteFile(folder / "image.exe", MinimalPeHeaders(true));
  WriteFile(folder / "old.reg", std::string(kHead) + kMappings + "A]\r\n");
  std::string newer = std::string(kHead) + kMappings + "B]\r\n";
  newer.replace(newer.find("00000047"), 8, "00000048");
  WriteFile(folder / "new.reg", newer);
  auto exported = [&](const char* name) {
    std::string both;
    for (const char* key : {"HKEY_LOCAL_MACHINE\\Software", "HKEY_CURRENT_USER"}) {
      Process p =
          RunUnderWine({"regedit", "/e", WindowsPath(folder / name), key});
      EXPECT_EQ(p.status, 0) << p.err;
      both += ReadBinaryFile(folder / name);
    }
    // The export is UTF-16LE: each section of the network cards' key, in
    // both views, goes from the line break before its header to the one
    // before the next.
    auto wide = [](const std::string& ascii) {
      std::string out;
      for (char c : ascii)
        out += std::string{c, '\0'};
      return out;
    };
    for (const char* view : {"", "Wow6432Node\\"}) {
      const std::string cards =
          wide(std::string("\n[HKEY_LOCAL_MACHINE\\Software\\") + view +
               "Microsoft\\Windows NT\\CurrentVersion\\NetworkCards");
      for (size_t at; (at = both.find(cards)) != std::string::npos;) {
        const size_t next = both.find(wide("\n["), at + cards.size());
        both.erase(at, next == std::string::npos ? std::string::npos
                                                 : next - at);
      }
    }
    return both;
  };
  // What a prefix's first programs and Wine's device services add (the
  // network cards among them) settles first: the export is taken until two
  // in a row, a second apart, are the same.
  std::string before = exported("before.txt"), again;
  for (int tries = 0; tries < 20; ++tries) {
    sleep(1);
    again = exported("before.txt");
    if (again == before)
      break;
    before = again;
  }
  ASSERT_EQ(again, before) << "the prefix's registry never settled";
  ASSERT_GT(before.size(), 100000u) << "the export is not the whole registry";
  EXPECT_EQ(Tool({"check", folder / "new.reg"}).status, Code(Exit::kOk));
  EXPECT_EQ(Tool({"pack", folder / "image.exe", folder / "old.reg",
                  folder / "old.exe"}).status, Code(Exit::kOk));
  EXPECT_EQ(Tool({"pack", "--newer-than", folder / "old.exe",
                  folder / "image.exe", folder / "new.reg",
                  folder / "new.exe"}).status, Code(Exit::kOk));
  EXPECT_EQ(Tool({"diff", folder / "old.exe", folder / "new.exe"}).status, Code(Exit::kFailed));
  const std::string after = exported("after.txt");
  size_t at = 0;
  while (at < before.size() && at < after.size() && before[at] == after[at])
    ++at;
  auto around = [&](const std::string& text) {  // UTF-16LE, shown as ASCII
    std::string shown;
    for (size_t i = at > 600 ? at - 600 : 0; i < text.size() && i < at + 200;
         i += 2)
      shown.push_back(text[i]);
    return shown;
  };
  EXPECT_TRUE(after == before)
      << "the registry changed at byte " << at << " of the export:\n"
      << around(before) << "\n---\n" << around(after);
}

TEST_P(DrvdbTest, DiffShowsWhatAnUpdateDoes) {
  Folder folder;
  const std::string m = kMappings;
  WriteFile(folder / "old.reg",
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\n"
            "\"DriverVersion\"=dword:1\n" +
                m + "KEEP]\n\"a\"=\"1\"\n\"b\"=\"2\"\n\"gone\"=\"x\"\n" +
                "\"\xc3\x84rger\"=\"1\"\n" + m +
                "OLD]\n\"load1\"=\"S\"\n");
  WriteFile(folder / "new.reg",
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\n"
            "\"DriverVersion\"=dword:2\n" +
                m + "KEEP]\n\"a\"=\"1\"\n\"b\"=\"3\"\n\"c\"=dword:4\n" +
                "\"\xc3\xa4rger\"=\"2\"\n" + m +
                "NEW]\n\"load1\"=\"T\"\n" + m + "A\r\nB]\n\"x\\ny\"=\"1\"\n");
  const std::string oldFile = "old.reg", newFile = "new.reg";
  Process p = Tool({"diff", folder / oldFile, folder / newFile});
  EXPECT_EQ(p.status, Code(Exit::kFailed)) << p.err;
  const std::string path = "HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\MAPPINGS\\";
  const std::string was = "     " + oldFile + ":", is = "     " + newFile + ":";
  // Each line as its file writes it, with where it stands: added and
  // changed ones from NEW, removed ones from OLD.
  const std::string expected =
      "version: 1 -> 2\n"
      "  " + newFile + ":1: [HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\n"
      "-" + was + "2: \"DriverVersion\"=dword:1\n"
      "+" + is + "2: \"DriverVersion\"=dword:2\n"
      // A line break in a name shows as its picture, a backslash as itself.
      "+ " + newFile + ":10: [" + path + "A\xe2\x90\x8d\xe2\x90\x8a" "B]\n"
      "+" + is + "12: \"x\\ny\"=\"1\"\n"
      "  " + newFile + ":3: [" + path + "KEEP]\n"
      // A key's changes in the order of their lines.
      "-" + was + "5: \"b\"=\"2\"\n"
      "+" + is + "5: \"b\"=\"3\"\n"
      "-" + was + "6: \"gone\"=\"x\"\n"
      "+" + is + "6: \"c\"=dword:4\n"
      // One value whatever the case of its letters, A-Z or not; the update
      // leaves the new spelling.
      "-" + was + "7: \"\xc3\x84rger\"=\"1\"\n"
      "+" + is + "7: \"\xc3\xa4rger\"=\"2\"\n"
      "+ " + newFile + ":8: [" + path + "NEW]\n"
      "+" + is + "9: \"load1\"=\"T\"\n"
      "- " + oldFile + ":8: [" + path + "OLD]\n"
      "-" + was + "9: \"load1\"=\"S\"\n"
      "2 keys added, 1 removed; 3 values added, 2 removed, 3 changed\n";
  EXPECT_EQ(p.out, expected);

  // A version written in decimal, beside OLD's: only digits that read as
  // decimal a little above OLD's version, and as a larger hex number.
  struct Decimal {
    const char* old;
    const char* now;
    const char* warning;  // "" for none
  };
  const Decimal decimals[] = {
      {"00000047", "00000072", "dword:00000072 is version 114; version 72 is dword:00000048"},
      {"00000047", "00000048", ""},
      {"00000047", "00000081", "dword:00000081 is version 129; version 81 is dword:00000051"},
      {"00000047", "00000082", ""},  // 11 above: too far to be a slip
      {"00000009", "00000010", "dword:00000010 is version 16; version 10 is dword:0000000a"},
      {"00000009", "0000000a", ""},
      {"00000001", "00000002", ""},  // the same in both readings
  };
  for (const Decimal& d : decimals) {
    SCOPED_TRACE(std::string(d.old) + " -> " + d.now);
    WriteFile(folder / "dec-old.reg", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\n"
                                      "\"DriverVersion\"=dword:" + std::string(d.old) + "\n");
    WriteFile(folder / "dec-new.reg", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\n"
                                      "\"DriverVersion\"=dword:" + std::string(d.now) + "\n");
    Process diff = Tool({"diff", folder / "dec-old.reg", folder / "dec-new.reg"});
    const std::string said = std::string("dec-new.reg:2:1: warning: ") + d.warning +
                             " [--allow=decimal-version]";
    EXPECT_EQ(diff.out.find(said) != std::string::npos, *d.warning != 0) << diff.out;
    EXPECT_EQ(diff.out.find("decimal-version") != std::string::npos, *d.warning != 0)
        << diff.out;
    // Without OLD nothing can tell.
    EXPECT_EQ(Tool({"check", "--werror", folder / "dec-new.reg"}).out.find("decimal"),
              std::string::npos);
  }

  Process same = Tool({"diff", folder / newFile, folder / newFile});
  EXPECT_EQ(same.status, Code(Exit::kOk)) << same.out;
  EXPECT_NE(same.out.find("note:"), std::string::npos)
      << "an equal version must be called out";

  // A failing NEW: the line where the program stops, as check says it.
  WriteFile(folder / "bad.reg", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\n"
                                "\"DriverVersion\"=dword:3\n\"v\"=hex:00\n");
  Process failing = Tool({"diff", folder / oldFile, folder / "bad.reg"});
  Process check = Tool({"check", folder / "bad.reg"});
  const std::string error = "bad.reg:3:5: error: unsupported value type";
  EXPECT_NE(failing.out.find(error), std::string::npos) << failing.out;
  EXPECT_NE(check.out.find(error), std::string::npos) << check.out;
}

// Each pass alone over the model of a script: what it finds, where, and of
// which kind, whatever the other passes find.
TEST(DrvdbPasses, EachPassFindsItsOwn) {
  const std::string h = kHead;
  const std::string m = kMappings;
  const std::string database =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n";
  struct Case {
    const char* pass;
    std::string script;  // UTF-8
    std::vector<std::string> found;  // "LINE:COLUMN kind"
  };
  const Case cases[] = {
      {"stop", h + m + "A]\r\n\"b\"=hex:01\r\n", {"6:5 run-fails"}},
      {"stop", "[HKEY_CURRENT_USER\\x]\r\n", {"1:1 run-fails"}},
      {"stop", h + m + "A]\r\n\"a\"=\"1\"\r\n", {}},
      {"characters", h + m + "A]\r\n\"v\"=\"\xe4\xb8\x80\"\r\n",
       {"6:6 not-in-code-page"}},
      {"characters", h + std::string("\0", 1) + m + "A]\r\n",
       {"4:33 nul-ends-script"}},
      {"line-breaks-in-keys", h + m + "A\r\nB]\r\n\"v\"=\"1\"\r\n",
       {"5:1 multiline-header"}},
      {"line-breaks-in-keys", h + m + "A\rB]\r\n", {"5:57 line-break-in-name"}},
      {"ignored-lines",
       h + m + "A]\r\n@=\"x\"\r\nHKEY_LOCAL_MACHINE\\SOFTWARE\\B]\r\n",
       {"6:1 default-value-line", "7:1 missing-bracket"}},
      {"ignored-lines", "\"x\"=\"1\"\r\n" + h.substr(38),
       {"1:1 value-before-header"}},
      {"key-names", h + m + "A]\r\n" + m + "A]\r\n" + m + "a]\r\n",
       {"6:1 repeated-header", "7:1 letter-case"}},
      {"key-names", h + m + "\xc3\xa9]\r\n" + m + "\xc3\x89\\x]\r\n",
       {"6:56 letter-case"}},
      {"scope", h + "[HKEY_CURRENT_USER\\Software\\x]\r\n",
       {"5:1 outside-database"}},
      {"scope",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\morvelan\\DRIVER2]\r\n"
       "\"DriverVersion\"=dword:00000047\r\n",
       {"1:1 wow6432node"}},
      {"values",
       h + m + "A]\r\n\"v\"=\"1\"\r\n\"V\"=\"2\"\r\n\"Flags\"=dword:123456789\r\n",
       {"7:1 value-set-twice", "8:15 dword-cut"}},
      {"values", h + m + "A]\r\n\"Flags\"=dword:000000002a\r\n",
       {"6:15 dword-leading-zeros"}},
      {"version", database + "\"DriverVersion\"=dword:72\r\n",
       {"2:1 short-version"}},
      {"version", "[HKEY_CURRENT_USER\\x]\r\n\"DriverVersion\"=dword:00000047\r\n",
       {"2:1 version-not-installed"}},
      // A version line that the import passed is the values pass's; one
      // before any header, the version pass's.
      {"values", database + "\"DriverVersion\"=dword:100000048\r\n",
       {"2:23 dword-cut"}},
      {"version", database + "\"DriverVersion\"=dword:100000048\r\n", {}},
      {"version", "\"DriverVersion\"=dword:200000048\r\n" + m + "A]\r\n",
       {"1:23 dword-cut", "1:1 version-not-installed"}},
      // Through Wow6432Node, the version finding is the scope pass's.
      {"version",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\morvelan\\DRIVER2]\r\n"
       "\"DriverVersion\"=dword:00000047\r\n",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pass) + ": " + c.script);
    SourceScript script;
    LoadError error;
    ASSERT_TRUE(LoadScript("s.reg", c.script, &script, &error));
    ResetMachine();
    ScriptRun run;
    RunScript(script.shipped, &run);
    Model model(script, run);
    BuildModel(&model);
    std::vector<std::string> shown;
    RunStop stop;
    if (std::string(c.pass) == "stop") {  // the run's own, before the passes
      if (ReportStop(model, &stop))
        shown.push_back(std::to_string(stop.line) + ":" +
                        std::to_string(stop.column) + " run-fails");
      EXPECT_EQ(shown, c.found);
      continue;
    }
    const Pass* pass = nullptr;
    for (const Pass& p : kPasses)
      if (std::string(p.name) == c.pass)
        pass = &p;
    ASSERT_NE(pass, nullptr);
    Findings found;
    pass->check(model, &found);
    for (const Finding& f : found)
      shown.push_back(std::to_string(f.line) + ":" + std::to_string(f.column) +
                      " " + KindName(f.kind));
    EXPECT_EQ(shown, c.found);
  }
}

INSTANTIATE_TEST_SUITE_P(Linux, DrvdbTest, ::testing::Values(kLinux),
                         [](const auto&) { return std::string("Tool"); });
INSTANTIATE_TEST_SUITE_P(Windows, DrvdbTest, ::testing::Values(kWindows),
                         [](const auto&) { return std::string("Tool"); });

// The tools' conversions between UTF-8 and UTF-16 never read past their
// input and never write what is not UTF-8.
// Every write of an output file fails in turn through the tool's own file
// seam: a failed write, a short write, a failed rename. Each leaves the
// previous file byte for byte, takes its temporary file away, and ends
// with the status for an output that cannot be written, naming the file.
TEST(DrvdbOutputs, EveryWriteFailedInTurn) {
  Folder folder;
  const std::string script = std::string(kHead) + kMappings + "A]\r\n";
  const std::string image = ReadBinaryFile(DRVSETUP_HOST_IMAGE);
  WriteFile(folder / "image", image);
  WriteFile(folder / "good.reg", script);
  WriteFile(folder / "packed", PackProgram(image, EncodeUtf16Script(script), false, true));
  struct Case {
    const char* what;
    int (*command)(const std::vector<std::string>&);
    std::vector<std::string> args;
    std::string out;       // the file it writes
    std::string previous;  // what that file held before
  };
  const Case cases[] = {
      {"pack", PackCommand,
       {"--quiet", folder / "image", folder / "good.reg", folder / "out.exe"},
       folder / "out.exe", "an earlier program"},
      {"extract", ExtractCommand, {folder / "packed", folder / "out.reg"},
       folder / "out.reg", "an earlier script"},
      {"bump", BumpCommand, {folder / "good.reg"}, folder / "good.reg", script},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(c.out, c.previous);
    HostFaultsCount(true);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ASSERT_EQ(c.command(c.args), Code(Exit::kOk));
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    const std::vector<HostCallRecord> calls = HostFaultsRecord();
    HostFaultsStop();
    size_t points = 0;
    for (size_t call = 1; call <= calls.size(); ++call) {
      const HostCall kind = calls[call - 1].kind;
      if (kind != HostCall::kOutputWrite && kind != HostCall::kOutputRename)
        continue;
      for (size_t error = 0; error < HostCallErrors(kind).size(); ++error) {
        SCOPED_TRACE(std::string(calls[call - 1].function) + ": " +
                     HostCallErrors(kind)[error]);
        ++points;
        WriteFile(c.out, c.previous);
        HostFaultsCount(false);
        HostFaultsFail(call, error);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int status = c.command(c.args);
        testing::internal::GetCapturedStdout();
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(HostFaultsHit());
        HostFaultsStop();
        EXPECT_EQ(status, Code(Exit::kUnwritable)) << said;
        EXPECT_NE(said.find(c.out), std::string::npos) << said;
        EXPECT_TRUE(ReadBinaryFile(c.out) == c.previous) << c.out << " changed";
        for (const std::string& name : folder.Names())
          EXPECT_EQ(name.find(".tmp"), std::string::npos) << name << " left behind";
      }
    }
    EXPECT_EQ(points, 3u) << "a write that fails, one cut short, a rename";
  }
}

TEST(Drvdb, TextConversionsStayValid) {
  struct Case {
    std::string utf8;
    std::u16string units;
  };
  const Case cases[] = {
      {"a\xc3", u"a\ufffd"},                     // truncated at the end
      {"\xe2\x82", u"\ufffd\ufffd"},              // truncated, two bytes
      {"\xf0\x9f\x92\xbf", u"\U0001F4BF"},        // beyond the basic plane
      {"\x80x", u"\ufffdx"},                      // a stray continuation
  };
  for (const Case& c : cases) {
    std::string out;
    AppendUtf16(&out, c.utf8);
    EXPECT_TRUE(out == std::string(reinterpret_cast<const char*>(c.units.data()),
                                   c.units.size() * 2))
        << c.utf8;
  }
  EXPECT_EQ(ToUtf8(std::u32string{0xD800, U'x'}), "\xef\xbf\xbdx");
  EXPECT_EQ(ToUtf8(U"\U0001F4BF\u00e9"), "\xf0\x9f\x92\xbf\xc3\xa9");
}
