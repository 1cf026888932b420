// d88cut: cuts the twenty fixed regions of the first disk of a D88 image into
// files in the current directory.
#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "cutter/cut_plan.h"
#include "cutter/output_file.h"

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
  d88::useUtf8Arguments(&argc, &argv);
  d88::removeTemporaryOnInterrupt();
  if (argc < 2) {
    d88::print(stderr, "Usage: %s [d88file] (DiskNo.)\n",
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
    d88::print(stderr, "Error: %s holds no D88 disk (no complete 688-byte disk header)\n",
               imagePath);
    return 1;
  }
  const bool allWhole = d88::cutAllFiles(theImage, imagePath);
  // The files are cut whatever became of the progress lines.
  if (const int error = d88::finishStandardOutput()) {
    d88::print(stderr, "Error: cannot write to standard output: %s\n", std::strerror(error));
    return 1;
  }
  return allWhole ? 0 : 1;
}
