// drvdb: checks, packs and inspects the drive database that the setup
// program carries. Its verdicts come from the program's own payload
// decoding, version probe and import, run against the in-memory registry
// stand-in, so they cannot disagree with what the program does on a
// machine. `drvdb --help` lists every command, option and exit status.

#include <stdio.h>

#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "payload/payload.h"
#include "payload/payload_io_host.h"
#include "script/database.h"
#include "setup/setup_run.h"
#include "tools/executable.h"
#include "tools/tool_platform.h"
#include "tools/script_check.h"

namespace {

// Exit statuses, one per kind of outcome.
enum Exit {
  kExitOk = 0,
  kExitFailed = 1,          // check failed, pack refused the script, diff differs
  kExitUsage = 2,           // a wrong call, or an output that is an input
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
  kExitDamaged = 17,        // the integrity record does not match
};

const char kUsage[] =
    "usage: drvdb check [--werror] [--allow=NAME,...] [--format=text|json] "
    "FILE...\n"
    "       drvdb pack [--force] [--replace] [--newer-than OLD]\n"
    "                  [--allow=NAME,...] [--quiet] IMAGE SCRIPT OUT\n"
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
    "    (FILE:LINE:COLUMN: error: ..., with the line and a caret), errors\n"
    "    for what the program would install but no maintainer means,\n"
    "    warnings for what it silently ignores or changes, and a summary\n"
    "    line: version, lines, headers, distinct keys and values. Each\n"
    "    finding names its kind: [--allow=NAME]. Errors fail the check.\n"
    "    --werror          warnings fail the check too\n"
    "    --allow=NAME,...  findings of these kinds no longer fail\n"
    "    --format=json     the same findings as one JSON array, for CI\n"
    "\n"
    "drvdb pack [OPTIONS] IMAGE SCRIPT OUT\n"
    "    Writes OUT as IMAGE, an integrity record (a CRC-32 of the\n"
    "    program, which it checks before anything else), then SCRIPT\n"
    "    (UTF-8 is converted to UTF-16LE with its byte-order mark), then the\n"
    "    script's length in four bytes. --replace writes a fresh record.\n"
    "    A Windows program is aligned for signing: sign OUT afterwards,\n"
    "    never IMAGE. A release is a deliberate act: pack refuses a script\n"
    "    with any finding, warnings included, unless its kind is allowed.\n"
    "    --force           pack a script that the program would fail on\n"
    "    --replace         IMAGE already carries a payload: swap it\n"
    "    --newer-than OLD  refuse unless the script's version is greater\n"
    "                      than OLD's (a script or a program): machines with\n"
    "                      OLD would otherwise never update; a jump of more\n"
    "                      than 100 is a finding (version-jump)\n"
    "    --allow=NAME,...  findings of these kinds are shipped knowingly\n"
    "    --quiet           show only the findings that refuse the script\n"
    "\n"
    "drvdb info EXE\n"
    "    Whether EXE's payload reads, whether EXE is signed, whether it\n"
    "    carries an integrity record and whether the record matches and,\n"
    "    if the payload reads, its version, script bytes, lines, headers,\n"
    "    distinct keys, values and check verdict.\n"
    "\n"
    "drvdb extract EXE OUT\n"
    "    Writes EXE's script out byte for byte.\n"
    "\n"
    "drvdb diff OLD NEW\n"
    "    What an update from OLD to NEW (each a program or a script) does to\n"
    "    a machine: the version change, keys added and removed, values\n"
    "    added, removed and changed, each with the line that writes it\n"
    "    (FILE:LINE), added and changed ones as NEW spells them, removed\n"
    "    ones as OLD does; control characters in names show as their\n"
    "    pictures (a line feed as \xe2\x90\x8a). Exit status 0 when nothing\n"
    "    differs, 1 when something does.\n"
    "\n"
    "OUT is never one of the command's inputs; - is standard output. A file\n"
    "is replaced whole through a new temporary file beside it, and a\n"
    "symbolic link stays a link to the file it names.\n";

const char kExitHelp[] =
    "\n"
    "Exit status:\n"
    "    0  success\n"
    "    1  a script fails the check, pack refused it, or diff found changes\n"
    "    2  wrong call, or OUT is one of the inputs\n"
    "    3  no such file               4  not a regular file\n"
    "    5  a file cannot be read      6  the output cannot be written\n"
    "    7  empty file                 8  not an executable (PE or ELF)\n"
    "    9  no payload or trailer      10 the trailer's length does not fit\n"
    "    11 no byte-order mark         12 IMAGE already carries a payload\n"
    "    13 not newer than OLD         14 a script that is not text\n"
    "    15 IMAGE is signed (sign after packing)\n"
    "    16 signed after a payload the program cannot find (unaligned)\n"
    "    17 a damaged copy: its integrity record does not match\n";

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
// file name; "./-x" still names such a file, and "-" is standard output.
bool LooksLikeOption(const std::string& path) {
  return path.size() > 1 && path[0] == '-';
}

// OUT must name none of the inputs, by any name: writing it would destroy
// what it is made from.
int CheckOutput(const std::string& command, const std::string& out,
                const std::vector<std::string>& inputs) {
  if (LooksLikeOption(out))
    return Usage(command + ": OUT \"" + out +
                 "\" looks like an option (write ./" + out +
                 " for a file of that name)");
  std::string input = SameFileAs(out, inputs);
  if (!input.empty())
    return Usage(command + ": OUT " + out + " is " +
                 (input == out ? "an input" : "the same file as " + input) +
                 ": it would be destroyed; name another OUT");
  return kExitOk;
}

// Reads a whole input file; on failure says why on stderr.
int ReadInput(const std::string& path, std::string* bytes) {
  switch (ReadInputFile(path, bytes)) {
    case InputProblem::kNone:
      return kExitOk;
    case InputProblem::kMissing:
      return Fail(kExitMissing, path + ": no such file");
    case InputProblem::kNotAFile:
      return Fail(kExitNotAFile, path + ": not a regular file");
    case InputProblem::kUnreadable:
      break;
  }
  return Fail(kExitUnreadable, path + ": cannot be read");
}

int PayloadStatus(const AppendedPayload& payload) {
  static const int kStatus[] = {
      kExitOk,           kExitEmpty,           kExitNotExecutable,
      kExitNoTrailer,    kExitLengthPastFile,  kExitNoByteOrderMark,
      kExitSignedUnaligned, kExitDamaged,
  };  // by AppendedPayload::Problem
  return kStatus[payload.problem];
}

// Reads a packed program's payload; fails with one line on stderr.
int ReadProgram(const std::string& path, const std::string& file,
                AppendedPayload* payload) {
  *payload = ReadAppendedPayload(file);
  if (payload->problem != AppendedPayload::kNone)
    return Fail(PayloadStatus(*payload), path + ": " + payload->why);
  // The program's own run must agree that it reads.
  HostSetModuleImage(path, file);
  GetModulePath();
  bool reads = ReadPayload();
  FreeRunBuffers();
  HostClearModuleImage();
  if (!reads)
    return Fail(kExitUnreadable, path + ": the program cannot decode its payload");
  return kExitOk;
}

int NotText(const std::string& path, const LoadError& error) {
  std::string where = error.line ? ":" + std::to_string(error.line) + ":" +
                                       std::to_string(error.column)
                                 : "";
  return Fail(kExitNotText, path + where + ": error: " + error.message);
}

// A script file, or the script that a packed program carries.
int LoadEither(const std::string& path, SourceScript* script) {
  std::string file;
  if (int status = ReadInput(path, &file))
    return status;
  uint64_t end;
  if (FindImageEnd(file, &end)) {
    AppendedPayload found;
    if (int status = ReadProgram(path, file, &found))
      return status;
    file = found.script;
  }
  LoadError error;
  if (!LoadScript(path, file, script, &error))
    return NotText(path, error);
  return kExitOk;
}

// ---- The gate -----------------------------------------------------------------

// Takes --werror and --allow=NAME,...; false for anything else. A NAME that
// is no kind is a wrong call.
bool TakeGateOption(const std::string& arg, Gate* gate, std::string* wrong) {
  if (arg == "--werror") {
    gate->werror = true;
    return true;
  }
  if (arg.rfind("--allow=", 0) != 0)
    return false;
  std::stringstream names(arg.substr(8));
  for (std::string name; std::getline(names, name, ',');) {
    if (name.empty())
      continue;
    if (!FindKind(name)) {
      *wrong = "--allow: no kind of finding is called \"" + name +
               "\" (drvdb --help lists them)";
      return true;
    }
    gate->allowed.insert(name);
  }
  return true;
}

std::string OutcomeText(int outcome) {
  std::string text = std::to_string(outcome) + " (\"" +
                     OutcomeBoxText(outcome) + "\")";
  if (outcome == kOutcomeInstallFailed)
    text += ", after deleting the installed database (which also forgets "
            "its version: the next good program repairs it)";
  return text;
}

const char* Label(const Gate& gate, const Finding& f) {
  if (Allowed(gate, f))
    return "allowed";
  return f.severity == Finding::kWarning ? "warning" : "error";
}

std::string Message(const Finding& f) {
  return f.kind ? f.message + " [--allow=" + f.kind + "]" : f.message;
}

void PrintFinding(std::ostream& out, const SourceScript& script,
                  const Finding& f, const Gate& gate) {
  out << script.path << ":" << f.line << ":" << f.column << ": "
      << Label(gate, f) << ": " << Message(f) << "\n";
  std::string line = SourceLine(script, f.line);
  out << line << "\n";
  // The caret keeps the line's tabs, so that it stands under the column.
  SourceScript view;
  LoadError error;
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
                 const CheckReport& report, const Gate& gate, bool quiet) {
  size_t errors = 0, warnings = 0, allowed = 0;
  for (const Finding& f : report.findings) {
    if (!quiet || Blocks(gate, f) || !f.kind)
      PrintFinding(out, script, f, gate);
    if (Allowed(gate, f))
      ++allowed;
    else if (f.severity == Finding::kWarning)
      ++warnings;
    else if (f.kind)
      ++errors;
  }
  if (report.outcome < 0) {
    out << script.path << ": the setup program would fail with "
        << OutcomeText(report.outcome) << "\n";
    return;
  }
  out << script.path << ": " << (Fails(report, gate) ? "fails" : "ok") << ": "
      << Summary(report);
  if (errors)
    out << "; the program would install it (exit 0), but " << errors
        << " error(s) write what no maintainer means";
  if (warnings)
    out << (errors ? ", " : "; ") << warnings << " warning"
        << (warnings > 1 ? "s" : "")
        << (gate.strict || gate.werror ? "" : " (errors with --werror)");
  if (allowed)
    out << (errors || warnings ? ", " : "; ") << allowed << " allowed";
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
    if (f.kind)
      out << ", \"kind\": " << JsonString(f.kind);
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
      PrintReport(std::cout, script, report, gate, false);
    }
  }
  if (json)
    std::cout << "]\n";
  return status;
}

