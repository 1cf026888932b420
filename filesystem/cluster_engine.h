// What the file systems share: a disk seen as logical sectors of one
// geometry, sectors read and weighed through the reader, and the cluster
// table engine that follows a file's chain, bounded by the table's own size,
// and turns it into the file's sectors and health.
#ifndef D88CUT_FILESYSTEM_CLUSTER_ENGINE_H_
#define D88CUT_FILESYSTEM_CLUSTER_ENGINE_H_

#include <cstdint>
#include <string>
#include <vector>

#include <d88/filesystem.h>
#include <d88/format.h>
#include <d88/image.h>

#include "d88_layout.h"

namespace d88 {
namespace fs {


// Tracks of equal sectors, numbered from 0 as logical sectors: sector k
// stands on track k / sectorsPerTrack, with R = firstR + k % sectorsPerTrack.
// Track t is cylinder t / heads and head t % heads, and stands in the D88
// track table at cylinder * 2 + head, as D88 images lay out both sides.
struct Geometry {
  int heads = 2;
  int sectorsPerTrack = 16;
  int sizeCode = 1;
  int firstR = 1;
  std::uint32_t sectors = 0;  // logical sectors of the whole disk

  std::int32_t sectorBytes() const { return d88::sectorBytes(sizeCode); }
};

// The address of logical sector `index`.
SectorAddress logicalSector(const Geometry& geometry, std::uint32_t index);

// The largest sector count a geometry may claim: what the track table can
// hold, so that no claim makes a walk longer than the disk.
std::uint32_t maxSectors(const Geometry& geometry);

// Sectors read and weighed through one image, with one scratch list kept.
class DiskReader {
 public:
  explicit DiskReader(Image& image) : image_(image) {}

  Image& image() { return image_; }

  // What the image holds at `address`: sound, missing, short or marked bad
  // (*status then the record's status byte).
  SectorState inspect(const SectorAddress& address, std::uint8_t* status);
  // Copies up to `bytes` of the sector into buffer, zeros where it holds
  // none, and gives its state as inspect() does.
  SectorState read(const SectorAddress& address, std::uint8_t* buffer, std::int32_t bytes,
                   std::uint8_t* status);
  // True when the sector is there whole (marked or not) and was copied.
  bool readWhole(const SectorAddress& address, std::uint8_t* buffer, std::int32_t bytes);

 private:
  Image& image_;
  std::vector<SectorRecord> records_;
};

// Reads one sector kept in several copies (`copies` addresses, at least
// one) into buffer, from the best copy: a sound one, else a marked one, else
// a short one, else zeros. Gives the chosen copy's state; when it is not
// sound, *damage (if given) is set to name it, at the first copy's address
// unless a marked or short copy was taken.
SectorState readBestCopy(DiskReader& reader, const std::vector<SectorAddress>& copies,
                         std::uint8_t* buffer, std::int32_t bytes, DamagedSector* damage);

// Reads one sector of a table kept in `copies` (at least one) into buffer:
// the copy `preferred` when it is sound, else the first sound one; with no
// sound copy, as readBestCopy() does, adding the chosen copy to *damage as
// `what`. When a sound copy was read, every other copy that is marked bad,
// or sound with other bytes, is added to *damage with copyUsed set: a table
// whose copies disagree cannot be trusted whole. Gives the read copy's state.
SectorState readTableSector(DiskReader& reader, const std::vector<SectorAddress>& copies,
                            std::size_t preferred, std::uint8_t* buffer, std::int32_t bytes,
                            const std::string& what, std::vector<DamagedSector>* damage);

// Reads a directory sector into buffer and, when it is not sound, adds it to
// *damage as `what`. True when its entries are to be read: it is there
// whole, marked or not; false when it is missing or short (the caller skips
// its entries).
bool readDirectorySector(DiskReader& reader, const SectorAddress& address, std::uint8_t* buffer,
                         std::int32_t bytes, const std::string& what,
                         std::vector<DamagedSector>* damage);

// One cluster table entry as the engine needs it.
struct Link {
  enum Kind { kNext, kEnd, kFree, kReserved, kBad };
  Kind kind = kFree;
  std::uint32_t next = 0;   // kNext
  int usedSectors = -1;     // kEnd: sectors of that cluster in use; -1 for all
};

// A cluster table and where its clusters stand.
class ClusterTable {
 public:
  virtual ~ClusterTable() = default;
  // Clusters first() to end() - 1 hold data.
  virtual std::uint32_t first() const = 0;
  virtual std::uint32_t end() const = 0;
  virtual Link link(std::uint32_t cluster) const = 0;
  virtual int sectorsPerCluster() const = 0;
  // The address of sector `index` (0 to sectorsPerCluster() - 1) of `cluster`.
  virtual SectorAddress sectorOf(std::uint32_t cluster, int index) const = 0;
  virtual std::int32_t sectorBytes() const = 0;

