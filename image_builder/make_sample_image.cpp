// Writes a sample one-disk 2HD D88 image (77 cylinders, 2 heads, 8 sectors of
// 1,024 bytes) to the path given, for trying the tools without a real disk.
#include <cstdio>

#include "image_builder/d88_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s OUTPUT.d88\n", argc > 0 ? argv[0] : "make_sample_image");
    return 1;
  }
  d88build::Disk disk = d88build::standardDisk();
  disk.name = "SAMPLE";
  if (!d88build::writeFile(argv[1], d88build::build({disk}).bytes)) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
