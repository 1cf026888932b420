// The reader on images built in memory: the disk directory, disk selection,
// short track tables, sector lookup, sector runs, track walks, and images
// cut off at every kind of boundary. Most tests use d88::Image; those of the
// original D88Image calls (open, selectDisk, setSectorRange, diskCount,
// currentDisk, mediaType, diskName, readSector, readSectors, listSectorIds)
// use D88Image, the layer kept for programs written against it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <d88/d88_image.h>
#include <d88/image.h>

#include "d88_layout.h"
#include "test_support.h"

namespace {

using d88::D88Image;
using d88::Status;
using d88build::Bytes;
using d88build::Disk;
using d88build::Record;
using d88build::record;
using d88test::TempDir;

constexpr int kSector = 1024;
constexpr std::uint8_t kGuard = 0xA5;

Bytes pattern(int track, int r, std::size_t size = kSector, int seed = 0) {
  return d88build::sectorPattern(seed, track, r, size);
}


// A disk whose only track is `track`, holding the given records.
Disk oneTrack(int track, std::vector<Record> records) {
  Disk disk;
  disk.tracks[track] = std::move(records);
  return disk;
}

Bytes twoDisks() {
  return d88build::build({oneTrack(0, {record(0, 0, 1, 3, pattern(0, 1))}),
                          oneTrack(0, {record(0, 0, 1, 3, pattern(0, 1, kSector, 1))})})
      .bytes;
}

// Checks that no byte of `buffer` from `from` on changed from kGuard.
void expectGuardIntact(const Bytes& buffer, std::size_t from) {
  for (std::size_t i = from; i < buffer.size(); ++i) {
    ASSERT_EQ(buffer[i], kGuard) << "byte written past the room given at " << i;
  }
}

// Runs `read` (which copies into the buffer it is given, at most maxBytes,
// and returns the bytes copied) into a guarded buffer: the bytes copied;
// fails the test when a byte past maxBytes changed.
template <typename Read>
Bytes guardedRead(int maxBytes, Read&& read) {
  const std::size_t room = static_cast<std::size_t>(std::max(maxBytes, 0));
  Bytes buffer(room + 64, kGuard);
  const int got = read(buffer.data());
  EXPECT_GE(got, 0);
  EXPECT_LE(got, std::max(maxBytes, 0));
  expectGuardIntact(buffer, room);
  buffer.resize(static_cast<std::size_t>(std::max(got, 0)));
  return buffer;
}

// Opens bytes held in memory as an Image and selects a disk.
class ImageTest : public ::testing::Test {
 protected:
  // Keeps `bytes` for as long as the image is open.
  bool load(const Bytes& bytes, int disk = 0) {
    image_ = d88::Image();
    bytes_ = bytes;
    const Status opened = d88::Image::openMemory(bytes_.data(), bytes_.size(), &image_);
    EXPECT_TRUE(opened.ok()) << opened.toString();
    return opened.ok() && image_.selectDisk(disk).ok();
  }

  // readSector into a guarded buffer: the bytes copied, *status why fewer
  // came; fails the test when a byte past maxBytes changed.
  Bytes read(const d88::SectorAddress& at, int maxBytes, Status* status = nullptr) {
    return guardedRead(maxBytes, [&](std::uint8_t* buffer) {
      std::int32_t got = -1;
      const Status s = image_.readSector(at, buffer, maxBytes, &got);
      if (status != nullptr) *status = s;
      return got;
    });
  }

  Bytes bytes_;
  d88::Image image_;
};

// Opens an image file with D88Image, the kept interface.
class D88ImageTest : public ::testing::Test {
 protected:
  bool load(const Bytes& bytes, int disk = 0) {
    path_ = dir_.write("image.d88", bytes);
    return image_.open(path_.c_str()) && image_.selectDisk(disk);
  }

  // readSector into a guarded buffer; fails the test when a guard byte changed.
  Bytes read(int track, int c, int h, int r, int n, int maxBytes) {
    return guardedRead(maxBytes, [&](std::uint8_t* buffer) {
      return image_.readSector(track, c, h, r, n, buffer, maxBytes);
    });
  }

  TempDir dir_;
  std::string path_;
  D88Image image_;
};

TEST(LittleEndian, AssemblesBytesInFileOrderOnAnyHost) {
  const std::uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04};
  EXPECT_EQ(d88::readLE16(bytes), 0x0201u);
  EXPECT_EQ(d88::readLE32(bytes), 0x04030201u);
  const std::uint8_t high[] = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(d88::readLE32(high), 0xFFFFFFFFu);
}

// ---- disk directory -------------------------------------------------------

struct DirectoryCase {
  const char* what;
  Bytes (*make)();
  int disks;
  std::vector<std::int64_t> offsets;  // of the first disks found
};

Bytes withDiskSize(std::uint32_t size) {
  Bytes bytes = twoDisks();
  d88build::putLE32(bytes, 0x1C, size);
  return bytes;
}

const DirectoryCase kDirectoryCases[] = {
    {"empty file", [] { return Bytes(); }, 0, {}},
    {"one byte short of a header", [] { return Bytes(687, 0); }, 0, {}},
    {"exactly one header", [] { return d88build::build({Disk()}).bytes; }, 1, {0}},
    {"two disks back to back", twoDisks, 2, {0, 0x2B0 + 16 + kSector}},
    {"a 100-byte tail after the disk",
     [] {
       Bytes b = d88build::build({Disk()}).bytes;
       b.resize(b.size() + 100, 0x55);
       return b;
     },
     1, {0}},
    // A size that cannot hold a header would find the same disk again and again.
    {"disk size 0 ends the directory after that disk", [] { return withDiskSize(0); }, 1, {0}},
    {"disk size one short of a header ends it too", [] { return withDiskSize(0x2AF); }, 1, {0}},
    {"disk size beyond the file ends the scan", [] { return withDiskSize(0x7FFFFFFF); }, 1, {0}},
    {"disk size of 2^31 or more ends the scan", [] { return withDiskSize(0xFFFFFFF0u); }, 1, {0}},
    {"65 disks yield 64",
     [] {
       Bytes b;
       for (int i = 0; i < 65; ++i) {
         const Bytes one = d88build::build({Disk()}).bytes;
         b.insert(b.end(), one.begin(), one.end());
       }
       return b;
     },
     64, {0, 0x2B0, 0x560}},
};

