// drvdb pack, and the policy of a release: a script ships only with every
// finding's kind allowed, never over a signed image, and with --newer-than
// only to a greater version.

#include <iostream>
#include <set>

#include "tools/drvdb/engine/check.h"
#include "tools/drvdb/front/commands.h"
#include "tools/drvdb/engine/gate.h"
#include "tools/drvdb/front/report_text.h"
#include "tools/common/tool_platform.h"
#include "tools/drvdb/engine/version_rules.h"

namespace {

struct PackCall {
  bool force = false, replace = false, quiet = false, showAllowed = false;
  Gate gate;
  std::string older;
  std::vector<std::string> paths;  // IMAGE, SCRIPT, OUT
};

int ParsePack(const std::vector<std::string>& args, PackCall* call) {
  call->gate.strict = true;
  for (const Argument& arg : ReadArguments("pack", args)) {
    int status;
    // OUT may look like an option: CheckOutput says how to name it.
    if (arg.what != Argument::kUnknownOption || call->paths.size() < 2)
      if (int wrong = WrongArgument("pack", arg))
        return wrong;
    if (TakeGateArgument("pack", arg, &call->gate, &status)) {
      if (status)
        return status;
    } else if (arg.what != Argument::kOption) {
      call->paths.push_back(arg.text);
    } else if (arg.name == "--force") {
      call->force = true;
    } else if (arg.name == "--replace") {
      call->replace = true;
    } else if (arg.name == "--quiet") {
      call->quiet = true;
    } else if (arg.name == "--show-allowed") {
      call->showAllowed = true;
    } else if (arg.name == "--newer-than") {
      call->older = arg.text;
    }
  }
  if (call->paths.size() != 3)
    return Usage("pack", "needs IMAGE, SCRIPT and OUT; got " +
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
  const AppendedPayload found = ReadAppendedPayload(*image);  // located once
  if (!found.hasImage)
    return Fail(Exit::kNotExecutable,
                path + ": not an executable: no PE or ELF image");
  *isPe = found.isPe;
  const uint64_t end = found.imageEnd;
  if (found.table.state != CertificateTable::kNone)
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

// The kinds of finding that the version gives beside OLD's and that are not
// allowed: a jump, or digits written in decimal; each said, when said is
// set, as allowed or as a warning.
std::set<Kind> RefusedBesideOld(const PackCall& call, const CheckReport& old,
                                const CheckReport& report, bool said) {
  std::set<Kind> refused;
  auto judge = [&](Kind kind, const std::string& message) {
    const bool allowed = Allowed(call.gate, Finding{kind, 0, 0, ""});
    if (said)
      std::cerr << "drvdb: " << (allowed ? "allowed" : "warning") << ": "
                << message << " [--allow=" << KindName(kind) << "]\n";
    if (!allowed)
      refused.insert(kind);
  };
  if (LargeJump(old, report))
    judge(Kind::kVersionJump,
          "the version jumps by " +
              std::to_string(report.version - old.version) + " (" +
              std::to_string(old.version) + " -> " +
              std::to_string(report.version) +
              "): no machine ever goes back below " +
              std::to_string(report.version) + "; the version is hexadecimal");
  std::string decimal;
  if (DecimalVersion(old, report, &decimal))
    judge(Kind::kDecimalVersion,
          decimal + ": the version is hexadecimal, and no machine ever goes "
                    "back below " + std::to_string(report.version));
  return refused;
}

// What --newer-than's OLD, read quietly, refuses beside the script's
// version: for a refusal that says what would pass.
std::set<Kind> RefusedBesideOld(const PackCall& call,
                                const CheckReport& report) {
  std::string bytes;
  SourceScript old;
  LoadError error;
  if (call.older.empty() || call.older == "-" ||
      ReadInputFile(call.older, &bytes) != InputProblem::kNone)
    return {};
  const AppendedPayload found = ReadAppendedPayload(bytes);
  if (found.hasImage)
    bytes = found.script;
  if (!LoadScript(call.older, bytes, &old, &error))
    return {};
  const CheckReport oldReport = CheckScript(old);
  if (!report.hasVersion || !oldReport.hasVersion ||
      report.version <= oldReport.version)
    return {};
  return RefusedBesideOld(call, oldReport, report, false);
}

// Machines that have OLD update only to a greater version, and never go
// back below one: says the jump, refuses none that is not greater, and a
// large one or one written in decimal unless allowed.
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
  if (!call.quiet)
    std::cerr << "drvdb: pack: version " << VersionShown(oldReport) << " -> "
              << VersionShown(report) << "\n";
  if (!RefusedBesideOld(call, oldReport, report, true).empty())
    return Fail(Exit::kFailed, "pack: refused: a finding that is not allowed");
  return Code(Exit::kOk);
}

}  // namespace

int PackCommand(const std::vector<std::string>& args) {
  PackCall call;
  if (int status = ParsePack(args, &call))
    return status;
  std::string image;
  bool isPe = false;
  if (int status = ReadImage(call.paths[0], call.replace, &image, &isPe))
    return status;
  SourceScript script;
  if (int status = LoadEither(call.paths[1], &script))
    return status;
  CheckReport report = CheckScript(script);
  bool fails = Fails(report, call.gate);
  if (fails || !call.quiet)
    PrintReport(std::cerr, script, report, call.gate, call.quiet,
                call.showAllowed);
  // --force ships the run's failure, and nothing else.
  bool forced = call.force && report.outcome < 0;
  if (forced) {
    fails = false;
    for (const Finding& f : report.findings)
      fails = fails || Blocks(call.gate, f);
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
      const std::set<Kind> more = RefusedBesideOld(call, report);
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
