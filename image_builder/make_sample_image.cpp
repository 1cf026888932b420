// Writes a sample one-disk 2HD D88 image (77 cylinders, 2 heads, 8 sectors of
// 1,024 bytes) to the path given, for trying the tools without a real disk.
// Each sector says what it is: it begins with its place as text, such as
// "track 40 C 20 H 0 R 8 N 3", and the rest is zero, so that a dump of a cut
// file (xxd -a) shows which sectors went into it.
#include <algorithm>
#include <cstdio>
#include <string>

#include "d88_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s OUTPUT.d88\n", argc > 0 ? argv[0] : "make_sample_image");
    return 1;
  }
  d88build::Disk disk = d88build::standardDisk();
  disk.name = "SAMPLE";
  for (auto& [track, records] : disk.tracks) {
    for (d88build::Record& rec : records) {
      const std::string label = "track " + std::to_string(track) + " C " + std::to_string(rec.c) +
                                " H " + std::to_string(rec.h) + " R " + std::to_string(rec.r) +
                                " N " + std::to_string(rec.n) + "\n";
      std::fill(rec.data.begin(), rec.data.end(), 0);
      std::copy_n(label.begin(), std::min(label.size(), rec.data.size()), rec.data.begin());
    }
  }
  if (!d88build::writeFile(argv[1], d88build::build({disk}).bytes)) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
