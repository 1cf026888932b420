// MS-DOS FAT12: with a BPB in the boot sector, or without one on the
// standard PC-98 and FM Towns geometries, which the FAT's media byte and the
// sectors of track 0 decide.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cluster_engine.h"

namespace d88 {
namespace fs {
namespace {

// BPB fields of the boot sector.
constexpr std::size_t kBpbBytesPerSector = 0x0B;
constexpr std::size_t kBpbSectorsPerCluster = 0x0D;
constexpr std::size_t kBpbReservedSectors = 0x0E;
constexpr std::size_t kBpbFatCount = 0x10;
constexpr std::size_t kBpbRootEntries = 0x11;
constexpr std::size_t kBpbTotalSectors16 = 0x13;
constexpr std::size_t kBpbMedia = 0x15;
constexpr std::size_t kBpbSectorsPerFat = 0x16;
constexpr std::size_t kBpbSectorsPerTrack = 0x18;
constexpr std::size_t kBpbHeads = 0x1A;
constexpr std::size_t kBpbTotalSectors32 = 0x20;
constexpr std::size_t kBpbEnd = 0x24;

// Directory entry fields.
constexpr std::size_t kEntryBytes = 32;
constexpr std::size_t kEntryName = 0x00;
constexpr std::size_t kEntryNameBytes = 8;
constexpr std::size_t kEntryExt = 0x08;
constexpr std::size_t kEntryExtBytes = 3;
constexpr std::size_t kEntryAttributes = 0x0B;
constexpr std::size_t kEntryTime = 0x16;
constexpr std::size_t kEntryDate = 0x18;
constexpr std::size_t kEntryCluster = 0x1A;
constexpr std::size_t kEntrySize = 0x1C;

constexpr std::uint8_t kAttrReadOnly = 0x01;
constexpr std::uint8_t kAttrHidden = 0x02;
constexpr std::uint8_t kAttrSystem = 0x04;
constexpr std::uint8_t kAttrLabel = 0x08;
constexpr std::uint8_t kAttrFolder = 0x10;
constexpr std::uint8_t kAttrArchive = 0x20;
constexpr std::uint8_t kAttrLongName = 0x0F;  // read-only, hidden, system and label together
// The attribute bits a long-name entry is tested on: with folder and archive
// clear, so that a short entry that sets all four low bits and one of those
// is not taken for one.
constexpr std::uint8_t kAttrLongNameMask = 0x3F;

constexpr std::uint8_t kEntryEnd = 0x00;
constexpr std::uint8_t kEntryDeleted = 0xE5;
constexpr std::uint8_t kEntryKanjiE5 = 0x05;  // a first byte 0xE5 kept as 0x05

// FAT12 holds fewer clusters than this; more makes it FAT16.
constexpr std::uint32_t kFat12Clusters = 4085;
constexpr std::uint32_t kFirstCluster = 2;

struct Params {
  Geometry geometry;
  std::uint32_t sectorsPerCluster = 0;
  std::uint32_t reserved = 0;
  std::uint32_t fats = 0;
  std::uint32_t rootEntries = 0;
  std::uint32_t fatSectors = 0;
  std::uint8_t media = 0;
  // The copy of the FAT read first: the first whose first sector holds the
  // media byte, so that one zeroed or overwritten copy does not hide the rest.
  std::uint32_t fatCopy = 0;
  std::string layout;
  std::string reason;

