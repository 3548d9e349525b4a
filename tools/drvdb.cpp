// drvdb: checks, packs and inspects the drive database that the setup
// program carries. Its verdicts come from the program's own payload
// decoding, version probe and import, run against the in-memory registry
// stand-in, so they cannot disagree with what the program does on a
// machine. `drvdb --help` lists every command, option and exit status.

#include <stdio.h>
#include <sys/stat.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "payload/payload.h"
#include "payload/payload_io_host.h"
#include "platform/registry_host.h"
#include "script/database.h"
#include "tools/executable.h"
#include "tools/script_check.h"
#include "tools/write_file.h"

namespace {

// Exit statuses, one per kind of outcome.
enum Exit {
  kExitOk = 0,
  kExitFailed = 1,          // check failed, pack refused the script, diff differs
  kExitUsage = 2,
  kExitMissing = 3,         // no such file
  kExitNotAFile = 4,        // a directory or other non-file
  kExitUnreadable = 5,
  kExitUnwritable = 6,
  kExitEmpty = 7,
  kExitNotExecutable = 8,
  kExitNoTrailer = 9,
  kExitLengthPastFile = 10,
  kExitNoByteOrderMark = 11,
  kExitImageCarriesData = 12,
  kExitNotNewer = 13,
  kExitNotText = 14,        // a script that is neither UTF-16LE nor UTF-8
  kExitSigned = 15,         // IMAGE is signed: packing would break it
  kExitSignedUnaligned = 16,  // signed after a payload it cannot find
};

const char kUsage[] =
    "usage: drvdb check [--werror] [--format=text|json] SCRIPT...\n"
    "       drvdb pack [--force] [--replace] [--newer-than OLD] [--werror]\n"
    "                  [--quiet] IMAGE SCRIPT OUT\n"
    "       drvdb info EXE\n"
    "       drvdb extract EXE OUT\n"
    "       drvdb diff OLD NEW\n"
    "       drvdb --help\n";

const char kHelp[] =
    "drvdb checks, packs and inspects the drive database that the setup\n"
    "program carries. Its verdicts come from the program's own decoding,\n"
    "version probe and import, run against an in-memory registry, so they\n"
    "are the program's verdicts.\n"
    "\n"
    "A script is a registry script: UTF-16LE with its byte-order mark, as\n"
    "the registry editor exports it and the program ships it, or UTF-8 text\n"
    "(with or without a byte-order mark), as kept in version control.\n"
    "\n"
    "drvdb check [--werror] [--format=text|json] SCRIPT...\n"
    "    Installs each script as the program would on a machine without the\n"
    "    database. Reports the first line that would make the run fail\n"
    "    (FILE:LINE:COLUMN: error: ..., with the line and a caret), warnings\n"
    "    for what the program silently ignores or changes, and a summary\n"
    "    line: version, lines, headers, distinct keys and values.\n"
    "    --werror          warnings fail the check too\n"
    "    --format=json     the same findings as one JSON array, for CI\n"
    "\n"
    "drvdb pack [OPTIONS] IMAGE SCRIPT OUT\n"
    "    Writes OUT as IMAGE, then SCRIPT (UTF-8 is converted to UTF-16LE\n"
    "    with its byte-order mark), then the script's length in four bytes,\n"
    "    through a temporary file, so OUT is never half-written. Checks the\n"
    "    script first and refuses one that fails.\n"
    "    --force           pack a script that fails the check\n"
    "    --replace         IMAGE already carries a payload: swap it\n"
    "    --newer-than OLD  refuse unless the script's version is greater\n"
    "                      than the one packed in OLD (machines with OLD\n"
    "                      would otherwise never update)\n"
    "    --werror          warnings fail the check too\n"
    "    --quiet           show no warnings, only errors\n"
    "\n"
    "drvdb info EXE\n"
    "    Whether EXE's payload reads and, if it does, its version, script\n"
    "    bytes, lines, headers, distinct keys, values and check verdict.\n"
    "\n"
    "drvdb extract EXE OUT\n"
    "    Writes EXE's script out byte for byte.\n"
    "\n"
    "drvdb diff OLD NEW\n"
    "    What an update from OLD to NEW (each a program or a script) does to\n"
    "    a machine: the version change, keys added and removed, values\n"
    "    added, removed and changed. Exit status 0 when nothing differs, 1\n"
    "    when something does.\n"
    "\n"
    "Exit status:\n"
    "    0  success\n"
    "    1  a script fails the check, pack refused it, or diff found changes\n"
    "    2  wrong call\n"
    "    3  no such file               4  not a regular file\n"
    "    5  a file cannot be read      6  the output cannot be written\n"
    "    7  empty file                 8  not an executable (PE or ELF)\n"
    "    9  no payload or trailer      10 the trailer's length does not fit\n"
    "    11 no byte-order mark         12 IMAGE already carries a payload\n"
    "    13 not newer than OLD         14 a script that is not text\n"
    "    15 IMAGE is signed (sign after packing)\n"
    "    16 signed after a payload the program cannot find (unaligned)\n";

int Usage() {
  std::cerr << kUsage;
  return kExitUsage;
}

int Fail(int status, const std::string& what) {
  std::cerr << "drvdb: " << what << "\n";
  return status;
}

// Reads a whole input file; on failure says why on stderr.
int ReadInput(const std::string& path, std::string* bytes) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0)
    return Fail(kExitMissing, path + ": no such file");
  if (!S_ISREG(info.st_mode))
    return Fail(kExitNotAFile, path + ": not a regular file");
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return Fail(kExitUnreadable, path + ": cannot be read");
  bytes->assign(std::istreambuf_iterator<char>(in),
                std::istreambuf_iterator<char>());
  if (in.bad())
    return Fail(kExitUnreadable, path + ": cannot be read");
  return kExitOk;
}

