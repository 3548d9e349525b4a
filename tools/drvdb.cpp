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
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "payload/payload.h"
#include "payload/payload_io_host.h"
#include "platform/host/trace.h"
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
    "usage: drvdb check [--werror] [--allow=NAME] [--format=text|json] FILE...\n"
    "       drvdb pack [--force] [--replace] [--newer-than OLD] [--werror]\n"
    "                  [--allow=NAME] [--quiet] IMAGE SCRIPT OUT\n"
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
    "Wherever a command takes a script it also takes a packed program, and\n"
    "reads the script it carries. The version is hexadecimal, as the\n"
    "program reads it: dword:00000047 is version 71.\n"
    "\n"
    "drvdb check [OPTIONS] FILE...\n"
    "    Installs each script as the program would on a machine without the\n"
    "    database. Reports the first line that would make the run fail\n"
    "    (FILE:LINE:COLUMN: error: ..., with the line and a caret), findings\n"
    "    that fail the gate although the program would install the script,\n"
    "    warnings for what the program silently ignores or changes, and a\n"
    "    summary line: version, lines, headers, distinct keys and values.\n"
    "    --werror          warnings fail the check too\n"
    "    --allow=NAME      a finding of this kind no longer fails the gate\n"
    "    --format=json     the same findings as one JSON array, for CI\n"
    "\n"
    "drvdb pack [OPTIONS] IMAGE SCRIPT OUT\n"
    "    Writes OUT as IMAGE, then SCRIPT (UTF-8 is converted to UTF-16LE\n"
    "    with its byte-order mark), then the script's length in four bytes,\n"
    "    through a temporary file, so OUT is never half-written. A Windows\n"
    "    program is aligned for signing: sign OUT afterwards, never IMAGE.\n"
    "    Checks the script first and refuses one that fails.\n"
    "    --force           pack a script that the program would fail on\n"
    "    --replace         IMAGE already carries a payload: swap it\n"
    "    --newer-than OLD  refuse unless the script's version is greater\n"
    "                      than OLD's (a script or a program): machines with\n"
    "                      OLD would otherwise never update; warns when the\n"
    "                      version jumps by more than 100\n"
    "    --werror          warnings fail the check too\n"
    "    --allow=NAME      a finding of this kind no longer fails the gate\n"
    "    --quiet           show no warnings, only errors\n"
    "\n"
    "drvdb info EXE\n"
    "    Whether EXE's payload reads, whether EXE is signed and, if the\n"
    "    payload reads, its version, script bytes, lines, headers, distinct\n"
    "    keys, values and check verdict.\n"
    "\n"
    "drvdb extract EXE OUT\n"
    "    Writes EXE's script out byte for byte.\n"
    "\n"
    "drvdb diff OLD NEW\n"
    "    What an update from OLD to NEW (each a program or a script) does to\n"
    "    a machine: the version change, keys added and removed, values\n"
    "    added, removed and changed; control characters in names show as\n"
    "    their pictures (a line feed as \xe2\x90\x8a). Exit status 0 when\n"
    "    nothing differs, 1 when something does.\n";

const char kExitHelp[] =
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

// A version that jumps further than this is probably a typing error, and no
// machine ever goes back below it.
const uint32_t kLargeVersionJump = 100;

int Usage(const std::string& what) {
  std::cerr << "drvdb: " << what << "\n" << kUsage;
  return kExitUsage;
}

int Fail(int status, const std::string& what) {
  std::cerr << "drvdb: " << what << "\n";
  return status;
}