TEST_F(D88ImageTest, DiskDirectoryCountsWholeHeaders) {
  for (const DirectoryCase& c : kDirectoryCases) {
    SCOPED_TRACE(c.what);
    D88Image image;
    const std::string path = dir_.write("dir.d88", c.make());
    ASSERT_TRUE(image.open(path.c_str())) << image.status().toString();
    EXPECT_EQ(image.diskCount(), c.disks);
    const std::vector<d88::Disk>& disks = image.image().disks();
    ASSERT_EQ(disks.size(), static_cast<std::size_t>(c.disks));
    for (std::size_t i = 0; i < c.offsets.size(); ++i) {
      EXPECT_EQ(disks[i].offset, c.offsets[i]) << "disk " << i;
      EXPECT_EQ(disks[i].index, static_cast<int>(i));
    }
    EXPECT_EQ(image.selectDisk(0), c.disks > 0);
    EXPECT_FALSE(image.selectDisk(c.disks));
  }
}

TEST_F(ImageTest, SecondDiskIsReadFromItsOwnOffset) {
  ASSERT_TRUE(load(twoDisks(), 1));
  EXPECT_EQ(read({0, 0, 0, 1, 3}, kSector), pattern(0, 1, kSector, 1));
  ASSERT_TRUE(image_.selectDisk(0).ok());
  EXPECT_EQ(read({0, 0, 0, 1, 3}, kSector), pattern(0, 1));
}

TEST_F(D88ImageTest, OpenFailsWhenTheFileCannotBeOpenedAndSaysWhy) {
  EXPECT_FALSE(image_.open(dir_.file("missing.d88").c_str()));
  EXPECT_EQ(image_.status().code(), Status::Code::kCannotOpen);
  EXPECT_EQ(image_.status().errnum(), ENOENT);
  EXPECT_EQ(image_.diskCount(), 0);
  EXPECT_FALSE(image_.selectDisk(0));

  // A folder opens on some systems but holds no disk.
  if (image_.open(dir_.path().c_str())) {
    EXPECT_EQ(image_.diskCount(), 0);
  } else {
    EXPECT_EQ(image_.status().code(), Status::Code::kIoError);
  }
  EXPECT_FALSE(image_.selectDisk(0));
}

TEST_F(D88ImageTest, OpenNullClosesTheImage) {
  ASSERT_TRUE(load(d88build::build({d88build::standardDisk()}).bytes));
  EXPECT_TRUE(image_.open(nullptr));
  EXPECT_EQ(image_.diskCount(), 0);
  EXPECT_EQ(image_.mediaType(), -1);
  EXPECT_FALSE(image_.image().isOpen());
  EXPECT_FALSE(image_.selectDisk(0));
  std::uint8_t buffer[kSector];
  EXPECT_EQ(image_.readSector(0, 0, 0, 1, 3, buffer, kSector), 0);
}

