// The programs' shared skeleton: the command line read against an option
// table, --help built from it, and the five programs answering through it.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "program.h"
#include "test_support.h"

namespace {

using d88::Request;
using d88test::RunResult;

// A table with each kind of option: a value with a short name, a repeatable
// value, and a flag with a second long name.
d88::ProgramDefinition toolDefinition() {
  d88::ProgramDefinition definition;
  definition.name = "tool";
  definition.version = "1.0";
  definition.options = {
      d88::valueOption('o', "output", "DIR", "a folder", "where the files go"),
      d88::valueOption('\0', "spare", "SPARE", "an image", "another dump").repeatable(3, "spares"),
      d88::flagOption('s', "quiet", "print nothing").alsoNamed("silent"),
  };
  definition.usageForms = {"IMAGE [DISK]"};
  definition.shortUsage = {"IMAGE"};
  return definition;
}

// At most two operands; past them, "extra" stops the reading when set, and
// is otherwise a usage error once all is read.
d88::ProgramDefinition twoOperandDefinition(const char* extra) {
  d88::ProgramDefinition definition = toolDefinition();
  definition.minOperands = 2;
  definition.maxOperands = 2;
  definition.extraOperand = extra;
  return definition;
}

// A command line as main() receives it, called as /usr/local/bin/tool. The
// arguments read from it point into it, so it outlives them, as does the definition.
class CommandLine {
 public:
  explicit CommandLine(std::vector<std::string> args) : args_(std::move(args)) {
    args_.insert(args_.begin(), "/usr/local/bin/tool");
    for (std::string& arg : args_) argv_.push_back(&arg[0]);
    argv_.push_back(nullptr);
  }
  d88::ParsedCommandLine parse(const d88::ProgramDefinition& definition) {
    return d88::parseCommandLine(definition, static_cast<int>(args_.size()), argv_.data());
  }

 private:
  std::vector<std::string> args_;
  std::vector<char*> argv_;
};

struct ParseCase {
  const char* what;
  std::vector<std::string> args;
  Request request;
  std::string culprit;                // the argument refused, or empty
  std::vector<std::string> operands;  // kWork: the operands
  const char* output = nullptr;       // kWork: the value of --output, if any
};

TEST(ProgramSkeletonTest, CommandLinesAreReadAsEachProgramReadItsOwn) {
  const ParseCase cases[] = {
      {"no operand", {}, Request::kUsage, "", {}},
      {"an unknown short option", {"-x", "a"}, Request::kUnknownOption, "-x", {}},
      {"an unknown long option", {"a", "--bogus"}, Request::kUnknownOption, "--bogus", {}},
      {"a flag with a value", {"--quiet=1", "a"}, Request::kUnknownOption, "--quiet=1", {}},
      {"a short flag run on", {"-sx", "a"}, Request::kUnknownOption, "-sx", {}},
      {"a negative number", {"a", "-1"}, Request::kUnknownOption, "-1", {}},
      {"a short value option last", {"a", "-o"}, Request::kMissingValue, "-o", {}},
      {"a long value option last", {"a", "--output"}, Request::kMissingValue, "--output", {}},
      {"an empty value after =", {"--output=", "a"}, Request::kMissingValue, "--output=", {}},
      {"an empty next argument", {"-o", "", "a"}, Request::kMissingValue, "-o", {}},
      {"an empty long value", {"--output", "", "a"}, Request::kMissingValue, "--output", {}},
      {"a value run on", {"-oDIR", "a"}, Request::kWork, "", {"a"}, "DIR"},
      {"a value after =", {"--output=DIR", "a"}, Request::kWork, "", {"a"}, "DIR"},
      {"a value next", {"-o", "DIR", "a"}, Request::kWork, "", {"a"}, "DIR"},
      {"a long value next", {"a", "--output", "DIR"}, Request::kWork, "", {"a"}, "DIR"},
      {"a value that looks like an option", {"-o", "--help", "a"}, Request::kWork, "", {"a"},
       "--help"},
      {"the last value given", {"-o", "x", "a", "--output=y"}, Request::kWork, "", {"a"}, "y"},
      {"an option after --", {"--", "-x"}, Request::kWork, "", {"-x"}},
      {"-- after --", {"--", "--", "--help"}, Request::kWork, "", {"--", "--help"}},
      {"- alone", {"-", "-s"}, Request::kWork, "", {"-"}},
      {"flags by each name", {"-s", "--quiet", "--silent", "a", "0"}, Request::kWork, "", {"a", "0"}},
      {"--help after an operand", {"a", "--help", "-x"}, Request::kHelp, "--help", {}},
      {"-h", {"-h"}, Request::kHelp, "-h", {}},
      {"-V after an option", {"-s", "-V"}, Request::kVersion, "-V", {}},
      {"a refusal before --help", {"-x", "--help"}, Request::kUnknownOption, "-x", {}},
      {"the most spares", {"--spare", "1", "--spare=2", "--spare", "3", "a"}, Request::kWork, "",
       {"a"}},
      {"a spare too many", {"--spare=1", "--spare=2", "--spare=3", "--spare=4", "a"},
       Request::kTooMany, "--spare=4", {}},
  };
  const d88::ProgramDefinition definition = toolDefinition();
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.what);
    CommandLine line(c.args);
    const d88::ParsedCommandLine parsed = line.parse(definition);
    EXPECT_EQ(parsed.request, c.request);
    EXPECT_EQ(parsed.culprit != nullptr ? parsed.culprit : "", c.culprit);
    if (c.request != Request::kWork) continue;
    const d88::Arguments& args = parsed.arguments;
    EXPECT_EQ(std::vector<std::string>(args.operands().begin(), args.operands().end()), c.operands);
    EXPECT_EQ(std::string(args.value("output") != nullptr ? args.value("output") : "(none)"),
              c.output != nullptr ? c.output : "(none)");
  }
}