// An output path that looks like an option is a mistake more often than a
// file name; "./-x" still names such a file.
bool LooksLikeOption(const std::string& path) {
  return path.size() > 1 && path[0] == '-';
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

int PayloadStatus(const AppendedPayload& payload) {
  static const int kStatus[] = {
      kExitOk,           kExitEmpty,           kExitNotExecutable,
      kExitNoTrailer,    kExitLengthPastFile,  kExitNoByteOrderMark,
      kExitSignedUnaligned,
  };  // by AppendedPayload::Problem
  return kStatus[payload.problem];
}

// Reads a packed program's payload; fails with one line on stderr.
int ReadProgram(const std::string& path, const std::string& file,
                AppendedPayload* payload) {
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

// A script file, or the script that a packed program carries.
int LoadEither(const std::string& path, SourceScript* script,
               AppendedPayload* payload = nullptr) {
  std::string file;
  if (int status = ReadInput(path, &file))
    return status;
  uint64_t end;
  AppendedPayload found;
  if (FindImageEnd(file, &end)) {
    if (int status = ReadProgram(path, file, &found))
      return status;
    file = found.script;
  }
  if (payload)
    *payload = found;
  std::string error;
  if (!LoadScript(path, file, script, &error))
    return Fail(kExitNotText, path + ": " + error);
  return kExitOk;
}

// ---- The gate -----------------------------------------------------------------

// What fails a check besides the program's own failure.
struct Gate {
  bool werror = false;
  bool quiet = false;
  std::set<std::string> allowed;  // gate kinds shipped knowingly
};

// Takes --werror and --allow=NAME; false for anything else. A wrong NAME is
// a wrong call.
bool TakeGateOption(const std::string& arg, Gate* gate, std::string* wrong) {
  if (arg == "--werror") {
    gate->werror = true;
    return true;
  }
  if (arg.rfind("--allow=", 0) != 0)
    return false;
  std::string name = arg.substr(8);
  for (const GateKind& kind : kGateKinds)
    if (name == kind.name) {
      gate->allowed.insert(name);
      return true;
    }
  *wrong = "--allow: no kind of finding is called \"" + name + "\"";
  return true;
}

bool Allowed(const Gate& gate, const Finding& f) {
  return f.gate && gate.allowed.count(f.gate);
}

bool Blocks(const Gate& gate, const Finding& f) {
  if (f.severity == Finding::kWarning)
    return gate.werror;
  return !Allowed(gate, f);
}

bool Fails(const CheckReport& report, const Gate& gate) {
  if (report.outcome < 0)
    return true;
  for (const Finding& f : report.findings)
    if (Blocks(gate, f))
      return true;
  return false;
}

size_t Count(const CheckReport& report, bool gateFindings) {
  size_t count = 0;
  for (const Finding& f : report.findings)
    count += gateFindings ? f.gate != nullptr
                          : f.severity == Finding::kWarning;
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
             "deleting the installed database (which also forgets its "
             "version: the next good program repairs it)";
  }
  return "0";
}

const char* Label(const Gate& gate, const Finding& f) {
  if (f.severity == Finding::kWarning)
    return "warning";
  return Allowed(gate, f) ? "allowed" : "error";
}

std::string Message(const Finding& f) {
  return f.gate ? f.message + " [--allow=" + f.gate + "]" : f.message;
}

void PrintFinding(std::ostream& out, const SourceScript& script,
                  const Finding& f, const Gate& gate) {
  out << script.path;
  if (f.line)
    out << ":" << f.line << ":" << f.column;
  out << ": " << Label(gate, f) << ": " << Message(f) << "\n";
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
  out << "version " << VersionShown(report) << ", " << report.lines
      << " lines, " << report.headers << " headers, " << report.keys
      << " keys, " << report.values << " values";
  return out.str();
}

void PrintReport(std::ostream& out, const SourceScript& script,
                 const CheckReport& report, const Gate& gate) {
  for (const Finding& f : report.findings)
    if (!gate.quiet || f.severity == Finding::kError)
      PrintFinding(out, script, f, gate);
  if (report.outcome < 0) {
    out << script.path << ": the setup program would fail with "
        << OutcomeText(report.outcome) << "\n";
    return;
  }
  out << script.path << ": " << (Fails(report, gate) ? "fails" : "ok") << ": "
      << Summary(report);
  if (size_t gated = Count(report, true))
    out << "; the program would install it (exit 0), but " << gated
        << " finding(s) write what no maintainer means"
        << (Fails(report, gate) ? " (--allow=NAME ships them knowingly)"
                                : ", allowed");
  if (size_t warnings = Count(report, false))
    out << ", " << warnings << " warning" << (warnings > 1 ? "s" : "")
        << (gate.werror ? " (errors with --werror)" : "");
  out << "\n";
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
               const CheckReport& report, const Gate& gate) {
  out << "  {\"file\": " << JsonString(script.path)
      << ", \"ok\": " << (Fails(report, gate) ? "false" : "true")
      << ", \"outcome\": " << report.outcome << ", \"version\": ";
  if (report.hasVersion)
    out << report.version << ", \"version_text\": "
        << JsonString(report.versionText);
  else
    out << "null";
  out << ", \"lines\": " << report.lines << ", \"headers\": "
      << report.headers << ", \"keys\": " << report.keys
      << ", \"values\": " << report.values << ", \"findings\": [";
  for (size_t i = 0; i < report.findings.size(); ++i) {
    const Finding& f = report.findings[i];
    out << (i ? ", " : "") << "{\"severity\": \"" << Label(gate, f) << "\""
        << ", \"line\": " << f.line << ", \"column\": " << f.column;
    if (f.gate)
      out << ", \"kind\": " << JsonString(f.gate);
    out << ", \"message\": " << JsonString(f.message) << "}";
  }
  out << "]}";
}

// ---- check --------------------------------------------------------------------

int Check(const std::vector<std::string>& args) {
  Gate gate;
  bool json = false;
  std::vector<std::string> files;
  for (const std::string& arg : args) {
    std::string wrong;
    if (TakeGateOption(arg, &gate, &wrong)) {
      if (!wrong.empty())
        return Usage("check: " + wrong);
    } else if (arg == "--format=json" || arg == "--format=text") {
      json = arg == "--format=json";
    } else if (LooksLikeOption(arg)) {
      return Usage("check: unknown option " + arg);
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty())
    return Usage("check: name at least one script or program");
  int status = kExitOk;
  if (json)
    std::cout << "[\n";
  for (size_t i = 0; i < files.size(); ++i) {
    SourceScript script;
    if (int problem = LoadEither(files[i], &script)) {
      status = status ? status : problem;
      continue;
    }
    CheckReport report = CheckScript(script);
    if (Fails(report, gate) && !status)
      status = kExitFailed;
    if (json) {
      PrintJson(std::cout, script, report, gate);
      std::cout << (i + 1 < files.size() ? ",\n" : "\n");
    } else {
      PrintReport(std::cout, script, report, gate);
    }
  }
  if (json)
    std::cout << "]\n";
  return status;
}

// ---- pack ---------------------------------------------------------------------

struct PackCall {
  bool force = false, replace = false;
  Gate gate;
  std::string older;
  std::vector<std::string> paths;  // IMAGE, SCRIPT, OUT
};

int ParsePack(const std::vector<std::string>& args, PackCall* call) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string wrong;
    if (arg == "--force") {
      call->force = true;
    } else if (arg == "--replace") {
      call->replace = true;
    } else if (arg == "--quiet") {
      call->gate.quiet = true;
    } else if (TakeGateOption(arg, &call->gate, &wrong)) {
      if (!wrong.empty())
        return Usage("pack: " + wrong);
    } else if (arg == "--newer-than") {
      if (i + 1 == args.size())
        return Usage("pack: --newer-than needs OLD, a script or a program");
      call->older = args[++i];
    } else if (arg.rfind("--newer-than=", 0) == 0) {
      call->older = arg.substr(13);
    } else if (LooksLikeOption(arg) && call->paths.size() < 2) {
      return Usage("pack: unknown option " + arg);
    } else {
      call->paths.push_back(arg);
    }
  }
  if (call->paths.size() != 3)
    return Usage("pack: needs IMAGE, SCRIPT and OUT; got " +
                 std::to_string(call->paths.size()) + " file(s)");
  if (LooksLikeOption(call->paths[2]))
    return Usage("pack: OUT \"" + call->paths[2] +
                 "\" looks like an option (write ./" + call->paths[2] +
                 " for a file of that name)");
  return kExitOk;
}

