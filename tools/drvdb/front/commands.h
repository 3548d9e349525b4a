// drvdb's commands, each a handler of the arguments after its name, and
// the calls they share: a wrong call, a failure with its status, the
// inputs read as the program reads them and the outputs checked before
// anything is written.
#pragma once

#include <string>
#include <vector>

#include "tools/drvdb/engine/gate.h"
#include "tools/drvdb/engine/program_file.h"
#include "tools/drvdb/front/exit_status.h"
#include "tools/drvdb/engine/source.h"

// The handlers (inspect.cpp, pack.cpp, diff.cpp).
int CheckCommand(const std::vector<std::string>& args);
int PackCommand(const std::vector<std::string>& args);
int InfoCommand(const std::vector<std::string>& args);
int ExtractCommand(const std::vector<std::string>& args);
int DiffCommand(const std::vector<std::string>& args);
int BumpCommand(const std::vector<std::string>& args);  // bump.cpp

/// Every command's usage, from the command table (drvdb.cpp).
std::string UsageText();

/// One command's usage, after "drvdb ".
std::string CommandUsage(const std::string& command);

/// A wrong call, on stderr: what was wrong, then the command's usage and
/// where to read more; without a command, every command's usage.
int Usage(const std::string& command, const std::string& what);

/// One argument of a command, as the command table's options read it.
struct Argument {
  enum What { kOption, kMissingValue, kUnknownOption, kOperand } what;
  std::string name;     // the option's, for kOption and kMissingValue
  std::string text;     // the option's value, the unknown option, the operand
  std::string missing;  // what to say of a missing value
};

/// A command's arguments in order, read by its options in the command
/// table (command_table.cpp): a flag by its name, an option that takes a
/// value as --NAME=VALUE or as --NAME and the next argument; anything else
/// that looks like an option is unknown, the rest operands.
std::vector<Argument> ReadArguments(const std::string& command,
                                    const std::vector<std::string>& args);

/// A wrong argument of a command, said as a wrong call: a value missing, an
/// option it does not know; 0 for any other.
int WrongArgument(const std::string& command, const Argument& arg);

/// Takes --werror and --allow into a command's gate: true when arg was one
/// of them, with *status the wrong call for a list that names no kind.
bool TakeGateArgument(const std::string& command, const Argument& arg,
                      Gate* gate, int* status);

/// A failure: one line on stderr, and its status.
int Fail(Exit status, const std::string& what);

/// An argument that looks like an option: a mistake for a file's name more
/// often than not ("./-x" still names such a file; "-" is standard
/// output).
bool LooksLikeOption(const std::string& path);

/// OUT must name none of the inputs, by any name: writing it would destroy
/// what it is made from. A wrong call when it does, or when it looks like
/// an option.
int CheckOutput(const std::string& command, const std::string& out,
                const std::vector<std::string>& inputs);

/// Standard input can be read once: a wrong call when more than one of a
/// command's inputs is "-".
int OneStandardInput(const std::string& command,
                     const std::vector<std::string>& inputs);

/// Reads a whole input file; on failure says why on stderr.
int ReadInput(const std::string& path, std::string* bytes);

/// Reads a packed program's payload as the program's reader finds it; fails
/// with one line on stderr.
int ReadProgram(const std::string& path, const std::string& file,
                AppendedPayload* payload);

/// A file that is no script, where and why.
int NotText(const std::string& path, const LoadError& error);

/// A script file, or the script that a packed program carries.
int LoadEither(const std::string& path, SourceScript* script);
