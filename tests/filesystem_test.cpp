// The file-system layer on disks built in code: FAT12 with and without a
// BPB, every Disk BASIC layout with files of one cluster, of many, of a
// partly used last cluster, a full disk and an empty one, each file read
// back byte for byte; damage (a missing sector, a CRC mark, a loop, a chain
// out of range) named in the file's health while the other files stay
// whole; and the names d88get makes safe for the host.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include <d88/filesystem.h>
#include <d88/image.h>

#include "file_text.h"
#include "fs_builder.h"
#include "test_support.h"

namespace {

using d88test::BasicBuilder;
using d88test::BasicLayout;
using d88test::Bytes;
using d88test::FatBuilder;
using d88test::fileBytes;

// An image in memory with its file system found.
struct Opened {
  Bytes bytes;
  d88::Image image;
  d88::FileSystem files;
  d88::Status status;
  std::vector<std::string> refusals;

  explicit Opened(Bytes b, const d88::FileSystemKind* only = nullptr, bool deleted = false)
      : bytes(std::move(b)) {
    status = d88::Image::openMemory(bytes.data(), bytes.size(), &image);
    if (status.ok()) status = image.selectDisk(0);
    if (status.ok()) status = d88::FileSystem::open(image, only, deleted, &files, &refusals);
  }
  d88::FileSystemKind kind() const { return files.volume().kind; }
  const d88::FileEntry* find(const std::string& path) const {
    for (const d88::FileEntry& f : files.files()) {
      if (f.path == path) return &f;
    }
    return nullptr;
  }
  Bytes read(const std::string& path) {
    const d88::FileEntry* f = find(path);
    Bytes out;
    if (f == nullptr) return out;
    EXPECT_TRUE(files.readFile(*f, &out).ok());
    return out;
  }
};

// --- FAT12 ---------------------------------------------------------------

TEST(Fat12, ListsAndReadsFilesOfOneClusterManyAFragmentedChainAndASubfolder) {
  FatBuilder fat(d88test::FatFormat{});
  fat.setLabel("VOLUME1");
  const Bytes small = fileBytes(1, 100);
  const Bytes large = fileBytes(2, 5000);  // five 1,024-byte clusters, the last partly used
  const Bytes scattered = fileBytes(3, 3000);
  fat.addFile("SMALL.TXT", small);
  fat.addFile("LARGE.BIN", large);
  fat.addFile("SCATTER.DAT", scattered, "", {40, 12, 30});
  fat.addFile("EMPTY", {});
  fat.addFolder("SUB");
  fat.addFile("INNER.TXT", fileBytes(4, 2048), "SUB", {}, 0x5A8F, 0x8C20);  // 2025-04-15 17:33:00
  Opened o(fat.disk.image());
  ASSERT_TRUE(o.status.ok()) << o.status.toString();
  const d88::Volume& v = o.files.volume();
  EXPECT_EQ(v.kind, d88::FileSystemKind::kFat12);
  EXPECT_EQ(v.label, "VOLUME1");
  EXPECT_NE(v.reason.find("BPB"), std::string::npos);
  EXPECT_EQ(v.clusterBytes, 1024u);
  EXPECT_EQ(v.totalBytes, fat.clusters() * 1024ull);
  // 1 + 5 + 3 + 0 + 1 (the folder) + 2 clusters taken.
  EXPECT_EQ(v.freeBytes, (fat.clusters() - 12ull) * 1024ull);

  std::vector<std::string> paths;
  for (const d88::FileEntry& f : o.files.files()) paths.push_back(f.path);
  EXPECT_EQ(paths, (std::vector<std::string>{"SMALL.TXT", "LARGE.BIN", "SCATTER.DAT", "EMPTY", "SUB",
                                             "SUB/INNER.TXT"}));
  EXPECT_EQ(o.read("SMALL.TXT"), small);
  EXPECT_EQ(o.read("LARGE.BIN"), large);
  EXPECT_EQ(o.read("SCATTER.DAT"), scattered);
  EXPECT_TRUE(o.read("EMPTY").empty());
  EXPECT_EQ(o.read("SUB/INNER.TXT"), fileBytes(4, 2048));
  for (const d88::FileEntry& f : o.files.files()) {
    EXPECT_EQ(f.health, d88::FileHealth::kWhole) << f.path << ": " << d88::healthText(o.kind(), f);
  }
  const d88::FileEntry* inner = o.find("SUB/INNER.TXT");
  ASSERT_NE(inner, nullptr);
  EXPECT_TRUE(inner->date.known);
  EXPECT_EQ(inner->date.year, 2025);
  EXPECT_EQ(inner->date.month, 4);
  EXPECT_EQ(inner->date.day, 15);
  EXPECT_EQ(inner->date.hour, 17);
  EXPECT_EQ(inner->date.minute, 33);
  EXPECT_EQ(inner->attributes, "A");
  EXPECT_TRUE(o.find("SUB")->folder);
}

TEST(Fat12, WithoutABpbTheMediaByteAndTrackZeroDecideTheLayout) {
  struct Case {
    const char* what;
    d88test::FatFormat format;
    const char* layout;
  };
  const Case cases[] = {
      {"1.2 MB 2HD", d88test::pc98HighDensity(), "PC-98/FM Towns 1.2 MB 2HD, no BPB"},
      {"640 KB 2DD", d88test::pc98DoubleDensity640(), "PC-98 640 KB 2DD, no BPB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FatBuilder fat(c.format);
    const Bytes data = fileBytes(7, 3333);
    fat.addFile("PROG.EXE", data);
    Opened o(fat.disk.image());
    ASSERT_TRUE(o.status.ok()) << o.status.toString();
    EXPECT_EQ(o.files.volume().layout, c.layout);
    EXPECT_NE(o.files.volume().reason.find("no BPB"), std::string::npos);
    EXPECT_EQ(o.read("PROG.EXE"), data);
  }
}

TEST(Fat12, DeletedEntriesAreListedOnlyOnRequest) {
  FatBuilder fat(d88test::FatFormat{});
  fat.addFile("KEEP.TXT", fileBytes(1, 10));
  fat.addFile("GONE.TXT", fileBytes(2, 10));
  // Deleting marks the entry's first byte and frees its cluster.
  const std::uint32_t root = 1 + 2 * 2;
  fat.disk.sectors[root][32] = 0xE5;
  fat.setEntry(3, 0);
  EXPECT_EQ(Opened(fat.disk.image()).files.files().size(), 1u);
  Opened withDeleted(fat.disk.image(), nullptr, true);
  ASSERT_EQ(withDeleted.files.files().size(), 2u);
  const d88::FileEntry& gone = withDeleted.files.files()[1];
  EXPECT_TRUE(gone.deleted);
  EXPECT_EQ(gone.path, "?ONE.TXT");
  EXPECT_EQ(withDeleted.read("?ONE.TXT"), fileBytes(2, 10));
}

// --- The Disk BASICs -------------------------------------------------------

struct BasicCase {
  const char* what;
  BasicLayout layout;
  d88::FileSystemKind kind;
  const char* layoutName;
  std::uint8_t binaryKind;  // the entry's type byte for a binary file
  const char* binaryType;
  bool sizeFromDirectory;   // Hu-BASIC keeps a binary file's size; the others count sectors
};

const BasicCase kBasicCases[] = {
    {"N88 2D", BasicLayout::kN88_2D, d88::FileSystemKind::kN88, "PC-8801 2D", 0x01, "binary", false},
    {"N88 2DD", BasicLayout::kN88_2DD, d88::FileSystemKind::kN88, "PC-8801/PC-9801 2DD", 0x01, "binary", false},
    {"N88 2HD", BasicLayout::kN88_2HD, d88::FileSystemKind::kN88, "PC-9801 2HD (N88-BASIC(86))", 0x01, "binary", false},
    {"F-BASIC 2D", BasicLayout::kFBasic2D, d88::FileSystemKind::kFBasic, "FM-7/FM77 2D", 0x02, "binary", false},
    {"Hu-BASIC 2D", BasicLayout::kHuBasic2D, d88::FileSystemKind::kHuBasic, "X1 2D", 0x01, "binary", true},
    {"Hu-BASIC 2DD", BasicLayout::kHuBasic2DD, d88::FileSystemKind::kHuBasic, "MZ-2500 2DD", 0x01, "binary", true},
    {"Hu-BASIC 2HD", BasicLayout::kHuBasic2HD, d88::FileSystemKind::kHuBasic, "X1turbo 2HD", 0x01, "binary", true},
};

// The bytes a file reads back as: what was stored, and on the systems that
// count whole sectors, the rest of its last sector as the disk holds it.
Bytes storedBytes(const BasicCase& c, const BasicBuilder& b, std::uint32_t first, const Bytes& data) {
  if (c.sizeFromDirectory) return data;
  Bytes out = data;
  const std::size_t sectors = (data.size() + 255) / 256;
  const std::uint64_t perCluster = b.clusterBytes() / 256;
  // Files are laid on free clusters in order, which these tests keep contiguous.
  for (std::size_t k = data.size(); k < sectors * 256; ++k) {
    const std::uint32_t cluster = first + static_cast<std::uint32_t>(k / 256 / perCluster);
    const std::uint32_t sector = b.sectorOf(cluster, static_cast<std::uint32_t>((k / 256) % perCluster));
    out.push_back(b.disk.sectors[sector][k % 256]);
  }
  return out;
}

TEST(DiskBasic, EveryLayoutListsAndReadsFilesOfOneClusterManyAndAPartlyUsedLast) {
  for (const BasicCase& c : kBasicCases) {
    SCOPED_TRACE(c.what);
    BasicBuilder b(c.layout);
    const Bytes one = fileBytes(1, 200);                                     // one cluster, one sector
    const Bytes many = fileBytes(2, static_cast<std::size_t>(b.clusterBytes() * 3));  // three whole clusters
    const Bytes partial = fileBytes(3, static_cast<std::size_t>(b.clusterBytes() + 300));  // two sectors of the last
    const std::uint32_t c1 = b.addFile("ONE", "BIN", one, c.binaryKind);
    const std::uint32_t c2 = b.addFile("MANY", "BIN", many, c.binaryKind);
    const std::uint32_t c3 = b.addFile("PART", "BIN", partial, c.binaryKind);
    const std::uint32_t freeClusters = b.freeClusters();
    Opened o(b.disk.image());
    ASSERT_TRUE(o.status.ok()) << o.status.toString() << (o.refusals.empty() ? "" : o.refusals.back());
    const d88::Volume& v = o.files.volume();
    EXPECT_EQ(v.kind, c.kind);
    EXPECT_EQ(v.layout, c.layoutName);
    EXPECT_EQ(v.freeBytes, freeClusters * b.clusterBytes());
    ASSERT_EQ(o.files.files().size(), 3u);
    const bool hasExt = c.kind != d88::FileSystemKind::kFBasic;
    const std::string ext = hasExt ? ".BIN" : "";
    EXPECT_EQ(o.read("ONE" + ext), storedBytes(c, b, c1, one));
    EXPECT_EQ(o.read("MANY" + ext), storedBytes(c, b, c2, many));
    EXPECT_EQ(o.read("PART" + ext), storedBytes(c, b, c3, partial));
    for (const d88::FileEntry& f : o.files.files()) {
      EXPECT_EQ(f.health, d88::FileHealth::kWhole) << f.path << ": " << d88::healthText(o.kind(), f);
      EXPECT_EQ(f.type, c.binaryType);
    }
  }
}

TEST(DiskBasic, AnEmptyDiskAndAFullOneGiveAllAndNoFreeSpace) {
  for (const BasicCase& c : kBasicCases) {
    SCOPED_TRACE(c.what);
    BasicBuilder empty(c.layout);
    Opened e(empty.disk.image());
    ASSERT_TRUE(e.status.ok()) << (e.refusals.empty() ? "" : e.refusals.back());
    EXPECT_TRUE(e.files.files().empty());
    EXPECT_EQ(e.files.volume().freeBytes, empty.freeClusters() * empty.clusterBytes());
    EXPECT_EQ(e.files.volume().freeBytes, e.files.volume().totalBytes);

    // Files of at most 8 clusters (Hu-BASIC keeps sizes in 16 bits) until no cluster is free.
    BasicBuilder full(c.layout);
    std::vector<Bytes> stored;
    for (int k = 0; full.freeClusters() > 0; ++k) {
      const std::uint32_t clusters = std::min<std::uint32_t>(8, full.freeClusters());
      stored.push_back(fileBytes(k, static_cast<std::size_t>(clusters * full.clusterBytes() - 1)));
      full.addFile("F" + std::to_string(k), "DAT", stored.back(), c.binaryKind);
    }
    Opened f(full.disk.image());
    ASSERT_TRUE(f.status.ok());
    EXPECT_EQ(f.files.volume().freeBytes, 0u);
    ASSERT_EQ(f.files.files().size(), stored.size());
    for (std::size_t k = 0; k < stored.size(); ++k) {
      const d88::FileEntry& file = f.files.files()[k];
      EXPECT_EQ(file.health, d88::FileHealth::kWhole) << file.path << ": " << d88::healthText(f.kind(), file);
      Bytes read;
      ASSERT_TRUE(f.files.readFile(file, &read).ok());
      read.resize(stored[k].size());  // the sector-counting systems read the whole last sector
      EXPECT_EQ(read, stored[k]) << file.path;
    }
  }
}

TEST(DiskBasic, TypesAndAttributesAreReadFromEachSystemsOwnFields) {
  struct Case {
    BasicLayout layout;
    std::uint8_t kind;
    const char* type;
    const char* attributes;
  };
  const Case cases[] = {
      {BasicLayout::kN88_2D, 0x80, "BASIC (tokenized)", ""},
      {BasicLayout::kN88_2D, 0x00, "ASCII", ""},
      {BasicLayout::kN88_2D, 0x90, "BASIC (tokenized)", "W"},
      {BasicLayout::kFBasic2D, 0x00, "BASIC (tokenized)", ""},
      {BasicLayout::kFBasic2D, 0x01, "data (binary)", ""},
      {BasicLayout::kHuBasic2D, 0x02, "BASIC (tokenized)", ""},
      {BasicLayout::kHuBasic2D, 0x04, "ASCII", ""},
      {BasicLayout::kHuBasic2D, 0x41, "binary", "R"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + std::to_string(c.kind));
    BasicBuilder b(c.layout);
    b.addFile("PROG", "", fileBytes(1, 600), c.kind);
    Opened o(b.disk.image());
    ASSERT_EQ(o.files.files().size(), 1u);
    EXPECT_EQ(o.files.files()[0].type, c.type);
    EXPECT_EQ(o.files.files()[0].attributes, c.attributes);
  }
}

TEST(DiskBasic, HuBasicKeepsItsDateAndAnAsciiFileEndsWhereItsChainSays) {
  BasicBuilder b(BasicLayout::kHuBasic2D);
  b.addFile("TEXT", "Asc", fileBytes(1, 700), 0x04);
  Opened o(b.disk.image());
  ASSERT_EQ(o.files.files().size(), 1u);
  const d88::FileEntry& f = o.files.files()[0];
  EXPECT_EQ(f.path, "TEXT.Asc");
  EXPECT_EQ(f.size, 768u);  // three sectors, whatever the size field says
  EXPECT_TRUE(f.date.known);
  EXPECT_EQ(f.date.year, 1985);
  EXPECT_EQ(f.date.month, 6);
  EXPECT_EQ(f.date.day, 23);
  EXPECT_EQ(f.date.hour, 12);
  EXPECT_EQ(f.date.minute, 34);
}

TEST(DiskBasic, TheHuBasicSampleIsDetectedAsHuBasic) {
  const Bytes bytes = d88test::readFile(D88_SAMPLES_DIR "/d88dmp_HuBASIC_Format_2D.d88");
  if (bytes.empty()) GTEST_SKIP() << "the shared sample is not here";
  Opened o(bytes);
  ASSERT_TRUE(o.status.ok()) << o.status.toString();
  EXPECT_EQ(o.files.volume().kind, d88::FileSystemKind::kHuBasic);
  EXPECT_EQ(o.files.volume().freeBytes, 76u * 4096u);
  ASSERT_EQ(o.files.files().size(), 2u);
  EXPECT_EQ(o.files.files()[0].path, "StopTheClock.Bas");
  EXPECT_EQ(o.files.files()[0].size, 1346u);
  EXPECT_EQ(o.files.files()[0].type, "BASIC (tokenized)");
  EXPECT_EQ(o.files.files()[1].path, "StopTheClock.Asc");
}

// --- Detection ---------------------------------------------------------------

TEST(Detection, ADiskWithNoFileSystemSaysWhatEachExpected) {
  d88test::SectorDisk blank(40, 16, 1, 0x00, 0x00);
  Opened o(blank.image());
  EXPECT_EQ(o.status.code(), d88::Status::Code::kNotFound);
  ASSERT_EQ(o.refusals.size(), 4u);
  EXPECT_EQ(o.refusals[0].rfind("fat12: ", 0), 0u);
  EXPECT_EQ(o.refusals[1].rfind("n88: ", 0), 0u);
  EXPECT_EQ(o.refusals[2].rfind("fbasic: ", 0), 0u);
  EXPECT_EQ(o.refusals[3].rfind("hubasic: ", 0), 0u);
}

TEST(Detection, AChosenFileSystemIsTheOnlyOneTried) {
  BasicBuilder b(BasicLayout::kHuBasic2D);
  const d88::FileSystemKind n88 = d88::FileSystemKind::kN88;
  Opened o(b.disk.image(), &n88);
  EXPECT_EQ(o.status.code(), d88::Status::Code::kNotFound);
  ASSERT_EQ(o.refusals.size(), 1u);
  EXPECT_EQ(o.refusals[0].rfind("n88: ", 0), 0u);
}

TEST(Detection, ABpbThatClaimsMoreThanADiskHoldsIsNotBelieved) {
  FatBuilder fat(d88test::FatFormat{});
  // 60,000 sectors of 1,024 bytes: more than 82 cylinders of 8 sectors.
  fat.disk.sectors[0][0x13] = 0x60;
  fat.disk.sectors[0][0x14] = 0xEA;
  // The claim is refused; the disk is then read as the geometry it has.
  Opened o(fat.disk.image());
  ASSERT_TRUE(o.status.ok());
  EXPECT_EQ(o.files.volume().layout, "PC-98/FM Towns 1.2 MB 2HD, no BPB");
  EXPECT_NE(o.files.volume().reason.find("more than a D88 disk holds"), std::string::npos)
      << o.files.volume().reason;
  EXPECT_EQ(o.files.volume().totalBytes, fat.clusters() * 1024ull);
}

// --- Damage --------------------------------------------------------------------

enum class Damage { kMissingSector, kCrcMark, kLoop, kOutOfRange };

struct DamageCase {
  const char* what;
  Damage damage;
  d88::FileHealth health;
  const char* text;  // the start of its health text
};

const DamageCase kDamageCases[] = {
    {"a missing sector", Damage::kMissingSector, d88::FileHealth::kIncomplete,
     "incomplete: 1 of 3 sectors missing, the first at track "},
    {"a CRC mark", Damage::kCrcMark, d88::FileHealth::kMarked,
     "marked: 1 sector marked bad (data CRC error), the first at track "},
    {"a loop", Damage::kLoop, d88::FileHealth::kBrokenChain, "broken chain: a loop: "},
    {"a chain out of range", Damage::kOutOfRange, d88::FileHealth::kBrokenChain, "broken chain: cluster "},
};

TEST(Damage, Fat12HealthNamesEachDamageAndTheOtherFilesStayWhole) {
  for (const DamageCase& c : kDamageCases) {
    SCOPED_TRACE(c.what);
    FatBuilder fat(d88test::FatFormat{});
    const Bytes before = fileBytes(1, 1500);
    const Bytes hit = fileBytes(2, 3000);  // clusters 4, 5, 6
    const Bytes after = fileBytes(3, 800);
    fat.addFile("BEFORE.BIN", before);
    const std::uint32_t first = fat.addFile("HIT.BIN", hit);
    fat.addFile("AFTER.BIN", after);
    switch (c.damage) {
      case Damage::kMissingSector: fat.disk.missing.insert(fat.sectorOf(first + 1)); break;
      case Damage::kCrcMark: fat.disk.status[fat.sectorOf(first + 1)] = 0xB0; break;
      case Damage::kLoop: fat.setEntry(first + 1, first); break;
      case Damage::kOutOfRange: fat.setEntry(first + 1, 0xF00); break;
    }
    Opened o(fat.disk.image());
    ASSERT_TRUE(o.status.ok());
    const d88::FileEntry* f = o.find("HIT.BIN");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->health, c.health);
    EXPECT_EQ(d88::healthText(o.kind(), *f).rfind(c.text, 0), 0u) << d88::healthText(o.kind(), *f);
    EXPECT_EQ(o.find("BEFORE.BIN")->health, d88::FileHealth::kWhole);
    EXPECT_EQ(o.find("AFTER.BIN")->health, d88::FileHealth::kWhole);
    EXPECT_EQ(o.read("BEFORE.BIN"), before);
    EXPECT_EQ(o.read("AFTER.BIN"), after);
    // What salvage gives: the file's size, a missing sector as zeros, a
    // marked one as it stands, and a broken chain only as far as it goes.
    Bytes expected = hit;
    if (c.damage == Damage::kMissingSector) std::fill(expected.begin() + 1024, expected.begin() + 2048, 0);
    if (c.damage == Damage::kLoop || c.damage == Damage::kOutOfRange) expected.resize(2048);
    EXPECT_EQ(o.read("HIT.BIN"), expected);
  }
}

TEST(Damage, DiskBasicHealthNamesEachDamage) {
  for (const DamageCase& c : kDamageCases) {
    SCOPED_TRACE(c.what);
    BasicBuilder b(BasicLayout::kN88_2D);
    b.addFile("BEFORE", "", fileBytes(1, 300), 0x01);
    const std::uint32_t first = b.addFile("HIT", "", fileBytes(2, 2048 + 512), 0x01);  // 2 clusters
    b.addFile("AFTER", "", fileBytes(3, 300), 0x01);
    switch (c.damage) {
      case Damage::kMissingSector: b.disk.missing.insert(b.sectorOf(first + 1, 1)); break;
      case Damage::kCrcMark: b.disk.status[b.sectorOf(first + 1, 1)] = 0xB0; break;
      case Damage::kLoop: b.setEntry(first + 1, static_cast<std::uint8_t>(first)); break;
      case Damage::kOutOfRange: b.setEntry(first + 1, 0xA0); break;
    }
    Opened o(b.disk.image());
    ASSERT_TRUE(o.status.ok());
    const d88::FileEntry* f = o.find("HIT");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->health, c.health);
    if (c.damage == Damage::kMissingSector) {
      EXPECT_EQ(d88::healthText(o.kind(), *f).rfind("incomplete: 1 of 10 sectors missing, the first at track 1 (C 0, H 1, R 2, N 1)", 0), 0u)
          << d88::healthText(o.kind(), *f);
    } else {
      EXPECT_EQ(d88::healthText(o.kind(), *f).rfind(c.text, 0), 0u) << d88::healthText(o.kind(), *f);
    }
    EXPECT_EQ(o.find("BEFORE")->health, d88::FileHealth::kWhole);
    EXPECT_EQ(o.find("AFTER")->health, d88::FileHealth::kWhole);
  }
}

