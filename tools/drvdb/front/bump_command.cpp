// drvdb bump: raises a script's version by one, or sets it, rewriting only
// the digits of the version line that the program reads. Every other byte
// stays: the encoding, the line ends, the comments and the allowances.

#include <stdlib.h>
#include <string.h>

#include <iostream>

#include "script/script_scan.h"
#include "script/version_probe.h"
#include "tools/drvdb/engine/check.h"
#include "tools/drvdb/front/commands.h"
#include "tools/drvdb/front/report_text.h"
#include "tools/common/tool_platform.h"
#include "tools/drvdb/engine/wording.h"

namespace {

struct BumpCall {
  std::string path;
  bool to = false;  // --to N: set, rather than raise by one
  uint32_t target = 0;
};

// N as a dword: decimal, or hexadecimal after 0x.
bool ParseVersion(const std::string& text, uint32_t* version) {
  const bool hex = text.size() > 2 && text[0] == '0' &&
                   (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 10 ||
      digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") !=
          std::string::npos)
    return false;
  const unsigned long long value = strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
  if (value > 0xFFFFFFFFull)
    return false;
  *version = static_cast<uint32_t>(value);
  return true;
}

int ParseBump(const std::vector<std::string>& args, BumpCall* call) {
  std::vector<std::string> paths;
  for (const Argument& arg : ReadArguments("bump", args)) {
    if (int wrong = WrongArgument("bump", arg))
      return wrong;
    if (arg.what == Argument::kOperand) {
      paths.push_back(arg.text);
      continue;
    }
    const std::string& value = arg.text;  // --to
    if (!ParseVersion(value, &call->target))
      return Usage("bump", "--to " + value +
                   " is no version: a whole number from 0 to 4294967295 "
                   "(or 0x and up to eight hex digits)");
    call->to = true;
  }
  if (paths.size() != 1)
    return Usage("bump", "needs one SCRIPT; got " + std::to_string(paths.size()) +
                 " file(s)");
  call->path = paths[0];
  return Code(Exit::kOk);
}

// The file's text as code units, each with where its bytes stand:
// UTF-16LE after its byte-order mark, or UTF-8 bytes (after any mark).
// Every character the version line is made of is ASCII, one unit in
// either encoding, and no unit of another character can be taken for one.
struct Units {
  size_t first;  // the first unit's byte offset
  size_t width;  // bytes a unit
  size_t count;
};

Units UnitsOf(const std::string& file) {
  if (file.size() >= 2 && file[0] == '\xff' && file[1] == '\xfe')
    return {2, 2, (file.size() - 2) / 2};
  const size_t first =
      file.compare(0, 3, "\xef\xbb\xbf") == 0 ? 3 : 0;
  return {first, 1, file.size() - first};
}

// Unit i, with any unit beyond ASCII as 0x80, which matches nothing the
// scan looks for.
char UnitAt(const std::string& file, const Units& units, size_t i) {
  const size_t at = units.first + i * units.width;
  unsigned value = static_cast<unsigned char>(file[at]);
  if (units.width == 2)
    value |= static_cast<unsigned>(static_cast<unsigned char>(file[at + 1])) << 8;
  return value < 0x80 ? static_cast<char>(value) : '\x80';
}

// Writes eight hex digits over the run of digits after the keyword on
// line (1-based), where the probe read the version. False when that line
// holds no such run.
bool RewriteDigits(const std::string& file, size_t line, uint32_t version,
                   std::string* out) {
  const Units units = UnitsOf(file);
  size_t i = 0;
  for (size_t at = 1; at < line && i < units.count; ++i)
    at += UnitAt(file, units, i) == '\n';
  std::string text;  // the line, one char a unit
  for (size_t j = i; j < units.count && UnitAt(file, units, j) != '\n'; ++j)
    text += UnitAt(file, units, j);
  const char* start = SkipBlanks(text.c_str());
  if (!MatchKeyword(start, kVersionKeyword))
    return false;
  const char* digits = start + strlen(kVersionKeyword);
  const char* end = digits;
  while (IsHexDigit(*end))
    ++end;
  if (end == digits)
    return false;
  std::string written;
  for (char c : Hex8(version)) {
    written += c;
    if (units.width == 2)
      written += '\0';
  }
  const size_t from = units.first + (i + static_cast<size_t>(digits - text.c_str())) * units.width;
  *out = file;
  out->replace(from, static_cast<size_t>(end - digits) * units.width, written);
  return true;
}

std::string Shown(uint32_t version) {
  return std::to_string(version) + " (dword:" + Hex8(version) + ")";
}

// The version the bump gives, or a refusal.
int NewVersion(const BumpCall& call, const CheckReport& report,
               uint32_t* version) {
  if (call.to) {
    if (call.target <= report.version)
      return Fail(Exit::kNotNewer,
                  "bump: refused: version " + Shown(call.target) +
                      " is not greater than " + call.path + "'s " +
                      VersionShown(report) +
                      ": every machine that has it would stay "
                      "\"already up-to-date\"");
    *version = call.target;
    return Code(Exit::kOk);
  }
  if (report.version == 0xFFFFFFFFu)
    return Fail(Exit::kFailed,
                "bump: refused: " + call.path + "'s version " +
                    VersionShown(report) +
                    " is the greatest a dword holds: no version follows it");
  *version = report.version + 1;
  return Code(Exit::kOk);
}

// The script as the program reads it: a version it installs, from the line
// that bump rewrites.
int Bumpable(const BumpCall& call, const std::string& file,
             CheckReport* report) {
  uint64_t end;
  if (FindImageEnd(file, &end))
    return Fail(Exit::kUsage,
                "bump: " + call.path +
                    " is a program, not a script: bump raises a script's version; "
                    "extract its script (drvdb extract EXE SCRIPT), bump "
                    "that, and pack it again");
  SourceScript script;
  LoadError error;
  if (!LoadScript(call.path, file, &script, &error))
    return NotText(call.path, error);
  *report = CheckScript(script);
  if (!report->hasVersion)
    return Fail(Exit::kFailed,
                "bump: refused: " + call.path +
                    " has no version line that the program reads "
                    "(drvdb check says why)");
  if (report->outcome < 0)
    return Fail(Exit::kFailed,
                "bump: refused: the program's run of " + call.path +
                    " fails (drvdb check says where), so it installs no "
                    "version");
  return Code(Exit::kOk);
}

// The bumped script, run again: the program must read the new version and
// install it. It does not when the import takes its version from another
// line than the probe's, which bump leaves as it was.
int Installs(const BumpCall& call, const CheckReport& before,
             const std::string& bumped, uint32_t version) {
  SourceScript script;
  LoadError error;
  CheckReport after;
  if (LoadScript(call.path, bumped, &script, &error))
    after = CheckScript(script);
  if (after.hasVersion && after.version == version && after.outcome >= 0 &&
      after.installed && after.installedVersion == version)
    return Code(Exit::kOk);
  return Fail(Exit::kFailed,
              "bump: refused: the program reads " + call.path +
                  "'s version on line " + std::to_string(before.versionLine) +
                  ", but its import installs " +
                  (before.installed
                       ? "version " + std::to_string(before.installedVersion) +
                             " from another line"
                       : "no version") +
                  "; bump rewrites only the line the program reads, so give "
                  "the script one "
                  "version line in HKEY_LOCAL_MACHINE\\Software\\morvelan\\"
                  "DRIVER2");
}

}  // namespace

int BumpCommand(const std::vector<std::string>& args) {
  BumpCall call;
  if (int status = ParseBump(args, &call))
    return status;
  std::string file;
  if (int status = ReadInput(call.path, &file))
    return status;
  CheckReport report;
  if (int status = Bumpable(call, file, &report))
    return status;
  uint32_t version = 0;
  if (int status = NewVersion(call, report, &version))
    return status;
  std::string bumped;
  if (!RewriteDigits(file, report.versionLine, version, &bumped))
    return Fail(Exit::kFailed, "bump: " + call.path + ":" +
                                   std::to_string(report.versionLine) +
                                   ": the version's digits are not where the "
                                   "program reads them");
  if (int status = Installs(call, report, bumped, version))
    return status;
  if (!WriteOutput("drvdb", call.path, bumped, call.path))
    return Code(Exit::kUnwritable);
  // Standard output carries the script when it is "-".
  (call.path == "-" ? std::cerr : std::cout)
      << "version " << VersionShown(report) << " -> " << Shown(version) << "\n";
  return Code(Exit::kOk);
}