  std::uint32_t rootStart() const { return reserved + fats * fatSectors; }
  std::uint32_t rootSectors() const {
    const auto bytes = static_cast<std::uint32_t>(geometry.sectorBytes());
    return (rootEntries * static_cast<std::uint32_t>(kEntryBytes) + bytes - 1) / bytes;
  }
  std::uint32_t dataStart() const { return rootStart() + rootSectors(); }
  std::uint32_t clusters() const {
    return (geometry.sectors - dataStart()) / sectorsPerCluster;
  }
};

bool powerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

int sizeCodeOf(std::uint32_t bytes) {
  for (int n = 0; n <= 6; ++n) {
    if (static_cast<std::uint32_t>(sectorBytes(n)) == bytes) return n;
  }
  return -1;
}

// The first record of track 0 with R 1: the boot sector, as a walk finds it.
bool bootRecord(Image& image, SectorRecord* record) {
  const TrackWalk walk = image.walkTrack(0);
  for (const SectorRecord& r : walk.records) {
    if (r.id.c == 0 && r.id.h == 0 && r.id.r == 1) {
      *record = r;
      return true;
    }
  }
  return false;
}

// Counts track 0's records of size code n.
int recordsOfSize(Image& image, int n) {
  const TrackWalk walk = image.walkTrack(0);
  return static_cast<int>(std::count_if(walk.records.begin(), walk.records.end(),
                                        [n](const SectorRecord& r) { return r.id.n == n; }));
}

// Reads the BPB of `boot`; false with *why when it holds none that can be used.
bool paramsFromBpb(const std::vector<std::uint8_t>& boot, Params* p, std::string* why) {
  if (boot.size() < kBpbEnd) {
    *why = "the boot sector is too short for a BPB";
    return false;
  }
  const std::uint8_t* b = boot.data();
  const std::uint32_t bytes = readLE16(b + kBpbBytesPerSector);
  const int n = sizeCodeOf(bytes);
  p->sectorsPerCluster = b[kBpbSectorsPerCluster];
  p->reserved = readLE16(b + kBpbReservedSectors);
  p->fats = b[kBpbFatCount];
  p->rootEntries = readLE16(b + kBpbRootEntries);
  std::uint32_t total = readLE16(b + kBpbTotalSectors16);
  if (total == 0) total = readLE32(b + kBpbTotalSectors32);
  p->media = b[kBpbMedia];
  p->fatSectors = readLE16(b + kBpbSectorsPerFat);
  const std::uint32_t perTrack = readLE16(b + kBpbSectorsPerTrack);
  const std::uint32_t heads = readLE16(b + kBpbHeads);
  if (n < 0) {
    *why = "no BPB (bytes per sector " + std::to_string(bytes) + " is no sector size)";
    return false;
  }
  if (!powerOfTwo(p->sectorsPerCluster) || p->reserved == 0 || p->fats == 0 || p->fats > 4 ||
      p->rootEntries == 0 || p->fatSectors == 0 || p->media < 0xF0 || perTrack == 0 ||
      perTrack > 64 || heads == 0 || heads > 2 || total == 0) {
    *why = "no BPB (its fields are not those of a FAT volume)";
    return false;
  }
  p->geometry.heads = static_cast<int>(heads);
  p->geometry.sectorsPerTrack = static_cast<int>(perTrack);
  p->geometry.sizeCode = n;
  p->geometry.firstR = 1;
  p->geometry.sectors = total;
  char text[160];
  std::snprintf(text, sizeof text,
                "the boot sector holds a BPB: %u-byte sectors, %u per cluster, %u FAT%s of %u "
                "sectors, %u root entries, media 0x%02X",
                static_cast<unsigned>(bytes), static_cast<unsigned>(p->sectorsPerCluster),
                static_cast<unsigned>(p->fats), p->fats == 1 ? "" : "s", static_cast<unsigned>(p->fatSectors),
                static_cast<unsigned>(p->rootEntries), static_cast<unsigned>(p->media));
  p->reason = text;
  p->layout = "FAT12 with a BPB";
  return true;
}

// The geometries that carry no BPB, told apart by the FAT's media byte and
// the size of track 0's sectors.
struct KnownLayout {
  const char* layout;
  std::uint8_t media;
  int sizeCode;
  int cylinders;
  int sectorsPerTrack;
  std::uint32_t sectorsPerCluster;
  std::uint32_t fatSectors;
  std::uint32_t rootEntries;
};
constexpr KnownLayout kKnownLayouts[] = {
    {"PC-98/FM Towns 1.2 MB 2HD, no BPB", 0xFE, 3, 77, 8, 1, 2, 192},
    {"PC-98 640 KB 2DD, no BPB", 0xFB, 2, 80, 8, 2, 2, 112},
};

class FatTable : public ClusterTable {
 public:
  FatTable(const Params& p, std::vector<std::uint8_t> fat) : p_(p), fat_(std::move(fat)) {}
  std::uint32_t first() const override { return kFirstCluster; }
  std::uint32_t end() const override { return kFirstCluster + p_.clusters(); }
  int sectorsPerCluster() const override { return static_cast<int>(p_.sectorsPerCluster); }
  std::int32_t sectorBytes() const override { return p_.geometry.sectorBytes(); }
  SectorAddress sectorOf(std::uint32_t cluster, int index) const override {
    return logicalSector(p_.geometry, p_.dataStart() + (cluster - kFirstCluster) * p_.sectorsPerCluster +
                                          static_cast<std::uint32_t>(index));
  }
  std::uint32_t value(std::uint32_t cluster) const {
    const std::size_t at = cluster + cluster / 2;
    if (at + 1 >= fat_.size()) return 0xFF7;  // beyond the table read: unusable
    const std::uint32_t pair = readLE16(fat_.data() + at);
    return (cluster & 1) != 0 ? pair >> 4 : pair & 0xFFF;
  }
  Link link(std::uint32_t cluster) const override {
    const std::uint32_t v = value(cluster);
    Link l;
    if (v == 0) {
      l.kind = Link::kFree;
    } else if (v >= 0xFF8) {
      l.kind = Link::kEnd;
    } else if (v == 0xFF7) {
      l.kind = Link::kBad;
    } else if (v >= 0xFF0 || v == 1) {
      l.kind = Link::kReserved;
    } else {
      l.kind = Link::kNext;
      l.next = v;
    }
    return l;
  }