TEST(Damage, AChainShorterOrLongerThanItsSizeIsBroken) {
  FatBuilder fat(d88test::FatFormat{});
  const std::uint32_t shortFirst = fat.addFile("SHORT.BIN", fileBytes(1, 3000));
  fat.setEntry(shortFirst + 1, 0xFFF);  // ends after 2 of its 3 clusters
  const std::uint32_t longFirst = fat.addFile("LONG.BIN", fileBytes(2, 1000));
  fat.setEntry(longFirst, longFirst + 5);
  fat.setEntry(longFirst + 5, 0xFFF);
  Opened o(fat.disk.image());
  EXPECT_EQ(d88::healthText(o.kind(), *o.find("SHORT.BIN")),
            "broken chain: the chain is shorter than its size: 2 of 3 clusters");
  EXPECT_EQ(d88::healthText(o.kind(), *o.find("LONG.BIN")),
            "broken chain: the chain is longer than its size: 2 clusters for 1");
}

TEST(Damage, AFolderThatHoldsItselfIsWalkedOnce) {
  FatBuilder fat(d88test::FatFormat{});
  fat.addFolder("LOOP");
  fat.addFile("A.TXT", fileBytes(1, 10), "LOOP");
  // The ".." entry of LOOP pointed at LOOP itself, named as a folder.
  const std::uint32_t folderSector = fat.sectorOf(2);
  fat.disk.sectors[folderSector][32] = 'S';
  fat.disk.sectors[folderSector][32 + 0x1A] = 2;
  Opened o(fat.disk.image());
  ASSERT_TRUE(o.status.ok());
  EXPECT_LE(o.files.files().size(), 5u);
}

