// drvdb's commands that look at a script or a program without making one:
// check, info and extract.

#include <stdio.h>

#include <iostream>

#include "tools/drvdb/engine/check.h"
#include "tools/drvdb/front/commands.h"
#include "tools/drvdb/engine/gate.h"
#include "tools/drvdb/front/report_json.h"
#include "tools/drvdb/front/report_text.h"
#include "tools/common/tool_platform.h"

namespace {

// The gate's verdict on the script as check gives it, the script's own
// allowances counted as allowed.
void PrintCheckLine(const CheckReport& report, const Gate& gate) {
  std::cout << "  check:           ";
  for (const Finding* f : ReportOrder(report)) {
    if (!f) {
      std::cout << "fails with " << report.outcome << ": line "
                << report.stop.line << ", column " << report.stop.column
                << ": " << report.stop.message << "\n";
      return;
    }
    if (!Blocks(gate, *f))
      continue;
    std::cout << "fails the gate (the program itself installs it, exit 0)"
              << ": line " << f->line << ", column " << f->column << ": "
              << Message(*f) << "\n";
    return;
  }
  size_t warnings = 0, allowed = 0;
  for (const Finding& f : report.findings) {
    allowed += Allowed(gate, f);
    warnings += !Allowed(gate, f) && !IsError(f);
  }
  std::cout << "ok"
            << (warnings ? ", " + std::to_string(warnings) +
                               " warning(s) (drvdb check shows them)"
                         : std::string())
            << (allowed ? ", " + std::to_string(allowed) + " allowed"
                        : std::string())
            << "\n";
}

void PrintPayload(const std::string& path, const AppendedPayload& payload) {
  std::cout << path << ": payload reads\n"
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
}

}  // namespace

int CheckCommand(const std::vector<std::string>& args) {
  Gate gate;
  bool json = false, showAllowed = false;
  std::vector<std::string> files;
  for (const Argument& arg : ReadArguments("check", args)) {
    int status;
    if (int wrong = WrongArgument("check", arg))
      return wrong;
    if (TakeGateArgument("check", arg, &gate, &status)) {
      if (status)
        return status;
    } else if (arg.what == Argument::kOperand) {
      files.push_back(arg.text);
    } else if (arg.name == "--format") {
      if (arg.text != "json" && arg.text != "text")
        return Usage("check", "--format takes text or json");
      json = arg.text == "json";
    } else if (arg.name == "--show-allowed") {
      showAllowed = true;
    }
  }
  if (files.empty())
    return Usage("check", "name at least one script or program");
  if (int status = OneStandardInput("check", files))
    return status;
  int status = Code(Exit::kOk);
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
      status = Code(Exit::kFailed);
    if (json) {
      PrintJson(std::cout, script, report, gate);
      std::cout << (i + 1 < files.size() ? ",\n" : "\n");
    } else {
      PrintReport(std::cout, script, report, gate, false, showAllowed);
      if (report.outcome >= 0)
        PrintWhatWouldPass(std::cout, script.path + ": ", script, report,
                           gate);
    }
  }
  if (json)
    std::cout << "]\n";
  return status;
}

int InfoCommand(const std::vector<std::string>& args) {
  Gate gate;
  std::vector<std::string> programs;
  for (const Argument& arg : ReadArguments("info", args)) {
    int status;
    if (int wrong = WrongArgument("info", arg))
      return wrong;
    if (TakeGateArgument("info", arg, &gate, &status)) {
      if (status)
        return status;
    } else {
      programs.push_back(arg.text);
    }
  }
  if (programs.size() != 1)
    return Usage("info", "needs one program, EXE");
  const std::string& path = programs[0];
  SourceScript script;
  AppendedPayload payload;
  std::string file;
  if (int status = ReadInput(path, &file))
    return status;
  if (int status = ReadProgram(path, file, &payload))
    return status;
  LoadError error;
  if (!LoadScript(path, payload.script, &script, &error))
    return NotText(path, error);
  CheckReport report = CheckScript(script);
  PrintPayload(path, payload);
  std::cout << "  script bytes:    " << payload.length << "\n"
            << "  version:         " << VersionShown(report) << "\n"
            << "  lines:           " << report.lines << "\n"
            << "  headers:         " << report.headers << "\n"
            << "  distinct keys:   " << report.keys << "\n"
            << "  values:          " << report.values << "\n";
  // The program's state is what info answers for: it reads, whole, and
  // what the gate finds in its script is said on the check line.
  PrintCheckLine(report, gate);
  return Code(Exit::kOk);
}

int ExtractCommand(const std::vector<std::string>& args) {
  if (args.size() != 2 || LooksLikeOption(args[0]))
    return Usage("extract", "needs a program and where to write its script, "
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
    return Fail(PayloadExit(payload.problem), args[0] + ": " + payload.why);
  if (!WriteOutput("drvdb", args[1], payload.script))
    return Code(Exit::kUnwritable);
  if (payload.problem != AppendedPayload::kNone)
    return Fail(Exit::kNoByteOrderMark,
                args[0] + ": extracted, but " + payload.why);
  return Code(Exit::kOk);
}