TEST_F(D88ImageTest, OpenForgetsEverythingAboutThePreviousFile) {
  Disk named = d88build::standardDisk(0, 1);
  named.name = "FIRST";
  named.writeProtect = 0x10;
  const std::string first = dir_.write("first.d88", d88build::build({named, named}).bytes);
  const std::string second = dir_.write("second.d88", d88build::build({Disk()}).bytes);
  struct Case {
    const char* what;
    std::string path;
    bool opens;
    int disks;
  };
  const Case cases[] = {
      {"a second image", second, true, 1},
      {"a file that does not exist", dir_.file("missing.d88"), false, 0},
      {"no file", "", true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(image_.open(first.c_str()));
    ASSERT_TRUE(image_.selectDisk(1));
    ASSERT_STREQ(image_.diskName(), "FIRST");
    EXPECT_EQ(image_.open(c.path.empty() ? nullptr : c.path.c_str()), c.opens);
    EXPECT_EQ(image_.diskCount(), c.disks);
    EXPECT_EQ(image_.status().ok(), c.opens) << image_.status().toString();
    EXPECT_STREQ(image_.diskName(), "");
    EXPECT_EQ(image_.mediaType(), -1);
    d88::Image& image = image_.image();
    EXPECT_EQ(image.selectedDisk(), -1);
    EXPECT_EQ(image.disk().writeProtect, 0);
    EXPECT_EQ(image.disk().size, 0u);
    // The first file's track table is gone: its sectors are not found in the new one.
    EXPECT_TRUE(read(0, 0, 0, 1, 3, kSector).empty());
    EXPECT_TRUE(image.walkTrack(0).records.empty());
  }
}

// A disk's records end where the next disk starts, whatever their counts and
// sizes say; the last disk's end where the file ends.
TEST_F(ImageTest, WalksStayInsideTheirDisk) {
  // Disk 1's header starts with bytes that read as the record (0, 0, 2, 3).
  Disk next = oneTrack(0, {record(0, 0, 1, 3, pattern(0, 1, kSector, 1))});
  next.name = std::string("\x00\x00\x02\x03", 4);
  const auto twoWith = [&](Record last) {
    return d88build::build({oneTrack(0, {record(0, 0, 1, 3, pattern(0, 1)), last}), next});
  };

  // The last record of disk 0 says the track holds 20 records: the walk ends
  // at disk 1's header instead of taking it for a record of disk 0.
  Record counted = record(0, 0, 3, 3, pattern(0, 3));
  counted.sectorCount = 20;
  d88build::Image built = twoWith(counted);
  ASSERT_TRUE(load(built.bytes));
  const d88::TrackWalk walk = image_.walkTrack(0);
  EXPECT_EQ(walk.records.size(), 2u);
  EXPECT_EQ(walk.end, d88::TrackEnd::kDiskEnd);
  Status status;
  EXPECT_TRUE(read({0, 0, 0, 2, 3}, kSector, &status).empty());
  EXPECT_EQ(status.code(), Status::Code::kNotFound);
  EXPECT_EQ(image_.disk().end, static_cast<std::int64_t>(built.diskOffsets[1]));

  // A data size that runs past disk 0's end: only the bytes before it are read.
  Record longer = record(0, 0, 3, 3, pattern(0, 3));
  longer.dataSize = 2 * kSector;
  built = twoWith(longer);
  ASSERT_TRUE(load(built.bytes));
  EXPECT_EQ(read({0, 0, 0, 3, 3}, 2 * kSector, &status), pattern(0, 3));
  EXPECT_EQ(status.code(), Status::Code::kCorruption);
  EXPECT_EQ(image_.walkTrack(0).records.back().dataAvailable, kSector);

  // A tail too short to be a disk is still part of the last disk, so a table
  // entry equal to the disk size reaches a record there.
  built = d88build::build({oneTrack(0, {record(0, 0, 1, 3, pattern(0, 1, 100))})});
  const std::uint32_t size = static_cast<std::uint32_t>(built.bytes.size());
  const Bytes tail = d88build::build({oneTrack(0, {record(0, 1, 1, 1, pattern(1, 1, 256))})}).bytes;
  built.bytes.insert(built.bytes.end(), tail.begin() + 0x2B0, tail.end());
  d88build::putLE32(built.bytes, 0x20 + 4, size);
  ASSERT_TRUE(load(built.bytes));
  EXPECT_EQ(image_.disks().size(), 1u);
  EXPECT_EQ(read({1, 0, 1, 1, 1}, kSector), pattern(1, 1, 256));
}

// A track longer than the reader keeps in memory at once (about 2.4 MB here,
// the last record cut off by the end of the file): every record is still
// walked, read whole and counted exactly, through the file.
TEST_F(ImageTest, TracksLongerThanAPieceAreReadFromTheFile) {
  constexpr int kRecords = 40;
  constexpr std::size_t kBytes = 60000;
  std::vector<Record> records;
  for (int r = 1; r <= kRecords; ++r) records.push_back(record(0, 0, r, 7, pattern(0, r, kBytes)));
  d88build::Image built = d88build::build({oneTrack(0, records)});
  built.bytes.resize(built.bytes.size() - 1000);
  ASSERT_TRUE(load(built.bytes));
  const std::vector<d88::SectorRecord> listed = image_.walkTrack(0).records;
  ASSERT_EQ(listed.size(), static_cast<std::size_t>(kRecords));
  EXPECT_EQ(listed.back().dataAvailable, static_cast<int>(kBytes - 1000));
  for (int r : {1, 17, 18, 39, 40, 2}) {
    const std::size_t whole = r == kRecords ? kBytes - 1000 : kBytes;
    EXPECT_EQ(read({0, 0, 0, r, 7}, 65535), pattern(0, r, whole)) << r;
  }
  // Table entries that point at one place give the same records.
  d88build::putLE32(built.bytes, 0x20 + 4, static_cast<std::uint32_t>(built.recordOffset(0, 0, 0)));
  ASSERT_TRUE(load(built.bytes));
  EXPECT_EQ(read({0, 0, 0, 39, 7}, 65535), pattern(0, 39, kBytes));
  EXPECT_EQ(read({1, 0, 0, 39, 7}, 65535), pattern(0, 39, kBytes));
  EXPECT_EQ(image_.walkTrack(1).records.size(), static_cast<std::size_t>(kRecords));
}

TEST_F(ImageTest, RecordHeadersGiveEveryField) {
  Record bad = record(20, 0, 5, 3, pattern(40, 5, 512));
  bad.status = d88::kStatusDataCrcError;
  bad.density = d88::kDensitySingle;
  bad.deletedMark = d88::kDeletedDataMark;
  bad.sectorCount = 7;
  Disk disk = oneTrack(40, {record(20, 0, 1, 3, pattern(40, 1)), bad});
  disk.writeProtect = d88::kWriteProtected;
  const d88build::Image built = d88build::build({disk});
  ASSERT_TRUE(load(built.bytes));
  EXPECT_EQ(image_.disk().writeProtect, 0x10);
  const std::vector<d88::SectorRecord> records = image_.walkTrack(40).records;
  ASSERT_EQ(records.size(), 2u);
  const d88::SectorRecord& r = records[1];
  EXPECT_EQ((std::vector<int>{r.id.c, r.id.h, r.id.r, r.id.n}), (std::vector<int>{20, 0, 5, 3}));
  EXPECT_EQ(r.recordCount, 7);
  EXPECT_EQ(r.density, 0x40);
  EXPECT_EQ(r.deletedMark, 0x10);
  EXPECT_EQ(r.status, 0xB0);
  EXPECT_EQ(r.dataSize, 512);
  EXPECT_EQ(r.dataAvailable, 512);
  EXPECT_EQ(r.headerOffset, static_cast<std::int64_t>(built.recordOffset(0, 40, 1)));
  // The status does not change what a sector read returns.
  EXPECT_EQ(read({40, 20, 0, 5, 3}, kSector), pattern(40, 5, 512));
}

TEST(SectorStatus, MeaningAndWhetherMarkedBad) {
  struct Case {
    std::uint8_t status;
    const char* meaning;
    bool bad;
  };
  const Case cases[] = {
      {0x00, "normal", false},          {0x10, "deleted data", false},
      {0xA0, "ID CRC error", true},     {0xB0, "data CRC error", true},
      {0xE0, "no address mark", true},  {0xF0, "no data mark", true},
      {0x42, "unknown status 0x42", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(d88::statusMeaning(c.status), c.meaning);
    EXPECT_EQ(d88::isMarkedBad(c.status), c.bad) << c.meaning;
  }
}

// ---- disk selection -------------------------------------------------------

// currentDisk() is deprecated, but its contract (always -1) is kept, and
// tested here; the warning its use gives is silenced for this call only.
#if defined(_MSC_VER) && !defined(__clang__)
#pragma warning(push)
#pragma warning(disable : 4996)
#else
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
int keptCurrentDisk(const D88Image& image) { return image.currentDisk(); }
#if defined(_MSC_VER) && !defined(__clang__)
#pragma warning(pop)
#else
#pragma GCC diagnostic pop
#endif

TEST_F(D88ImageTest, SelectDiskReadsNameAndMediaType) {
  struct Case {
    const char* what;
    std::string field;  // the 17 bytes of the name field as written
    const char* name;
  };
  const Case cases[] = {
      {"short name", "ABC", "ABC"},
      {"zero byte at position 5", std::string("HELLO\0WORLD", 11), "HELLO"},
      {"16 non-zero bytes and the 17th", "0123456789ABCDEFG", "0123456789ABCDEF"},
      {"Shift_JIS bytes kept as they are", "\x83\x65\x83\x58\x83\x67", "\x83\x65\x83\x58\x83\x67"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Disk disk;
    disk.name = c.field;
    disk.mediaType = 0x10;
    ASSERT_TRUE(load(d88build::build({disk}).bytes));
    EXPECT_STREQ(image_.diskName(), c.name);
    EXPECT_EQ(image_.image().disk().name, c.name);
    EXPECT_EQ(image_.mediaType(), 0x10);
    EXPECT_EQ(keptCurrentDisk(image_), -1);
    EXPECT_EQ(image_.image().selectedDisk(), 0);
  }
}

TEST_F(D88ImageTest, SelectDiskBeforeOpenFails) {
  EXPECT_FALSE(image_.selectDisk(0));
  EXPECT_EQ(image_.status().code(), Status::Code::kNotOpen);
  EXPECT_STREQ(image_.diskName(), "");
  EXPECT_EQ(image_.mediaType(), -1);
}

TEST_F(D88ImageTest, FailedSelectionForgetsThePreviousDisk) {
  Disk disk = d88build::standardDisk();
  ASSERT_TRUE(load(d88build::build({disk}).bytes));
  for (int index : {1, -1, 64}) {
    ASSERT_TRUE(image_.selectDisk(0));
    EXPECT_FALSE(image_.selectDisk(index));
    EXPECT_EQ(image_.status().code(), Status::Code::kNotFound);
    EXPECT_STREQ(image_.diskName(), "");
    EXPECT_EQ(image_.mediaType(), -1);
    EXPECT_EQ(image_.image().selectedDisk(), -1);
    EXPECT_TRUE(read(0, 0, 0, 1, 3, kSector).empty());
  }
}

// Real images carry tables of 154 or 160 entries; the first track then starts
// inside the 688 bytes and the slots from there on hold sector data.
TEST_F(ImageTest, ShortTrackTablesEndAtTheFirstTrack) {
  for (int entries : {154, 160, 164}) {
    SCOPED_TRACE(entries);
    Disk disk = d88build::standardDisk(0, entries / 2);
    disk.tableEntries = entries;
    d88build::Image built = d88build::build({disk});
    if (entries < 164) {
      // Make the first record's identity look like a plausible track offset
      // (that of track 1), as real sector data can.
      d88build::putLE32(built.bytes, built.recordOffset(0, 0, 0),
                        static_cast<std::uint32_t>(built.recordOffset(0, 1, 0)));
    }
    ASSERT_TRUE(load(built.bytes));
    for (int track = 1; track < entries; ++track) {
      ASSERT_EQ(read({track, track / 2, track % 2, 8, 3}, kSector), pattern(track, 8)) << track;
    }
    for (int track = entries; track < d88::kTrackCount; ++track) {
      EXPECT_EQ(image_.disk().tracks[static_cast<std::size_t>(track)], 0u) << track;
      EXPECT_TRUE(image_.walkTrack(track).records.empty()) << track;
    }
  }
}

TEST_F(ImageTest, TableEntryAtOrBelowTheHeaderEndIsTheTableEnd) {
  // A first entry of 0x290 leaves slots 0 to 155 as offsets: slot 155 ends at 0x290.
  Disk disk = d88build::standardDisk(0, 78);
  d88build::Image built = d88build::build({disk});
  d88build::putLE32(built.bytes, 0x20, 0x290);
  ASSERT_TRUE(load(built.bytes));
  EXPECT_FALSE(image_.walkTrack(155).records.empty());
  EXPECT_TRUE(image_.walkTrack(156).records.empty());
}

// ---- readSector -----------------------------------------------------------

TEST_F(ImageTest, ReadSectorFindsSectorsInAnyRecordOrder) {
  std::vector<Record> records;
  for (int r : {5, 2, 8, 1, 7, 3, 6, 4}) records.push_back(record(20, 0, r, 3, pattern(40, r)));
  ASSERT_TRUE(load(d88build::build({oneTrack(40, records)}).bytes));
  for (int r = 1; r <= 8; ++r) EXPECT_EQ(read({40, 20, 0, r, 3}, kSector), pattern(40, r)) << r;
}

TEST_F(ImageTest, ReadSectorCapsAtMaxBytesAndAtTheSectorLength) {
  ASSERT_TRUE(load(d88build::build({oneTrack(3, {record(1, 1, 1, 3, pattern(3, 1)),
                                                 record(1, 1, 2, 3, pattern(3, 2, 768))})})
                       .bytes));
  Status status;
  EXPECT_EQ(read({3, 1, 1, 1, 3}, 512, &status), pattern(3, 1, 512));
  EXPECT_TRUE(status.ok()) << status.toString();
  EXPECT_EQ(read({3, 1, 1, 2, 3}, kSector), pattern(3, 2, 768));
  EXPECT_TRUE(read({3, 1, 1, 1, 3}, 0).empty());
  EXPECT_TRUE(read({3, 1, 1, 1, 3}, -5).empty());
}

TEST_F(ImageTest, SectorsThatAreNotThereAreNotFound) {
  Disk disk = oneTrack(40, {record(20, 0, 1, 3, pattern(40, 1)), record(20, 0, 3, 2, pattern(40, 3, 512))});
  ASSERT_TRUE(load(d88build::build({disk}).bytes));
  struct Case {
    const char* what;
    d88::SectorAddress at;
  };
  const Case cases[] = {
      {"track 164", {164, 20, 0, 1, 3}},     {"track -1", {-1, 20, 0, 1, 3}},
      {"absent track", {41, 20, 1, 1, 3}},   {"sector not in track", {40, 20, 0, 2, 3}},
      {"size code differs", {40, 20, 0, 3, 3}}, {"cylinder differs", {40, 21, 0, 1, 3}},
      {"head differs", {40, 20, 1, 1, 3}},   {"identity above a byte", {40, 20 + 256, 0, 1, 3}},
  };
  for (const Case& c : cases) {
    Status status;
    EXPECT_TRUE(read(c.at, kSector, &status).empty()) << c.what;
    EXPECT_EQ(status.code(), Status::Code::kNotFound) << c.what;
  }
}

// The first record of an identity is the sector; the others are its twins,
// which recordsOf() gives with it in record order.
TEST_F(ImageTest, FirstMatchingRecordWins) {
  ASSERT_TRUE(load(d88build::build({oneTrack(0, {record(0, 0, 1, 3, pattern(0, 1)),
                                                 record(0, 0, 2, 3, pattern(0, 3)),
                                                 record(0, 0, 1, 3, pattern(0, 2))})})
                       .bytes));
  EXPECT_EQ(read({0, 0, 0, 1, 3}, kSector), pattern(0, 1));
  std::vector<d88::SectorRecord> twins;
  ASSERT_TRUE(image_.recordsOf({0, 0, 0, 1, 3}, &twins).ok());
  ASSERT_EQ(twins.size(), 2u);
  const std::vector<d88::SectorRecord> walked = image_.walkTrack(0).records;
  EXPECT_EQ(twins[0].headerOffset, walked[0].headerOffset);
  EXPECT_EQ(twins[1].headerOffset, walked[2].headerOffset);
  // A sector not there has no records, and that is no failure; a track not there is.
  EXPECT_TRUE(image_.recordsOf({0, 0, 0, 9, 3}, &twins).ok());
  EXPECT_TRUE(twins.empty());
  EXPECT_EQ(image_.recordsOf({1, 0, 1, 1, 3}, &twins).code(), Status::Code::kNotFound);
}

TEST_F(ImageTest, RecordCountBoundsTheSearch) {
  std::vector<Record> records;
  for (int r = 1; r <= 4; ++r) records.push_back(record(0, 0, r, 3, pattern(0, r)));
  for (Record& rec : records) rec.sectorCount = 2;
  ASSERT_TRUE(load(d88build::build({oneTrack(0, records)}).bytes));
  EXPECT_EQ(read({0, 0, 0, 2, 3}, kSector), pattern(0, 2));
  EXPECT_TRUE(read({0, 0, 0, 3, 3}, kSector).empty());

  // A header that says the track has no sectors ends the search at once.
  for (Record& rec : records) rec.sectorCount = 0;
  ASSERT_TRUE(load(d88build::build({oneTrack(0, records)}).bytes));
  EXPECT_TRUE(read({0, 0, 0, 1, 3}, kSector).empty());
}

TEST_F(ImageTest, TrackOffsetIsBoundedByTheDiskSize) {
  d88build::Image built = d88build::build({oneTrack(0, {record(0, 0, 1, 3, pattern(0, 1))})});
  const std::uint32_t diskSize = static_cast<std::uint32_t>(built.bytes.size());
  // A record placed just after the disk, where a table entry equal to the size points.
  Bytes tail = d88build::build({oneTrack(0, {record(0, 1, 1, 3, pattern(1, 1))})}).bytes;
  built.bytes.insert(built.bytes.end(), tail.begin() + 0x2B0, tail.end());
  struct Case {
    const char* what;
    std::uint32_t entry;
  };
  const Case cases[] = {
      // The record there is the next disk's header: never part of this disk.
      {"equal to the disk size", diskSize},
      {"one past the disk size", diskSize + 1},
      {"2^31 and above, negative when signed", 0x80000000u + diskSize},
      {"all ones", 0xFFFFFFFFu},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    d88build::putLE32(built.bytes, 0x20 + 4, c.entry);
    ASSERT_TRUE(load(built.bytes));
    EXPECT_TRUE(read({1, 0, 1, 1, 3}, kSector).empty());
  }
}

// A sector cut off by the end of the file gives the bytes that came, and says
// it is cut off; a header cut off leaves no sector at all.
TEST_F(ImageTest, ReadSectorReturnsTheBytesThatReallyCame) {
  d88build::Image built = d88build::build({oneTrack(0, {record(0, 0, 1, 3, pattern(0, 1))})});
  const std::size_t data = built.recordOffset(0, 0, 0) + 16;
  for (std::size_t kept : {std::size_t{0}, std::size_t{1}, std::size_t{700}, std::size_t{1023}}) {
    Bytes cut(built.bytes.begin(), built.bytes.begin() + static_cast<long>(data + kept));
    ASSERT_TRUE(load(cut));
    Status status;
    EXPECT_EQ(read({0, 0, 0, 1, 3}, kSector, &status), pattern(0, 1, kept)) << kept;
    EXPECT_EQ(status.code(), Status::Code::kCorruption) << kept;
  }
  Bytes cut(built.bytes.begin(), built.bytes.begin() + static_cast<long>(data - 1));
  ASSERT_TRUE(load(cut));
  Status status;
  EXPECT_TRUE(read({0, 0, 0, 1, 3}, kSector, &status).empty());
  EXPECT_EQ(status.code(), Status::Code::kNotFound);
}

// The kept readSector(): the bytes copied, or 0, and status() says why.
TEST_F(D88ImageTest, ReadSectorReturnsTheBytesCopiedAndKeepsTheReason) {
  d88build::Image built = d88build::build(
      {oneTrack(0, {record(0, 0, 1, 3, pattern(0, 1)), record(0, 0, 2, 3, pattern(0, 2))})});
  built.bytes.resize(built.recordOffset(0, 0, 1) + 16 + 700);
  ASSERT_TRUE(load(built.bytes));
  struct Case {
    const char* what;
    int r, maxBytes;
    std::size_t got;
    Status::Code code;
  };
  const Case cases[] = {
      {"whole", 1, kSector, kSector, Status::Code::kOk},
      {"capped at maxBytes", 1, 512, 512, Status::Code::kOk},
      {"cut off by the end of the file", 2, kSector, 700, Status::Code::kCorruption},
      {"not there", 3, kSector, 0, Status::Code::kNotFound},
      {"no room", 1, 0, 0, Status::Code::kOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(load(built.bytes));
    EXPECT_EQ(read(0, 0, 0, c.r, 3, c.maxBytes), pattern(0, c.r, c.got));
    EXPECT_EQ(image_.status().code(), c.code) << image_.status().toString();
  }
  EXPECT_EQ(image_.readSector(0, 0, 0, 1, 3, nullptr, kSector), 0);
}

// ---- readRun --------------------------------------------------------------

// The salvage read of a run: sector 3 of track 40 missing, sector 5 short,
// sector 6 marked bad; everything that is there reaches its slot.
TEST_F(ImageTest, ReadRunCopiesEverySectorThatIsThere) {
  Disk disk = d88build::standardDisk();
  auto& track = disk.tracks[40];
  track[4].data.resize(300);
  track[5].status = d88::kStatusDataCrcError;
  track.erase(track.begin() + 2);
  ASSERT_TRUE(load(d88build::build({disk}).bytes));

  Bytes buffer(5 * kSector + 64, kGuard);
  const std::vector<d88::SectorOutcome> outcomes =
      image_.readRun({40, 20, 0, 2, 3}, {1, 8}, buffer.data(), 4 * kSector + 512);
  ASSERT_EQ(outcomes.size(), 5u);
  struct Expect {
    int r, slot, read;
    bool found;
    std::uint8_t status;
    Status::Code code;
  };
  const Expect expect[] = {
      {2, kSector, kSector, true, 0, Status::Code::kOk},
      {3, kSector, 0, false, 0, Status::Code::kNotFound},
      {4, kSector, kSector, true, 0, Status::Code::kOk},
      {5, kSector, 300, true, 0, Status::Code::kCorruption},
      {6, 512, 512, true, 0xB0, Status::Code::kOk},
  };
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    const d88::SectorOutcome& o = outcomes[i];
    SCOPED_TRACE(expect[i].r);
    EXPECT_EQ(o.address.r, expect[i].r);
    EXPECT_EQ(o.slotOffset, static_cast<int>(i) * kSector);
    EXPECT_EQ(o.slotBytes, expect[i].slot);
    EXPECT_EQ(o.bytesRead, expect[i].read);
    EXPECT_EQ(o.found, expect[i].found);
    EXPECT_EQ(o.status.code(), expect[i].code) << o.status.toString();
    if (o.found) {
      EXPECT_EQ(o.record.status, expect[i].status);
    }
    const Bytes got(buffer.begin() + o.slotOffset, buffer.begin() + o.slotOffset + o.bytesRead);
    EXPECT_EQ(got, pattern(40, expect[i].r, static_cast<std::size_t>(o.bytesRead)));
    // What no sector supplied is left as it was.
    for (int k = o.slotOffset + o.bytesRead; k < o.slotOffset + o.slotBytes; ++k) {
      ASSERT_EQ(buffer[static_cast<std::size_t>(k)], kGuard) << k;
    }
  }
  expectGuardIntact(buffer, 4 * kSector + 512);

  // With no buffer nothing is copied, and each outcome says what would be.
  const std::vector<d88::SectorOutcome> dry =
      image_.readRun({40, 20, 0, 2, 3}, {1, 8}, nullptr, 4 * kSector + 512);
  ASSERT_EQ(dry.size(), outcomes.size());
  for (std::size_t i = 0; i < dry.size(); ++i) EXPECT_EQ(dry[i].bytesRead, outcomes[i].bytesRead) << i;
}

TEST_F(ImageTest, RunOfNothingOrOfImpossibleSizeCodesHasNoOutcome) {
  ASSERT_TRUE(load(d88build::build({d88build::standardDisk()}).bytes));
  Bytes buffer(kSector, kGuard);
  EXPECT_TRUE(image_.readRun({0, 0, 0, 1, 3}, {1, 8}, buffer.data(), 0).empty());
  EXPECT_TRUE(image_.readRun({0, 0, 0, 1, 3}, {1, 8}, buffer.data(), -100).empty());
  for (int n : {-1, 24, 31, 200}) {
    EXPECT_TRUE(image_.readRun({0, 0, 0, 1, n}, {1, 8}, buffer.data(), kSector).empty()) << n;
  }
  expectGuardIntact(buffer, 0);
}

TEST(FollowingSector, WrapsOnlyAtTheLastSector) {
  const d88::SectorRange range{1, 8};
  const d88::SectorAddress a = d88::followingSector({40, 20, 0, 8, 3}, range);
  EXPECT_EQ((std::vector<int>{a.track, a.c, a.h, a.r}), (std::vector<int>{41, 20, 1, 1}));
  const d88::SectorAddress b = d88::followingSector({41, 20, 1, 8, 3}, range);
  EXPECT_EQ((std::vector<int>{b.track, b.c, b.h, b.r}), (std::vector<int>{42, 21, 0, 1}));
  const d88::SectorAddress c = d88::followingSector({41, 20, 1, 9, 3}, range);
  EXPECT_EQ((std::vector<int>{c.track, c.c, c.h, c.r}), (std::vector<int>{41, 20, 1, 10}));
  const d88::SectorAddress d = d88::followingSector({0, 0, 0, INT32_MAX, 3}, range);
  EXPECT_EQ(d.r, INT32_MIN);
}

// ---- readSectors ----------------------------------------------------------

class RunTest : public D88ImageTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(load(d88build::build({d88build::standardDisk()}).bytes));
    image_.setSectorRange(1, 8);
  }

  // Expected bytes of a run over the standard disk, sector by sector.
  static Bytes expected(std::vector<std::pair<int, int>> trackAndSector, std::size_t total) {
    Bytes out;
    for (auto [track, r] : trackAndSector) {
      const Bytes s = pattern(track, r);
      out.insert(out.end(), s.begin(), s.end());
    }
    out.resize(total);
    return out;
  }

  Bytes run(int track, int c, int h, int r, int n, int total, int* got) {
    const std::size_t room = static_cast<std::size_t>(std::max(total, 0));
    Bytes buffer(room + 64, kGuard);
    *got = image_.readSectors(track, c, h, r, n, buffer.data(), total);
    expectGuardIntact(buffer, room);
    buffer.resize(room);
    return buffer;
  }
};

TEST_F(RunTest, RunTakesPartOfItsLastSector) {
  int got = 0;
  EXPECT_EQ(run(37, 18, 1, 7, 3, 1792, &got), expected({{37, 7}, {37, 8}}, 1792));
  EXPECT_EQ(got, 1792);
}

TEST_F(RunTest, RunMovesToTheOtherHeadThenTheNextCylinder) {
  int got = 0;
  EXPECT_EQ(run(40, 20, 0, 8, 3, 2048, &got), expected({{40, 8}, {41, 1}}, 2048));
  EXPECT_EQ(got, 2048);
  EXPECT_EQ(run(41, 20, 1, 8, 3, 2048, &got), expected({{41, 8}, {42, 1}}, 2048));
  EXPECT_EQ(got, 2048);
}

TEST_F(RunTest, RunStopsAtTheFirstSectorThatDoesNotComeWhole) {
  Disk disk = d88build::standardDisk();
  disk.tracks[40].erase(disk.tracks[40].begin() + 2);  // sector 3
  ASSERT_TRUE(load(d88build::build({disk}).bytes));
  image_.setSectorRange(1, 8);
  int got = 0;
  const Bytes out = run(40, 20, 0, 1, 3, 4096, &got);
  EXPECT_EQ(got, 2048);
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 2048, expected({{40, 1}, {40, 2}}, 2048).begin()));
  EXPECT_EQ(image_.status().code(), Status::Code::kNotFound);

  // A short sector stops it as a missing one does.
  disk = d88build::standardDisk();
  disk.tracks[40][3].data.resize(300);  // sector 4
  ASSERT_TRUE(load(d88build::build({disk}).bytes));
  run(40, 20, 0, 2, 3, 4 * kSector, &got);
  EXPECT_EQ(got, 2 * kSector);
}

