// d88cut: cuts the twenty fixed regions of the first disk of a D88 image into
// files in the current directory.
#include <cstdio>
#include <cstring>

#include "cutter/cut_plan.h"

namespace {

// "ファイルをオープンできません." in Shift_JIS (code page 932), whatever the
// console's code page: users' scripts and terminals expect these bytes.
constexpr char kOpenFailureMessage[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76"
    "\x83\x93\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1.\n";

// Static storage: the image stays open until exit, when its destruction closes it.
d88::D88Image theImage;

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "Usage: %s [d88file] (DiskNo.)\n",
                 argc > 0 && argv[0] != nullptr ? argv[0] : "d88cut");
    return 1;
  }
  // A second argument (a disk number) is accepted and not read: disk 0 is cut.
  const char* imagePath = argv[1];
  if (!theImage.open(imagePath)) {
    std::fputs(kOpenFailureMessage, stderr);
    return 1;
  }
  // Nothing is written for a file that holds no disk, so earlier outputs survive.
  if (!theImage.selectDisk(0)) {
    std::fprintf(stderr, "Error: %s holds no D88 disk (no complete 688-byte disk header)\n",
                 imagePath);
    return 1;
  }
  const d88::CutResult result = d88::cutAllFiles(theImage, imagePath);
  // A failing disk or network share can make reads fail: say so, since every
  // sector it hid was reported as missing.
  if (theImage.readError() != 0) {
    std::fprintf(stderr, "Error: cannot read %s: %s\n", imagePath,
                 std::strerror(theImage.readError()));
  }
  if (result == d88::CutResult::kNothingToSalvage) {
    std::fprintf(stderr,
                 "Error: %s holds none of the sectors d88cut reads on disk 0; nothing is written\n",
                 imagePath);
  }
  return result == d88::CutResult::kWhole && theImage.readError() == 0 ? 0 : 1;
}