int ReadScriptFile(const std::string& path, SourceScript* script) {
  std::string bytes;
  if (int status = ReadInput(path, &bytes))
    return status;
  std::string error;
  if (!LoadScript(path, bytes, script, &error))
    return Fail(kExitNotText, path + ":" + error);
  return kExitOk;
}

int PayloadStatus(const AppendedPayload& payload) {
  switch (payload.problem) {
    case AppendedPayload::kNone:
      return kExitOk;
    case AppendedPayload::kEmpty:
      return kExitEmpty;
    case AppendedPayload::kNotExecutable:
      return kExitNotExecutable;
    case AppendedPayload::kNoTrailer:
      return kExitNoTrailer;
    case AppendedPayload::kLengthPastFile:
      return kExitLengthPastFile;
    case AppendedPayload::kNoByteOrderMark:
      return kExitNoByteOrderMark;
    case AppendedPayload::kSignedUnaligned:
      return kExitSignedUnaligned;
  }
  return kExitFailed;
}

// Reads a packed program's payload; fails with one line on stderr.
int ReadProgram(const std::string& path, AppendedPayload* payload) {
  std::string file;
  if (int status = ReadInput(path, &file))
    return status;
  *payload = ReadAppendedPayload(file);
  if (payload->problem != AppendedPayload::kNone)
    return Fail(PayloadStatus(*payload), path + ": " + payload->why);
  // The program's own reader must agree that it reads.
  HostSetModuleImage(path, file);
  GetModulePath();
  bool reads = ReadPayload();
  FreeRunBuffers();
  HostClearModuleImage();
  if (!reads)
    return Fail(kExitUnreadable, path + ": the program cannot decode its payload");
  return kExitOk;
}

// ---- check --------------------------------------------------------------------

bool Fails(const CheckReport& report, bool werror) {
  if (report.outcome < 0)
    return true;
  if (werror)
    for (const Finding& f : report.findings)
      if (f.severity == Finding::kWarning)
        return true;
  return false;
}