TEST_F(RunTest, RunStartingAboveTheLastSectorNeverWraps) {
  Disk disk = oneTrack(0, {record(0, 0, 9, 3, pattern(0, 9)), record(0, 0, 10, 3, pattern(0, 10)),
                           record(0, 0, 11, 3, pattern(0, 11))});
  disk.tracks[1] = {record(0, 1, 1, 3, pattern(1, 1))};
  ASSERT_TRUE(load(d88build::build({disk}).bytes));
  image_.setSectorRange(1, 8);
  int got = 0;
  run(0, 0, 0, 9, 3, 4 * kSector, &got);
  EXPECT_EQ(got, 3 * kSector);
}

TEST_F(RunTest, RunOfNothingOrOfImpossibleSizeCodesReadsNothing) {
  int got = -1;
  run(0, 0, 0, 1, 3, 0, &got);
  EXPECT_EQ(got, 0);
  for (int n : {-1, 24, 31, 200}) {
    run(0, 0, 0, 1, n, kSector, &got);
    EXPECT_EQ(got, 0) << n;
  }
  run(0, 0, 0, 1, 3, -100, &got);
  EXPECT_EQ(got, 0);
}

// ---- listSectorIds --------------------------------------------------------

class ListTest : public D88ImageTest {
 protected:
  // Lists into a guarded buffer of `capacity` bytes; returns the entries written.
  Bytes list(int track, int capacity) {
    Bytes buffer(static_cast<std::size_t>(std::max(capacity, 0)) + 16, kGuard);
    const int got = image_.listSectorIds(track, buffer.data(), capacity);
    EXPECT_EQ(got % 4, 0);
    EXPECT_LE(got, std::max(capacity, 0));
    expectGuardIntact(buffer, static_cast<std::size_t>(std::max(got, 0)));
    buffer.resize(static_cast<std::size_t>(std::max(got, 0)));
    return buffer;
  }
};