// The image to pack: its payload taken off with --replace; never a signed
// one, whose signature packing would break.
int ReadImage(const std::string& path, bool replace, std::string* image,
              bool* isPe) {
  if (int status = ReadInput(path, image))
    return status;
  uint64_t end;
  if (!FindImageEnd(*image, &end, isPe))
    return Fail(kExitNotExecutable,
                path + ": not an executable: no PE or ELF image");
  if (FindCertificateTable(*image).state != CertificateTable::kNone)
    return Fail(kExitSigned,
                path + (replace && end < image->size()
                            ? ": is signed: a new payload would break its "
                              "signature; replace the payload in the "
                              "unsigned program, then sign again"
                            : ": is signed: pack the unsigned image, then "
                              "sign the packed program"));
  if (end < image->size()) {
    if (!replace)
      return Fail(kExitImageCarriesData,
                  path + ": already carries " +
                      std::to_string(image->size() - end) +
                      " bytes after its image (a packed program?); "
                      "--replace swaps its payload");
    image->resize(end);
  }
  return kExitOk;
}

// Machines that have OLD update only to a greater version, and never go
// back below one: says the jump, refuses none, warns of a large one.
int CheckNewer(const PackCall& call, const SourceScript& script,
               const CheckReport& report) {
  SourceScript old;
  if (int status = LoadEither(call.older, &old))
    return status;
  CheckReport oldReport = CheckScript(old);
  if (!oldReport.hasVersion)
    return Fail(kExitFailed, call.older + ": its script gives no version");
  if (!report.hasVersion || report.version <= oldReport.version)
    return Fail(kExitNotNewer,
                "pack: refused: " + script.path + "'s version " +
                    VersionShown(report) + " is not greater than " +
                    call.older + "'s " + VersionShown(oldReport) +
                    ": every machine that has it would stay "
                    "\"already up-to-date\"");
  const uint32_t jump = report.version - oldReport.version;
  if (!call.gate.quiet)
    std::cerr << "drvdb: pack: version " << VersionShown(oldReport) << " -> "
              << VersionShown(report) << "\n";
  if (jump > kLargeVersionJump) {
    std::cerr << "drvdb: warning: the version jumps by " << jump << " ("
              << oldReport.version << " -> " << report.version
              << "): no machine ever goes back below " << report.version
              << "; the version is hexadecimal\n";
    if (call.gate.werror)
      return Fail(kExitFailed, "pack: refused: a warning with --werror");
  }
  return kExitOk;
}

