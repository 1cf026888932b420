// Writes a sample one-disk 2HD D88 image (77 cylinders, 2 heads, 8 sectors of
// 1,024 bytes) to the path given, for trying the tools without a real disk.
// Each sector says what it is: it begins with its place as text, such as
// "track 40 C 20 H 0 R 8 N 3", and the rest is zero, so that a dump of a cut
// file (xxd -a) shows which sectors went into it.
//
// Damage, to try the tools on a bad dump: --without T/R leaves sector R of
// track T out of the image; --bad T/R marks it with a data CRC error and
// garbles its text, as a failing read would. Both may repeat.
//
// With --damaged, the same disk, named DAMAGED, with one sector of each kind of
// damage a reader meets, for d88ls --svg and its check:
//   track 40 R 3 data CRC error, track 43 R 6 ID CRC error, track 10 R 5 no
//   data mark, track 12 R 7 no address mark, track 14 R 1 status 0x80 (not a
//   known one); track 41 R 2 missing; track 42 R 5 short (300 of 1,024
//   bytes); track 45 R 1 twice (a second copy ends the track); track 60 R 4
//   recorded as C 31 (another track's); track 61 R 2 deleted data; track 20
//   absent.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "d88_builder.h"

namespace {

constexpr std::uint8_t kDataCrcError = 0xB0;

int usage(const char* program) {
  std::fprintf(stderr, "Usage: %s [--damaged] [--without T/R]... [--bad T/R]... OUTPUT.d88\n",
               program);
  return 1;
}

// "T/R": a track of the sample and a sector number; false when it is not one.
bool parsePlace(const char* text, int* track, int* r) {
  char* end = nullptr;
  const long t = std::strtol(text, &end, 10);
  if (end == text || *end != '/') return false;
  const char* rest = end + 1;
  const long sector = std::strtol(rest, &end, 10);
  if (end == rest || *end != '\0' || t < 0 || t > 153 || sector < 1 || sector > 8) return false;
  *track = static_cast<int>(t);
  *r = static_cast<int>(sector);
  return true;
}

d88build::Record& sector(d88build::Disk& disk, int track, int r) {
  return disk.tracks.at(track).at(static_cast<std::size_t>(r - 1));
}

void damage(d88build::Disk& disk) {
  disk.name = "DAMAGED";
  sector(disk, 40, 3).status = 0xB0;
  sector(disk, 43, 6).status = 0xA0;
  sector(disk, 10, 5).status = 0xF0;
  sector(disk, 12, 7).status = 0xE0;
  sector(disk, 14, 1).status = 0x80;
  sector(disk, 42, 5).data.resize(300);
  sector(disk, 60, 4).c = 31;
  sector(disk, 61, 2).status = 0x10;
  sector(disk, 61, 2).deletedMark = 0x10;
  std::vector<d88build::Record>& twin = disk.tracks.at(45);
  twin.push_back(twin.front());
  std::vector<d88build::Record>& gap = disk.tracks.at(41);
  gap.erase(gap.begin() + 1);
  disk.tracks.erase(20);
}

}  // namespace

int main(int argc, char** argv) {
  const char* program = argc > 0 ? argv[0] : "make_sample_image";
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
  // The sample's own damage comes first; --without and --bad change that disk.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--damaged") == 0) {
      damage(disk);
      break;
    }
  }
  const char* output = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--damaged") == 0) continue;
    const bool without = std::strcmp(argv[i], "--without") == 0;
    const bool bad = std::strcmp(argv[i], "--bad") == 0;
    if (!without && !bad) {
      if (output != nullptr || argv[i][0] == '-') return usage(program);
      output = argv[i];
      continue;
    }
    int track = 0;
    int r = 0;
    if (i + 1 == argc) return usage(program);
    if (!parsePlace(argv[++i], &track, &r)) {
      std::fprintf(stderr, "%s: %s %s: not T/R, a track 0 to 153 and a sector 1 to 8\n", program,
                   argv[i - 1], argv[i]);
      return 1;
    }
    auto& records = disk.tracks[track];
    const auto at = std::find_if(records.begin(), records.end(),
                                 [r](const d88build::Record& rec) { return rec.r == r; });
    if (at == records.end()) continue;  // already left out
    if (without) {
      records.erase(at);
    } else {
      at->status = kDataCrcError;
      for (std::size_t k = 0; k < 16; ++k) at->data[k] ^= 0x5A;
    }
  }
  if (output == nullptr) return usage(program);
  if (!d88build::writeFile(output, d88build::build({disk}).bytes)) {
    std::perror(output);
    return 1;
  }
  return 0;
}