Bytes ids(std::vector<int> rs, int c = 20, int h = 0, int n = 3) {
  Bytes out;
  for (int r : rs) {
    out.insert(out.end(), {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(h),
                           static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(n)});
  }
  return out;
}

TEST_F(ListTest, ListsIdentitiesInRecordOrderWithinTheCapacity) {
  std::vector<Record> records;
  for (int r : {5, 2, 8, 1, 7, 3, 6, 4}) records.push_back(record(20, 0, r, 3, pattern(40, r)));
  ASSERT_TRUE(load(d88build::build({oneTrack(40, records)}).bytes));
  EXPECT_EQ(list(40, 64), ids({5, 2, 8, 1, 7, 3, 6, 4}));
  EXPECT_EQ(list(40, 32), ids({5, 2, 8, 1, 7, 3, 6, 4}));
  EXPECT_EQ(list(40, 16), ids({5, 2, 8, 1}));
  EXPECT_EQ(list(40, 31), ids({5, 2, 8, 1, 7, 3, 6}));
  EXPECT_EQ(list(40, 6), ids({5}));
  EXPECT_EQ(list(40, 3), Bytes());
  EXPECT_EQ(list(40, 0), Bytes());
  EXPECT_EQ(list(40, -4), Bytes());
  EXPECT_EQ(list(41, 64), Bytes());
  EXPECT_EQ(list(164, 64), Bytes());
  EXPECT_EQ(list(-1, 64), Bytes());
}

