// d88cut: cuts the twenty fixed regions of the first disk of a D88 image into
// files in the current directory, or the folder -o names.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "console.h"
#include "cut_file.h"
#include "cut_plan.h"
#include "file_system.h"
#include "interrupts.h"
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
    "  --spare SPARE     another dump of the same disk: a sector the image does not\n"
    "                    hold sound is taken from it (may be given up to 16 times)\n"
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
  enum class Action {
    kUsage, kHelp, kVersion, kUnknownOption, kMissingFolder, kMissingSpare, kTooManySpares, kCut
  };
  Action action = Action::kUsage;
  const char* image = nullptr;    // the first operand
  const char* disk = nullptr;     // the second operand, if any: not read
  const char* folder = nullptr;   // -o DIR: where the files go
  const char* unknown = nullptr;  // the option not understood, or missing its operand
  std::vector<const char*> spares;  // --spare SPARE, in the order given
};

// Spares one run opens at most: each holds an open file and its read-ahead.
constexpr std::size_t kMaxSpares = 16;

Arguments parseArguments(int argc, char** argv) {
  Arguments args;
  bool optionsEnded = false;
  int operands = 0;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const char* value = nullptr;
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
    } else if (const d88::OptionMatch folder =
                   d88::matchValueOption(argc, argv, &i, "-o", "--output", &args.folder);
               folder != d88::OptionMatch::kNone) {
      if (folder == d88::OptionMatch::kMissingValue) {
        args.action = Arguments::Action::kMissingFolder;
        args.unknown = arg;
        return args;
      }
    } else if (const d88::OptionMatch spare =
                   d88::matchValueOption(argc, argv, &i, nullptr, "--spare", &value);
               spare != d88::OptionMatch::kNone) {
      if (spare == d88::OptionMatch::kMissingValue) {
        args.action = Arguments::Action::kMissingSpare;
        args.unknown = arg;
        return args;
      }
      if (args.spares.size() == kMaxSpares) {
        args.action = Arguments::Action::kTooManySpares;
        return args;
      }
      args.spares.push_back(value);
    } else {
      args.action = Arguments::Action::kUnknownOption;
      args.unknown = arg;
      return args;
    }
  }
  if (args.image != nullptr) args.action = Arguments::Action::kCut;
  return args;
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
      return d88::standardOutputWritten() ? 0 : 1;
    case Arguments::Action::kVersion:
      d88::print(stdout, "d88cut " D88_VERSION "\n");
      return d88::standardOutputWritten() ? 0 : 1;
    case Arguments::Action::kUnknownOption:
      d88::print(stderr, "d88cut: unknown option %s (d88cut --help lists the options)\n",
                 d88::safeUtf8(args.unknown).c_str());
      return 1;
    case Arguments::Action::kMissingFolder:
      d88::print(stderr, "d88cut: option %s needs a folder (d88cut --help lists the options)\n",
                 d88::safeUtf8(args.unknown).c_str());
      return 1;
    case Arguments::Action::kMissingSpare:
      d88::print(stderr, "d88cut: option %s needs an image (d88cut --help lists the options)\n",
                 d88::safeUtf8(args.unknown).c_str());
      return 1;
    case Arguments::Action::kTooManySpares:
      d88::print(stderr, "d88cut: at most %d spares may be given\n",
                 static_cast<int>(kMaxSpares));
      return 1;
    case Arguments::Action::kCut:
      break;
  }
  std::string imagePath;
  if (!d88::expandToOneImage("d88cut", args.image, &imagePath)) return 1;
  std::vector<std::string> sparePaths(args.spares.size());
  for (std::size_t k = 0; k < args.spares.size(); ++k) {
    if (!d88::expandToOneImage("d88cut", args.spares[k], &sparePaths[k])) return 1;
  }
  // Standard input can be read once only.
  const auto readsStandardInput = [](const std::string& path) { return path == "-"; };
  if (std::count_if(sparePaths.begin(), sparePaths.end(), readsStandardInput) +
          (readsStandardInput(imagePath) ? 1 : 0) > 1) {
    d88::print(stderr, "d88cut: standard input (-) may be named once only\n");
    return 1;
  }
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
  // A spare that cannot be opened or read stops the run before anything is
  // written: the user counted on it. Each is checked as it is opened, so
  // that a failing one (a stream past its limit) is the last one read.
  std::vector<std::unique_ptr<d88::D88Image>> spareImages;
  for (const std::string& path : sparePaths) {
    spareImages.push_back(std::make_unique<d88::D88Image>());
    d88::D88Image& spare = *spareImages.back();
    if (!spare.open(path.c_str())) {
      d88::print(stderr, "d88cut: cannot open %s: %s\n", d88::safeUtf8(path).c_str(),
                 std::strerror(spare.openError()));
      return 1;
    }
    if (!spare.readFailure().ok()) {
      reportReadFailure(d88::safeUtf8(path), spare.readFailure());
      return 1;
    }
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
  d88::CutTarget target{imagePath.c_str(), args.folder};
  // A spare is used only when it is a dump of the same disk: sound sectors
  // that both hold, and none of them different.
  for (std::size_t k = 0; k < spareImages.size(); ++k) {
    d88::D88Image& spare = *spareImages[k];
    const std::string name = d88::safeUtf8(sparePaths[k]);
    if (!spare.selectDisk(0)) {
      d88::print(stderr, "Note: %s is not used: it holds no D88 disk\n", name.c_str());
      continue;
    }
    const d88::SpareAgreement agreement = d88::compareWithSpare(theImage, spare);
    // A spare that cannot be read is as good as one that cannot be opened.
    if (!spare.readFailure().ok()) {
      reportReadFailure(name, spare.readFailure());
      return 1;
    }
    if (agreement.sameDisk()) {
      target.spares.push_back({&spare, sparePaths[k], name});
    } else if (agreement.shared == 0) {
      d88::print(stderr, "Note: %s is not used: it shares no sound sector with %s\n",
                 name.c_str(), image.c_str());
    } else {
      d88::print(stderr, "Note: %s is not used: %d of the %d sectors that both hold sound differ\n",
                 name.c_str(), agreement.differing, agreement.shared);
    }
  }
  if (args.folder != nullptr) {
    if (const int error = d88::makeFolder(args.folder)) {
      d88::reportFolderFailure(target, error);
      return 1;
    }
  }
  bool allWritten = true;
  bool allWhole = true;
  std::vector<std::uint8_t> cutBuffer;  // one cut at a time: used again for each
  for (const d88::Cut& cut : d88::cutPlan()) {
    const d88::CutFileResult result = d88::cutFile(theImage, target, cut, &cutBuffer);
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
  for (std::size_t k = 0; k < spareImages.size(); ++k) {
    if (!spareImages[k]->readFailure().ok()) {
      reportReadFailure(d88::safeUtf8(sparePaths[k]), spareImages[k]->readFailure());
      allWritten = false;
    }
  }
  // The files are cut whatever became of the progress lines.
  if (!d88::standardOutputWritten()) return 1;
  if (!allWritten) return 1;
  return allWhole ? 0 : 2;
}

int main(int argc, char** argv) {
  return d88::runGuarded(run, argc, argv, "Error: out of memory");
}
