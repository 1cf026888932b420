// Builds disks that hold file systems, in memory: a disk as logical sectors
// of one geometry, FAT12 volumes with or without a BPB, and the Disk BASIC
// layouts of N88-BASIC, F-BASIC and Hu-BASIC, each with files laid on their
// clusters. Each builder states its layout's facts itself, so that a test
// checks the reader against an independent account of the format.
#ifndef D88CUT_TESTS_SUPPORT_FS_BUILDER_H_
#define D88CUT_TESTS_SUPPORT_FS_BUILDER_H_

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "d88_builder.h"

namespace d88test {

using d88build::Bytes;

// Tracks of equal sectors, both sides, as logical sectors numbered from 0
// (sector k: track k / spt, R = k % spt + 1; track t: C = t / 2, H = t % 2).
struct SectorDisk {
  SectorDisk(int cylinders, int sectorsPerTrack, int sizeCode, std::uint8_t media, std::uint8_t fill);

  int cylinders;
  int sectorsPerTrack;
  int sizeCode;
  std::uint8_t media;
  std::vector<Bytes> sectors;
  std::set<std::uint32_t> missing;             // left out of the image
  std::map<std::uint32_t, std::uint8_t> status;  // a record status byte, e.g. 0xB0

  std::size_t sectorBytes() const { return std::size_t{128} << sizeCode; }
  // Writes `bytes` from byte `offset` of logical sector `sector` on, into the sectors after it.
  void put(std::uint32_t sector, std::size_t offset, const Bytes& bytes);
  d88build::Disk disk() const;
  Bytes image() const;
};

// Deterministic file content.
Bytes fileBytes(int seed, std::size_t size);

// A FAT12 volume.
struct FatFormat {
  int cylinders = 77;
  int sectorsPerTrack = 8;
  int sizeCode = 3;
  std::uint32_t sectorsPerCluster = 1;
  std::uint32_t fats = 2;
  std::uint32_t rootEntries = 192;
  std::uint32_t fatSectors = 2;
  std::uint8_t media = 0xFE;
  bool bpb = true;
};
// PC-98/FM Towns 1.2 MB and PC-98 640 KB, as formatted without a BPB.
FatFormat pc98HighDensity();
FatFormat pc98DoubleDensity640();

class FatBuilder {
 public:
  explicit FatBuilder(const FatFormat& format);

  // Adds a file of `data` as NAME.EXT in the root or in `folder` (made by
  // addFolder), on the clusters given or the next free ones; its first cluster.
  std::uint32_t addFile(const std::string& name, const Bytes& data, const std::string& folder = "",
                        std::vector<std::uint32_t> clusters = {}, std::uint16_t date = 0x5021,
                        std::uint16_t time = 0x6000, std::uint8_t attributes = 0x20);
  void addFolder(const std::string& name);
  void setLabel(const std::string& label);
  // Writes `value` as cluster `cluster`'s FAT entry in every copy.
  void setEntry(std::uint32_t cluster, std::uint32_t value);
  std::uint32_t entry(std::uint32_t cluster) const;
  // The logical sector of sector `index` of `cluster`.
  std::uint32_t sectorOf(std::uint32_t cluster, std::uint32_t index = 0) const;
  std::uint32_t clusters() const;
  std::uint64_t clusterBytes() const;

  SectorDisk disk;

 private:
  void addEntry(const std::string& folder, const Bytes& entry);
  std::uint32_t nextFree() const;
  FatFormat f_;
  std::uint32_t rootUsed_ = 0;
  std::map<std::string, std::pair<std::uint32_t, std::uint32_t>> folders_;  // first cluster, entries used
};

// A FAT disk whose folder BIG (clusters 2 to 262) holds 8,350 empty files,
// more than a listing keeps.
FatBuilder fatWithManyEntries();

// The Disk BASIC layouts the tests build.
// Hu-BASIC 2DD (MZ-2500) keeps its 160 clusters' table as 2HD does, each
// entry two 7-bit halves, in track 0 R 15 and 16.
enum class BasicLayout { kN88_2D, kN88_2DD, kN88_2HD, kFBasic2D, kHuBasic2D, kHuBasic2DD, kHuBasic2HD };

class BasicBuilder {
 public:
  explicit BasicBuilder(BasicLayout layout);

  // Adds a file on the next free clusters; its first cluster. `kind` is the
  // N88 attribute byte, the F-BASIC file type, or the Hu-BASIC mode.
  std::uint32_t addFile(const std::string& name, const std::string& ext, const Bytes& data,
                        std::uint8_t kind);
  // Writes `value` as cluster `cluster`'s table entry (low byte on Hu-BASIC 2HD).
  void setEntry(std::uint32_t cluster, std::uint8_t value);
  std::uint32_t sectorOf(std::uint32_t cluster, std::uint32_t index = 0) const;
  std::uint32_t freeClusters() const;
  std::uint64_t clusterBytes() const { return std::uint64_t{256} * static_cast<std::uint64_t>(perCluster_); }
  std::uint32_t clusters() const { return clusters_; }

  SectorDisk disk;

 private:
  std::uint8_t entry(std::uint32_t cluster) const;
  bool isFree(std::uint32_t cluster) const;
  void setLink(std::uint32_t cluster, std::uint32_t next);
  void setEnd(std::uint32_t cluster, int usedSectors);
  BasicLayout layout_;
  std::uint32_t clusters_ = 0;
  int perCluster_ = 0;
  std::uint32_t dataStart_ = 0;
  std::uint32_t tableSector_ = 0;
  std::uint32_t tableCopies_ = 1;
  std::uint32_t dirSector_ = 0;
  std::uint32_t dirUsed_ = 0;
  std::uint8_t freeValue_ = 0xFF;
};

}  // namespace d88test

#endif  // D88CUT_TESTS_SUPPORT_FS_BUILDER_H_
