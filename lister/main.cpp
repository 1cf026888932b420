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
#include "program.h"

namespace {

// The command line: options may stand anywhere before "--"; "-" alone is an
// image (standard input). The usage forms: images listed, one disk's tracks,
// one disk's picture (--svg alone in the last).
d88::ProgramDefinition programDefinition() {
  d88::ProgramDefinition definition;
  definition.name = "d88ls";
  definition.version = D88_VERSION;
  definition.options = {
      d88::flagOption('\0', "json", "one JSON document per image, one per line (JSON Lines)")
          .inForms(0b011),
      d88::flagOption('\0', "svg",
                      "a picture of one disk as SVG instead: d88ls --svg IMAGE [DISK]\n"
                      "(disk 0 by default), one cell per record, coloured by its state")
          .inForms(0b100, 0b100),
      d88::flagOption('\0', "fingerprint",
                      "each disk's content fingerprint: a SHA-256 of its sectors,\n"
                      "the same for dumps that differ only in the header or layout")
          .inForms(0b011),
  };
  definition.usageForms = {"IMAGE...", "IMAGE DISK", "IMAGE [DISK]"};
  definition.description =
      "Shows what D88 floppy-disk images hold: one line per disk of each image and,\n"
      "under disk 0, whether it holds every sector d88cut reads. With exactly two\n"
      "arguments of which the second is a decimal number, one line per track of\n"
      "that disk instead. An image named - is standard input. Never writes a file.\n";
  definition.endOfOptionsHelp = "end of options: no argument after it is taken for an option";
  definition.epilogue = "Exit status: 0 when every image was listed, 1 otherwise. See d88ls(1).\n";
  definition.helpColumn = 17;
  definition.shortUsage = {"[--json] IMAGE...", "[--json] IMAGE DISK", "--svg IMAGE [DISK]"};
  definition.writeFailurePrefix = "d88ls: cannot write the listing";
  definition.outOfMemory = "d88ls: out of memory";
  return definition;
}

// A disk index is plain decimal digits, nothing else (no sign, no space).
bool isDiskIndex(const char* text) {
  return text[0] != '\0' && text[std::strspn(text, "0123456789")] == '\0';
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

static int list(const d88::Arguments& args) {
  const bool json = args.has("json");
  const bool fingerprint = args.has("fingerprint");
  std::vector<const char*> images = args.operands();
  // One listing of the disks of each image, one disk's tracks, or one disk's picture.
  const bool diskNamed = images.size() == 2 && isDiskIndex(images[1]);
  const bool picture = args.has("svg");
  const char* disk = nullptr;
  if (picture) {
    // One picture of one disk of one image.
    const char* misuse = nullptr;
    if (json) {
      misuse = "--svg and --json cannot be given together";
    } else if (fingerprint) {
      misuse = "--svg and --fingerprint cannot be given together";
    } else if (images.size() > 2 || (images.size() == 2 && !diskNamed)) {
      misuse = "--svg draws one image: name one image and at most one disk";
    }
    if (misuse != nullptr) {
      d88::print(stderr, "d88ls: %s\n", misuse);
      args.printUsage(stderr);
      return 1;
    }
    disk = diskNamed ? images[1] : "0";
    images.resize(1);
  } else if (diskNamed) {
    disk = images[1];
    images.pop_back();
  }

  // One reader for every image: each open starts afresh.
  d88::Image image;
  bool outputFailed = false;
  if (disk != nullptr) {
    // On Windows the program expands a wildcard itself; one disk of one image
    // is listed.
    std::string path;
    if (!d88::expandToOneImage("d88ls", images[0], &path)) return 1;
    const d88::ListingSink toStandardOutput = [&outputFailed](const std::string& piece) {
      if (!writeOut(piece)) outputFailed = true;
      return !outputFailed;
    };
    const d88::ImageListing listing =
        picture ? d88::pictureImageDisk(image, path.c_str(), disk)
                : d88::listImageTracks(image, path.c_str(), disk, json, &toStandardOutput,
                                       fingerprint);
    if (outputFailed) return 1;
    return emit(listing, "", &outputFailed) ? 0 : 1;
  }
  std::vector<std::string> paths;
  for (const char* pattern : images) {
    for (std::string& path : d88::expandWildcard(pattern)) paths.push_back(std::move(path));
  }
  // Each image is written as soon as it is listed; one that cannot be read is
  // named on standard error and the others go on. Text blocks are headed by
  // their image's name when there is more than one; a JSON line names its
  // image itself.
  const bool headed = !json && paths.size() > 1;
  int status = 0;
  bool anyWritten = false;
  for (const std::string& path : paths) {
    const d88::ImageListing listing =
        d88::listImageDisks(image, path.c_str(), json, fingerprint);
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
  return d88::runProgram(programDefinition(), argc, argv, list);
}
