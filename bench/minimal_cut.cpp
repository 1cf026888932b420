// The floor for d88cut: reads the image whole with one fread and writes the
// same twenty files directly, taking every sector at the place it has in an
// image made by the image builder (8 records of 16 + 1,024 bytes per track,
// tracks in order after the 688-byte header). No checks, no temporary files.
#include <cstdio>

#include "cut_plan.h"

int main(int argc, char** argv) {
  if (argc < 2) return 1;
  constexpr long kHeader = 0x2B0;
  constexpr long kRecord = 16 + 1024;
  std::FILE* in = std::fopen(argv[1], "rb");
  if (in == nullptr) return 1;
  static unsigned char image[2 * 1024 * 1024];
  const std::size_t size = std::fread(image, 1, sizeof image, in);
  std::fclose(in);
  static unsigned char out[81920];
  for (const d88::Cut& cut : d88::cutPlan()) {
    std::printf("cutting ... %s\n", cut.name);
    int track = cut.track;
    int r = cut.r;
    for (long done = 0; done < cut.length; done += 1024) {
      const long at = kHeader + (track * 8 + r - 1) * kRecord + 16;
      const long n = cut.length - done < 1024 ? cut.length - done : 1024;
      for (long i = 0; i < n; ++i) {
        out[done + i] = static_cast<std::size_t>(at + i) < size ? image[at + i] : 0;
      }
      if (++r > 8) {
        r = 1;
        ++track;
      }
    }
    std::FILE* f = std::fopen(cut.name, "wb");
    if (f == nullptr) return 1;
    std::fwrite(out, 1, static_cast<std::size_t>(cut.length), f);
    std::fclose(f);
  }
  return 0;
}