TEST(ProgramSkeletonTest, ParsedValuesAndFlagsAreKeptByTheirLongName) {
  const d88::ProgramDefinition definition = toolDefinition();
  CommandLine line({"--spare", "x", "--silent", "a", "--spare=y"});
  const d88::ParsedCommandLine parsed = line.parse(definition);
  ASSERT_EQ(parsed.request, Request::kWork);
  const d88::Arguments& args = parsed.arguments;
  EXPECT_TRUE(args.has("quiet"));
  EXPECT_TRUE(args.has("spare"));
  EXPECT_FALSE(args.has("output"));
  EXPECT_EQ(args.value("output"), nullptr);
  EXPECT_EQ(std::vector<std::string>(args.values("spare").begin(), args.values("spare").end()),
            (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(args.calledAs(), "/usr/local/bin/tool");
  // A name the table lacks is the program's fault, not an empty answer.
  EXPECT_THROW(args.has("silent"), std::logic_error);
  EXPECT_THROW(args.value("outptu"), std::logic_error);
}

TEST(ProgramSkeletonTest, AnOperandPastTheLastStopsTheReadingOnlyWithItsMessage) {
  const struct {
    const char* what;
    const char* extra;
    std::vector<std::string> args;
    Request request;
    std::string culprit;
  } cases[] = {
      {"stops at the extra one", "%s is one too many", {"a", "b", "c", "--help"},
       Request::kExtraOperand, "c"},
      {"after --", "%s is one too many", {"a", "--", "b", "-c"}, Request::kExtraOperand, "-c"},
      {"without a message, read on", "", {"a", "b", "c", "--help"}, Request::kHelp, "--help"},
      {"without a message, a usage error", "", {"a", "b", "c"}, Request::kUsage, ""},
      {"too few", "%s", {"a"}, Request::kUsage, ""},
      {"just enough", "%s", {"a", "b"}, Request::kWork, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const d88::ProgramDefinition definition = twoOperandDefinition(c.extra);
    CommandLine line(c.args);
    const d88::ParsedCommandLine parsed = line.parse(definition);
    EXPECT_EQ(parsed.request, c.request);
    EXPECT_EQ(parsed.culprit != nullptr ? parsed.culprit : "", c.culprit);
  }
}

TEST(ProgramSkeletonTest, HelpNamesTheProgramWithoutItsFolder) {
  const d88::ProgramDefinition definition = toolDefinition();
  const struct {
    const char* argv0;
    std::string name;
  } cases[] = {
      {"/usr/local/bin/d88cut", "d88cut"},
      {"./d88cut", "d88cut"},
      {"d88cut", "d88cut"},
      {"bin/", "tool"},  // nothing after the folder: the program's own name
      {"", "tool"},
      {nullptr, "tool"},
      {"/tmp/odd\x1b]name", "odd\\x1B]name"},  // never raw control bytes
#ifdef _WIN32
      {"C:\\Program Files\\d88cut\\d88cut.exe", "d88cut"},
      {"C:D88CUT.EXE", "D88CUT"},
      {"d:/tools/d88cut.exe.bak", "d88cut.exe.bak"},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.argv0 != nullptr ? c.argv0 : "(none)");
    EXPECT_EQ(d88::helpName(definition, c.argv0), c.name);
  }
}

TEST(ProgramSkeletonTest, HelpShowsEveryOptionInItsFormsAndLinesUpTheDescriptions) {
  d88::ProgramDefinition definition = toolDefinition();
  definition.options.push_back(
      d88::flagOption('\0', "picture", "draw it\nas SVG").inForms(0b10, 0b10));
  definition.options[0].inForms(0b01);
  definition.options[1].inForms(0b01);
  definition.options[2].inForms(0b11);
  definition.options[2].help = "print nothing\nat all";
  definition.usageForms = {"IMAGE...", "IMAGE"};
  definition.description = "Does things.\n";
  definition.endOfOptionsHelp = "end of options";
  definition.epilogue = "Exit status: 0.\n";
  definition.helpColumn = 20;
  EXPECT_EQ(d88::helpText(definition, "tool"),
            "Usage: tool [-o|--output DIR] [--spare SPARE]... [-s|--quiet|--silent] [--] IMAGE..."
            " | tool [-s|--quiet|--silent] --picture [--] IMAGE\n"
            "Does things.\n"
            "\n"
            "  -o, --output DIR  where the files go\n"
            "  --spare SPARE     another dump\n"
            "  -s, --quiet, --silent  print nothing\n"
            "                         at all\n"
            "  --picture         draw it\n"
            "                    as SVG\n"
            "  -h, --help        show this help and exit\n"
            "  -V, --version     show the version and exit\n"
            "  --                end of options\n"
            "\n"
            "Exit status: 0.\n");
}

// Each program, and the long options it takes besides --help and --version.
struct Program {
  const char* path;
  const char* name;
  std::vector<std::string> longOptions;
};

const std::vector<Program>& programs() {
  static const std::vector<Program> all = {
      {D88CUT_PATH, "d88cut", {"--output", "--spare"}},
      {D88LS_PATH, "d88ls", {"--json", "--svg", "--fingerprint"}},
      {D88CMP_PATH, "d88cmp", {"--json", "--quiet", "--silent"}},
      {D88RAW_PATH, "d88raw", {"--disk", "--fill", "--geometry", "--map"}},
      {D88SPLIT_PATH, "d88split", {"--output"}},
      {D88DIR_PATH, "d88dir", {"--disk", "--fs", "--json", "--deleted"}},
      {D88GET_PATH, "d88get", {"--disk", "--fs", "--output", "--all"}},
      {D88MERGE_PATH, "d88merge", {"--output", "--disk", "--json", "--map"}},
      {D88MAKE_PATH, "d88make",
       {"--geometry", "--first", "--media", "--fm", "--name", "--protect", "--map"}},
  };
  return all;
}

TEST(ProgramSkeletonTest, EveryProgramsHelpUsageNamesItWithoutFolderAndShowsEveryOption) {
  for (const Program& program : programs()) {
    SCOPED_TRACE(program.name);
    const RunResult result = d88test::run({program.path, "--help"}, d88test::RunOptions());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    const std::vector<std::string> lines = d88test::lines(result.out);
    ASSERT_FALSE(lines.empty());
    const std::string& usage = lines.front();
    const std::string start = std::string("Usage: ") + program.name + " ";
    EXPECT_EQ(usage.rfind(start, 0), 0u) << usage;
    const std::string named = usage.substr(7, usage.find(' ', 7) - 7);
    EXPECT_EQ(named.find_first_of("/\\"), std::string::npos) << usage;
    for (const std::string& option : program.longOptions) {
      EXPECT_NE(usage.find(option), std::string::npos) << option << " in: " << usage;
      // And in the list of options below it.
      EXPECT_NE(result.out.find(option, usage.size()), std::string::npos) << option;
    }
    EXPECT_NE(result.out.find("\n  -h, --help "), std::string::npos);
    EXPECT_NE(result.out.find("\n  -V, --version "), std::string::npos);
  }
}

// The refusals the skeleton reports keep each program's own words and status.
TEST(ProgramSkeletonTest, RefusalsKeepEachProgramsWordsAndStatus) {
  const struct {
    const char* path;
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      {D88CUT_PATH, {"-q"}, 1, "d88cut: unknown option -q (d88cut --help lists the options)"},
      {D88CUT_PATH, {"a", "--spare"}, 1,
       "d88cut: option --spare needs an image (d88cut --help lists the options)"},
      {D88CMP_PATH, {"--json", "-x", "a", "b"}, 2,
       "d88cmp: unknown option -x (d88cmp --help lists the options)"},
      {D88CMP_PATH, {"a", "b", "c"}, 2, std::string("Usage: ") + D88CMP_PATH + " [--json] [-s] A B"},
      {D88RAW_PATH, {"--disk=", "a", "b"}, 1,
       "d88raw: option --disk needs a value (d88raw --help lists the options)"},
      {D88RAW_PATH, {"a", "b", "c", "--help"}, 1,
       "d88raw: one image and one output at a time; c is one too many "
       "(d88raw --help lists the options)"},
      {D88SPLIT_PATH, {"a", "--", "-b"}, 1, "d88split: one image at a time; -b is one too many"},
      {D88SPLIT_PATH, {"--output"}, 1,
       "d88split: option --output needs a folder (d88split --help lists the options)"},
      {D88MERGE_PATH, {"a"}, 1, std::string("Usage: ") + D88MERGE_PATH +
                                    " [-o OUT] [--disk N] [--json] [--map MAP.json] DUMP DUMP..."},
      {D88MERGE_PATH, {"--map", "a", "b"}, 1, std::string("Usage: ") + D88MERGE_PATH +
                                    " [-o OUT] [--disk N] [--json] [--map MAP.json] DUMP DUMP..."},
      {D88MAKE_PATH, {"--fm", "--geometry=", "a", "b"}, 1,
       "d88make: option --geometry needs a value (d88make --help lists the options)"},
      {D88MAKE_PATH, {"a", "b", "c"}, 1,
       "d88make: one raw image and one output at a time; c is one too many "
       "(d88make --help lists the options)"},
      {D88LS_PATH, {"--svg", "--json", "a"}, 1,
       std::string("d88ls: --svg and --json cannot be given together") + d88test::kNewline +
           "Usage: " + D88LS_PATH + " [--json] IMAGE... | " + D88LS_PATH + " [--json] IMAGE DISK | " +
           D88LS_PATH + " --svg IMAGE [DISK]"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv = c.args;
    argv.insert(argv.begin(), c.path);
    SCOPED_TRACE(c.err);
    const RunResult result = d88test::run(argv, d88test::RunOptions());
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, c.err + d88test::kNewline);
  }
}

}  // namespace
