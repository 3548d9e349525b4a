// drvdb: checks, packs and inspects the drive database that the setup
// program carries. Its verdicts come from the program's own payload
// decoding, version probe and run, against the in-memory registry
// stand-in, so they cannot disagree with what the program does on a
// machine. `drvdb --help` lists every command, option, kind of finding and
// exit status, from the tables that the code itself works by.

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "tools/drvdb/front/commands.h"
#include "tools/drvdb/engine/findings.h"
#include "tools/drvdb/front/manual.h"
#include "tools/drvdb/engine/version_rules.h"
#include "tools/common/tool_platform.h"

namespace {

int HelpCommand(const std::vector<std::string>& args);
int VersionCommand(const std::vector<std::string>& args);
int ManualCommand(const std::vector<std::string>& args);

// An option of a command: how its usage, its help and its parser read it.
struct Option {
  std::string name;     // "--allow"
  bool takesValue;      // as --NAME=VALUE or --NAME VALUE
  std::string usage;    // in the usage line: "[--allow=NAME,...]"
  std::string label;    // in the help: "--allow=NAME,..."
  std::vector<std::string> help;  // its help, a line each
  std::string missing;  // said when its value is missing
  bool shown = true;    // in the usage, the help and the manual page
};

struct Command {
  std::string name;
  std::vector<Option> options;  // in the order usage and help give them
  std::string operands;         // after the options in the usage
  std::string title;            // the first line of its help
  std::string about;            // the lines after it, each indented
  int (*run)(const std::vector<std::string>& args);
  std::vector<Exit> exits;  // what it can end with, which its help lists
};

Option Flag(const char* name, std::vector<std::string> help) {
  return Option{name, false, std::string("[") + name + "]", name,
                std::move(help), "", true};
}

// --werror where it changes little or nothing (pack refuses warnings
// anyway): taken, as it always was, and not shown.
Option QuietWerror() {
  Option option = Flag("--werror", {});
  option.shown = false;
  return option;
}

// --allow, which check, pack and info take, each with its own words.
Option Allow(std::vector<std::string> help) {
  return Option{"--allow", true, "[--allow=NAME,...]", "--allow=NAME,...",
                std::move(help),
                "--allow needs NAME,..., the kinds of finding to allow", true};
}

std::string Status(Exit status) {
  return std::to_string(Code(status));
}

// What reading an input can end with: a file, and a program's payload, each
// beside a command's own statuses.
std::vector<Exit> Reading(std::vector<Exit> own) {
  own.insert(own.end(), {Exit::kMissing, Exit::kNotAFile, Exit::kUnreadable});
  return own;
}
std::vector<Exit> ReadingPrograms(std::vector<Exit> own) {
  own.insert(own.end(), {Exit::kEmpty, Exit::kNoTrailer, Exit::kLengthPastFile,
                         Exit::kNoByteOrderMark, Exit::kSignedUnaligned,
                         Exit::kDamaged});
  return Reading(own);
}

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"check",
       {Flag("--werror", {"warnings fail the check too"}),
        Allow({"findings of these kinds no longer fail"}),
        {"--format", true, "[--format=text|json]", "--format=json",
         {"the same findings as one JSON array, for CI,",
          "allowed ones included and marked so"},
         "--format takes text or json", true},
        Flag("--show-allowed",
             {"list the allowed findings too (the summary", "counts them)"})},
       "FILE...",
       "drvdb check [OPTIONS] FILE...",
       "    Installs each script as the program would on a machine without the\n"
       "    database. Reports the first line that would make the run fail\n"
       "    (FILE:LINE:COLUMN: error: ..., with the line and a caret), errors\n"
       "    for what the program would install but no maintainer means,\n"
       "    warnings for what it silently ignores or changes, and a summary\n"
       "    line: version, lines, headers, distinct keys and values. Each\n"
       "    finding names its kind: [--allow=NAME]. Errors fail the check;\n"
       "    when findings fail it, its last lines give the --allow= list and\n"
       "    the comments that would let it pass.\n",
       CheckCommand,
       ReadingPrograms({Exit::kOk, Exit::kFailed, Exit::kUsage, Exit::kNotText})},
      {"pack",
       {Flag("--force", {"pack a script that the program would fail on"}),
        Flag("--replace", {"IMAGE already carries a payload: swap it"}),
        {"--newer-than", true, "[--newer-than OLD]", "--newer-than OLD",
         {"refuse unless the script's version is greater",
          "than OLD's (a script or a program): machines with",
          "OLD would otherwise never update; a jump of more",
          "than " + std::to_string(kLargeVersionJump) +
              " is a finding (version-jump), and so are",
          "digits that, read as decimal, lie 1 to " +
              std::to_string(kDecimalSlip) + " above",
          "OLD's version (decimal-version)"},
         "--newer-than needs OLD, a script or a program", true},
        Allow({"findings of these kinds are shipped knowingly"}),
        Flag("--quiet", {"show only the findings that refuse the script"}),
        Flag("--show-allowed", {"list the allowed findings too"}),
        QuietWerror()},
       "IMAGE SCRIPT OUT",
       "drvdb pack [OPTIONS] IMAGE SCRIPT OUT",
       "    Writes OUT as IMAGE, an integrity record (a CRC-32 of the\n"
       "    program, which it checks before anything else), then SCRIPT\n"
       "    (UTF-8 is converted to UTF-16LE with its byte-order mark), then the\n"
       "    script's length in four bytes. --replace writes a fresh record.\n"
       "    A Windows program is aligned for signing: sign OUT afterwards,\n"
       "    never IMAGE. A release is a deliberate act: pack refuses a script\n"
       "    with any finding, warnings included, unless its kind is allowed.\n",
       PackCommand,
       ReadingPrograms({Exit::kOk, Exit::kFailed, Exit::kUsage,
                        Exit::kUnwritable, Exit::kNotExecutable,
                        Exit::kImageCarriesData, Exit::kNotNewer,
                        Exit::kNotText, Exit::kSigned})},
      {"info",
       {Allow({"findings of these kinds are allowed"}), QuietWerror()},
       "EXE",
       "drvdb info [OPTIONS] EXE",
       "    Whether EXE's payload reads, whether EXE is signed, whether it\n"
       "    carries an integrity record and whether the record matches and,\n"
       "    if the payload reads, its version, script bytes, lines, headers,\n"
       "    distinct keys, values and check verdict (the script's own\n"
       "    allowances counted as allowed). Exit status " +
           Status(Exit::kOk) + " for a program that\n"
       "    reads and is whole, whatever the check finds: " +
           Status(Exit::kDamaged) + " for a damaged\n"
       "    copy, and a payload's own status for one that does not read.\n",
       InfoCommand,
       ReadingPrograms({Exit::kOk, Exit::kUsage, Exit::kNotExecutable,
                        Exit::kNotText})},
      {"extract", {}, "EXE OUT", "drvdb extract EXE OUT",
       "    Writes EXE's script out byte for byte.\n",
       ExtractCommand,
       ReadingPrograms({Exit::kOk, Exit::kUsage, Exit::kUnwritable,
                        Exit::kNotExecutable})},
      {"diff", {}, "OLD NEW", "drvdb diff OLD NEW",
       "    What an update from OLD to NEW (each a program or a script) does to\n"
       "    a machine: the version change, keys added and removed, values\n"
       "    added, removed and changed, each with the line that writes it\n"
       "    (FILE:LINE), added and changed ones as NEW spells them, removed\n"
       "    ones as OLD does; control characters in names show as their\n"
       "    pictures (a line feed as U+240A); each key's changes in line\n"
       "    order. A version in NEW written in decimal is a warning\n"
       "    (decimal-version). Exit status " + Status(Exit::kOk) +
           " when nothing differs, " + Status(Exit::kFailed) + " when\n"
       "    something does.\n",
       DiffCommand,
       ReadingPrograms({Exit::kOk, Exit::kFailed, Exit::kUsage, Exit::kNotText})},
      {"bump",
       {{"--to", true, "[--to N]", "--to N",
         {"set the version to N (decimal, or 0x and hex),",
          "which must be greater than the script's"},
         "--to needs N, the new version", true}},
       "SCRIPT",
       "drvdb bump [OPTIONS] SCRIPT",
       "    Raises SCRIPT's version by one, in place, and says the change:\n"
       "    version 71 (dword:00000047) -> 72 (dword:00000048). It rewrites\n"
       "    only the digits of the version line that the program reads, as\n"
       "    eight hex digits; every other byte stays as it was (the encoding,\n"
       "    the line ends, the comments). It refuses a script whose import\n"
       "    would install its version from another line, or none, a version\n"
       "    that would not be greater, and a packed program (extract its\n"
       "    script first). - reads standard input and writes the script to\n"
       "    standard output, and the change to standard error.\n",
       BumpCommand,
       Reading({Exit::kOk, Exit::kFailed, Exit::kUsage, Exit::kUnwritable,
                Exit::kNotNewer, Exit::kNotText})},
      {"--help", {}, "| COMMAND --help", "drvdb --help, drvdb COMMAND --help",
       "    This text, or one command's part of it.\n", HelpCommand,
       {Exit::kOk}},
      {"--version", {}, "", "drvdb --version", "    drvdb's version.\n",
       VersionCommand, {Exit::kOk}},
      {"--manual", {}, "", "drvdb --manual",
       "    This text as a manual page, for man: drvdb --manual > drvdb.1\n",
       ManualCommand, {Exit::kOk}},
  };
  return commands;
}