TEST_F(ListTest, RecordCountZeroListsUntilTheCapacityIsFull) {
  Disk disk = d88build::standardDisk(0, 2);
  for (Record& rec : disk.tracks[0]) rec.sectorCount = 0;
  ASSERT_TRUE(load(d88build::build({disk}).bytes));
  // Track 0's eight records, then the walk goes on into track 1's.
  Bytes expect = ids({1, 2, 3, 4, 5, 6, 7, 8}, 0, 0);
  const Bytes more = ids({1, 2}, 0, 1);
  expect.insert(expect.end(), more.begin(), more.end());
  EXPECT_EQ(list(0, 40), expect);
  // A walk stops at the first count of 0; the listing is not taken from it.
  EXPECT_EQ(image_.image().walkTrack(0).records.size(), 1u);
}

TEST_F(ListTest, ListingStopsAtAHeaderCutOffByTheEndOfTheFile) {
  d88build::Image built = d88build::build({d88build::standardDisk(0, 1, 1)});
  for (int whole = 0; whole < 8; ++whole) {
    const std::size_t end = built.recordOffset(0, 0, whole) + 15;
    ASSERT_TRUE(load(Bytes(built.bytes.begin(), built.bytes.begin() + static_cast<long>(end))));
    EXPECT_EQ(list(0, 64).size(), static_cast<std::size_t>(4 * whole));
  }
}