// --- Directory and table damage, shared clusters, limits ---------------------

// A FAT disk of 1,024-byte sectors whose root (6 sectors, 32 entries each,
// from logical sector 5) holds `count` files of one cluster, F0.BIN on.
FatBuilder fatWithRootFiles(int count) {
  FatBuilder fat(d88test::FatFormat{});
  for (int k = 0; k < count; ++k) fat.addFile("F" + std::to_string(k) + ".BIN", fileBytes(k, 100));
  return fat;
}

TEST(DirectoryDamage, AFatRootSectorMissingOrMarkedIsNamedAndTheWalkGoesOn) {
  struct Case {
    const char* what;
    bool missing;
    std::size_t listed;  // F32 to F39 only when the first root sector is gone
  };
  const Case cases[] = {{"missing", true, 8}, {"marked", false, 40}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FatBuilder fat = fatWithRootFiles(40);
    if (c.missing) fat.disk.missing.insert(5);
    else fat.disk.status[5] = 0xB0;
    Opened o(fat.disk.image());
    ASSERT_TRUE(o.status.ok());
    ASSERT_EQ(o.files.files().size(), c.listed);
    EXPECT_NE(o.find("F39.BIN"), nullptr);
    EXPECT_EQ(o.find("F0.BIN") == nullptr, c.missing);
    const d88::Volume& v = o.files.volume();
    ASSERT_EQ(v.damage.size(), 1u);
    EXPECT_EQ(v.damage[0].what, "root folder");
    EXPECT_EQ(v.damage[0].address.c, 0);
    EXPECT_EQ(v.damage[0].address.h, 0);
    EXPECT_EQ(v.damage[0].address.r, 6);
    EXPECT_EQ(v.damage[0].state, c.missing ? d88::SectorState::kMissing : d88::SectorState::kMarked);
  }
}