const Command* Find(const std::string& name) {
  for (const Command& command : Commands())
    if (name == command.name)
      return &command;
  return nullptr;
}

// A command's usage after "drvdb ": its name, its options and its operands,
// wrapped where a line would pass the width; the operands stay together.
std::string UsageOf(const Command& command) {
  const size_t kWidth = 76, kLead = 13, kIndent = 18;  // "usage: drvdb "
  std::vector<std::string> words;
  for (const Option& option : command.options)
    if (option.shown)
      words.push_back(option.usage);
  if (!command.operands.empty())
    words.push_back(command.operands);
  std::string usage = command.name;
  size_t column = kLead + usage.size();
  for (const std::string& word : words) {
    if (column + 1 + word.size() > kWidth) {
      usage += "\n" + std::string(kIndent, ' ') + word;
      column = kIndent + word.size();
    } else {
      usage += " " + word;
      column += 1 + word.size();
    }
  }
  return usage;
}

// An option's lines in the help: its label, then its words from the
// twenty-second column.
std::string OptionHelp(const Option& option) {
  const size_t kLabel = 18;
  std::string text;
  for (size_t i = 0; i < option.help.size(); ++i) {
    const std::string label = i == 0 ? option.label : "";
    text += "    " + label + std::string(kLabel - label.size(), ' ') +
            option.help[i] + "\n";
  }
  return text;
}

