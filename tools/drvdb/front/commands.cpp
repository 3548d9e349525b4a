// The calls drvdb's commands share: wrong calls and failures said on
// stderr with their status, inputs read as the program reads them, and
// outputs checked against the inputs.

#include <iostream>

#include "payload/payload.h"
#include "payload/payload_io_host.h"
#include "tools/drvdb/front/commands.h"
#include "tools/common/tool_platform.h"

int Usage(const std::string& command, const std::string& what) {
  if (command.empty()) {
    std::cerr << "drvdb: " << what << "\n" << UsageText();
  } else {
    std::cerr << "drvdb: " << command << ": " << what << "\n"
              << "usage: drvdb " << CommandUsage(command) << "\n"
              << "more: drvdb " << command << " --help\n";
  }
  return Code(Exit::kUsage);
}

int Fail(Exit status, const std::string& what) {
  std::cerr << "drvdb: " << what << "\n";
  return Code(status);
}

bool LooksLikeOption(const std::string& path) {
  return path.size() > 1 && path[0] == '-';
}

int CheckOutput(const std::string& command, const std::string& out,
                const std::vector<std::string>& inputs) {
  if (LooksLikeOption(out))
    return Usage(command, "OUT \"" + out +
                 "\" looks like an option (write ./" + out +
                 " for a file of that name)");
  std::string input = SameFileAs(out, inputs);
  if (!input.empty())
    return Usage(command, "OUT " + out + " is " +
                 (input == out ? "an input" : "the same file as " + input) +
                 ": it would be destroyed; name another OUT");
  return Code(Exit::kOk);
}

int OneStandardInput(const std::string& command,
                     const std::vector<std::string>& inputs) {
  size_t standard = 0;
  for (const std::string& input : inputs)
    standard += input == "-";
  if (standard > 1)
    return Usage(command, "only one input may be - (standard input, "
                           "which can be read once)");
  return Code(Exit::kOk);
}

int ReadInput(const std::string& path, std::string* bytes) {
  switch (ReadInputFile(path, bytes)) {
    case InputProblem::kNone:
      return Code(Exit::kOk);
    case InputProblem::kMissing:
      return Fail(Exit::kMissing, path + ": no such file");
    case InputProblem::kNotAFile:
      return Fail(Exit::kNotAFile, path + ": not a regular file");
    case InputProblem::kUnreadable:
      break;
  }
  return Fail(Exit::kUnreadable, path + ": cannot be read");
}

int ReadProgram(const std::string& path, const std::string& file,
                AppendedPayload* payload) {
  *payload = ReadAppendedPayload(file);
  if (payload->problem != AppendedPayload::kNone)
    return Fail(PayloadExit(payload->problem), path + ": " + payload->why);
  return Code(Exit::kOk);
}

int NotText(const std::string& path, const LoadError& error) {
  std::string where = error.line ? ":" + std::to_string(error.line) + ":" +
                                       std::to_string(error.column)
                                 : "";
  return Fail(Exit::kNotText, path + where + ": error: " + error.message);
}

int LoadEither(const std::string& path, SourceScript* script) {
  std::string file;
  if (int status = ReadInput(path, &file))
    return status;
  // Located once: a file with an image is a program, read for its script.
  AppendedPayload found = ReadAppendedPayload(file);
  if (found.hasImage) {
    if (found.problem != AppendedPayload::kNone)
      return Fail(PayloadExit(found.problem), path + ": " + found.why);
    file = found.script;
  }
  LoadError error;
  if (!LoadScript(path, file, script, &error))
    return NotText(path, error);
  return Code(Exit::kOk);
}

int WrongArgument(const std::string& command, const Argument& arg) {
  if (arg.what == Argument::kMissingValue)
    return Usage(command, arg.missing);
  if (arg.what == Argument::kUnknownOption)
    return Usage(command, "unknown option " + arg.text);
  return Code(Exit::kOk);
}

bool TakeGateArgument(const std::string& command, const Argument& arg,
                      Gate* gate, int* status) {
  *status = Code(Exit::kOk);
  if (arg.what != Argument::kOption)
    return false;
  if (arg.name == "--werror") {
    gate->werror = true;
    return true;
  }
  if (arg.name != "--allow")
    return false;
  std::string wrong;
  AllowKinds(arg.text, gate, &wrong);
  if (!wrong.empty())
    *status = Usage(command, wrong);
  return true;
}