size_t Warnings(const CheckReport& report) {
  size_t count = 0;
  for (const Finding& f : report.findings)
    count += f.severity == Finding::kWarning;
  return count;
}

const char* OutcomeText(int outcome) {
  switch (outcome) {
    case -1:
      return "-1 (\"Error: the disc burning driver setup file is corrupted.\")";
    case -2:
      return "-2 (\"Error: the disc burning driver setup data is not valid.\")";
    case -3:
      return "-3 (\"Error installing disc burning driver data.\"), after "
             "deleting the installed database";
  }
  return "0";
}

void PrintFinding(std::ostream& out, const SourceScript& script,
                  const Finding& f) {
  out << script.path;
  if (f.line)
    out << ":" << f.line << ":" << f.column;
  out << ": " << (f.severity == Finding::kError ? "error" : "warning") << ": "
      << f.message << "\n";
  if (!f.line)
    return;
  std::string line = SourceLine(script, f.line);
  out << line << "\n";
  // The caret keeps the line's tabs, so that it stands under the column.
  SourceScript view;
  std::string error;
  LoadScript("", line, &view, &error);
  std::string caret;
  for (size_t i = 0; i + 1 < f.column && i < view.text.size(); ++i)
    caret.push_back(view.text[i] == U'\t' ? '\t' : ' ');
  for (size_t i = view.text.size(); i + 1 < f.column; ++i)
    caret.push_back(' ');
  out << caret << "^\n";
}

std::string Summary(const CheckReport& report) {
  std::ostringstream out;
  out << "version " << report.version << ", " << report.lines << " lines, "
      << report.headers << " headers, " << report.keys << " keys, "
      << report.values << " values";
  return out.str();
}