 private:
  const Params& p_;
  std::vector<std::uint8_t> fat_;
};

// The addresses of FAT sector `s` in every copy.
std::vector<SectorAddress> fatCopies(const Params& p, std::uint32_t s) {
  std::vector<SectorAddress> copies;
  for (std::uint32_t copy = 0; copy < p.fats; ++copy) {
    copies.push_back(logicalSector(p.geometry, p.reserved + copy * p.fatSectors + s));
  }
  return copies;
}

// Reads the FAT, each sector from p.fatCopy when it is sound, else from
// another sound copy, else the best there is: marked, else zeros (free).
// Copies that are marked bad or disagree, and sectors with no sound copy,
// are added to *damage.
std::vector<std::uint8_t> readFat(DiskReader& reader, const Params& p,
                                  std::vector<DamagedSector>* damage) {
  const auto bytes = static_cast<std::uint32_t>(p.geometry.sectorBytes());
  // Only the sectors that the clusters need: 1.5 bytes each.
  const std::uint32_t needed = (p.clusters() + kFirstCluster) * 3 / 2 + 2;
  const std::uint32_t sectors = std::min(p.fatSectors, (needed + bytes - 1) / bytes);
  std::vector<std::uint8_t> fat(static_cast<std::size_t>(sectors) * bytes, 0);
  for (std::uint32_t s = 0; s < sectors; ++s) {
    (void)readTableSector(reader, fatCopies(p, s), p.fatCopy, fat.data() + static_cast<std::size_t>(s) * bytes,
                          static_cast<std::int32_t>(bytes), "FAT", damage);
  }
  return fat;
}

FileDate dosDate(std::uint16_t date, std::uint16_t time) {
  FileDate d;
  if (date == 0) return d;
  d.known = true;
  d.year = 1980 + (date >> 9);
  d.month = (date >> 5) & 0x0F;
  d.day = date & 0x1F;
  d.hour = time >> 11;
  d.minute = (time >> 5) & 0x3F;
  d.second = (time & 0x1F) * 2;
  return d;
}

std::string attributeLetters(std::uint8_t a) {
  std::string s;
  if ((a & kAttrReadOnly) != 0) s += 'R';
  if ((a & kAttrHidden) != 0) s += 'H';
  if ((a & kAttrSystem) != 0) s += 'S';
  if ((a & kAttrArchive) != 0) s += 'A';
  return s;
}

class FatWalker {
 public:
  FatWalker(DiskReader& reader, const Params& p, const FatTable& table, bool withDeleted, Found* found)
      : reader_(reader), p_(p), table_(table), withDeleted_(withDeleted), found_(found),
        owners_(table), visitedFolders_(table.end(), false) {}

  // Names the clusters in use that no file walked owns.
  void noteUnowned() const { owners_.noteUnowned(table_, table_.first(), &found_->volume.limits); }