// ---- pack ---------------------------------------------------------------------

struct PackCall {
  bool force = false, replace = false, quiet = false;
  Gate gate;
  std::string older;
  std::vector<std::string> paths;  // IMAGE, SCRIPT, OUT
};

int ParsePack(const std::vector<std::string>& args, PackCall* call) {
  call->gate.strict = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string wrong;
    if (arg == "--force") {
      call->force = true;
    } else if (arg == "--replace") {
      call->replace = true;
    } else if (arg == "--quiet") {
      call->quiet = true;
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
  std::vector<std::string> inputs(call->paths.begin(), call->paths.end() - 1);
  if (!call->older.empty())
    inputs.push_back(call->older);
  return CheckOutput("pack", call->paths[2], inputs);
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
// back below one: says the jump, refuses none that is not greater, and a
// large one unless allowed.
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
  if (!call.quiet)
    std::cerr << "drvdb: pack: version " << VersionShown(oldReport) << " -> "
              << VersionShown(report) << "\n";
  if (jump > kLargeVersionJump) {
    Finding f{Finding::kWarning, 0, 0, "", "version-jump"};
    const bool allowed = Allowed(call.gate, f);
    std::cerr << "drvdb: " << (allowed ? "allowed" : "warning")
              << ": the version jumps by " << jump << " ("
              << oldReport.version << " -> " << report.version
              << "): no machine ever goes back below " << report.version
              << "; the version is hexadecimal [--allow=version-jump]\n";
    if (!allowed)
      return Fail(kExitFailed, "pack: refused: a finding that is not allowed");
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
  if (fails || !call.quiet)
    PrintReport(std::cerr, script, report, call.gate, call.quiet);
  // --force ships the run's failure, and nothing else.
  bool forced = call.force && report.outcome < 0;
  if (forced) {
    fails = false;
    for (const Finding& f : report.findings)
      fails = fails || (f.kind && Blocks(call.gate, f));
  }
  if (fails)
    return Fail(kExitFailed,
                "pack: refused: " + script.path +
                    (report.outcome < 0 && !forced
                         ? " fails the check (--force packs it anyway)"
                         : " has findings that are not allowed: a release "
                           "ships each kind knowingly, --allow=NAME"));
  if (!call.older.empty())
    if (int status = CheckNewer(call, script, report))
      return status;
  // Windows programs are aligned for signing.
  std::string packed = PackProgram(image, script.shipped, isPe, true);
  if (!WriteOutput("drvdb", call.paths[2], packed, call.paths[0]))
    return kExitUnwritable;
  return kExitOk;
}

// ---- info and extract ---------------------------------------------------------

void PrintCheckLine(const CheckReport& report) {
  std::cout << "  check:           ";
  for (const Finding& f : report.findings) {
    if (f.severity != Finding::kError)
      continue;
    std::cout << (f.kind ? "fails the gate (the program itself installs "
                           "it, exit 0)"
                         : "fails with " + std::to_string(report.outcome));
    std::cout << ": line " << f.line << ", column " << f.column;
    std::cout << ": " << Message(f) << "\n";
    return;
  }
  size_t warnings = 0;
  for (const Finding& f : report.findings)
    warnings += f.severity == Finding::kWarning;
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
  LoadError error;
  if (!LoadScript(args[0], payload.script, &script, &error))
    return NotText(args[0], error);
  CheckReport report = CheckScript(script);
  std::cout << args[0] << ": payload reads\n"
            << "  image ends at:   " << payload.imageEnd << "\n";
  if (payload.table.state == CertificateTable::kAtEnd)
    std::cout << "  signed:          certificate table at "
              << payload.table.at << " (" << payload.table.size
              << " bytes); the payload lies before it\n";
  else
    std::cout << "  signed:          no\n";
  if (payload.hasRecord) {
    char digest[16];
    snprintf(digest, sizeof(digest), "%08x", payload.digest);
    std::cout << "  integrity:       record at " << payload.recordAt
              << ", digest " << digest
              << ", matches: the program checks it before anything else\n";
  } else {
    std::cout << "  integrity:       no record (packed by other means): the "
                 "program reads it unchecked\n";
  }
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
  if (int status = CheckOutput("extract", args[1], {args[0]}))
    return status;
  std::string file;
  if (int status = ReadInput(args[0], &file))
    return status;
  AppendedPayload payload = ReadAppendedPayload(file);
  // A script without its byte-order mark still comes out as it is.
  if (payload.problem != AppendedPayload::kNone &&
      payload.problem != AppendedPayload::kNoByteOrderMark)
    return Fail(PayloadStatus(payload), args[0] + ": " + payload.why);
  if (!WriteOutput("drvdb", args[1], payload.script))
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

// The script that wrote a tree, to name its lines.
struct Side {
  const std::string& file;
  const InstalledTree& tree;
};

std::string Where(const std::string& file, size_t line) {
  return line ? file + ":" + std::to_string(line) + ": " : std::string();
}

void PrintValue(std::ostream& out, char sign, const std::string& file,
                const TreeValue& value) {
  out << sign << "     " << Where(file, value.line)
      << (value.line ? value.written : value.shown) << "\n";
}

void PrintKey(char sign, const std::string& file, const TreeKey& key) {
  std::cout << sign << " " << Where(file, key.line) << "[" << key.path
            << "]\n";
  for (const auto& value : key.values)
    PrintValue(std::cout, sign, file, value.second);
}

// One key in both trees: its values removed, changed and added.
void DiffValues(const Side& old, const TreeKey& before, const Side& now,
                const TreeKey& after, DiffCounts* counts) {
  std::ostringstream lines;
  for (const auto& [folded, value] : before.values) {
    auto kept = after.values.find(folded);
    if (kept == after.values.end()) {
      PrintValue(lines, '-', old.file, value);
      ++counts->removed;
    } else if (kept->second.data != value.data) {
      PrintValue(lines, '-', old.file, value);
      PrintValue(lines, '+', now.file, kept->second);
      ++counts->changed;
    }
  }
  for (const auto& [folded, value] : after.values)
    if (!before.values.count(folded)) {
      PrintValue(lines, '+', now.file, value);
      ++counts->added;
    }
  if (!lines.str().empty())
    std::cout << "  " << Where(now.file, after.line) << "[" << after.path
              << "]\n" << lines.str();
}

DiffCounts DiffTrees(const Side& old, const Side& now) {
  DiffCounts counts;
  auto a = old.tree.begin(), b = now.tree.begin();
  while (a != old.tree.end() || b != now.tree.end()) {
    if (b == now.tree.end() || (a != old.tree.end() && a->first < b->first)) {
      PrintKey('-', old.file, a->second);
      ++counts.keysRemoved;
      counts.removed += (a++)->second.values.size();
    } else if (a == old.tree.end() || b->first < a->first) {
      PrintKey('+', now.file, b->second);
      ++counts.keysAdded;
      counts.added += (b++)->second.values.size();
    } else {
      DiffValues(old, (a++)->second, now, (b++)->second, &counts);
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
  Finding oldFailure, newFailure;
  int oldOutcome = InstallScript(oldScript, &oldHas, &oldVersion, &oldFailure);
  const InstalledTree before = ReadInstalledTree();
  int newOutcome = InstallScript(newScript, &newHas, &newVersion, &newFailure);
  auto version = [](bool has, uint32_t v) {
    return has ? std::to_string(v) : std::string("none");
  };
  std::cout << "version: " << version(oldHas, oldVersion) << " -> "
            << version(newHas, newVersion) << "\n";
  if (oldOutcome < 0) {
    PrintFinding(std::cout, oldScript, oldFailure, Gate());
    std::cout << "note: " << args[0] << " does not install: the program "
              << "fails with " << oldOutcome << "\n";
  }
  if (newOutcome == kOutcomeAlreadyCurrent) {
    std::cout << "note: " << args[1] << "'s version is not greater: machines "
              << "with " << args[0] << " stay \"already up-to-date\"; had "
              << "the update run, it would do this:\n";
    ResetMachine();
    InstallScript(oldScript, &oldHas, &oldVersion, &oldFailure);
    ForgetInstalledVersion();
    newOutcome = InstallScript(newScript, &newHas, &newVersion, &newFailure);
  }
  if (newOutcome < 0) {
    PrintFinding(std::cout, newScript, newFailure, Gate());
    std::cout << "note: " << args[1] << " does not install: the program "
              << "fails with " << newOutcome << " at that line, after "
              << "deleting the installed database; what follows is what "
              << "it leaves\n";
  }
  const InstalledTree after = ReadInstalledTree();
  DiffCounts counts =
      DiffTrees(Side{args[0], before}, Side{args[1], after});
  std::cout << counts.keysAdded << " keys added, " << counts.keysRemoved
            << " removed; " << counts.added << " values added, "
            << counts.removed << " removed, " << counts.changed
            << " changed\n";
  bool differs = counts.Any() || oldHas != newHas || oldVersion != newVersion;
  return differs ? kExitFailed : kExitOk;
}

}  // namespace

int ToolMain(const std::vector<std::string>& arguments) {
  std::vector<std::string> args = arguments;
  if (args.empty())
    return Usage("no command given");
  std::string command = args[0];
  args.erase(args.begin());
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << kUsage << "\n" << kHelp << "\nKinds of finding "
              << "(--allow=NAME):\n";
    for (const FindingKind& kind : kFindingKinds)
      std::cout << "    " << kind.name << (kind.error ? " (error)" : "")
                << ": " << kind.what << "\n";
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
