// d88ls: shows what D88 images hold, before cutting them. Never writes a file.
//   d88ls [--json] IMAGE...        one line per disk of each image, and whether
//                                  disk 0 holds every sector d88cut reads
//   d88ls [--json] IMAGE DISK      one line per track of that disk
//   d88ls --svg IMAGE [DISK]       a picture of that disk (default 0) as SVG
//   --fingerprint                  each disk's content fingerprint as well
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console.h"
#include "listing_command.h"

namespace {

constexpr char kHelpText[] =
    "Shows what D88 floppy-disk images hold: one line per disk of each image and,\n"
    "under disk 0, whether it holds every sector d88cut reads. With exactly two\n"
    "arguments of which the second is a decimal number, one line per track of\n"
    "that disk instead. An image named - is standard input. Never writes a file.\n"
    "\n"
    "  --json     one JSON document per image, one per line (JSON Lines)\n"
    "  --svg      a picture of one disk as SVG instead: d88ls --svg IMAGE [DISK]\n"
    "             (disk 0 by default), one cell per record, coloured by its state\n"
    "  --fingerprint  each disk's content fingerprint: a SHA-256 of its sectors,\n"
    "                 the same for dumps that differ only in the header or layout\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "  --         end of options: no argument after it is taken for an option\n"
    "\n"
    "Exit status: 0 when every image was listed, 1 otherwise. See d88ls(1).\n";

// What the command line asks for. Options may stand anywhere before "--";
// "-" alone is an image (standard input), any other argument that begins
// with "-" is an option.
struct Arguments {
  enum class Action {
    kUsage, kHelp, kVersion, kUnknownOption, kListDisks, kListTracks, kPicture, kBadSvg
  };
  Action action = Action::kUsage;
  bool json = false;
  bool svg = false;
  bool fingerprint = false;
  std::vector<const char*> images;
  const char* disk = nullptr;     // kListTracks, kPicture: the disk index as given
  const char* misuse = nullptr;   // kBadSvg: why --svg cannot be done
  const char* unknown = nullptr;  // kUnknownOption: the option not understood
};

// A disk index is plain decimal digits, nothing else (no sign, no space).
bool isDiskIndex(const char* text) {
  return text[0] != '\0' && text[std::strspn(text, "0123456789")] == '\0';
}

Arguments parseArguments(int argc, char** argv) {
  Arguments args;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!optionsEnded && arg[0] == '-' && arg[1] != '\0') {
      const auto is = [arg](const char* a, const char* b) {
        return std::strcmp(arg, a) == 0 || std::strcmp(arg, b) == 0;
      };
      if (std::strcmp(arg, "--") == 0) {
        optionsEnded = true;
      } else if (std::strcmp(arg, "--json") == 0) {
        args.json = true;
      } else if (std::strcmp(arg, "--svg") == 0) {
        args.svg = true;
      } else if (std::strcmp(arg, "--fingerprint") == 0) {
        args.fingerprint = true;
      } else {
        args.action = is("--help", "-h")      ? Arguments::Action::kHelp
                      : is("--version", "-V") ? Arguments::Action::kVersion
                                              : Arguments::Action::kUnknownOption;
        args.unknown = arg;
        return args;
      }
      continue;
    }
    args.images.push_back(arg);
  }
  const bool diskNamed = args.images.size() == 2 && isDiskIndex(args.images[1]);
  if (args.svg && !args.images.empty()) {
    // One picture of one disk of one image.
    args.action = Arguments::Action::kBadSvg;
    if (args.json) {
      args.misuse = "--svg and --json cannot be given together";
    } else if (args.fingerprint) {
      args.misuse = "--svg and --fingerprint cannot be given together";
    } else if (args.images.size() > 2 || (args.images.size() == 2 && !diskNamed)) {
      args.misuse = "--svg draws one image: name one image and at most one disk";
    } else {
      args.action = Arguments::Action::kPicture;
      args.disk = diskNamed ? args.images[1] : "0";
      args.images.resize(1);
    }
  } else if (diskNamed) {
    args.disk = args.images[1];
    args.images.pop_back();
    args.action = Arguments::Action::kListTracks;
  } else if (!args.images.empty()) {
    args.action = Arguments::Action::kListDisks;
  }
  return args;
}

