// Reads one sector of disk 0 of a D88 image with the installed reader library
// and shows its first bytes.
//   read_sector IMAGE [TRACK C H R N]     (default: track 0, C 0, H 0, R 1, N 3)
#include <d88/d88_image.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2 && argc != 7) {
    std::fprintf(stderr, "Usage: %s IMAGE [TRACK C H R N]\n", argv[0]);
    return 2;
  }
  std::int32_t at[5] = {0, 0, 0, 1, 3};  // track, C, H, R, N
  for (int i = 0; argc == 7 && i < 5; ++i) at[i] = std::atoi(argv[2 + i]);

  d88::D88Image image;
  if (!image.open(argv[1])) {
    std::fprintf(stderr, "%s: cannot open\n", argv[1]);
    return 1;
  }
  if (!image.selectDisk(0)) {
    std::fprintf(stderr, "%s: no disk\n", argv[1]);
    return 1;
  }
  std::vector<std::uint8_t> sector(static_cast<std::size_t>(128) << (at[4] & 7));
  const std::int32_t got = image.readSector(at[0], at[1], at[2], at[3], at[4], sector.data(),
                                            static_cast<std::int32_t>(sector.size()));
  std::printf("%s: %d disk(s), disk 0 \"%s\"; track %d (C %d, H %d, R %d, N %d): %d bytes\n",
              argv[1], static_cast<int>(image.diskCount()), image.diskName(),
              static_cast<int>(at[0]), static_cast<int>(at[1]), static_cast<int>(at[2]),
              static_cast<int>(at[3]), static_cast<int>(at[4]), static_cast<int>(got));
  if (got <= 0) return 1;
  // The first 32 bytes, as text where printable.
  for (std::int32_t i = 0; i < got && i < 32; ++i) {
    std::putchar(std::isprint(sector[static_cast<std::size_t>(i)]) ? sector[static_cast<std::size_t>(i)] : '.');
  }
  std::putchar('\n');
  return 0;
}
