// d88cut: cuts the twenty fixed regions of the first disk of a D88 image into
// files in the current directory, or the folder -o names.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console.h"
#include "cut_file.h"
#include "cut_plan.h"
#include "output_file.h"

namespace {

// "ファイルをオープンできません." in Shift_JIS (code page 932), whatever the
// console's code page: users' scripts and terminals expect these bytes.
constexpr char kOpenFailureMessage[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76"
    "\x83\x93\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1.\n";

constexpr char kHelpText[] =
    "Cuts twenty fixed regions of disk 0 of a D88 floppy-disk image into the files\n"
    "PROG, VD000, VD001, MA000-MA008 and MB000-MB007, in the current directory or DIR.\n"
    "DiskNo. is accepted and not read: disk 0 is always cut. An image named -\n"
    "is standard input.\n"
    "\n"
    "  -o, --output DIR  write the files into DIR, made when missing (not its parents)\n"
    "  -h, --help        show this help and exit\n"
    "  -V, --version     show the version and exit\n"
    "  --                end of options: the next argument is the image, whatever its name\n"
    "\n"
    "Exit status: 0 when all twenty files were written whole from sound sectors;\n"
    "2 when all twenty were written but some are incomplete or hold sectors marked\n"
    "bad; 1 otherwise (nothing cut, a file not written, a read that failed).\n"
    "See d88cut(1).\n";

// Static storage: the image stays open until exit, when its destruction closes it.
d88::D88Image theImage;

// What the command line asks for. Options are recognised before "--" only;
// "-" alone is an operand (standard input), any other argument that begins
// with "-" is an option.
struct Arguments {
  enum class Action { kUsage, kHelp, kVersion, kUnknownOption, kMissingFolder, kCut };
  Action action = Action::kUsage;
  const char* image = nullptr;    // the first operand
  const char* disk = nullptr;     // the second operand, if any: not read
  const char* folder = nullptr;   // -o DIR: where the files go
  const char* unknown = nullptr;  // the option not understood, or missing its folder
};

Arguments parseArguments(int argc, char** argv) {
  Arguments args;
  bool optionsEnded = false;
  int operands = 0;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const bool option = !optionsEnded && arg[0] == '-' && arg[1] != '\0';
    if (!option) {
      // Operands after the second one are accepted and not read, as ever.
      if (operands == 0) args.image = arg;
      if (operands == 1) args.disk = arg;
      ++operands;
      continue;
    }
    if (std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
    } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      args.action = Arguments::Action::kHelp;
      return args;
    } else if (std::strcmp(arg, "--version") == 0 || std::strcmp(arg, "-V") == 0) {
      args.action = Arguments::Action::kVersion;
      return args;
    } else if (std::strncmp(arg, "--output=", 9) == 0) {
      args.folder = arg + 9;
    } else if (std::strncmp(arg, "-o", 2) == 0 && arg[2] != '\0') {
      args.folder = arg + 2;
    } else if (std::strcmp(arg, "--output") == 0 || std::strcmp(arg, "-o") == 0) {
      if (i + 1 == argc) {
        args.action = Arguments::Action::kMissingFolder;
        args.unknown = arg;
        return args;
      }
      args.folder = argv[++i];
    } else {
      args.action = Arguments::Action::kUnknownOption;
      args.unknown = arg;
      return args;
    }
    if (args.folder != nullptr && args.folder[0] == '\0') {
      args.action = Arguments::Action::kMissingFolder;
      args.unknown = arg;
      return args;
    }
  }
  if (args.image != nullptr) args.action = Arguments::Action::kCut;
  return args;
}

// The status after --help or --version: 1, with a message, when standard
// output could not take the answer.
int answered() {
  if (const int error = d88::flushStandardOutput()) {
    d88::print(stderr, "Error: cannot write to standard output: %s\n", std::strerror(error));
    return 1;
  }
  return 0;
}

void printUsage(std::FILE* stream, const char* program) {
  d88::print(stream, "Usage: %s [d88file] (DiskNo.)\n", program);
}

// True for a disk number that names disk 0: one or more zero digits.
bool namesDiskZero(const char* disk) {
  return disk[0] != '\0' && disk[std::strspn(disk, "0")] == '\0';
}

// "Error: cannot read IMAGE: REASON", for a read of the image that failed.
void reportReadFailure(const std::string& image, const d88::Status& failure) {
  d88::print(stderr, "Error: cannot read %s: %s\n", image.c_str(), failure.reason().c_str());
}

}  // namespace