int Pack(const std::vector<std::string>& args) {
  PackCall call;
  if (int status = ParsePack(args, &call))
    return status;
  std::string image;
  bool isPe;
  if (int status = ReadImage(call.paths[0], call.replace, &image, &isPe))
    return status;
  SourceScript script;
  if (int status = LoadEither(call.paths[1], &script))
    return status;
  CheckReport report = CheckScript(script);
  bool fails = Fails(report, call.gate);
  if (fails || !call.gate.quiet)
    PrintReport(std::cerr, script, report, call.gate);
  if (fails && !(call.force && report.outcome < 0))
    return Fail(kExitFailed, "pack: refused: " + script.path +
                                 (report.outcome < 0
                                      ? " fails the check (--force packs it "
                                        "anyway)"
                                      : " fails the gate"));
  if (!call.older.empty())
    if (int status = CheckNewer(call, script, report))
      return status;
  // Windows programs are aligned for signing.
  std::string packed = PackProgram(image, script.shipped, isPe);
  if (!WriteFileAtomically("drvdb", call.paths[2], packed,
                           call.paths[0].c_str()))
    return kExitUnwritable;
  return kExitOk;
}

// ---- info and extract ---------------------------------------------------------

void PrintCheckLine(const CheckReport& report) {
  std::cout << "  check:           ";
  for (const Finding& f : report.findings) {
    if (f.severity != Finding::kError)
      continue;
    std::cout << (f.gate ? "fails the gate (the program itself installs "
                           "it, exit 0)"
                         : "fails with " + std::to_string(report.outcome));
    if (f.line)
      std::cout << ": line " << f.line << ", column " << f.column;
    std::cout << ": " << Message(f) << "\n";
    return;
  }
  size_t warnings = Count(report, false);
  std::cout << "ok" << (warnings ? ", " + std::to_string(warnings) +
                                       " warning(s) (drvdb check shows them)"
                                 : std::string())
            << "\n";
}