  void walkRoot() {
    const auto bytes = static_cast<std::uint32_t>(p_.geometry.sectorBytes());
    std::vector<std::uint8_t> sector(bytes);
    std::uint32_t entries = 0;
    for (std::uint32_t s = 0; s < p_.rootSectors(); ++s) {
      // A missing sector's entries are skipped: those after it are still read.
      const bool readable = readDirectorySector(reader_, logicalSector(p_.geometry, p_.rootStart() + s),
                                                sector.data(), static_cast<std::int32_t>(bytes),
                                                "root folder", &found_->volume.damage);
      for (std::uint32_t at = 0; at + kEntryBytes <= bytes && entries < p_.rootEntries;
           at += kEntryBytes, ++entries) {
        if (readable && !take(sector.data() + at, "", 0, true)) return;
      }
    }
  }

 private:
  // Takes one directory entry; false at the end of the directory.
  bool take(const std::uint8_t* e, const std::string& folder, int depth, bool root) {
    const std::uint8_t firstByte = e[kEntryName];
    if (firstByte == kEntryEnd) return false;
    const std::uint8_t attributes = e[kEntryAttributes];
    if ((attributes & kAttrLongNameMask) == kAttrLongName) return true;
    const bool deleted = firstByte == kEntryDeleted;
    if (deleted && !withDeleted_) return true;
    std::string name = trimmedField(e + kEntryName, kEntryNameBytes);
    if (!name.empty() && static_cast<std::uint8_t>(name[0]) == kEntryKanjiE5) name[0] = '\xE5';
    if (deleted && !name.empty()) name[0] = '?';
    if (name == "." || name == "..") return true;
    const std::string ext = trimmedField(e + kEntryExt, kEntryExtBytes);
    if ((attributes & kAttrLabel) != 0) {
      if (root && !deleted && found_->volume.label.empty()) {
        found_->volume.label = trimmedField(e + kEntryName, kEntryNameBytes + kEntryExtBytes);
      }
      return true;
    }
    if (found_->files.size() >= kMaxFileEntries) {
      if (!capped_) found_->volume.limits.push_back("listing stopped at 8,192 entries");
      capped_ = true;
      return false;
    }
    FileEntry entry;
    entry.name = ext.empty() ? name : name + "." + ext;
    entry.path = folder.empty() ? entry.name : folder + "/" + entry.name;
    entry.deleted = deleted;
    entry.folder = (attributes & kAttrFolder) != 0;
    entry.type = entry.folder ? "folder" : "file";
    entry.attributes = attributeLetters(attributes);
    entry.date = dosDate(readLE16(e + kEntryDate), readLE16(e + kEntryTime));
    entry.size = entry.folder ? 0 : readLE32(e + kEntrySize);
    const std::uint32_t start = readLE16(e + kEntryCluster);
    if (deleted) {
      settleDeleted(start, &entry);
      found_->files.push_back(std::move(entry));
      return true;
    }
    if (entry.folder) {
      Chain chain = walkChain(table_, start);
      owners_.claim(&chain, entry.path);
      settleFile(reader_, table_, chain, false, &entry);
      entry.size = 0;
      const std::size_t index = found_->files.size();
      found_->files.push_back(std::move(entry));
      // A copy: the list grows as the folder is walked.
      const std::string path = found_->files[index].path;
      if (!chain.problem.empty()) return true;  // its health says why it is not walked
      if (depth >= kMaxFolderDepth) {
        found_->volume.limits.push_back("folder " + path + " not walked: it is more than " +
                                        std::to_string(kMaxFolderDepth) + " folders deep");
      } else if (visitedFolders_[start]) {
        found_->volume.limits.push_back("folder " + path + " not walked: its " +
                                        clusterText(start) + " was walked already");
      } else {
        visitedFolders_[start] = true;
        walkFolder(chain, path, depth + 1);
      }
      return true;
    }
    if (entry.size == 0) {
      // An empty file owns no cluster.
      if (start != 0) entry.chainProblem = "an empty file that names " + clusterText(start);
      weighSectors(reader_, &entry);
    } else {
      Chain chain = walkChain(table_, start);
      owners_.claim(&chain, entry.path);
      settleFile(reader_, table_, chain, true, &entry);
    }
    found_->files.push_back(std::move(entry));
    return true;
  }