void PrintReport(std::ostream& out, const SourceScript& script,
                 const CheckReport& report, bool werror, bool quiet) {
  for (const Finding& f : report.findings)
    if (!quiet || f.severity == Finding::kError)
      PrintFinding(out, script, f);
  size_t warnings = Warnings(report);
  if (report.outcome < 0) {
    out << script.path << ": the setup program would fail with "
        << OutcomeText(report.outcome) << "\n";
  } else {
    out << script.path << ": " << (Fails(report, werror) ? "fails" : "ok")
        << ": " << Summary(report);
    if (warnings)
      out << ", " << warnings << " warning" << (warnings > 1 ? "s" : "")
          << (werror ? " (errors with --werror)" : "");
    out << "\n";
  }
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      snprintf(escaped, sizeof(escaped), "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void PrintJson(std::ostream& out, const SourceScript& script,
               const CheckReport& report, bool werror) {
  out << "  {\"file\": " << JsonString(script.path)
      << ", \"ok\": " << (Fails(report, werror) ? "false" : "true")
      << ", \"outcome\": " << report.outcome << ", \"version\": ";
  if (report.hasVersion)
    out << report.version;
  else
    out << "null";
  out << ", \"lines\": " << report.lines << ", \"headers\": "
      << report.headers << ", \"keys\": " << report.keys
      << ", \"values\": " << report.values << ", \"findings\": [";
  for (size_t i = 0; i < report.findings.size(); ++i) {
    const Finding& f = report.findings[i];
    out << (i ? ", " : "") << "{\"severity\": "
        << (f.severity == Finding::kError ? "\"error\"" : "\"warning\"")
        << ", \"line\": " << f.line << ", \"column\": " << f.column
        << ", \"message\": " << JsonString(f.message) << "}";
  }
  out << "]}";
}

int Check(const std::vector<std::string>& args) {
  bool werror = false, json = false;
  std::vector<std::string> files;
  for (const std::string& arg : args) {
    if (arg == "--werror")
      werror = true;
    else if (arg == "--format=json")
      json = true;
    else if (arg == "--format=text")
      json = false;
    else if (arg.rfind("--", 0) == 0)
      return Usage();
    else
      files.push_back(arg);
  }
  if (files.empty())
    return Usage();
  int status = kExitOk;
  if (json)
    std::cout << "[\n";
  for (size_t i = 0; i < files.size(); ++i) {
    SourceScript script;
    if (int problem = ReadScriptFile(files[i], &script)) {
      status = status ? status : problem;
      continue;
    }
    CheckReport report = CheckScript(script);
    if (Fails(report, werror) && !status)
      status = kExitFailed;
    if (json) {
      PrintJson(std::cout, script, report, werror);
      std::cout << (i + 1 < files.size() ? ",\n" : "\n");
    } else {
      PrintReport(std::cout, script, report, werror, false);
    }
  }
  if (json)
    std::cout << "]\n";
  return status;
}

// ---- pack ---------------------------------------------------------------------

int Pack(const std::vector<std::string>& args) {
  bool force = false, replace = false, werror = false, quiet = false;
  std::string older;
  std::vector<std::string> paths;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--force")
      force = true;
    else if (args[i] == "--replace")
      replace = true;
    else if (args[i] == "--werror")
      werror = true;
    else if (args[i] == "--quiet")
      quiet = true;
    else if (args[i] == "--newer-than" && i + 1 < args.size())
      older = args[++i];
    else if (args[i].rfind("--newer-than=", 0) == 0)
      older = args[i].substr(13);
    else if (args[i].rfind("--", 0) == 0)
      return Usage();
    else
      paths.push_back(args[i]);
  }
  if (paths.size() != 3)
    return Usage();
  const std::string& imagePath = paths[0];
  const std::string& out = paths[2];

  std::string image;
  if (int status = ReadInput(imagePath, &image))
    return status;
  uint64_t end;
  bool isPe;
  if (!FindImageEnd(image, &end, &isPe))
    return Fail(kExitNotExecutable,
                imagePath + ": not an executable: no PE or ELF image");
  // A signature covers every byte before its table: packing after signing
  // breaks it, and so does swapping a signed program's payload.
  if (FindCertificateTable(image).state != CertificateTable::kNone)
    return Fail(kExitSigned,
                imagePath +
                    (replace && end < image.size()
                         ? ": is signed: a new payload would break its "
                           "signature; replace the payload in the unsigned "
                           "program, then sign again"
                         : ": is signed: pack the unsigned image, then sign "
                           "the packed program"));
  if (end < image.size()) {
    if (!replace)
      return Fail(kExitImageCarriesData,
                  imagePath + ": already carries " +
                      std::to_string(image.size() - end) +
                      " bytes after its image (a packed program?); "
                      "--replace swaps its payload");
    image.resize(end);
  }

  SourceScript script;
  if (int status = ReadScriptFile(paths[1], &script))
    return status;
  CheckReport report = CheckScript(script);
  if (Fails(report, werror) || !quiet)
    PrintReport(std::cerr, script, report, werror, quiet);
  if (Fails(report, werror) && !force)
    return Fail(kExitFailed, "pack: refused: " + script.path +
                                 " fails the check (--force packs it anyway)");

  if (!older.empty()) {
    AppendedPayload payload;
    if (int status = ReadProgram(older, &payload))
      return status;
    SourceScript old;
    std::string error;
    uint32_t oldVersion;
    if (!LoadScript(older, payload.script, &old, &error) ||
        !ProbeScript(old, &oldVersion))
      return Fail(kExitFailed, older + ": its script gives no version");
    if (!report.hasVersion || report.version <= oldVersion)
      return Fail(kExitNotNewer,
                  "pack: refused: " + script.path + "'s version " +
                      (report.hasVersion ? std::to_string(report.version)
                                         : std::string("(none)")) +
                      " is not greater than " + older + "'s " +
                      std::to_string(oldVersion) +
                      ": every machine that has it would stay "
                      "\"already up-to-date\"");
  }

  // Windows programs are aligned for signing.
  std::string packed = PackProgram(image, script.shipped, isPe);
  if (!WriteFileAtomically("drvdb", out, packed, imagePath.c_str()))
    return kExitUnwritable;
  return kExitOk;
}

