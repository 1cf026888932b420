// The skeleton the programs share: a table of the options a program takes,
// and from it the reading of its command line, its --help and --version, the
// messages for an option it does not know or that lacks its value, and the
// start every program makes (UTF-8 arguments, write signals, a guard against
// memory that runs out). A program declares a ProgramDefinition and hands its work
// to runProgram().
//
// Options are recognised before "--" only; "-" alone is an operand (standard
// input); any other argument that begins with "-" is an option. Every program
// has -h/--help and -V/--version besides the options of its table.
#ifndef D88CUT_CONSOLE_PROGRAM_H_
#define D88CUT_CONSOLE_PROGRAM_H_

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace d88 {

// One option of a program's table. Made by flagOption() or valueOption(),
// then adjusted by the setters, each of which returns the option.
struct OptionEntry {
  char shortName = '\0';            // 'o' for -o; '\0' when it has none
  std::string longName;             // "output" for --output
  std::string alias;                // a second long name meaning the same, or empty
  std::string valueName;            // its value's word in --help ("DIR"); empty: a flag
  std::string missingNoun;          // "a folder": in "option -o needs a folder"
  std::size_t maxCount = 1;         // 1: the last one given counts; more: each kept, this many at most
  std::string countedAs;            // maxCount > 1: "spares" in "at most 16 spares may be given"
  std::string help;                 // its lines in --help, '\n' between them
  unsigned forms = ~0u;             // the --help usage forms that show it: bit i, form i
  unsigned neededIn = 0u;           // the forms that show it without brackets, as needed

  // A value option that may be given up to `count` times, each value kept.
  OptionEntry& repeatable(std::size_t count, const char* counted);
  // A second long name, --ALIAS, for the same option.
  OptionEntry& alsoNamed(const char* otherLongName);
  // Shown only in the usage forms of `formBits` (bit i: form i), and as
  // needed (no brackets) in those of `neededBits`.
  OptionEntry& inForms(unsigned formBits, unsigned neededBits = 0u);
};

// An option without a value: -s or --long (or '\0' for no short name).
OptionEntry flagOption(char shortName, const char* longName, const char* help);
// An option with a value: "--long VALUE", "--long=VALUE", and with a short
// name "-s VALUE" or "-sVALUE". An empty value is a missing one.
OptionEntry valueOption(char shortName, const char* longName, const char* valueName,
                        const char* missingNoun, const char* help);
// "-o, --output DIR": the folder a writer's files go into, as every writer
// takes it.
OptionEntry outputFolderOption();

// All that a program's command line, --help and --version need to know.
// Texts are the program's own words; none is printed through printf.
struct ProgramDefinition {
  std::string name;     // "d88cut": its messages' prefix and the --version line
  std::string version;  // the version --version prints after the name
  std::vector<OptionEntry> options;

  // --help: its usage line names each form after the name, with its options
  // ("IMAGE [DISK]", the operands of one way to call the program); then the
  // description, the options, and the epilogue (exit status). Descriptions of
  // options start at helpColumn, or two spaces after a longer name.
  std::vector<std::string> usageForms;
  std::string description;
  std::string endOfOptionsHelp = "end of options";  // what "--" does, in the option list
  std::string epilogue;
  std::size_t helpColumn = 20;

  // The usage on a usage error (Request::kUsage, or Arguments::printUsage):
  // "Usage: CALLED FORM", the forms joined by " | CALLED ", CALLED being the
  // program as called. Unlike --help's, it keeps each program's words.
  std::vector<std::string> shortUsage;

  // Operands: fewer than minOperands is a usage error (on standard error).
  // More than maxOperands (none: no limit) stops the reading at the first
  // one too many with "PROGRAM: " and extraOperand, its "%s" replaced by that
  // operand; with no extraOperand it is a usage error once all is read.
  std::size_t minOperands = 1;
  std::size_t maxOperands = static_cast<std::size_t>(-1);
  std::string extraOperand;

  // An option that lacks its value is named as typed ("--output="), or, when
  // set, by its long name ("--map").
  bool missingValueNamesOption = false;

  // The exit status of a usage error, an option refused, a --help or
  // --version that could not be written, and memory that runs out.
  int errorStatus = 1;
  // When --help or --version cannot be written: "PREFIX: REASON" on standard
  // error; empty: "Error: cannot write to standard output: REASON".
  std::string writeFailurePrefix;
  // On standard error, alone, when memory runs out.
  std::string outOfMemory = "Error: out of memory";

  // Programs that write files: called at the start (to remove a temporary on
  // an interrupt), and write signals ignored so that a closed pipe or a file
  // past the size limit is an error to report, not the end of the process.
  void (*atStart)() = nullptr;
  bool ignoresWriteSignals = false;
};

struct ParsedCommandLine;
ParsedCommandLine parseCommandLine(const ProgramDefinition& definition, int argc, char** argv);

// The options and operands of a command line that asks for the program's work.
// It refers to the definition it was read with, which must outlive it.
class Arguments {
 public:
  Arguments(const ProgramDefinition* definition, std::string calledAs);

  // The operands in order, "-" among them.
  const std::vector<const char*>& operands() const { return operands_; }
  // True when the option of that long name was given. A name that is not in
  // the table throws std::logic_error: a fault of the program, not the user.
  bool has(const char* longName) const;
  // The value of the last one given; nullptr when it was not.
  const char* value(const char* longName) const;
  // Every value given, in order.
  const std::vector<const char*>& values(const char* longName) const;

  // The program as called (argv[0] through safeUtf8), as the usage names it.
  const std::string& calledAs() const { return calledAs_; }
  // Writes the short usage line (ProgramDefinition::shortUsage) to `stream`.
  void printUsage(std::FILE* stream) const;

 private:
  friend ParsedCommandLine parseCommandLine(const ProgramDefinition& definition, int argc,
                                            char** argv);

  std::size_t indexOf(const char* longName) const;

  const ProgramDefinition* definition_;
  std::string calledAs_;
  std::vector<const char*> operands_;
  std::vector<std::size_t> counts_;               // per option: how many times given
  std::vector<std::vector<const char*>> values_;  // per option: its values
};

// What a command line asks for.
enum class Request {
  kWork,           // the program's work, with Arguments
  kUsage,          // too few operands (or too many, without extraOperand)
  kHelp,           // -h, --help
  kVersion,        // -V, --version
  kUnknownOption,  // an option not in the table
  kMissingValue,   // an option that needs a value has none, or an empty one
  kTooMany,        // a repeatable option given more than its maximum
  kExtraOperand,   // an operand past maxOperands
};

struct ParsedCommandLine {
  Request request = Request::kUsage;
  Arguments arguments;
  const char* culprit = nullptr;  // the argument refused (unknown, missing its value, extra)
  std::size_t option = 0;         // kMissingValue, kTooMany: the option's index in the table
};

// Reads argv[1..argc-1] against the table, left to right: --help, --version
// and the first argument refused end the reading there. Prints nothing.
ParsedCommandLine parseCommandLine(const ProgramDefinition& definition, int argc, char** argv);

// The name --help shows: argv[0] without its folder (and without ".exe" on
// Windows), through safeUtf8; definition.name when that leaves nothing.
std::string helpName(const ProgramDefinition& definition, const char* argv0);

// The whole --help text, naming the program `name`.
std::string helpText(const ProgramDefinition& definition, const std::string& name);

// Prints what a request other than kWork calls for (the usage, --help,
// --version or the message for the argument refused) and gives the exit status.
int answer(const ProgramDefinition& definition, const ParsedCommandLine& parsed,
           const char* argv0);

// The whole of a program's main: UTF-8 arguments, the start the definition asks
// for, the command line read and answered, and `work` run when it asks for
// the work; memory that runs out anywhere is definition.outOfMemory and
// definition.errorStatus, never an abort. Gives the exit status.
int runProgram(const ProgramDefinition& definition, int argc, char** argv,
               int (*work)(const Arguments& arguments));

}  // namespace d88

#endif  // D88CUT_CONSOLE_PROGRAM_H_
