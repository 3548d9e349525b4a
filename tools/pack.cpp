// drvdb pack, and the policy of a release: a script ships only with every
// finding's kind allowed, never over a signed image, and with --newer-than
// only to a greater version.

#include <iostream>
#include <set>

#include "tools/check.h"
#include "tools/commands.h"
#include "tools/gate.h"
#include "tools/report_text.h"
#include "tools/tool_platform.h"

namespace {

// A version that jumps further than this is probably a typing error, and no
// machine ever goes back below it.
const uint32_t kLargeVersionJump = 100;

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
  if (int status = OneStandardInput("pack", inputs))
    return status;
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
    return Fail(Exit::kNotExecutable,
                path + ": not an executable: no PE or ELF image");
  if (FindCertificateTable(*image).state != CertificateTable::kNone)
    return Fail(Exit::kSigned,
                path + (replace && end < image->size()
                            ? ": is signed: a new payload would break its "
                              "signature; replace the payload in the "
                              "unsigned program, then sign again"
                            : ": is signed: pack the unsigned image, then "
                              "sign the packed program"));
  if (end < image->size()) {
    if (!replace)
      return Fail(Exit::kImageCarriesData,
                  path + ": already carries " +
                      std::to_string(image->size() - end) +
                      " bytes after its image (a packed program?); "
                      "--replace swaps its payload");
    image->resize(end);
  }
  return Code(Exit::kOk);
}

// Whether the version jumps from OLD's further than a maintainer would
// mean to, unless that is allowed.
bool JumpRefused(const PackCall& call, const CheckReport& old,
                 const CheckReport& report) {
  return report.version - old.version > kLargeVersionJump &&
         !Allowed(call.gate, Finding{Kind::kVersionJump, 0, 0, ""});
}

// Whether --newer-than's OLD, read quietly, gives a version that the
// script's greater one jumps beyond in a way refused: for a refusal that
// says what would pass.
bool LargeJump(const PackCall& call, const CheckReport& report) {
  std::string bytes;
  SourceScript old;
  LoadError error;
  if (call.older.empty() || call.older == "-" ||
      ReadInputFile(call.older, &bytes) != InputProblem::kNone)
    return false;
  uint64_t end;
  if (FindImageEnd(bytes, &end))
    bytes = ReadAppendedPayload(bytes).script;
  if (!LoadScript(call.older, bytes, &old, &error))
    return false;
  const CheckReport oldReport = CheckScript(old);
  return oldReport.hasVersion && report.hasVersion &&
         report.version > oldReport.version &&
         JumpRefused(call, oldReport, report);
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
    return Fail(Exit::kFailed, call.older + ": its script gives no version");
  if (!report.hasVersion || report.version <= oldReport.version)
    return Fail(Exit::kNotNewer,
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
    const bool allowed = !JumpRefused(call, oldReport, report);
    std::cerr << "drvdb: " << (allowed ? "allowed" : "warning")
              << ": the version jumps by " << jump << " ("
              << oldReport.version << " -> " << report.version
              << "): no machine ever goes back below " << report.version
              << "; the version is hexadecimal [--allow="
              << KindName(Kind::kVersionJump) << "]\n";
    if (!allowed)
      return Fail(Exit::kFailed,
                  "pack: refused: a finding that is not allowed");
  }
  return Code(Exit::kOk);
}

}  // namespace

int PackCommand(const std::vector<std::string>& args) {
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
      fails = fails || (f.kind != Kind::kRunFails && Blocks(call.gate, f));
  }
  if (fails) {
    const int status =
        Fail(Exit::kFailed,
             "pack: refused: " + script.path +
                 (report.outcome < 0 && !forced
                      ? " fails the check (--force packs it anyway)"
                      : " has findings that are not allowed: a release "
                        "ships each kind knowingly"));
    if (report.outcome >= 0 || forced) {  // --force ships the run's failure
      std::set<Kind> more;
      if (LargeJump(call, report))
        more.insert(Kind::kVersionJump);
      PrintWhatWouldPass(std::cerr, "drvdb: pack: ", script, report,
                         call.gate, more);
    }
    return status;
  }
  if (!call.older.empty())
    if (int status = CheckNewer(call, script, report))
      return status;
  // Windows programs are aligned for signing.
  std::string packed = PackProgram(image, script.shipped, isPe, true);
  if (!WriteOutput("drvdb", call.paths[2], packed, call.paths[0]))
    return Code(Exit::kUnwritable);
  return Code(Exit::kOk);
}
