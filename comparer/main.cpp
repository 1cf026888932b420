// d88cmp: whether two D88 images hold the same disks, and where they differ.
//   d88cmp [--json] [-s] [--] A B
// Exit status as cmp has it: 0 same, 1 different, 2 trouble.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "compare_images.h"
#include "console.h"

namespace {

constexpr char kHelpText[] =
    "Compares two D88 floppy-disk images disk by disk and sector by sector: disk k\n"
    "of A with disk k of B, each sector by its track and identity (C, H, R, N).\n"
    "Prints a line for each sector that is not the same (differs, only in A, only\n"
    "in B, better in A, better in B, bad in both) and a summary line per disk.\n"
    "The disks' names, media bytes, write protection and record order are noted\n"
    "but do not make the images differ. An image named - is standard input.\n"
    "\n"
    "  --json         one JSON document with every difference and the summaries\n"
    "  -s, --quiet, --silent  print nothing; the exit status tells\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "  --             end of options: no argument after it is taken for an option\n"
    "\n"
    "Exit status: 0 when every disk has the same content, 1 when any differs,\n"
    "2 on trouble (a file cannot be opened or read, usage). See d88cmp(1).\n";

struct Arguments {
  enum class Action { kUsage, kHelp, kVersion, kUnknownOption, kCompare };
  Action action = Action::kUsage;
  bool json = false;
  bool silent = false;
  std::vector<const char*> images;
  const char* unknown = nullptr;  // kUnknownOption: the option not understood
};

// Options may stand anywhere before "--"; "-" alone is an image (standard
// input), any other argument that begins with "-" is an option.
Arguments parseArguments(int argc, char** argv) {
  Arguments args;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!optionsEnded && arg[0] == '-' && arg[1] != '\0') {
      const auto is = [arg](const char* a) { return std::strcmp(arg, a) == 0; };
      if (is("--")) {
        optionsEnded = true;
      } else if (is("--json")) {
        args.json = true;
      } else if (is("-s") || is("--quiet") || is("--silent")) {
        args.silent = true;
      } else {
        args.action = is("--help") || is("-h")      ? Arguments::Action::kHelp
                      : is("--version") || is("-V") ? Arguments::Action::kVersion
                                                    : Arguments::Action::kUnknownOption;
        args.unknown = arg;
        return args;
      }
      continue;
    }
    args.images.push_back(arg);
  }
  if (args.images.size() == 2) args.action = Arguments::Action::kCompare;
  return args;
}

void printUsage(std::FILE* stream, const char* program) {
  d88::print(stream, "Usage: %s [--json] [-s] A B\n", d88::safeUtf8(program).c_str());
}

// Writes text to standard output; false, after a line on standard error, when it fails.
bool writeOut(const std::string& text) {
  d88::writeText(stdout, text);
  if (const int error = d88::flushStandardOutput()) {
    d88::print(stderr, "d88cmp: cannot write to standard output: %s\n", std::strerror(error));
    return false;
  }
  return true;
}

}  // namespace

static int run(int argc, char** argv) {
  d88::useUtf8Arguments(&argc, &argv);
  const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "d88cmp";
  const Arguments args = parseArguments(argc, argv);
  switch (args.action) {
    case Arguments::Action::kUsage:
      printUsage(stderr, program);
      return d88::kCompareTrouble;
    case Arguments::Action::kHelp:
      printUsage(stdout, program);
      return writeOut(kHelpText) ? 0 : d88::kCompareTrouble;
    case Arguments::Action::kVersion:
      return writeOut("d88cmp " D88_VERSION "\n") ? 0 : d88::kCompareTrouble;
    case Arguments::Action::kUnknownOption:
      d88::print(stderr, "d88cmp: unknown option %s (d88cmp --help lists the options)\n",
                 d88::safeUtf8(args.unknown).c_str());
      return d88::kCompareTrouble;
    case Arguments::Action::kCompare:
      break;
  }
  if (std::strcmp(args.images[0], "-") == 0 && std::strcmp(args.images[1], "-") == 0) {
    d88::print(stderr, "d88cmp: standard input (-) can be only one of the two images\n");
    return d88::kCompareTrouble;
  }
  std::string pathA;
  std::string pathB;
  if (!d88::expandToOneImage("d88cmp", args.images[0], &pathA) ||
      !d88::expandToOneImage("d88cmp", args.images[1], &pathB)) {
    return d88::kCompareTrouble;
  }
  const d88::ListingSink toStandardOutput = [](const std::string& piece) {
    return writeOut(piece);
  };
  std::string error;
  const int status = d88::compareImages(pathA.c_str(), pathB.c_str(), args.json && !args.silent,
                                        args.silent ? nullptr : &toStandardOutput, &error);
  if (!error.empty()) d88::print(stderr, "d88cmp: %s\n", error.c_str());
  return status;
}

int main(int argc, char** argv) {
  // Memory that runs out is trouble (2), never "the images differ" (1).
  return d88::runGuarded(run, argc, argv, "d88cmp: out of memory", d88::kCompareTrouble);
}
