// d88ls: shows what a D88 image holds, before cutting it. Never writes a file.
//   d88ls [--json] IMAGE          one line per disk, and whether disk 0 holds
//                                 every sector d88cut reads
//   d88ls [--json] IMAGE DISK     one line per track of that disk
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console/console.h"
#include "lister/image_listing.h"
#include "lister/listing_format.h"

namespace {

void usage(const char* program) {
  d88::print(stderr, "Usage: %s [--json] IMAGE [DISK]\n", program);
}

// A disk index as a whole decimal number, or -1.
long parseDisk(const char* text) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 0) return -1;
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  d88::useUtf8Arguments(&argc, &argv);
  const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "d88ls";
  bool json = false;
  std::vector<const char*> args;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else {
      args.push_back(argv[i]);
    }
  }
  if (args.empty() || args.size() > 2) {
    usage(program);
    return 1;
  }
  const std::string imagePath = args[0];

  static d88::D88Image image;
  if (!image.open(imagePath.c_str())) {
    d88::print(stderr, "d88ls: cannot open %s: %s\n", imagePath.c_str(),
               std::strerror(image.openError()));
    return 1;
  }
  std::string out;
  if (args.size() == 2) {
    const long disk = parseDisk(args[1]);
    d88::DiskSummary summary;
    std::vector<d88::TrackListing> tracks;
    if (disk < 0 || disk >= image.diskCount() ||
        !d88::summarizeDisk(image, static_cast<int>(disk), &summary, &tracks)) {
      d88::print(stderr, "d88ls: %s has no disk %s (it holds %d)\n", imagePath.c_str(), args[1],
                 static_cast<int>(image.diskCount()));
      return 1;
    }
    out = json ? d88::tracksJson(imagePath, summary, tracks) : d88::tracksText(summary, tracks);
  } else {
    std::vector<d88::DiskSummary> disks;
    for (int i = 0; i < image.diskCount(); ++i) {
      d88::DiskSummary summary;
      if (d88::summarizeDisk(image, i, &summary)) disks.push_back(summary);
    }
    d88::CutCoverage coverage;
    const bool haveDisk0 = image.selectDisk(0);
    if (haveDisk0) coverage = d88::checkCutPlan(image);
    if (disks.empty()) {
      d88::print(stderr, "d88ls: %s holds no D88 disk (no complete 688-byte disk header)\n",
                 imagePath.c_str());
      return 1;
    }
    out = json ? d88::disksJson(imagePath, disks, haveDisk0 ? &coverage : nullptr)
               : d88::disksText(disks, haveDisk0 ? &coverage : nullptr);
  }
  d88::print(stdout, "%s", out.c_str());
  if (const int error = d88::finishStandardOutput()) {
    d88::print(stderr, "d88ls: cannot write the listing: %s\n", std::strerror(error));
    return 1;
  }
  return 0;
}