// A command's part of --help.
std::string Help(const Command& command) {
  std::string help = command.title + "\n" + command.about;
  for (const Option& option : command.options)
    if (option.shown)
      help += OptionHelp(option);
  return help;
}

const char kAbout[] =
    "drvdb checks, packs and inspects the drive database that the setup\n"
    "program carries. Its verdicts come from the program's own decoding,\n"
    "version probe and import, run against an in-memory registry, so they\n"
    "are the program's verdicts.\n"
    "\n"
    "A script is a registry script: UTF-16LE with its byte-order mark, as\n"
    "the registry editor exports it and the program ships it, or UTF-8 text\n"
    "(with or without a byte-order mark), as kept in version control.\n"
    "Wherever a command takes a script it also takes a packed program, and\n"
    "reads the script it carries. - reads a script or a program from\n"
    "standard input (one input a call), and a FIFO or /dev/fd/N (a shell's\n"
    "<(...)) is read like a file. The version is hexadecimal, as the\n"
    "program reads it: dword:00000047 is version 71.\n"
    "\n"
    "A script allows its own findings where they stand: a comment line\n"
    "    ; drvdb: allow=NAME[,NAME...]\n"
    "allows the findings of those kinds on the next line that is not a\n"
    "comment, and nowhere else. A finding stands on the line it names: a\n"
    "header whose ']' is on a later line on its '[' line. The program\n"
    "ignores such comments. An allowance that allows nothing is a warning\n"
    "(unused-allow), counted only on lines that the program's import read\n"
    "(none when the version line fails, none after the line where the\n"
    "import stops); a NAME that is no kind is an error (unknown-allow),\n"
    "which names the nearest kind. version-jump and decimal-version, which\n"
    "compare with OLD, are allowed only by --allow. Allowed findings are\n"
    "counted in the summary, and listed with --show-allowed.\n"
    "\n"
    "Every option that takes a value takes it as --OPTION=VALUE or as\n"
    "--OPTION VALUE. -h and /? are --help.\n";

