// d88split: writes each disk of a multi-disk D88 file to a file of its own,
// STEM.disk0.d88, STEM.disk1.d88, ..., byte for byte as the file holds them.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console.h"
#include "file_system.h"
#include "interrupts.h"
#include "output_file.h"
#include "split_image.h"

namespace {

constexpr char kHelpText[] =
    "Writes each disk of a D88 floppy-disk image to a file of its own, named after\n"
    "the image: STEM.disk0.d88, STEM.disk1.d88, ... (STEM is the image's name without\n"
    "its last extension; stdin for standard input, named -). Each file holds the\n"
    "disk's bytes as they stand; the files put back together are the image again.\n"
    "\n"
    "  -o, --output DIR  write the files into DIR, made when missing (not its parents)\n"
    "  -h, --help        show this help and exit\n"
    "  -V, --version     show the version and exit\n"
    "  --                end of options: the next argument is the image, whatever its name\n"
    "\n"
    "Exit status: 0 when every disk was written; 1 otherwise. See d88split(1).\n";

struct Arguments {
  enum class Action { kUsage, kHelp, kVersion, kUnknownOption, kMissingFolder, kExtraOperand, kSplit };
  Action action = Action::kUsage;
  const char* image = nullptr;
  const char* folder = nullptr;
  const char* unknown = nullptr;  // the option not understood, or missing its folder; the extra operand
};

Arguments parseArguments(int argc, char** argv) {
  Arguments args;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const bool option = !optionsEnded && arg[0] == '-' && arg[1] != '\0';
    if (!option) {
      if (args.image != nullptr) {
        args.action = Arguments::Action::kExtraOperand;
        args.unknown = arg;
        return args;
      }
      args.image = arg;
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
    } else {
      args.action = Arguments::Action::kUnknownOption;
      args.unknown = arg;
      return args;
    }
  }
  if (args.image != nullptr) args.action = Arguments::Action::kSplit;
  return args;
}

void printUsage(std::FILE* stream, const char* program) {
  d88::print(stream, "Usage: %s [-o DIR] IMAGE\n", program);
}

}  // namespace

static int run(int argc, char** argv) {
  d88::useUtf8Arguments(&argc, &argv);
  d88::removeTemporaryOnInterrupt();
  d88::ignoreWriteSignals();
  const std::string program =
      d88::safeUtf8(argc > 0 && argv[0] != nullptr ? argv[0] : "d88split");
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
      d88::print(stdout, "d88split " D88_VERSION "\n");
      return d88::standardOutputWritten() ? 0 : 1;
    case Arguments::Action::kUnknownOption:
      d88::print(stderr, "d88split: unknown option %s (d88split --help lists the options)\n",
                 d88::safeUtf8(args.unknown).c_str());
      return 1;
    case Arguments::Action::kMissingFolder:
      d88::print(stderr,
                 "d88split: option %s needs a folder (d88split --help lists the options)\n",
                 d88::safeUtf8(args.unknown).c_str());
      return 1;
    case Arguments::Action::kExtraOperand:
      d88::print(stderr, "d88split: one image at a time; %s is one too many\n",
                 d88::safeUtf8(args.unknown).c_str());
      return 1;
    case Arguments::Action::kSplit:
      break;
  }
  std::string imagePath;
  if (!d88::expandToOneImage("d88split", args.image, &imagePath)) return 1;
  const std::string image = d88::safeUtf8(imagePath);

  static d88::D88Image theImage;
  if (!theImage.open(imagePath.c_str())) {
    d88::print(stderr, "d88split: cannot open %s: %s\n", image.c_str(),
               std::strerror(theImage.openError()));
    return 1;
  }
  // Where the disks stand must be known for certain before anything is
  // written: a search that a read stopped could leave disks in the last file.
  if (!theImage.directoryStatus().ok()) {
    d88::print(stderr, "Error: cannot read %s: %s; nothing is written\n", image.c_str(),
               theImage.directoryStatus().reason().c_str());
    return 1;
  }
  const std::vector<d88::DiskPart> parts = d88::diskParts(theImage);
  if (parts.empty()) {
    if (!theImage.readFailure().ok()) {
      d88::print(stderr, "Error: cannot read %s: %s\n", image.c_str(),
                 theImage.readFailure().reason().c_str());
    } else {
      d88::print(stderr, "Error: %s holds no D88 disk (no complete 688-byte disk header)\n",
                 image.c_str());
    }
    return 1;
  }
  if (args.folder != nullptr) {
    if (const int error = d88::makeFolder(args.folder)) {
      d88::print(stderr, "Error: cannot write into %s: %s; nothing is written\n",
                 d88::safeUtf8(args.folder).c_str(), std::strerror(error));
      return 1;
    }
  }
  const std::string stem = d88::imageStem(imagePath);
  const d88::CopySourceFile source(imagePath.c_str(), theImage.fileSize());
  // The names first: a part that would overwrite the image is not written.
  std::vector<std::string> names;
  std::vector<std::string> paths;
  for (const d88::DiskPart& part : parts) {
    names.push_back(d88::partFileName(stem, part.disk));
    paths.push_back(d88::pathInFolder(args.folder, names.back()));
    if (d88::isSameFile(paths.back().c_str(), imagePath.c_str())) paths.back().clear();
  }
  bool allWritten = true;
  bool stopped = false;
  const auto announce = [&](std::size_t i) {
    const std::string shown = d88::safeUtf8(names[i]);
    d88::print(stdout, "writing ... %s\n", shown.c_str());
    d88::flushStandardOutput();
    if (paths[i].empty()) {
      d88::print(stderr, "Error: cannot write %s: it is the image being split\n", shown.c_str());
      allWritten = false;
    }
  };
  const auto done = [&](std::size_t i, const d88::PartResult& result) {
    const std::string shown = d88::safeUtf8(names[i]);
    const d88::DiskPart& part = parts[i];
    if (!result.readFailure.ok()) {
      d88::print(stderr, "Error: cannot read %s: %s; %s is not written\n", image.c_str(),
                 result.readFailure.reason().c_str(), shown.c_str());
      stopped = true;
      return false;
    }
    if (result.written.error != 0) {
      if (result.written.folderFailed) {
        const std::string folder = args.folder != nullptr ? d88::safeUtf8(args.folder) : ".";
        d88::print(stderr, "Error: cannot write into %s: %s; the remaining files are not written\n",
                   folder.c_str(), std::strerror(result.written.error));
        stopped = true;
        return false;
      }
      d88::print(stderr, "Error: cannot write %s: %s\n", shown.c_str(),
                 std::strerror(result.written.error));
      allWritten = false;
      return true;
    }
    if (static_cast<std::int64_t>(part.sizeField) != result.bytes) {
      d88::print(stderr, "Warning: disk %d: the size field says %lld bytes; %lld bytes are written\n",
                 part.disk, static_cast<long long>(part.sizeField),
                 static_cast<long long>(result.bytes));
    }
    return true;
  };
  d88::SplitBuffer buffer;
  d88::writeParts(theImage, parts, paths, source, &buffer, announce, done);
  if (stopped) return 1;
  if (!d88::standardOutputWritten()) return 1;
  return allWritten ? 0 : 1;
}

int main(int argc, char** argv) {
  return d88::runGuarded(run, argc, argv, "Error: out of memory");
}
