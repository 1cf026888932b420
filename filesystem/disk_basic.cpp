// The Disk BASICs of N88-BASIC, F-BASIC and Hu-BASIC: one byte-wide cluster
// table engine, and for each layout only where its table and directory
// stand, its cluster size, its end and free markers, its entry fields, and
// how its last cluster's used sectors are counted.
#include <cstdio>
#include <string>
#include <vector>

#include "cluster_engine.h"

namespace d88 {
namespace fs {
namespace {

constexpr int kSectorSize256 = 1;  // size code of the 256-byte sectors all these layouts use

// A directory entry as the engine needs it.
struct BasicEntry {
  bool end = false;      // no entry here or after it
  bool deleted = false;
  std::string name;      // NAME.EXT as stored, without padding
  std::string type;
  std::string attributes;
  std::uint32_t start = 0;
  bool sizeKnown = false;
  std::uint32_t size = 0;
  FileDate date;
  bool folder = false;
};

// What a table byte means, per file system.
enum class Markers { kN88, kFBasic, kHuBasic };

struct Layout {
  FileSystemKind kind;
  const char* name;
  std::uint8_t media;            // the D88 media byte such disks carry, to try them first
  int cylinders;
  int sectorsPerTrack;
  std::uint32_t tableSector;     // logical sector of the first copy of the table
  std::uint32_t tableSectors;    // sectors of one copy
  std::uint32_t tableCopies;     // copies, each in the sectors after the one before
  std::uint32_t tableOffset;     // byte of cluster 0's entry
  bool sevenBitHalves;           // entries split in two 7-bit halves (Hu-BASIC 2HD)
  std::uint32_t clusters;
  int sectorsPerCluster;
  std::uint32_t dataStart;       // logical sector of cluster 0
  std::uint32_t reservedFirst;   // clusters at the start that hold the system (Hu-BASIC)
  std::uint32_t systemCluster;   // N88: the first cluster of the system track, marked reserved
  std::uint32_t systemClusters;  // N88: how many
  std::uint32_t dirSector;       // logical sector of the directory's first sector
  std::uint32_t dirSectors;
  std::uint32_t entryBytes;
  std::uint32_t idSector;        // F-BASIC: the ID sector; 0 for none
  Markers markers;
  BasicEntry (*parse)(const std::uint8_t* entry, bool wideClusters);

