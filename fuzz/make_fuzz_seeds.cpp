// Writes the seed corpora of the fuzz targets, made by the image builder:
// OUT/reader/ (small images of every layout the reader meets), OUT/cut/
// (images that hold the regions the command cuts), OUT/compare/ (pairs of
// images) and OUT/filesystem/ (small FAT12 and Hu-BASIC disks).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "d88_builder.h"

namespace {

using d88build::Bytes;
using d88build::Disk;

bool save(const std::string& path, const Bytes& bytes) {
  if (d88build::writeFile(path, bytes)) return true;
  std::fprintf(stderr, "cannot write %s\n", path.c_str());
  return false;
}

Disk small(int seed) { return d88build::standardDisk(seed, 3, 2, 4, 1); }

// Logical sectors of equal size on tracks of both heads, as a Disk.
Disk sectorDisk(const std::vector<Bytes>& sectors, int perTrack, int n, std::size_t tracks) {
  Disk disk;
  disk.name = "FILES";
  for (std::size_t k = 0; k < sectors.size() && k / static_cast<std::size_t>(perTrack) < tracks; ++k) {
    const int track = static_cast<int>(k) / perTrack;
    disk.tracks[track].push_back(
        d88build::record(track / 2, track % 2, static_cast<int>(k) % perTrack + 1, n, sectors[k]));
  }
  return disk;
}

// A small FAT12 volume with a BPB: 128-byte sectors, 8 a track, 40
// cylinders; one FAT of 8 sectors, 16 root entries; a file on clusters 2 to
// 4 and one whose chain loops.
Disk fatSeed() {
  std::vector<Bytes> s(640, Bytes(128, 0));
  Bytes& boot = s[0];
  const std::uint8_t bpb[] = {0xEB, 0x3C, 0x90, 'S', 'E', 'E', 'D', ' ', ' ', ' ', ' ', 128, 0, 1, 1, 0,
                              1, 16, 0, 0x80, 0x02, 0xF0, 8, 0, 8, 0, 2, 0};
  std::copy(std::begin(bpb), std::end(bpb), boot.begin());
  const std::uint8_t fat[] = {0xF0, 0xFF, 0xFF, 0x03, 0x40, 0x00, 0xFF, 0x6F, 0x00, 0x05, 0x00};  // 2->3->4, 5->6, 6->5
  std::copy(std::begin(fat), std::end(fat), s[1].begin());
  const std::uint8_t file[] = {'A', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 'T', 'X', 'T', 0x20};
  std::copy(std::begin(file), std::end(file), s[9].begin());
  s[9][0x1A] = 2;
  s[9][0x1C] = 0x2C;
  s[9][0x1D] = 0x01;  // 300 bytes
  std::copy(std::begin(file), std::end(file), s[9].begin() + 32);
  s[9][32] = 'B';
  s[9][32 + 0x1A] = 5;
  s[9][32 + 0x1C] = 0x00;
  s[9][32 + 0x1D] = 0x01;  // 256 bytes
  return sectorDisk(s, 8, 0, 4);
}

// A Hu-BASIC 2D disk cut to its first three tracks: its table, its
// directory, and one file on cluster 2.
Disk huBasicSeed() {
  std::vector<Bytes> s(48, Bytes(256, 0));
  s[14][0] = 0x01;
  s[14][1] = 0x8F;
  s[14][2] = 0x81;  // cluster 2 ends after its second sector
  for (int k = 16; k < 32; ++k) s[static_cast<std::size_t>(k)] = Bytes(256, 0xFF);
  const std::uint8_t entry[] = {0x01, 'P', 'R', 'O', 'G', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                'B', 'i', 'n', 0x20, 0x00, 0x02, 0, 0, 0, 0, 0x85, 0x61, 0x23, 0x12,
                                0x34, 0, 2, 0};
  std::copy(std::begin(entry), std::end(entry), s[16].begin());
  return sectorDisk(s, 16, 1, 3);
}

// Only the tracks the command reads, with 1,024-byte sectors.
Disk cutRegions() {
  Disk full = d88build::standardDisk();
  Disk disk;
  disk.name = "CUT";
  for (int track = 37; track <= 69; ++track) {
    if (track <= 45 || track >= 60) disk.tracks[track] = full.tracks[track];
  }
  return disk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s OUTDIR\n", argc > 0 ? argv[0] : "make_fuzz_seeds");
    return 1;
  }
  const std::string out = argv[1];
  std::filesystem::create_directories(out + "/reader");
  std::filesystem::create_directories(out + "/cut");
  bool ok = true;
  auto reader = [&](const char* name, const Bytes& bytes) {
    ok &= save(out + "/reader/" + name, bytes);
  };