static int run(int argc, char** argv) {
  d88::useUtf8Arguments(&argc, &argv);
  d88::removeTemporaryOnInterrupt();
  // A closed standard output must not stop the cut half-way: the files are
  // all cut, then the failed progress lines are reported. A file past the
  // file-size limit is an error of its own, and its temporary goes.
  d88::ignoreWriteSignals();
  const std::string program =
      d88::safeUtf8(argc > 0 && argv[0] != nullptr ? argv[0] : "d88cut");
  const Arguments args = parseArguments(argc, argv);
  switch (args.action) {
    case Arguments::Action::kUsage:
      printUsage(stderr, program.c_str());
      return 1;
    case Arguments::Action::kHelp:
      printUsage(stdout, program.c_str());
      d88::print(stdout, "%s", kHelpText);
      return answered();
    case Arguments::Action::kVersion:
      d88::print(stdout, "d88cut " D88_VERSION "\n");
      return answered();
    case Arguments::Action::kUnknownOption:
      d88::print(stderr, "d88cut: unknown option %s (d88cut --help lists the options)\n",
                 d88::safeUtf8(args.unknown).c_str());
      return 1;
    case Arguments::Action::kMissingFolder:
      d88::print(stderr, "d88cut: option %s needs a folder (d88cut --help lists the options)\n",
                 d88::safeUtf8(args.unknown).c_str());
      return 1;
    case Arguments::Action::kCut:
      break;
  }
  // On Windows the program expands a wildcard itself; it cuts one image only.
  const std::vector<std::string> matches = d88::expandWildcard(args.image);
  if (matches.size() > 1) {
    d88::print(stderr, "d88cut: %s matches %d images; name one\n",
               d88::safeUtf8(args.image).c_str(), static_cast<int>(matches.size()));
    return 1;
  }
  const std::string imagePath = matches.empty() ? std::string(args.image) : matches.front();
  const std::string image = d88::safeUtf8(imagePath);
  // The disk number is not read; a user who asked for another disk is told.
  if (args.disk != nullptr && !namesDiskZero(args.disk)) {
    std::fputs("Note: the disk number is not read; disk 0 is cut\n", stderr);
  }
  if (!theImage.open(imagePath.c_str())) {
    std::fputs(kOpenFailureMessage, stderr);
    // The same failure, readable on a UTF-8 terminal, with the system's reason.
    d88::print(stderr, "d88cut: cannot open %s: %s\n", image.c_str(),
               std::strerror(theImage.openError()));
    return 1;
  }
  // Nothing is written for a file that holds no disk, or none of the sectors
  // the cuts read, so that earlier outputs survive.
  if (!theImage.selectDisk(0)) {
    if (!theImage.readFailure().ok()) {
      reportReadFailure(image, theImage.readFailure());
    } else {
      d88::print(stderr, "Error: %s holds no D88 disk (no complete 688-byte disk header)\n",
                 image.c_str());
    }
    return 1;
  }
  if (!d88::planFindsAnySector(theImage)) {
    if (!theImage.readFailure().ok()) {
      reportReadFailure(image, theImage.readFailure());
    } else {
      d88::print(stderr,
                 "Error: %s holds none of the sectors d88cut reads on disk 0; nothing is written\n",
                 image.c_str());
      // A lead: what the disk does hold, in the listing's words.
      d88::print(stderr, "Note: disk 0 holds %s; d88ls %s lists it\n",
                 d88::trackCountsText(theImage.countTracks()).c_str(), image.c_str());
    }
    return 1;
  }
  const d88::CutTarget target{imagePath.c_str(), args.folder};
  if (args.folder != nullptr) {
    if (const int error = d88::makeFolder(args.folder)) {
      d88::reportFolderFailure(target, error);
      return 1;
    }
  }
  bool allWritten = true;
  bool allWhole = true;
  for (const d88::Cut& cut : d88::cutPlan()) {
    const d88::CutFileResult result = d88::cutFile(theImage, target, cut);
    if (result == d88::CutFileResult::kFolderFailed) return 1;
    if (result == d88::CutFileResult::kFailed) allWritten = false;
    if (result != d88::CutFileResult::kWhole) allWhole = false;
  }
  // A failing disk or network share can make reads fail: say so, since every
  // sector it hid was reported as missing.
  if (!theImage.readFailure().ok()) {
    reportReadFailure(image, theImage.readFailure());
    allWritten = false;
  }
  // The files are cut whatever became of the progress lines.
  if (const int error = d88::flushStandardOutput()) {
    d88::print(stderr, "Error: cannot write to standard output: %s\n", std::strerror(error));
    return 1;
  }
  if (!allWritten) return 1;
  return allWhole ? 0 : 2;
}

int main(int argc, char** argv) {
  return d88::runGuarded(run, argc, argv, "Error: out of memory");
}