  Geometry geometry() const {
    Geometry g;
    g.heads = 2;
    g.sectorsPerTrack = sectorsPerTrack;
    g.sizeCode = kSectorSize256;
    g.firstR = 1;
    g.sectors = static_cast<std::uint32_t>(cylinders * 2 * sectorsPerTrack);
    return g;
  }
};

std::string joinName(const std::string& name, const std::string& ext) {
  return ext.empty() ? name : name + "." + ext;
}

// The start of an N88-BASIC or F-BASIC entry, whose name field's first byte
// also marks the directory's end (0xFF) or a deleted entry (0x00, shown as
// '?'). False at the end, with b->end set; else *name is the trimmed name.
bool startEntry(const std::uint8_t* nameField, std::size_t nameBytes, BasicEntry* b,
                std::string* name) {
  if (nameField[0] == 0xFF) {
    b->end = true;
    return false;
  }
  b->deleted = nameField[0] == 0x00;
  *name = trimmedField(nameField, nameBytes);
  if (b->deleted && name->empty()) *name = "?";
  if (b->deleted) (*name)[0] = '?';
  return true;
}

// N88-BASIC: 16-byte entries: name 0-5, extension 6-8, attributes 9, first cluster 10.
BasicEntry parseN88(const std::uint8_t* e, bool) {
  constexpr std::size_t kName = 0, kNameBytes = 6, kExt = 6, kExtBytes = 3, kAttributes = 9,
                        kCluster = 10;
  constexpr std::uint8_t kBinary = 0x01, kWriteProtected = 0x10, kEditProtected = 0x20,
                         kVerify = 0x40, kTokenized = 0x80;
  BasicEntry b;
  std::string name;
  if (!startEntry(e + kName, kNameBytes, &b, &name)) return b;
  b.name = joinName(name, trimmedField(e + kExt, kExtBytes));
  const std::uint8_t a = e[kAttributes];
  b.type = (a & kBinary) != 0 ? "binary" : (a & kTokenized) != 0 ? "BASIC (tokenized)" : "ASCII";
  if ((a & kWriteProtected) != 0) b.attributes += 'W';
  if ((a & kEditProtected) != 0) b.attributes += 'P';
  if ((a & kVerify) != 0) b.attributes += 'V';
  b.start = e[kCluster];
  return b;
}

// F-BASIC: 32-byte entries: name 0-7, file type 0x0B (0 BASIC, 1 data, 2
// machine code), ASCII flag 0x0C (0xFF ASCII), random-access flag 0x0D
// (0xFF random), first cluster 0x0E.
BasicEntry parseFBasic(const std::uint8_t* e, bool) {
  constexpr std::size_t kName = 0, kNameBytes = 8, kFileType = 0x0B, kAscii = 0x0C,
                        kRandom = 0x0D, kCluster = 0x0E;
  BasicEntry b;
  std::string name;
  if (!startEntry(e + kName, kNameBytes, &b, &name)) return b;
  b.name = name;
  const bool ascii = e[kAscii] == 0xFF;
  switch (e[kFileType]) {
    case 0: b.type = ascii ? "BASIC (ASCII)" : "BASIC (tokenized)"; break;
    case 1: b.type = ascii ? "data (ASCII)" : "data (binary)"; break;
    case 2: b.type = "binary"; break;
    default: b.type = "type " + std::to_string(e[kFileType]); break;
  }
  if (e[kRandom] == 0xFF) b.attributes += 'R';
  b.start = e[kCluster];
  return b;
}

int bcd(std::uint8_t v) { return (v >> 4) * 10 + (v & 0x0F); }

// Hu-BASIC: 32-byte entries: mode 0x00 (0x00 deleted, 0xFF end; bits 0-3
// binary, BASIC, ASCII; bits 4-7 hidden, verify, read-only, folder), name
// 0x01-0x0D, extension 0x0E-0x10, password 0x11, size 0x12, load and run
// addresses 0x14 and 0x16, date 0x18 (BCD: year, month and weekday, day,
// hour, minute), first cluster 0x1E (low 7 bits) and 0x1F (the bits above).
BasicEntry parseHuBasic(const std::uint8_t* e, bool wideClusters) {
  constexpr std::size_t kMode = 0x00, kName = 0x01, kNameBytes = 13, kExt = 0x0E, kExtBytes = 3,
                        kSize = 0x12, kDate = 0x18, kClusterLow = 0x1E, kClusterMiddle = 0x1F;
  constexpr std::uint8_t kBinary = 0x01, kBasic = 0x02, kAscii = 0x0C, kHidden = 0x10,
                         kVerify = 0x20, kReadOnly = 0x40, kFolder = 0x80;
  BasicEntry b;
  const std::uint8_t mode = e[kMode];
  if (mode == 0xFF) {
    b.end = true;
    return b;
  }
  b.deleted = mode == 0x00;
  b.name = joinName(trimmedField(e + kName, kNameBytes), trimmedField(e + kExt, kExtBytes));
  if (b.name.empty()) b.name = "?";
  b.folder = (mode & kFolder) != 0;
  b.type = b.folder                   ? "folder"
           : (mode & kBinary) != 0    ? "binary"
           : (mode & kBasic) != 0     ? "BASIC (tokenized)"
           : (mode & kAscii) != 0     ? "ASCII"
                                      : "file";
  if ((mode & kReadOnly) != 0) b.attributes += 'R';
  if ((mode & kHidden) != 0) b.attributes += 'H';
  if ((mode & kVerify) != 0) b.attributes += 'V';
  b.start = wideClusters ? (static_cast<std::uint32_t>(e[kClusterMiddle]) << 7) | (e[kClusterLow] & 0x7Fu)
                         : e[kClusterLow];
  // An ASCII file's size field may be wrong: it ends where its chain says.
  b.sizeKnown = (mode & (kBinary | kBasic)) != 0;
  b.size = readLE16(e + kSize);
  const std::uint8_t* d = e + kDate;
  const int year = bcd(d[0]);
  const int month = d[1] >> 4;
  const int day = bcd(d[2]);
  if (month >= 1 && month <= 12 && day >= 1 && day <= 31) {
    b.date.known = true;
    b.date.year = year < 80 ? 2000 + year : 1900 + year;
    b.date.month = month;
    b.date.day = day;
    b.date.hour = bcd(d[3]);
    b.date.minute = bcd(d[4]);
  }
  return b;
}

// N88-BASIC: the system track holds the directory in R 1 to 12 (22 on
// 2HD), the ID sector, and the table and its two copies in the last three.
// F-BASIC: the table in track 2 R 1 from byte 5, the directory in track 2
// R 4 to track 3 R 16, data from track 4. Hu-BASIC: the table in track 0
// R 15 (2HD: track 1 R 3 and 4), the directory in the next track's sectors.
// More than 128 clusters need more than 7 bits: those tables (2HD, and the
// 160 clusters of 2DD, in track 0 R 15 and 16) keep each entry as two 7-bit
// halves, as the directory keeps a first cluster.
constexpr Layout kLayouts[] = {
    {FileSystemKind::kN88, "PC-8801 2D", 0x00, 40, 16, 37 * 16 + 13, 1, 3, 0, false, 160, 8, 0, 0,
     74, 2, 37 * 16, 12, 16, 0, Markers::kN88, parseN88},
    {FileSystemKind::kN88, "PC-8801/PC-9801 2DD", 0x10, 80, 16, 80 * 16 + 13, 1, 3, 0, false, 160,
     16, 0, 0, 80, 1, 80 * 16, 12, 16, 0, Markers::kN88, parseN88},
    {FileSystemKind::kN88, "PC-9801 2HD (N88-BASIC(86))", 0x20, 77, 26, 70 * 26 + 23, 1, 3, 0,
     false, 154, 26, 0, 0, 70, 1, 70 * 26, 22, 16, 0, Markers::kN88, parseN88},
    {FileSystemKind::kFBasic, "FM-7/FM77 2D", 0x00, 40, 16, 2 * 16, 1, 1, 5, false, 152, 8, 4 * 16,
     0, 0, 0, 2 * 16 + 3, 29, 32, 2, Markers::kFBasic, parseFBasic},
    {FileSystemKind::kHuBasic, "X1 2D", 0x00, 40, 16, 14, 1, 1, 0, false, 80, 16, 0, 2, 0, 0, 16,
     16, 32, 0, Markers::kHuBasic, parseHuBasic},
    {FileSystemKind::kHuBasic, "MZ-2500 2DD", 0x10, 80, 16, 14, 2, 1, 0, true, 160, 16, 0, 2, 0,
     0, 16, 16, 32, 0, Markers::kHuBasic, parseHuBasic},
    {FileSystemKind::kHuBasic, "X1turbo 2HD", 0x20, 77, 26, 28, 2, 1, 0, true, 250, 16, 0, 3, 0, 0,
     32, 16, 32, 0, Markers::kHuBasic, parseHuBasic},
};

class BasicTable : public ClusterTable {
 public:
  BasicTable(const Layout& layout, std::vector<std::uint8_t> table)
      : layout_(layout), geometry_(layout.geometry()), table_(std::move(table)) {}
  std::uint32_t first() const override { return 0; }
  std::uint32_t end() const override { return layout_.clusters; }
  int sectorsPerCluster() const override { return layout_.sectorsPerCluster; }
  std::int32_t sectorBytes() const override { return geometry_.sectorBytes(); }
  SectorAddress sectorOf(std::uint32_t cluster, int index) const override {
    return logicalSector(geometry_, layout_.dataStart +
                                        cluster * static_cast<std::uint32_t>(layout_.sectorsPerCluster) +
                                        static_cast<std::uint32_t>(index));
  }
  // The entry's bytes: one, or with 7-bit halves the low half and the high
  // half 128 bytes on in the same sector (the high half then 0 for the markers).
  void raw(std::uint32_t cluster, std::uint32_t* low, std::uint32_t* high) const {
    *high = 0;
    if (layout_.sevenBitHalves) {
      const std::size_t base = (cluster / 128) * 256 + cluster % 128;
      *low = base < table_.size() ? table_[base] : 0;
      *high = base + 128 < table_.size() ? table_[base + 128] : 0;
      return;
    }
    const std::size_t at = layout_.tableOffset + cluster;
    *low = at < table_.size() ? table_[at] : 0;
  }
  Link link(std::uint32_t cluster) const override {
    std::uint32_t v = 0, high = 0;
    raw(cluster, &v, &high);
    Link l;
    switch (layout_.markers) {
      case Markers::kN88:
        if (v == 0xFF) {
          l.kind = Link::kFree;
        } else if (v == 0xFE) {
          l.kind = Link::kReserved;
        } else if (v == 0xFD) {
          l.kind = Link::kBad;
        } else if (v >= 0xC0 && v <= 0xC0u + static_cast<std::uint32_t>(layout_.sectorsPerCluster)) {
          l.kind = Link::kEnd;
          l.usedSectors = static_cast<int>(v - 0xC0);
        } else {
          l.kind = Link::kNext;
          l.next = v;
        }
        break;
      case Markers::kFBasic:
        if (v == 0xFF) {
          l.kind = Link::kFree;
        } else if (v == 0xFE || v == 0xFD) {
          l.kind = Link::kReserved;
        } else if (v >= 0xC0 && v <= 0xC7) {
          l.kind = Link::kEnd;
          l.usedSectors = static_cast<int>(v - 0xC0) + 1;
        } else {
          l.kind = Link::kNext;
          l.next = v;
        }
        break;
      case Markers::kHuBasic:
        if (v == 0 && high == 0) {
          l.kind = Link::kFree;
        } else if (v >= 0x80 && v <= 0x8F) {
          l.kind = Link::kEnd;
          l.usedSectors = static_cast<int>(v & 0x0F) + 1;
        } else {
          l.kind = Link::kNext;
          l.next = (high << 7) | (v & 0x7F);
          if (!layout_.sevenBitHalves) l.next = v;
        }
        break;
    }
    return l;
  }
  // True when the entry is a marker or a link within the table.
  bool valid(std::uint32_t cluster) const {
    const Link l = link(cluster);
    return l.kind != Link::kNext || l.next < end();
  }