  reader("one_disk.d88", d88build::build({small(0)}).bytes);
  reader("three_disks.d88", d88build::build({small(0), small(1), small(2)}).bytes);
  for (int entries : {154, 160}) {
    Disk disk = small(0);
    disk.tableEntries = entries;
    reader(("short_table_" + std::to_string(entries) + ".d88").c_str(),
           d88build::build({disk}).bytes);
  }
  Disk shuffled = small(0);
  for (auto& [track, records] : shuffled.tracks) {
    std::reverse(records.begin(), records.end());
    std::swap(records.front(), records[1]);
  }
  reader("shuffled.d88", d88build::build({shuffled}).bytes);
  Disk countZero = small(0);
  for (auto& record : countZero.tracks[1]) record.sectorCount = 0;
  reader("count_zero.d88", d88build::build({countZero}).bytes);
  Disk odd = small(0);
  odd.tracks[2][1] = odd.tracks[2][0];          // duplicate identity
  odd.tracks[3][2].c = 9;                       // identity of another cylinder
  odd.tracks[4][0].dataSize = 100;              // size that does not match the data
  odd.tracks[5][0].n = 7;
  reader("odd_identities.d88", d88build::build({odd}).bytes);
  Bytes truncated = d88build::build({small(0)}).bytes;
  truncated.resize(truncated.size() - 200);
  reader("truncated_track.d88", truncated);
  Disk sizeZero = small(0);
  sizeZero.diskSize = 0;
  reader("disk_size_zero.d88", d88build::build({sizeZero}).bytes);

  const Bytes cut = d88build::build({cutRegions()}).bytes;
  ok &= save(out + "/cut/cut_regions.d88", cut);
  Bytes cutShort = cut;
  cutShort.resize(cut.size() / 2);
  ok &= save(out + "/cut/cut_regions_truncated.d88", cutShort);
  Disk shortTable = cutRegions();
  shortTable.tableEntries = 154;
  ok &= save(out + "/cut/cut_regions_short_table.d88", d88build::build({shortTable}).bytes);

  std::filesystem::create_directories(out + "/filesystem");
  ok &= save(out + "/filesystem/fat12.d88", d88build::build({fatSeed()}).bytes);
  ok &= save(out + "/filesystem/hubasic.d88", d88build::build({huBasicSeed()}).bytes);

  // Pairs for the comparer: A's length (4 bytes, little-endian), A, then B.
  std::filesystem::create_directories(out + "/compare");
  auto pair = [&](const char* name, const Bytes& a, const Bytes& b) {
    Bytes bytes;
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(a.size() >> (8 * i)));
    bytes.insert(bytes.end(), a.begin(), a.end());
    bytes.insert(bytes.end(), b.begin(), b.end());
    ok &= save(out + "/compare/" + name, bytes);
  };
  const Bytes one = d88build::build({small(0)}).bytes;
  Disk renamed = small(0);
  renamed.name = "OTHER";
  renamed.writeProtect = 0x10;
  pair("renamed.d88", one, d88build::build({renamed}).bytes);
  pair("shuffled.d88", one, d88build::build({shuffled}).bytes);
  pair("odd_identities.d88", one, d88build::build({odd}).bytes);
  Disk marked = small(0);
  marked.tracks[1][1].status = 0xB0;
  marked.tracks[2][0].data.resize(10);
  pair("marked.d88", d88build::build({marked}).bytes, one);
  pair("disk_counts.d88", d88build::build({small(0), small(1), small(2)}).bytes, one);
  return ok ? 0 : 1;
}