const char kOutputs[] =
    "OUT is never one of the command's inputs; - is standard output. A file\n"
    "is replaced whole through a new temporary file beside it, and a\n"
    "symbolic link stays a link to the file it names.\n";

// A command's own help: its usage, its part of --help and what it can end
// with.
std::string CommandHelp(const Command& command) {
  return "usage: drvdb " + UsageOf(command) + "\n\n" + Help(command) +
         ExitHelp(command.exits);
}

std::string HelpText() {
  std::string help = UsageText() + "\n" + kAbout + "\n";
  for (const Command& command : Commands())
    help += Help(command) + "\n";
  help += kOutputs;
  help += "\nKinds of finding (--allow=NAME):\n";
  for (const KindRow& kind : kKinds)
    help += std::string("    ") + kind.name + (kind.error ? " (error)" : "") +
            ": " + kind.summary + "\n";
  return help + ExitHelp();
}

int HelpCommand(const std::vector<std::string>&) {
  std::cout << HelpText();
  return Code(Exit::kOk);
}

int VersionCommand(const std::vector<std::string>&) {
  std::cout << "drvdb " << DRVSETUP_VERSION << "\n";
  return Code(Exit::kOk);
}

int ManualCommand(const std::vector<std::string>&) {
  ManualText text;
  text.version = std::string("drvdb ") + DRVSETUP_VERSION;
  for (const Command& command : Commands()) {
    ManualCommandText page;
    page.title = command.title;
    page.about = command.about;
    for (const Option& option : command.options)
      if (option.shown)
        page.options.push_back({option.label, option.help});
    text.usages.push_back(UsageOf(command));
    text.commands.push_back(page);
  }
  text.about = kAbout;
  text.outputs = kOutputs;
  std::cout << ManualPage(text);
  return Code(Exit::kOk);
}

}  // namespace

std::string UsageText() {
  std::string usage;
  for (const Command& command : Commands())
    usage += std::string(usage.empty() ? "usage: " : "       ") + "drvdb " +
             UsageOf(command) + "\n";
  return usage;
}

std::string CommandUsage(const std::string& name) {
  const Command* command = Find(name);
  return command ? UsageOf(*command) : name;
}

std::vector<Argument> ReadArguments(const std::string& name,
                                    const std::vector<std::string>& args) {
  std::vector<Argument> read;
  const Command* command = Find(name);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    Argument argument{Argument::kOperand, "", arg, ""};
    if (LooksLikeOption(arg)) {
      argument.what = Argument::kUnknownOption;
      for (const Option& option : command ? command->options
                                          : std::vector<Option>()) {
        const bool exact = arg == option.name;
        const bool joined = option.takesValue &&
                            arg.compare(0, option.name.size() + 1,
                                        option.name + "=") == 0;
        if (!exact && !joined)
          continue;
        argument.what = Argument::kOption;
        argument.name = option.name;
        argument.text.clear();
        if (joined) {
          argument.text = arg.substr(option.name.size() + 1);
        } else if (option.takesValue && i + 1 < args.size()) {
          argument.text = args[++i];
        } else if (option.takesValue) {
          argument.what = Argument::kMissingValue;
          argument.missing = option.missing;
        }
        break;
      }
    }
    read.push_back(argument);
  }
  return read;
}

int ToolMain(const std::vector<std::string>& arguments) {
  if (arguments.empty())
    return Usage("", "no command given");
  std::string name = arguments[0];
  const std::vector<std::string> args(arguments.begin() + 1, arguments.end());
  // How people ask for help: -h, help, and on Windows /?.
  auto asksHelp = [](const std::string& arg) {
    return arg == "--help" || arg == "-h" || arg == "/?";
  };
  if (asksHelp(name) || name == "help")
    name = "--help";
  const Command* command = Find(name);
  if (!command)
    return Usage("", "unknown command \"" + name + "\"");
  // "--help", "-h" or "/?" anywhere after a command asks for that command's
  // help: a file of such a name is ./--help.
  if (std::find_if(args.begin(), args.end(), asksHelp) != args.end()) {
    std::cout << CommandHelp(*command);
    return Code(Exit::kOk);
  }
  return command->run(args);
}