// The reader keeps what it has walked and reads ahead for passes over the
// tracks; whatever was read before, and in whatever order, every sector
// comes out the same. Disks 0 and 1 end with a track longer than a read-ahead
// piece (20 sectors of 16 KiB), so that a pass's piece grows past its usual size.
TEST_F(ImageTest, EverySectorComesOutTheSameWhateverWasReadBefore) {
  constexpr int kTracks = 40;
  constexpr int kLongTrack = kTracks;
  constexpr int kLongSector = 16384;
  std::vector<Disk> disks;
  for (int seed = 0; seed < 3; ++seed) {
    Disk disk = d88build::standardDisk(seed, kTracks / 2);
    if (seed < 2) {
      for (int r = 1; r <= 20; ++r) {
        disk.tracks[kLongTrack].push_back(
            record(kLongTrack / 2, 0, r, 7, pattern(kLongTrack, r, kLongSector, seed)));
      }
    }
    disks.push_back(disk);
  }
  // Through the system's file, whose reads go through the read-ahead window.
  TempDir dir;
  const std::string path = dir.write("three.d88", d88build::build(disks).bytes);
  const Status opened = d88::Image::open(path, &image_);
  ASSERT_TRUE(opened.ok()) << opened.toString();
  const auto check = [&](int disk, int track) {
    const bool isLong = track == kLongTrack;
    if (isLong && disk == 2) return;
    const int size = isLong ? kLongSector : kSector;
    for (int r = 1; r <= (isLong ? 20 : 8); ++r) {
      ASSERT_EQ(read({track, track / 2, track % 2, r, isLong ? 7 : 3}, size),
                pattern(track, r, static_cast<std::size_t>(size), disk))
          << "disk " << disk << " track " << track << " r " << r;
    }
  };
  for (int disk : {2, 0, 1, 0, 2, 1}) {
    SCOPED_TRACE(disk);
    ASSERT_TRUE(image_.selectDisk(disk).ok());
    for (int track = 0; track <= kLongTrack; ++track) check(disk, track);
    for (int track = kLongTrack; track >= 0; --track) check(disk, track);
    for (int track = 0; track <= kLongTrack; track += 3) check(disk, track);
  }
  EXPECT_TRUE(image_.readFailure().ok()) << image_.readFailure().toString();
}

// ---- truncation sweep -----------------------------------------------------

