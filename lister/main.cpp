// d88ls: shows what D88 images hold, before cutting them. Never writes a file.
//   d88ls [--json] IMAGE...        one line per disk of each image, and whether
//                                  disk 0 holds every sector d88cut reads
//   d88ls [--json] IMAGE DISK      one line per track of that disk
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console/console.h"
#include "lister/image_listing.h"
#include "lister/listing_format.h"

namespace {

constexpr char kHelpText[] =
    "Shows what D88 floppy-disk images hold: one line per disk of each image and,\n"
    "under disk 0, whether it holds every sector d88cut reads. With exactly two\n"
    "arguments of which the second is a decimal number, one line per track of\n"
    "that disk instead. Never writes a file.\n"
    "\n"
    "  --json     one JSON document per image, one per line (JSON Lines)\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "  --         end of options: no argument after it is taken for an option\n"
    "\n"
    "Exit status: 0 when every image was listed, 1 otherwise. See d88ls(1).\n";

// What the command line asks for. Options may stand anywhere before "--".
struct Arguments {
  enum class Action { kUsage, kHelp, kVersion, kUnknownOption, kListDisks, kListTracks };
  Action action = Action::kUsage;
  bool json = false;
  std::vector<const char*> images;
  const char* disk = nullptr;     // kListTracks: the disk index as given
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
    if (!optionsEnded && std::strncmp(arg, "--", 2) == 0) {
      if (std::strcmp(arg, "--") == 0) {
        optionsEnded = true;
      } else if (std::strcmp(arg, "--json") == 0) {
        args.json = true;
      } else {
        args.action = std::strcmp(arg, "--help") == 0      ? Arguments::Action::kHelp
                      : std::strcmp(arg, "--version") == 0 ? Arguments::Action::kVersion
                                                           : Arguments::Action::kUnknownOption;
        args.unknown = arg;
        return args;
      }
      continue;
    }
    args.images.push_back(arg);
  }
  if (args.images.size() == 2 && isDiskIndex(args.images[1])) {
    args.disk = args.images[1];
    args.images.pop_back();
    args.action = Arguments::Action::kListTracks;
  } else if (!args.images.empty()) {
    args.action = Arguments::Action::kListDisks;
  }
  return args;
}

void printUsage(std::FILE* stream, const char* program) {
  d88::print(stream, "Usage: %s [--json] IMAGE... | %s [--json] IMAGE DISK\n", program, program);
}

// Writes text to standard output; false, after a line on standard error, when it fails.
bool writeOut(const std::string& text) {
  d88::print(stdout, "%s", text.c_str());
  if (const int error = d88::flushStandardOutput()) {
    d88::print(stderr, "d88ls: cannot write the listing: %s\n", std::strerror(error));
    return false;
  }
  return true;
}

// Opens one image; false, after a line on standard error naming it, when it cannot be.
bool openImage(d88::D88Image& image, const char* path) {
  if (image.open(path)) return true;
  d88::print(stderr, "d88ls: cannot open %s: %s\n", path, std::strerror(image.openError()));
  return false;
}

// The disks of one image, as text or as one JSON line, into *out; false,
// after a line on standard error naming it, when the image cannot be read.
bool listDisks(d88::D88Image& image, const char* path, bool json, std::string* out) {
  if (!openImage(image, path)) return false;
  std::vector<d88::DiskSummary> disks;
  d88::CutCoverage coverage;
  bool haveDisk0 = false;
  for (int i = 0; i < image.diskCount(); ++i) {
    d88::DiskSummary summary;
    if (!d88::summarizeDisk(image, i, &summary)) continue;
    disks.push_back(summary);
    // Disk 0 is selected and its tracks walked just now: its coverage costs
    // no second walk.
    if (i == 0) {
      coverage = d88::checkCutPlan(image);
      haveDisk0 = true;
    }
  }
  if (disks.empty()) {
    d88::print(stderr, "d88ls: %s holds no D88 disk (no complete 688-byte disk header)\n", path);
    return false;
  }
  *out = json ? d88::disksJson(path, disks, haveDisk0 ? &coverage : nullptr)
              : d88::disksText(disks, haveDisk0 ? &coverage : nullptr);
  return true;
}

// The tracks of disk `diskText` (decimal digits) of one image, into *out.
bool listTracks(d88::D88Image& image, const char* path, const char* diskText, bool json,
                std::string* out) {
  if (!openImage(image, path)) return false;
  errno = 0;
  const unsigned long disk = std::strtoul(diskText, nullptr, 10);
  d88::DiskSummary summary;
  std::vector<d88::TrackListing> tracks;
  if (errno != 0 || disk >= static_cast<unsigned long>(image.diskCount()) ||
      !d88::summarizeDisk(image, static_cast<int>(disk), &summary, &tracks)) {
    d88::print(stderr, "d88ls: %s has no disk %s (it holds %d)\n", path, diskText,
               static_cast<int>(image.diskCount()));
    return false;
  }
  *out = json ? d88::tracksJson(path, summary, tracks) : d88::tracksText(summary, tracks);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
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
                 args.unknown);
      return 1;
    case Arguments::Action::kListDisks:
    case Arguments::Action::kListTracks:
      break;
  }

  // One reader for every image: open() starts afresh each time.
  static d88::D88Image image;
  if (args.action == Arguments::Action::kListTracks) {
    std::string out;
    if (!listTracks(image, args.images[0], args.disk, args.json, &out)) return 1;
    return writeOut(out) ? 0 : 1;
  }
  // Each image is written as soon as it is listed; one that cannot be read is
  // named on standard error and the others go on. Text blocks are headed by
  // their image's name when there is more than one; a JSON line names its
  // image itself.
  const bool headed = !args.json && args.images.size() > 1;
  int status = 0;
  bool anyWritten = false;
  for (const char* path : args.images) {
    std::string out;
    if (!listDisks(image, path, args.json, &out)) {
      status = 1;
      continue;
    }
    if (headed) out = (anyWritten ? "\n" : "") + d88::safeUtf8(path) + ":\n" + out;
    if (!writeOut(out)) return 1;
    anyWritten = true;
  }
  return status;
}