int Info(const std::vector<std::string>& args) {
  if (args.size() != 1 || LooksLikeOption(args[0]))
    return Usage("info: needs one program, EXE");
  SourceScript script;
  AppendedPayload payload;
  std::string file;
  if (int status = ReadInput(args[0], &file))
    return status;
  if (int status = ReadProgram(args[0], file, &payload))
    return status;
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
  std::cout << "  script bytes:    " << payload.length << "\n"
            << "  version:         " << VersionShown(report) << "\n"
            << "  lines:           " << report.lines << "\n"
            << "  headers:         " << report.headers << "\n"
            << "  distinct keys:   " << report.keys << "\n"
            << "  values:          " << report.values << "\n";
  PrintCheckLine(report);
  return Fails(report, Gate()) ? kExitFailed : kExitOk;
}

int Extract(const std::vector<std::string>& args) {
  if (args.size() != 2 || LooksLikeOption(args[0]))
    return Usage("extract: needs a program and where to write its script, "
                 "EXE and OUT");
  if (LooksLikeOption(args[1]))
    return Usage("extract: OUT \"" + args[1] +
                 "\" looks like an option (write ./" + args[1] +
                 " for a file of that name)");
  std::string file;
  if (int status = ReadInput(args[0], &file))
    return status;
  AppendedPayload payload = ReadAppendedPayload(file);
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

struct DiffCounts {
  size_t keysAdded = 0, keysRemoved = 0, added = 0, removed = 0, changed = 0;
  bool Any() const {
    return keysAdded || keysRemoved || added || removed || changed;
  }
};

void PrintKey(const char* sign, const TreeKey& key) {
  std::cout << sign << " [" << key.path << "]\n";
  for (const auto& value : key.values)
    std::cout << sign << "     \"" << value.second.first
              << "\"=" << value.second.second << "\n";
}

// One key in both trees: its values removed, changed and added.
void DiffValues(const TreeKey& before, const TreeKey& after,
                DiffCounts* counts) {
  std::ostringstream lines;
  auto line = [&](char sign, const std::string& name, const std::string& shown) {
    lines << sign << "     \"" << name << "\"=" << shown << "\n";
  };
  for (const auto& [folded, value] : before.values) {
    auto now = after.values.find(folded);
    if (now == after.values.end()) {
      line('-', value.first, value.second);
      ++counts->removed;
    } else if (now->second.second != value.second) {
      line('-', value.first, value.second);
      line('+', now->second.first, now->second.second);
      ++counts->changed;
    }
  }
  for (const auto& [folded, value] : after.values)
    if (!before.values.count(folded)) {
      line('+', value.first, value.second);
      ++counts->added;
    }
  if (!lines.str().empty())
    std::cout << "  [" << after.path << "]\n" << lines.str();
}

DiffCounts DiffTrees(const InstalledTree& before, const InstalledTree& after) {
  DiffCounts counts;
  auto a = before.begin(), b = after.begin();
  while (a != before.end() || b != after.end()) {
    if (b == after.end() || (a != before.end() && a->first < b->first)) {
      PrintKey("-", a->second);
      ++counts.keysRemoved;
      counts.removed += (a++)->second.values.size();
    } else if (a == before.end() || b->first < a->first) {
      PrintKey("+", b->second);
      ++counts.keysAdded;
      counts.added += (b++)->second.values.size();
    } else {
      DiffValues((a++)->second, (b++)->second, &counts);
    }
  }
  return counts;
}

int Diff(const std::vector<std::string>& args) {
  if (args.size() != 2 || LooksLikeOption(args[0]) || LooksLikeOption(args[1]))
    return Usage("diff: needs OLD and NEW, each a script or a program");
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
  DiffCounts counts = DiffTrees(before, ReadInstalledTree());
  std::cout << counts.keysAdded << " keys added, " << counts.keysRemoved
            << " removed; " << counts.added << " values added, "
            << counts.removed << " removed, " << counts.changed
            << " changed\n";
  bool differs = counts.Any() || oldHas != newHas || oldVersion != newVersion;
  return differs ? kExitFailed : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty())
    return Usage("no command given");
  std::string command = args[0];
  args.erase(args.begin());
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << kUsage << "\n" << kHelp << "\nKinds of finding that fail "
              << "the gate (--allow=NAME):\n";
    for (const GateKind& kind : kGateKinds)
      std::cout << "    " << kind.name << ": " << kind.what << "\n";
    std::cout << kExitHelp;
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
  return Usage("unknown command \"" + command + "\"");
}