 private:
  const Layout& layout_;
  Geometry geometry_;
  std::vector<std::uint8_t> table_;
};

// Reads the table, each sector from its first sound copy, else the best
// there is: marked, else zeros. Copies that are marked bad or disagree, and
// sectors with no sound copy, are added to *damage. False when no copy
// of its first sector is there whole: nothing then tells the layout.
bool readTable(DiskReader& reader, const Layout& layout, std::vector<std::uint8_t>* table,
               std::vector<DamagedSector>* damage) {
  const Geometry g = layout.geometry();
  const auto bytes = static_cast<std::size_t>(g.sectorBytes());
  table->assign(bytes * layout.tableSectors, 0);
  for (std::uint32_t s = 0; s < layout.tableSectors; ++s) {
    std::vector<SectorAddress> copies;
    for (std::uint32_t copy = 0; copy < layout.tableCopies; ++copy) {
      copies.push_back(logicalSector(g, layout.tableSector + copy * layout.tableSectors + s));
    }
    const SectorState state = readTableSector(reader, copies, 0, table->data() + s * bytes,
                                              static_cast<std::int32_t>(bytes), "cluster table", damage);
    if (s == 0 && state != SectorState::kSound && state != SectorState::kMarked) return false;
  }
  return true;
}

std::string addressText(const SectorAddress& a) {
  return "(C " + std::to_string(a.c) + ", H " + std::to_string(a.h) + ", R " + std::to_string(a.r) + ")";
}

// Reads the directory's entries until its end. A sector that is missing is
// added to volume->damage and its entries skipped, even the first: the
// table has told the layout already. One marked bad is added and read. An
// entry whose first cluster is out of range is kept: its chain says so.
void readDirectory(DiskReader& reader, const Layout& layout, std::vector<BasicEntry>* entries,
                   Volume* volume) {
  const Geometry g = layout.geometry();
  const auto bytes = static_cast<std::size_t>(g.sectorBytes());
  std::vector<std::uint8_t> sector(bytes);
  const bool wide = layout.clusters > 128;
  for (std::uint32_t s = 0; s < layout.dirSectors; ++s) {
    const SectorAddress at = logicalSector(g, layout.dirSector + s);
    if (!readDirectorySector(reader, at, sector.data(), static_cast<std::int32_t>(bytes),
                             "directory", &volume->damage)) {
      continue;
    }
    for (std::size_t off = 0; off + layout.entryBytes <= bytes; off += layout.entryBytes) {
      BasicEntry e = layout.parse(sector.data() + off, wide);
      if (e.end) return;
      if (entries->size() >= kMaxFileEntries) {
        volume->limits.push_back("listing stopped at 8,192 entries");
        return;
      }
      entries->push_back(std::move(e));
    }
  }
}

// Whether the disk holds `layout`; *why says what was expected when not.
// *volume gains the damaged sectors and limits met.
bool matches(DiskReader& reader, const Layout& layout, std::vector<std::uint8_t>* table,
             std::vector<BasicEntry>* entries, Volume* volume, std::string* reason,
             std::string* why) {
  const Geometry g = layout.geometry();
  const SectorAddress tableAt = logicalSector(g, layout.tableSector);
  if (!readTable(reader, layout, table, &volume->damage)) {
    *why = "a cluster table at " + addressText(tableAt) + " in 256-byte sectors, which the image lacks";
    return false;
  }
  BasicTable t(layout, *table);
  // A damaged entry or two is a broken chain for the file that meets it;
  // more are no table of this layout.
  std::uint32_t invalid = 0;
  std::uint32_t firstInvalid = 0;
  // Each cluster follows at most one other, and none itself.
  std::vector<bool> followed(layout.clusters, false);
  for (std::uint32_t c = 0; c < layout.clusters; ++c) {
    bool ok = t.valid(c);
    const Link l = t.link(c);
    if (ok && l.kind == Link::kNext) {
      ok = l.next != c && !followed[l.next];
      followed[l.next] = true;
    }
    if (!ok && invalid++ == 0) firstInvalid = c;
  }
  if (invalid > layout.clusters / 16) {
    *why = "a cluster table at " + addressText(tableAt) + " whose entries are links, ends or free (" +
           std::to_string(invalid) + " of " + std::to_string(layout.clusters) + " are not, the first " +
           clusterText(firstInvalid) + "'s)";
    return false;
  }
  std::string what;
  if (layout.systemClusters > 0) {
    for (std::uint32_t c = layout.systemCluster; c < layout.systemCluster + layout.systemClusters; ++c) {
      if (t.link(c).kind != Link::kReserved) {
        *why = "a cluster table at " + addressText(tableAt) + " that reserves the system track's " +
               clusterText(c);
        return false;
      }
    }
    what = " that reserves the system track";
  }
  if (layout.reservedFirst > 0) {
    for (std::uint32_t c = 0; c < layout.reservedFirst; ++c) {
      if (t.link(c).kind == Link::kFree) {
        *why = "a cluster table at " + addressText(tableAt) + " whose first " +
               std::to_string(layout.reservedFirst) + " clusters are taken by the system";
        return false;
      }
    }
    what = " whose first " + std::to_string(layout.reservedFirst) + " clusters hold the system";
  }
  if (layout.idSector != 0) {
    // F-BASIC's table has no reserved marks to tell it by: its ID sector must.
    std::vector<std::uint8_t> id(static_cast<std::size_t>(g.sectorBytes()));
    const bool sys = reader.readWhole(logicalSector(g, layout.idSector), id.data(), g.sectorBytes()) &&
                     id[0] == 'S' && id[1] == 'Y' && id[2] == 'S';
    if (!sys) {
      *why = "an ID sector that starts \"SYS\" at " + addressText(logicalSector(g, layout.idSector));
      return false;
    }
    what = " and an ID sector \"SYS\"";
  }
  readDirectory(reader, layout, entries, volume);
  *reason = "a cluster table at " + addressText(tableAt) + what + ", " +
            (invalid == 0 ? std::string("every entry a link, an end or free")
                          : std::to_string(invalid) + " of its entries damaged") +
            ", and a directory at " + addressText(logicalSector(g, layout.dirSector));
  return true;
}

}  // namespace

bool findDiskBasic(DiskReader& reader, FileSystemKind kind, bool withDeleted, Found* found,
                   std::string* refusal) {
  const Disk& disk = reader.image().disk();
  const std::uint8_t media = disk.mediaType;
  // The cylinders the disk holds: past its last track with records.
  int cylinders = 0;
  for (int t = 0; t < kTrackCount; ++t) {
    if (disk.tracks[static_cast<std::size_t>(t)] != 0) cylinders = t / 2 + 1;
  }
  // Layouts may share where their table and directory stand (X1 2D and
  // MZ-2500 2DD do): the disk's cylinders choose first, those that fit
  // before those that need more or fewer, then its media byte.
  const auto fits = [cylinders](const Layout& l) {
    return cylinders <= l.cylinders + 2 && cylinders > l.cylinders / 2 + 2;
  };
  std::vector<const Layout*> order;
  for (int rank = 0; rank < 4; ++rank) {
    for (const Layout& l : kLayouts) {
      if (l.kind == kind && (fits(l) ? 0 : 2) + (l.media == media ? 0 : 1) == rank) order.push_back(&l);
    }
  }
  std::string firstWhy;
  for (const Layout* layout : order) {
    std::vector<std::uint8_t> tableBytes;
    std::vector<BasicEntry> entries;
    Volume scratch;
    std::string reason, why;
    if (!matches(reader, *layout, &tableBytes, &entries, &scratch, &reason, &why)) {
      if (firstWhy.empty()) firstWhy = std::string(layout->name) + ": " + why;
      continue;
    }
    BasicTable table(*layout, std::move(tableBytes));
    Volume& v = found->volume;
    v.damage = std::move(scratch.damage);
    v.limits = std::move(scratch.limits);
    v.kind = kind;
    v.layout = layout->name;
    v.reason = reason;
    v.clusterBytes = static_cast<std::uint32_t>(table.clusterBytes());
    std::uint32_t usable = 0;
    for (std::uint32_t c = layout->reservedFirst; c < table.end(); ++c) {
      if (table.link(c).kind != Link::kReserved) ++usable;
    }
    v.totalBytes = static_cast<std::uint64_t>(usable) * table.clusterBytes();
    v.freeBytes = static_cast<std::uint64_t>(table.freeClusters()) * table.clusterBytes();
    ClusterOwners owners(table);
    for (const BasicEntry& e : entries) {
      if (e.deleted && !withDeleted) continue;
      FileEntry f;
      f.name = e.name;
      f.path = e.name;
      f.deleted = e.deleted;
      f.folder = e.folder;
      f.type = e.type;
      f.attributes = e.attributes;
      f.date = e.date;
      if (e.folder) {
        // A Hu-BASIC folder is listed; what it holds is not walked. Its own
        // clusters are owned, so that only what it holds counts as unlisted.
        Chain chain = walkChain(table, e.start);
        owners.claim(&chain, f.path);
      } else if (e.deleted) {
        // Deleting frees the chain, so nothing tells which clusters held it.
        f.chainProblem = "the table no longer holds its chain";
        weighSectors(reader, &f);
      } else {
        f.size = e.size;
        Chain chain = walkChain(table, e.start);
        owners.claim(&chain, f.path);
        settleFile(reader, table, chain, e.sizeKnown, &f);
      }
      found->files.push_back(std::move(f));
    }
    owners.noteUnowned(table, layout->reservedFirst, &v.limits);
    return true;
  }
  *refusal = firstWhy;
  return false;
}

}  // namespace fs
}  // namespace d88