// ---- info and extract ---------------------------------------------------------

int Info(const std::vector<std::string>& args) {
  if (args.size() != 1 || args[0].rfind("--", 0) == 0)
    return Usage();
  AppendedPayload payload;
  if (int status = ReadProgram(args[0], &payload))
    return status;
  SourceScript script;
  std::string error;
  if (!LoadScript(args[0], payload.script, &script, &error))
    return Fail(kExitNotText, args[0] + ": " + error);
  CheckReport report = CheckScript(script);
  std::cout << args[0] << ": payload reads\n"
            << "  image ends at:   " << payload.imageEnd << "\n";
  if (payload.table.state == CertificateTable::kAtEnd)
    std::cout << "  signed:          certificate table at "
              << payload.table.at << " (" << payload.table.size
              << " bytes); the payload lies before it\n";
  else
    std::cout << "  signed:          no\n";
  std::cout
            << "  script bytes:    " << payload.length << "\n"
            << "  version:         "
            << (report.hasVersion ? std::to_string(report.version) : "none")
            << "\n"
            << "  lines:           " << report.lines << "\n"
            << "  headers:         " << report.headers << "\n"
            << "  distinct keys:   " << report.keys << "\n"
            << "  values:          " << report.values << "\n"
            << "  check:           ";
  if (report.outcome < 0) {
    for (const Finding& f : report.findings)
      if (f.severity == Finding::kError) {
        std::cout << "fails with " << report.outcome << ": line " << f.line
                  << ", column " << f.column << ": " << f.message << "\n";
        break;
      }
    return kExitFailed;
  }
  size_t warnings = Warnings(report);
  std::cout << "ok" << (warnings ? ", " + std::to_string(warnings) +
                                       " warning(s) (drvdb check shows them)"
                                 : std::string())
            << "\n";
  return kExitOk;
}

int Extract(const std::vector<std::string>& args) {
  if (args.size() != 2 || args[0].rfind("--", 0) == 0)
    return Usage();
  AppendedPayload payload;
  std::string file;
  if (int status = ReadInput(args[0], &file))
    return status;
  payload = ReadAppendedPayload(file);
  // A script without its byte-order mark still comes out as it is.
  if (payload.problem != AppendedPayload::kNone &&
      payload.problem != AppendedPayload::kNoByteOrderMark)
    return Fail(PayloadStatus(payload), args[0] + ": " + payload.why);
  if (!WriteFileAtomically("drvdb", args[1], payload.script))
    return kExitUnwritable;
  if (payload.problem != AppendedPayload::kNone)
    return Fail(kExitNoByteOrderMark, args[0] + ": extracted, but " +
                                          payload.why);
  return kExitOk;
}

// ---- diff ---------------------------------------------------------------------

// A program (its payload) or a script file.
int LoadEither(const std::string& path, SourceScript* script) {
  std::string file;
  if (int status = ReadInput(path, &file))
    return status;
  uint64_t end;
  std::string bytes = file;
  if (FindImageEnd(file, &end)) {
    AppendedPayload payload;
    if (int status = ReadProgram(path, &payload))
      return status;
    bytes = payload.script;
  }
  std::string error;
  if (!LoadScript(path, bytes, script, &error))
    return Fail(kExitNotText, path + ": " + error);
  return kExitOk;
}

void PrintValues(const char* sign, const TreeKey& key) {
  for (const auto& value : key.values)
    std::cout << sign << "     \"" << value.first << "\"=" << value.second
              << "\n";
}