TEST(DirectoryDamage, AMissingMiddleDirectorySectorOfADiskBasicIsSkippedAndTheRestListed) {
  BasicBuilder b(BasicLayout::kN88_2D);
  for (int k = 0; k < 40; ++k) b.addFile("F" + std::to_string(k), "", fileBytes(k, 100), 0x01);
  b.disk.missing.insert(37 * 16 + 1);  // the directory's second sector: entries 16 to 31
  Opened o(b.disk.image());
  ASSERT_TRUE(o.status.ok());
  EXPECT_EQ(o.files.files().size(), 24u);
  EXPECT_NE(o.find("F15"), nullptr);
  EXPECT_EQ(o.find("F16"), nullptr);
  EXPECT_NE(o.find("F39"), nullptr);
  const d88::Volume& v = o.files.volume();
  ASSERT_EQ(v.damage.size(), 1u);
  EXPECT_EQ(v.damage[0].what, "directory");
  EXPECT_EQ(v.damage[0].address.r, 2);
  EXPECT_EQ(d88::damageText(v.damage[0]),
            "damaged: directory sector at track 37 (C 18, H 1, R 2, N 1) is missing; its entries are not listed");
}

TEST(TableDamage, ASoundCopyIsPreferredAndASectorDamagedInEveryCopyIsNamed) {
  // FAT copies: logical sectors 1-2 and 3-4. The second FAT sector holds
  // the entries of clusters 683 on.
  struct Case {
    const char* what;
    std::set<std::uint32_t> missing;
    std::set<std::uint32_t> marked;
    bool damaged;
    d88::SectorState state;
    bool copyUsed;  // the damage is a copy passed over for a sound one
  };
  const Case cases[] = {
      {"the first copy marked and wrong", {}, {1}, true, d88::SectorState::kMarked, true},
      {"the first copy missing", {1}, {}, false, d88::SectorState::kSound, false},
      {"missing in every copy", {2, 4}, {}, true, d88::SectorState::kMissing, false},
      {"marked in every copy", {}, {2, 4}, true, d88::SectorState::kMarked, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FatBuilder fat(d88test::FatFormat{});
    const Bytes data = fileBytes(1, 3000);
    fat.addFile("KERNEL.SYS", data);
    for (std::uint32_t s : c.marked) {
      fat.disk.status[s] = 0xB0;
      if (s == 1) std::fill(fat.disk.sectors[1].begin() + 3, fat.disk.sectors[1].end(), 0);  // the chain freed
    }
    fat.disk.missing = c.missing;
    Opened o(fat.disk.image());
    ASSERT_TRUE(o.status.ok());
    EXPECT_EQ(o.find("KERNEL.SYS")->health, d88::FileHealth::kWhole) << d88::healthText(o.kind(), *o.find("KERNEL.SYS"));
    EXPECT_EQ(o.read("KERNEL.SYS"), data);
    const d88::Volume& v = o.files.volume();
    ASSERT_EQ(v.damage.size(), c.damaged ? 1u : 0u);
    if (c.damaged) {
      EXPECT_EQ(v.damage[0].what, "FAT");
      EXPECT_EQ(v.damage[0].state, c.state);
      EXPECT_EQ(v.damage[0].copyUsed, c.copyUsed);
    }
    if (c.copyUsed) {
      EXPECT_FALSE(v.damage[0].differs);
      EXPECT_EQ(d88::damageText(v.damage[0]),
                "damaged: FAT sector at track 0 (C 0, H 0, R 2, N 3) is marked bad (data CRC error); its sound "
                "copy at track 0 (C 0, H 0, R 4, N 3) was used");
    }
  }
}

TEST(TableDamage, FatCopiesThatDifferAreNamedAndTheFirstThatHoldsTheMediaByteIsUsed) {
  // FAT copies: logical sectors 1-2 and 3-4 (R 2-3 and R 4-5 of track 0).
  struct Case {
    const char* what;
    std::uint32_t changed;  // the logical sector altered
    bool zeroed;            // the whole sector, else one byte of KERNEL.SYS's chain
    d88::FileHealth health;
    int differingR, usedR;
  };
  const Case cases[] = {
      {"the second copy altered: the first is used", 3, false, d88::FileHealth::kWhole, 4, 2},
      {"the first copy altered: it is still used", 1, false, d88::FileHealth::kBrokenChain, 4, 2},
      {"the first copy's first sector zeroed: the second is used", 1, true, d88::FileHealth::kWhole, 2, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FatBuilder fat(d88test::FatFormat{});
    const Bytes data = fileBytes(1, 3000);
    fat.addFile("KERNEL.SYS", data);
    Bytes& sector = fat.disk.sectors[c.changed];
    if (c.zeroed) {
      std::fill(sector.begin(), sector.end(), 0);
    } else {
      sector[4] = 0xF0;  // cluster 2 leads to cluster 3 no more: reserved
    }
    Opened o(fat.disk.image());
    ASSERT_TRUE(o.status.ok()) << (o.refusals.empty() ? "" : o.refusals[0]);
    EXPECT_EQ(o.find("KERNEL.SYS")->health, c.health) << d88::healthText(o.kind(), *o.find("KERNEL.SYS"));
    if (c.health == d88::FileHealth::kWhole) {
      EXPECT_EQ(o.read("KERNEL.SYS"), data);
    }
    const d88::Volume& v = o.files.volume();
    ASSERT_EQ(v.damage.size(), 1u);
    const d88::DamagedSector& d = v.damage[0];
    EXPECT_TRUE(d.copyUsed && d.differs);
    EXPECT_EQ(d.address.r, c.differingR);
    EXPECT_EQ(d.usedCopy.r, c.usedR);
    EXPECT_EQ(d88::damageText(d), "damaged: the FATs differ at sector track 0 (C 0, H 0, R " +
                                      std::to_string(c.differingR) + ", N 3); its copy at track 0 (C 0, H 0, R " +
                                      std::to_string(c.usedR) + ", N 3) was used");
  }
}

TEST(TableDamage, DiskBasicTableCopiesThatDifferAreNamed) {
  BasicBuilder b(BasicLayout::kN88_2D);
  const Bytes data = fileBytes(1, 3000);
  b.addFile("PROG", "", data, 0x01);
  const std::uint32_t table = 37 * 16 + 13;
  b.disk.sectors[table + 2][100] ^= 0x01;  // the third copy
  Opened o(b.disk.image());
  ASSERT_TRUE(o.status.ok());
  EXPECT_EQ(o.find("PROG")->health, d88::FileHealth::kWhole) << d88::healthText(o.kind(), *o.find("PROG"));
  const d88::Volume& v = o.files.volume();
  ASSERT_EQ(v.damage.size(), 1u);
  EXPECT_TRUE(v.damage[0].differs);
  EXPECT_EQ(v.damage[0].address.r, 16);
  EXPECT_EQ(v.damage[0].usedCopy.r, 14);
}

TEST(TableDamage, ADiskBasicTableCopyMarkedBadGivesWayToASoundOne) {
  BasicBuilder b(BasicLayout::kN88_2D);
  const Bytes data = fileBytes(1, 3000);
  b.addFile("PROG", "", data, 0x01);
  const std::uint32_t table = 37 * 16 + 13;
  std::fill(b.disk.sectors[table].begin(), b.disk.sectors[table].begin() + 2, 0xFF);  // freed
  b.disk.status[table] = 0xB0;
  Opened o(b.disk.image());
  ASSERT_TRUE(o.status.ok());
  EXPECT_EQ(o.find("PROG")->health, d88::FileHealth::kWhole) << d88::healthText(o.kind(), *o.find("PROG"));
  const d88::Volume& v = o.files.volume();
  ASSERT_EQ(v.damage.size(), 1u);  // a doubted sector is on the disk, even though a copy stood in
  EXPECT_EQ(v.damage[0].state, d88::SectorState::kMarked);
  EXPECT_TRUE(v.damage[0].copyUsed);
  EXPECT_EQ(v.damage[0].address.r, 14);
  EXPECT_EQ(v.damage[0].usedCopy.r, 15);
}

TEST(UnownedClusters, ClustersInUseThatNoListedFileOwnsAreCounted) {
  // A directory sector that reads as all zeros ends the directory: the files
  // after it are lost, their clusters still in use.
  struct Case {
    const char* what;
    bool fat;
    BasicLayout layout;
    bool zeroed;
    const char* limit;
  };
  const Case cases[] = {
      {"FAT, a whole root", true, BasicLayout::kN88_2D, false, nullptr},
      {"FAT, the root's first sector zeroed", true, BasicLayout::kN88_2D, true,
       "4 clusters in use belong to no listed file"},
      {"N88-BASIC, a whole directory", false, BasicLayout::kN88_2D, false, nullptr},
      {"N88-BASIC, the directory's first sector zeroed", false, BasicLayout::kN88_2D, true,
       "3 clusters in use belong to no listed file"},
      {"Hu-BASIC, the directory's first sector zeroed", false, BasicLayout::kHuBasic2D, true,
       "3 clusters in use belong to no listed file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes image;
    if (c.fat) {
      FatBuilder fat(d88test::FatFormat{});
      fat.addFile("A.BIN", fileBytes(1, 1024));
      fat.addFile("B.BIN", fileBytes(2, 3000));
      if (c.zeroed) std::fill(fat.disk.sectors[5].begin(), fat.disk.sectors[5].end(), 0);
      image = fat.disk.image();
    } else {
      BasicBuilder b(c.layout);
      const std::size_t many = static_cast<std::size_t>(b.clusterBytes()) + 10;  // two clusters
      b.addFile("ONE", "", fileBytes(1, 100), 0x01);
      b.addFile("TWO", "", fileBytes(2, many), 0x01);
      if (c.zeroed) {
        const std::uint32_t dir = c.layout == BasicLayout::kN88_2D ? 37 * 16 : 16;
        std::fill(b.disk.sectors[dir].begin(), b.disk.sectors[dir].end(), 0);
      }
      image = b.disk.image();
    }
    Opened o(image);
    ASSERT_TRUE(o.status.ok());
    const std::vector<std::string>& limits = o.files.volume().limits;
    if (c.limit == nullptr) {
      EXPECT_TRUE(limits.empty()) << limits[0];
    } else {
      EXPECT_TRUE(o.files.files().empty());
      ASSERT_EQ(limits.size(), 1u);
      EXPECT_EQ(limits[0], c.limit);
    }
  }
}

TEST(SharedClusters, ALaterFileThatMeetsAnOwnedClusterIsBrokenThereAndReadsOnlyItsOwn) {
  FatBuilder fat(d88test::FatFormat{});
  const Bytes a = fileBytes(1, 3000);
  fat.addFile("A.BIN", a, "", {10, 11, 12});
  fat.addFile("B.BIN", fileBytes(2, 3000), "", {20, 21, 22});
  fat.setEntry(21, 11);  // B.BIN runs on into A.BIN's clusters
  Opened o(fat.disk.image());
  ASSERT_TRUE(o.status.ok());
  EXPECT_EQ(o.find("A.BIN")->health, d88::FileHealth::kWhole);
  EXPECT_EQ(d88::healthText(o.kind(), *o.find("B.BIN")), "broken chain: cluster 11 also belongs to A.BIN");
  EXPECT_EQ(o.read("B.BIN").size(), 2048u);
}

TEST(SharedClusters, ManyEntriesOnOneChainReadNoMoreThanTheDiskHolds) {
  FatBuilder fat(d88test::FatFormat{});
  fat.addFile("A.BIN", fileBytes(1, 3000));
  // 150 more root entries on A.BIN's chain, each claiming most of the disk.
  const Bytes first(fat.disk.sectors[5].begin(), fat.disk.sectors[5].begin() + 32);
  for (int k = 1; k <= 150; ++k) {
    Bytes e = first;
    const std::string name = "C" + std::to_string(k);
    for (std::size_t i = 0; i < 8; ++i) e[i] = i < name.size() ? static_cast<std::uint8_t>(name[i]) : ' ';
    e[0x1C] = 0x00, e[0x1D] = 0x14, e[0x1E] = 0x13;  // 1,250,304 bytes
    fat.disk.put(5, static_cast<std::size_t>(k) * 32, e);
  }
  Opened o(fat.disk.image());
  ASSERT_TRUE(o.status.ok());
  ASSERT_EQ(o.files.files().size(), 151u);
  std::uint64_t total = 0;
  for (const d88::FileEntry& f : o.files.files()) {
    Bytes read;
    ASSERT_TRUE(o.files.readFile(f, &read).ok());
    total += read.size();
    if (f.path != "A.BIN") {
      EXPECT_EQ(d88::healthText(o.kind(), f), "broken chain: cluster 2 also belongs to A.BIN");
    }
  }
  EXPECT_LE(total, fat.clusters() * 1024ull);
}

TEST(Limits, TheEntryCapIsSaidInTheVolume) {
  FatBuilder fat = d88test::fatWithManyEntries();
  Opened o(fat.disk.image());
  ASSERT_TRUE(o.status.ok());
  EXPECT_EQ(o.files.files().size(), d88::kMaxFileEntries);
  ASSERT_EQ(o.files.volume().limits.size(), 1u);
  EXPECT_EQ(o.files.volume().limits[0], "listing stopped at 8,192 entries");
}

TEST(Limits, AFolderTooDeepIsListedButNotWalkedAndSaidSo) {
  FatBuilder fat(d88test::FatFormat{});
  fat.addFolder("D0");  // cluster 2
  // D1 in D0 (after "." and ".."), D2 first in D1, ... each on the next cluster.
  for (std::uint32_t k = 1; k <= 17; ++k) {
    fat.setEntry(2 + k, 0xFFF);
    Bytes e(32, 0);
    const std::string name = "D" + std::to_string(k);
    for (std::size_t i = 0; i < 11; ++i) e[i] = i < name.size() ? static_cast<std::uint8_t>(name[i]) : ' ';
    e[0x0B] = 0x10;
    e[0x1A] = static_cast<std::uint8_t>(2 + k);
    fat.disk.put(fat.sectorOf(1 + k), k == 1 ? 64 : 0, e);
  }
  Opened o(fat.disk.image());
  ASSERT_TRUE(o.status.ok());
  // D0 to D16 are listed; D16 is not walked, so D17 is not, and its cluster is no listed file's.
  EXPECT_EQ(o.files.files().size(), 17u);
  ASSERT_EQ(o.files.volume().limits.size(), 2u);
  EXPECT_EQ(o.files.volume().limits[1], "1 cluster in use belongs to no listed file");
  EXPECT_EQ(o.files.volume().limits[0].rfind("folder D0/D1/", 0), 0u);
  EXPECT_NE(o.files.volume().limits[0].find("/D16 not walked: it is more than 16 folders deep"), std::string::npos)
      << o.files.volume().limits[0];
}

TEST(DiskBasicLayouts, AnOutOfRangeFirstClusterBreaksOneFileNotTheLayout) {
  // A 2D disk whose media byte claims 2DD: its 40 cylinders still choose X1 2D.
  BasicBuilder b(BasicLayout::kHuBasic2D);
  b.disk.media = 0x10;
  b.addFile("GOOD", "BIN", fileBytes(1, 600), 0x01);
  b.addFile("BAD", "BIN", fileBytes(2, 600), 0x01);
  b.disk.sectors[16][32 + 0x1E] = 0x60;
  Opened o(b.disk.image());
  ASSERT_TRUE(o.status.ok());
  EXPECT_EQ(o.files.volume().layout, "X1 2D");
  EXPECT_EQ(o.find("GOOD.BIN")->health, d88::FileHealth::kWhole);
  EXPECT_EQ(d88::healthText(o.kind(), *o.find("BAD.BIN")).rfind("broken chain: its first cluster 96 is out of range", 0), 0u)
      << d88::healthText(o.kind(), *o.find("BAD.BIN"));
}

TEST(DiskBasicLayouts, AnMz2500ChainCrossesCluster128) {
  BasicBuilder b(BasicLayout::kHuBasic2DD);
  for (int k = 0; k < 15; ++k) b.addFile("FILL" + std::to_string(k), "BIN", fileBytes(k, 8 * 4096 - 1), 0x01);
  const Bytes data = fileBytes(99, 8 * 4096 - 1);
  const std::uint32_t first = b.addFile("CROSS", "BIN", data, 0x01);  // clusters 122 to 129
  ASSERT_EQ(first, 122u);
  Opened o(b.disk.image());
  ASSERT_TRUE(o.status.ok());
  EXPECT_EQ(o.files.volume().layout, "MZ-2500 2DD");
  const d88::FileEntry* f = o.find("CROSS.BIN");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->health, d88::FileHealth::kWhole) << d88::healthText(o.kind(), *f);
  EXPECT_EQ(o.read("CROSS.BIN"), data);
}

TEST(DiskBasicLayouts, AnN88EndThatCountsNoSectorIsABrokenChain) {
  BasicBuilder b(BasicLayout::kN88_2D);
  const std::uint32_t first = b.addFile("PROG", "", fileBytes(1, 2048 + 300), 0x01);
  b.setEntry(first + 1, 0xC0);
  Opened o(b.disk.image());
  EXPECT_EQ(d88::healthText(o.kind(), *o.find("PROG")), "broken chain: cluster " + std::to_string(first + 1) +
                                                  " ends the chain with no sector in use");
}

TEST(Deleted, ADiskBasicDeletedEntryIsSaidDeletedNotBroken) {
  BasicBuilder b(BasicLayout::kN88_2D);
  b.addFile("GONE", "", fileBytes(1, 300), 0x01);
  b.disk.sectors[37 * 16][0] = 0x00;
  Opened o(b.disk.image(), nullptr, true);
  ASSERT_EQ(o.files.files().size(), 1u);
  EXPECT_TRUE(o.files.files()[0].deleted);
  EXPECT_EQ(d88::healthText(o.kind(), o.files.files()[0]), "deleted: the table no longer holds its chain");
}

// --- Names ---------------------------------------------------------------------

TEST(Names, JisX0201AndShiftJisNamesAreShownAsUtf8) {
  EXPECT_EQ(d88::fileNameText(d88::FileSystemKind::kHuBasic, "\xB6\xDE\xD1"), "ｶﾞﾑ");
  EXPECT_EQ(d88::fileNameText(d88::FileSystemKind::kN88, "A\x01" "B"), "A\\x01B");
  EXPECT_EQ(d88::fileNameText(d88::FileSystemKind::kFat12, "\x83\x65\x83\x58\x83\x67.TXT"), "テスト.TXT");
  EXPECT_TRUE(d88::nameNeedsHex("\xB6"));
  EXPECT_FALSE(d88::nameNeedsHex("PLAIN.TXT"));
}

TEST(Names, HostNamesAreMadeSafe) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"PLAIN.TXT", "PLAIN.TXT"}, {"a/b", "a_b"},      {"a\\b", "a_b"},   {"..", "__"},
      {".", "_"},               {"CON", "_CON"},      {"con.txt", "_con.txt"}, {"LPT1.BAS", "_LPT1.BAS"},
      {"COM10", "COM10"},        {"NAME.", "NAME_"},   {"NAME  ", "NAME__"},    {"A:B", "A_B"},
      {"TAB\tX", "TAB_X"},       {"", "_"},
  };
  for (const Case& c : cases) {
    bool changed = false;
    EXPECT_EQ(d88::safeHostName(c.in, &changed), c.out) << c.in;
    EXPECT_EQ(changed, std::string(c.in) != c.out) << c.in;
  }
}

TEST(Names, FatPathsMatchWithoutRegardToCaseAndBasicPathsExactly) {
  d88::FileEntry e;
  e.path = "SUB/FILE.TXT";
  EXPECT_TRUE(d88::pathMatches(d88::FileSystemKind::kFat12, e, "sub/file.txt", false));
  EXPECT_TRUE(d88::pathMatches(d88::FileSystemKind::kFat12, e, "SUB", true));
  EXPECT_FALSE(d88::pathMatches(d88::FileSystemKind::kFat12, e, "SUB", false));
  EXPECT_FALSE(d88::pathMatches(d88::FileSystemKind::kFat12, e, "SU", true));
  EXPECT_FALSE(d88::pathMatches(d88::FileSystemKind::kHuBasic, e, "sub/file.txt", false));
}

}  // namespace