// Cut a two-disk image at many lengths: every sector reads exactly the bytes
// of it that the file still holds, and nothing beyond.
TEST_F(ImageTest, TruncationSweepReadsExactlyWhatTheFileHolds) {
  d88build::Image built = d88build::build({d88build::standardDisk(0, 3), d88build::standardDisk(1, 3)});
  const std::size_t size = built.bytes.size();
  std::vector<std::size_t> lengths;
  for (std::size_t l = 0; l <= size; l += 97) lengths.push_back(l);
  for (std::size_t at : {built.diskOffsets[1], built.recordOffset(0, 3, 0), built.recordOffset(1, 5, 7)}) {
    for (std::size_t l = at - 2; l <= at + 18; ++l) lengths.push_back(l);
  }
  lengths.push_back(size);
  for (std::size_t length : lengths) {
    SCOPED_TRACE(length);
    const Bytes cut(built.bytes.begin(), built.bytes.begin() + static_cast<long>(length));
    bytes_ = cut;
    const Status opened = d88::Image::openMemory(bytes_.data(), bytes_.size(), &image_);
    ASSERT_TRUE(opened.ok()) << opened.toString();
    const std::size_t disks = length >= built.diskOffsets[1] + 0x2B0 ? 2 : length >= 0x2B0 ? 1 : 0;
    ASSERT_EQ(image_.disks().size(), disks);
    for (int disk = 0; disk < static_cast<int>(disks); ++disk) {
      ASSERT_TRUE(image_.selectDisk(disk).ok());
      for (int track = 0; track < 6; ++track) {
        std::size_t wholeHeaders = 0;
        for (int r = 1; r <= 8; ++r) {
          const std::size_t header = built.recordOffset(disk, track, r - 1);
          const std::size_t data = header + 16;
          if (data <= length) ++wholeHeaders;
          // Records before this one must have come whole for the walk to reach it.
          const std::size_t avail = data > length ? 0 : std::min<std::size_t>(kSector, length - data);
          const Bytes got = read({track, track / 2, track % 2, r, 3}, kSector);
          ASSERT_EQ(got, pattern(track, r, avail, disk)) << "track " << track << " r " << r;
        }
        ASSERT_EQ(image_.walkTrack(track).records.size(), wholeHeaders) << "track " << track;
      }
    }
  }
}

// A record read by the record a walk gave, and two records' data compared:
// as far as the disk holds them, and as far as the caller asks.
TEST_F(ImageTest, RecordsAreReadAndComparedAsFarAsTheDiskHoldsThem) {
  Bytes changedLast = pattern(5, 1);
  changedLast.back() ^= 0x01;
  // R 1, its twin that differs in its last byte, an identical twin, and a
  // last record whose data the end of the file cuts to 100 bytes.
  Bytes image = d88build::build({oneTrack(5, {record(2, 1, 1, 3, pattern(5, 1)),
                                              record(2, 1, 1, 3, changedLast),
                                              record(2, 1, 1, 3, pattern(5, 1)),
                                              record(2, 1, 2, 3, pattern(5, 2))})})
                    .bytes;
  image.resize(image.size() - (kSector - 100));
  ASSERT_TRUE(load(image));
  const std::vector<d88::SectorRecord> records = image_.walkTrack(5).records;
  ASSERT_EQ(records.size(), 4u);

  Bytes buffer(kSector, kGuard);
  std::int32_t got = 0;
  EXPECT_TRUE(image_.readRecord(records[0], buffer.data(), kSector, &got).ok());
  EXPECT_EQ(got, kSector);
  EXPECT_EQ(buffer, pattern(5, 1));
  EXPECT_TRUE(image_.readRecord(records[0], buffer.data(), 10, &got).ok());
  EXPECT_EQ(got, 10);
  // A short record gives what the disk holds, and that is no failure.
  const Status shortRead = image_.readRecord(records[3], buffer.data(), kSector, &got);
  EXPECT_TRUE(shortRead.ok()) << shortRead.toString();
  EXPECT_EQ(got, 100);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 100, pattern(5, 2).begin()));

  const auto same = [&](const d88::SectorRecord& a, const d88::SectorRecord& b, int maxBytes) {
    bool result = false;
    const Status s = image_.sameData(a, b, maxBytes, &result);
    EXPECT_TRUE(s.ok()) << s.toString();
    return result;
  };
  EXPECT_TRUE(same(records[0], records[2], kSector));
  EXPECT_FALSE(same(records[0], records[1], kSector));
  EXPECT_TRUE(same(records[0], records[1], kSector - 1)) << "the last byte not asked for";
  EXPECT_FALSE(same(records[0], records[3], kSector)) << "as many bytes";
  EXPECT_TRUE(same(records[1], records[1], kSector));

  EXPECT_TRUE(d88::isSoundRecord(records[0]));
  EXPECT_FALSE(d88::isSoundRecord(records[3])) << "short";
  d88::SectorRecord marked = records[0];
  marked.status = d88::kStatusDataCrcError;
  EXPECT_FALSE(d88::isSoundRecord(marked));
  marked.status = d88::kStatusDeletedData;
  EXPECT_TRUE(d88::isSoundRecord(marked));
  EXPECT_EQ(d88::sectorBytes(3), kSector);
  EXPECT_EQ(d88::sectorBytes(24), 0);
}

// Plain bytes at any offset, in reads smaller and larger than the window,
// and no further than the file goes.
TEST(ReadBytes, GivesTheFileAsItStands) {
  TempDir dir;
  Bytes bytes = d88build::build({d88build::standardDisk(2, 2)}).bytes;
  for (std::size_t i = 0; bytes.size() < 700 * 1024; ++i) bytes.push_back(d88build::patternByte(3, 0, 1, i));
  const std::string path = dir.write("bytes.d88", bytes);
  d88::Image image;
  ASSERT_TRUE(d88::Image::open(path, &image).ok());
  const std::pair<std::size_t, std::size_t> reads[] = {
      {0, 16}, {100, 300 * 1024}, {5, 1024 * 1024}, {bytes.size() - 10, 100},
      {bytes.size(), 10}, {256 * 1024 - 1, 256 * 1024 + 2},
  };
  for (const auto& [offset, size] : reads) {
    SCOPED_TRACE(std::to_string(offset) + " " + std::to_string(size));
    Bytes got(size, 0xEE);
    std::size_t n = 0;
    const Status s = image.readBytes(static_cast<std::int64_t>(offset), got.data(), size, &n);
    EXPECT_TRUE(s.ok()) << s.toString();
    const std::size_t expected = std::min(size, bytes.size() - offset);
    ASSERT_EQ(n, expected);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + static_cast<long>(n),
                           bytes.begin() + static_cast<long>(offset)));
  }
  EXPECT_TRUE(image.readFailure().ok());
}

}  // namespace

namespace {

// Entries that point at one place share their records: each later entry
// names the earliest; absent entries and entries past the disk name none.
TEST(SameRecordsAs, NamesTheEarliestEntryOfTheSamePlace) {
  d88::Disk disk;
  disk.size = 10000;
  disk.tracks[0] = 0x2B0;
  disk.tracks[1] = 0x1000;
  disk.tracks[2] = 0x2B0;
  disk.tracks[3] = 0x1000;
  disk.tracks[4] = 0x2B0;
  disk.tracks[6] = 20000;  // past the disk's end: absent
  disk.tracks[7] = 20000;
  const int expected[] = {-1, -1, 0, 1, 0, -1, -1, -1};
  for (int t = 0; t < 8; ++t) EXPECT_EQ(d88::sameRecordsAs(disk, t), expected[t]) << t;
  EXPECT_EQ(d88::sameRecordsAs(disk, -1), -1);
  EXPECT_EQ(d88::sameRecordsAs(disk, d88::kTrackCount), -1);
}

}  // namespace
