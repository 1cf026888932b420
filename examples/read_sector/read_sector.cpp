// Reads one sector of disk 0 of a D88 image with the installed reader library
// and shows its first bytes.
//   read_sector IMAGE [TRACK C H R N]     (default: track 0, C 0, H 0, R 1, N 3)
#include <d88/image.h>

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
  d88::SectorAddress at{0, 0, 0, 1, 3};
  if (argc == 7) {
    at = {std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
          std::atoi(argv[6])};
  }

  d88::Image image;
  d88::Status s = d88::Image::open(argv[1], &image);
  if (s.ok()) s = image.selectDisk(0);
  if (!s.ok()) {
    std::fprintf(stderr, "%s: %s\n", argv[1], s.toString().c_str());
    return 1;
  }
  std::vector<std::uint8_t> sector(static_cast<std::size_t>(128) << (at.n & 7));
  std::int32_t got = 0;
  s = image.readSector(at, sector.data(), static_cast<std::int32_t>(sector.size()), &got);
  std::printf("%s: %d disk(s), disk 0 \"%s\"; %s: %d bytes\n", argv[1],
              static_cast<int>(image.disks().size()), image.disk().name.c_str(),
              d88::sectorAddressText(at).c_str(), static_cast<int>(got));
  if (!s.ok()) {
    std::fprintf(stderr, "%s: %s\n", argv[1], s.toString().c_str());
    return 1;
  }
  // The first 32 bytes, as text where printable.
  for (std::int32_t i = 0; i < got && i < 32; ++i) {
    const std::uint8_t byte = sector[static_cast<std::size_t>(i)];
    std::putchar(std::isprint(byte) ? byte : '.');
  }
  std::putchar('\n');
  return 0;
}