  // A deleted file's clusters, as an undelete takes them: those that follow
  // its first, as many as its size needs, within the data area. Deleted
  // entries own no cluster, so their sectors together are bounded apart:
  // at most twice the data area's.
  void settleDeleted(std::uint32_t start, FileEntry* entry) {
    const std::uint64_t clusterBytes = table_.clusterBytes();
    const std::uint64_t needed = (entry->size + clusterBytes - 1) / clusterBytes;
    const std::uint64_t budget = 2ull * (table_.end() - table_.first());
    Chain chain;
    if (entry->size > 0 && (start < table_.first() || start >= table_.end())) {
      chain.problem = "its first " + clusterText(start) + " is out of range";
    } else if (deletedClusters_ + needed > budget) {
      chain.problem = "its clusters are not followed: the deleted entries claim more than twice the disk";
    } else {
      deletedClusters_ += needed;
    }
    for (std::uint64_t k = 0; chain.problem.empty() && k < needed; ++k) {
      const std::uint64_t c = start + k;
      if (c >= table_.end()) {
        chain.problem = "its clusters run past the end of the disk";
        break;
      }
      chain.clusters.push_back(static_cast<std::uint32_t>(c));
    }
    settleFile(reader_, table_, chain, true, entry);
  }

  void walkFolder(const Chain& chain, const std::string& path, int depth) {
    const auto bytes = static_cast<std::int32_t>(p_.geometry.sectorBytes());
    std::vector<std::uint8_t> sector(static_cast<std::size_t>(bytes));
    for (std::uint32_t cluster : chain.clusters) {
      for (int s = 0; s < table_.sectorsPerCluster(); ++s) {
        if (!readDirectorySector(reader_, table_.sectorOf(cluster, s), sector.data(), bytes,
                                 "folder " + path, &found_->volume.damage)) {
          continue;  // a missing sector's entries are skipped
        }
        for (std::size_t at = 0; at + kEntryBytes <= sector.size(); at += kEntryBytes) {
          if (!take(sector.data() + at, path, depth, false)) return;
        }
      }
    }
  }