  std::uint64_t clusterBytes() const {
    return static_cast<std::uint64_t>(sectorsPerCluster()) * static_cast<std::uint64_t>(sectorBytes());
  }
  // Clusters whose entry says free.
  std::uint32_t freeClusters() const;
};

// The clusters of one chain, and why it broke, if it did.
struct Chain {
  std::vector<std::uint32_t> clusters;
  int lastUsedSectors = -1;  // of its last cluster, as its end entry says; -1 for all
  std::string problem;       // empty for a chain that ends as it should
  std::string sharedWith;    // the raw path of the file that owns the cluster it meets
};

// Follows the chain from `start`: at most end() - first() clusters, so a
// loop is found, never followed.
Chain walkChain(const ClusterTable& table, std::uint32_t start);

// One owner per cluster across all files: a chain that meets a cluster
// another file already holds stops before it, and is broken.
class ClusterOwners {
 public:
  explicit ClusterOwners(const ClusterTable& table)
      : first_(table.first()), owner_(table.end() - table.first(), kNone) {}
  // Gives `path` the clusters of *chain up to the first that another owns;
  // there the chain is cut and its problem says whose it is.
  void claim(Chain* chain, const std::string& path);
  // Adds to *limits, when there are any, the clusters from `from` on that
  // `table` has in use (a link or an end) and no file owns: what a damaged
  // directory or a lost entry leaves behind, files that are not listed.
  void noteUnowned(const ClusterTable& table, std::uint32_t from, std::vector<std::string>* limits) const;

 private:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
  std::uint32_t first_;
  std::vector<std::uint32_t> owner_;  // an index into paths_, or kNone
  std::vector<std::string> paths_;
};

// Gives `entry` its sectors and health from `chain`. With `sizeKnown` the
// directory's size is checked against the chain (a chain shorter or longer
// than it is broken) and the sectors are those the size needs; otherwise the
// size is what the chain holds, its last cluster counted as its end entry says.
void settleFile(DiskReader& reader, const ClusterTable& table, const Chain& chain,
                bool sizeKnown, FileEntry* entry);

// The health of `entry` from the states of its sectors, unless its chain is broken.
void weighSectors(DiskReader& reader, FileEntry* entry);

// "cluster 12": how problems name a cluster.
std::string clusterText(std::uint32_t cluster);

// A name field: the bytes up to the padding (spaces, and zero bytes) at its end.
std::string trimmedField(const std::uint8_t* field, std::size_t size);

// What a search found: the volume and its files.
struct Found {
  Volume volume;
  std::vector<FileEntry> files;
};

// FAT12 with or without a BPB. False, with *refusal saying what was expected, when the disk holds none.
bool findFat12(DiskReader& reader, bool withDeleted, Found* found, std::string* refusal);
// One of the Disk BASICs (kind kN88, kFBasic or kHuBasic), in any of its layouts.
bool findDiskBasic(DiskReader& reader, FileSystemKind kind, bool withDeleted, Found* found,
                   std::string* refusal);

}  // namespace fs
}  // namespace d88

#endif  // D88CUT_FILESYSTEM_CLUSTER_ENGINE_H_