void printUsage(std::FILE* stream, const char* program) {
  const std::string name = d88::safeUtf8(program);
  d88::print(stream, "Usage: %s [--json] IMAGE... | %s [--json] IMAGE DISK | %s --svg IMAGE [DISK]\n",
             name.c_str(), name.c_str(), name.c_str());
}

// Writes text to standard output; false, after a line on standard error, when it fails.
bool writeOut(const std::string& text) {
  d88::writeText(stdout, text);
  if (const int error = d88::flushStandardOutput()) {
    d88::print(stderr, "d88ls: cannot write the listing: %s\n", std::strerror(error));
    return false;
  }
  return true;
}

// Writes one image's listing, and its error on standard error; false when
// the image failed, or standard output did (*outputFailed then).
bool emit(const d88::ImageListing& listing, const std::string& heading, bool* outputFailed) {
  if (!listing.out.empty() && !(writeOut(heading) && writeOut(listing.out))) {
    *outputFailed = true;
    return false;
  }
  if (listing.error.empty()) return true;
  d88::print(stderr, "d88ls: %s\n", listing.error.c_str());
  return false;
}

}  // namespace

static int run(int argc, char** argv) {
  d88::useUtf8Arguments(&argc, &argv);
  const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "d88ls";
  const Arguments args = parseArguments(argc, argv);
  switch (args.action) {
    case Arguments::Action::kUsage:
      printUsage(stderr, program);
      return 1;
    case Arguments::Action::kHelp:
      printUsage(stdout, program);
      return writeOut(kHelpText) ? 0 : 1;
    case Arguments::Action::kVersion:
      return writeOut("d88ls " D88_VERSION "\n") ? 0 : 1;
    case Arguments::Action::kUnknownOption:
      d88::print(stderr, "d88ls: unknown option %s (d88ls --help lists the options)\n",
                 d88::safeUtf8(args.unknown).c_str());
      return 1;
    case Arguments::Action::kBadSvg:
      d88::print(stderr, "d88ls: %s\n", args.misuse);
      printUsage(stderr, program);
      return 1;
    case Arguments::Action::kListDisks:
    case Arguments::Action::kListTracks:
    case Arguments::Action::kPicture:
      break;
  }

  // One reader for every image: open() starts afresh each time.
  static d88::D88Image image;
  bool outputFailed = false;
  if (args.action == Arguments::Action::kListTracks ||
      args.action == Arguments::Action::kPicture) {
    // On Windows the program expands a wildcard itself; one disk of one image
    // is listed.
    std::string path;
    if (!d88::expandToOneImage("d88ls", args.images[0], &path)) return 1;
    const d88::ListingSink toStandardOutput = [&outputFailed](const std::string& piece) {
      if (!writeOut(piece)) outputFailed = true;
      return !outputFailed;
    };
    const d88::ImageListing listing =
        args.action == Arguments::Action::kPicture
            ? d88::pictureImageDisk(image, path.c_str(), args.disk)
            : d88::listImageTracks(image, path.c_str(), args.disk, args.json,
                                   &toStandardOutput, args.fingerprint);
    if (outputFailed) return 1;
    return emit(listing, "", &outputFailed) ? 0 : 1;
  }
  std::vector<std::string> paths;
  for (const char* pattern : args.images) {
    for (std::string& path : d88::expandWildcard(pattern)) paths.push_back(std::move(path));
  }
  // Each image is written as soon as it is listed; one that cannot be read is
  // named on standard error and the others go on. Text blocks are headed by
  // their image's name when there is more than one; a JSON line names its
  // image itself.
  const bool headed = !args.json && paths.size() > 1;
  int status = 0;
  bool anyWritten = false;
  for (const std::string& path : paths) {
    const d88::ImageListing listing =
        d88::listImageDisks(image, path.c_str(), args.json, args.fingerprint);
    std::string heading;
    if (headed && !listing.out.empty()) {
      heading = (anyWritten ? "\n" : "") + d88::safeUtf8(path) + ":\n";
    }
    if (!emit(listing, heading, &outputFailed)) status = 1;
    if (outputFailed) return 1;
    anyWritten = anyWritten || !listing.out.empty();
  }
  return status;
}

int main(int argc, char** argv) {
  return d88::runGuarded(run, argc, argv, "d88ls: out of memory");
}