  DiskReader& reader_;
  const Params& p_;
  const FatTable& table_;
  bool withDeleted_;
  Found* found_;
  ClusterOwners owners_;
  std::vector<bool> visitedFolders_;
  bool capped_ = false;
  std::uint64_t deletedClusters_ = 0;  // clusters taken by deleted entries so far
};

// Checks the layout against what the disk can hold and the FAT's first
// byte; false with *why when they disagree.
bool checkParams(DiskReader& reader, Params* p, std::vector<std::uint8_t>* firstFatSector,
                 std::string* why) {
  if (p->geometry.sectors > maxSectors(p->geometry)) {
    *why = "its " + std::to_string(p->geometry.sectors) + " sectors are more than a D88 disk holds";
    return false;
  }
  if (p->dataStart() >= p->geometry.sectors) {
    *why = "its data area starts past its last sector";
    return false;
  }
  if (p->clusters() >= kFat12Clusters) {
    *why = std::to_string(p->clusters()) + " clusters are too many for FAT12";
    return false;
  }
  if (p->clusters() == 0) {
    *why = "it has no cluster";
    return false;
  }
  if (static_cast<std::uint64_t>(p->fatSectors) * static_cast<std::uint64_t>(p->geometry.sectorBytes()) * 2 <
      static_cast<std::uint64_t>(p->clusters() + kFirstCluster) * 3) {
    *why = "its FAT is too small for its clusters";
    return false;
  }
  // Any copy whose first sector is there whole and starts with the media
  // byte will do: the first such is read first.
  const std::vector<SectorAddress> copies = fatCopies(*p, 0);
  firstFatSector->assign(static_cast<std::size_t>(p->geometry.sectorBytes()), 0);
  bool whole = false;
  std::uint8_t firstByte = 0;
  for (std::uint32_t copy = 0; copy < copies.size(); ++copy) {
    if (!reader.readWhole(copies[copy], firstFatSector->data(), p->geometry.sectorBytes())) continue;
    if ((*firstFatSector)[0] == p->media) {
      p->fatCopy = copy;
      return true;
    }
    if (!whole) firstByte = (*firstFatSector)[0];
    whole = true;
  }
  if (!whole) {
    *why = "no copy of its FAT's first sector is in the image";
    return false;
  }
  char text[96];
  std::snprintf(text, sizeof text, "its FAT starts with 0x%02X, not the media byte 0x%02X",
                static_cast<unsigned>(firstByte), static_cast<unsigned>(p->media));
  *why = text;
  return false;
}

}  // namespace

bool findFat12(DiskReader& reader, bool withDeleted, Found* found, std::string* refusal) {
  Image& image = reader.image();
  SectorRecord boot{};
  Params p;
  std::string bpbWhy;
  bool haveParams = false;
  std::vector<std::uint8_t> fatStart;
  if (!bootRecord(image, &boot)) {
    bpbWhy = "no boot sector (C 0, H 0, R 1) on track 0";
  } else {
    std::vector<std::uint8_t> bootBytes(static_cast<std::size_t>(std::max<std::int32_t>(boot.dataAvailable, 0)));
    std::int32_t got = 0;
    (void)image.readRecord(boot, bootBytes.data(), static_cast<std::int32_t>(bootBytes.size()), &got);
    bootBytes.resize(static_cast<std::size_t>(std::max<std::int32_t>(got, 0)));
    if (paramsFromBpb(bootBytes, &p, &bpbWhy)) {
      haveParams = checkParams(reader, &p, &fatStart, &bpbWhy);
      if (!haveParams) bpbWhy = "its BPB is not believed: " + bpbWhy;
    }
  }
  std::string layoutWhy;
  if (!haveParams) {
    // No usable BPB: the known geometries, each by the size of track 0's
    // sectors and the media byte at the start of the FAT (logical sector 1).
    for (const KnownLayout& known : kKnownLayouts) {
      const int records = recordsOfSize(image, known.sizeCode);
      if (records < known.sectorsPerTrack) continue;
      Params q;
      q.geometry.heads = 2;
      q.geometry.sectorsPerTrack = known.sectorsPerTrack;
      q.geometry.sizeCode = known.sizeCode;
      q.geometry.sectors = static_cast<std::uint32_t>(known.cylinders * 2 * known.sectorsPerTrack);
      q.sectorsPerCluster = known.sectorsPerCluster;
      q.reserved = 1;
      q.fats = 2;
      q.rootEntries = known.rootEntries;
      q.fatSectors = known.fatSectors;
      q.media = known.media;
      std::string why;
      if (!checkParams(reader, &q, &fatStart, &why)) {
        if (layoutWhy.empty()) layoutWhy = std::string(known.layout) + ": " + why;
        continue;
      }
      char text[200];
      std::snprintf(text, sizeof text,
                    "track 0 holds %d sectors of %d bytes, and the FAT's media byte 0x%02X at "
                    "(C 0, H 0, R 2)",
                    records, static_cast<int>(sectorBytes(known.sizeCode)),
                    static_cast<unsigned>(known.media));
      q.reason = bpbWhy + "; " + text;
      q.layout = known.layout;
      p = q;
      haveParams = true;
      break;
    }
  }
  if (!haveParams) {
    *refusal = "a BPB in the boot sector, or a FAT with media byte 0xFE (1.2 MB 2HD) or 0xFB "
               "(640 KB 2DD) after it (" + bpbWhy + (layoutWhy.empty() ? "" : "; " + layoutWhy) + ")";
    return false;
  }
  FatTable table(p, readFat(reader, p, &found->volume.damage));
  found->volume.kind = FileSystemKind::kFat12;
  found->volume.layout = p.layout;
  found->volume.reason = p.reason;
  found->volume.clusterBytes = static_cast<std::uint32_t>(table.clusterBytes());
  found->volume.totalBytes = static_cast<std::uint64_t>(p.clusters()) * table.clusterBytes();
  found->volume.freeBytes = static_cast<std::uint64_t>(table.freeClusters()) * table.clusterBytes();
  FatWalker walker(reader, p, table, withDeleted, found);
  walker.walkRoot();
  walker.noteUnowned();
  return true;
}

}  // namespace fs
}  // namespace d88