int Diff(const std::vector<std::string>& args) {
  if (args.size() != 2 || args[0].rfind("--", 0) == 0 ||
      args[1].rfind("--", 0) == 0)
    return Usage();
  SourceScript oldScript, newScript;
  if (int status = LoadEither(args[0], &oldScript))
    return status;
  if (int status = LoadEither(args[1], &newScript))
    return status;

  ResetMachine();
  bool oldHas, newHas;
  uint32_t oldVersion = 0, newVersion = 0;
  int oldOutcome = InstallScript(oldScript, &oldHas, &oldVersion);
  InstalledTree before = ReadInstalledTree();
  int newOutcome = InstallScript(newScript, &newHas, &newVersion);
  bool differs = oldHas != newHas || oldVersion != newVersion;

  auto version = [](bool has, uint32_t v) {
    return has ? std::to_string(v) : std::string("none");
  };
  std::cout << "version: " << version(oldHas, oldVersion) << " -> "
            << version(newHas, newVersion) << "\n";
  if (oldOutcome < 0)
    std::cout << "note: " << args[0] << " does not install: the program "
              << "fails with " << oldOutcome << "\n";
  if (newOutcome == 1) {
    std::cout << "note: " << args[1] << "'s version is not greater: machines "
              << "with " << args[0] << " stay \"already up-to-date\"; had "
              << "the update run, it would do this:\n";
    ResetMachine();
    InstallScript(oldScript, &oldHas, &oldVersion);
    ForgetInstalledVersion();
    newOutcome = InstallScript(newScript, &newHas, &newVersion);
  }
  if (newOutcome < 0)
    std::cout << "note: " << args[1] << " does not install: the program "
              << "fails with " << newOutcome << " part way\n";
  InstalledTree after = ReadInstalledTree();

  size_t keysAdded = 0, keysRemoved = 0, added = 0, removed = 0, changed = 0;
  auto a = before.keys.begin(), b = after.keys.begin();
  while (a != before.keys.end() || b != after.keys.end()) {
    if (b == after.keys.end() || (a != before.keys.end() && a->first < b->first)) {
      std::cout << "- [" << a->second.path << "]\n";
      PrintValues("-", a->second);
      ++keysRemoved;
      removed += a->second.values.size();
      ++a;
    } else if (a == before.keys.end() || b->first < a->first) {
      std::cout << "+ [" << b->second.path << "]\n";
      PrintValues("+", b->second);
      ++keysAdded;
      added += b->second.values.size();
      ++b;
    } else {
      std::map<std::string, std::string> oldValues, newValues, spelled;
      for (const auto& v : a->second.values)
        oldValues[HostFoldName(v.first)] = v.second, spelled[HostFoldName(v.first)] = v.first;
      for (const auto& v : b->second.values)
        newValues[HostFoldName(v.first)] = v.second, spelled[HostFoldName(v.first)] = v.first;
      std::ostringstream lines;
      for (const auto& v : oldValues) {
        auto n = newValues.find(v.first);
        if (n == newValues.end()) {
          lines << "-     \"" << spelled[v.first] << "\"=" << v.second << "\n";
          ++removed;
        } else if (n->second != v.second) {
          lines << "-     \"" << spelled[v.first] << "\"=" << v.second << "\n"
                << "+     \"" << spelled[v.first] << "\"=" << n->second << "\n";
          ++changed;
        }
      }
      for (const auto& v : newValues)
        if (!oldValues.count(v.first)) {
          lines << "+     \"" << spelled[v.first] << "\"=" << v.second << "\n";
          ++added;
        }
      if (!lines.str().empty())
        std::cout << "  [" << b->second.path << "]\n" << lines.str();
      ++a;
      ++b;
    }
  }
  differs = differs || keysAdded || keysRemoved || added || removed || changed;
  std::cout << keysAdded << " keys added, " << keysRemoved << " removed; "
            << added << " values added, " << removed << " removed, "
            << changed << " changed\n";
  return differs ? kExitFailed : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty())
    return Usage();
  std::string command = args[0];
  args.erase(args.begin());
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << kUsage << "\n" << kHelp;
    return kExitOk;
  }
  if (command == "check")
    return Check(args);
  if (command == "pack")
    return Pack(args);
  if (command == "info")
    return Info(args);
  if (command == "extract")
    return Extract(args);
  if (command == "diff")
    return Diff(args);
  return Usage();
}
