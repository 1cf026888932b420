// The reader within fixed bounds whatever an image claims, the same answer
// to any question whatever was asked before, and a reason for every read
// that fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <d88/image.h>

#include "byte_source.h"
#include "d88_builder.h"
#include "image_access.h"
#include "test_files.h"

namespace {

using d88::Image;
using d88::Status;
using d88build::Bytes;
using d88build::Disk;
using d88build::Record;
using d88test::FileLog;
using d88test::TestFile;

constexpr std::size_t kTableOffset = 0x20;

// One track of `records` records; record i has record count count(i) and
// dataSize(i) bytes of data, identity id(i). Every entry of the track table
// then points at record entry(t): the hostile shapes share their records.
struct Chain {
  std::size_t records;
  std::function<std::uint16_t(std::size_t)> count;
  std::function<std::size_t(int)> entry;
  std::function<std::size_t(std::size_t)> dataSize = [](std::size_t) { return 0; };
  std::function<Record(std::size_t)> id = [](std::size_t i) {
    Record r;
    r.c = static_cast<std::uint8_t>(i / 16 % 77);
    r.h = static_cast<std::uint8_t>(i / 8 % 2);
    r.r = static_cast<std::uint8_t>(1 + i % 8);
    r.n = 3;
    return r;
  };
};

Disk chainDisk(const Chain& chain) {
  Disk disk;
  auto& track = disk.tracks[0];
  for (std::size_t i = 0; i < chain.records; ++i) {
    Record r = chain.id(i);
    r.data.assign(chain.dataSize(i), 0x5A);
    r.sectorCount = chain.count(i);
    track.push_back(std::move(r));
  }
  return disk;
}

// Builds the disks, then points every table entry of each at its chain.
Bytes chainImage(const std::vector<Chain>& chains) {
  std::vector<Disk> disks;
  for (const Chain& c : chains) disks.push_back(chainDisk(c));
  d88build::Image built = d88build::build(disks);
  for (std::size_t d = 0; d < chains.size(); ++d) {
    const std::size_t start = built.diskOffsets[d];
    for (int t = 0; t < d88::kTrackCount; ++t) {
      const std::size_t record = std::min(chains[d].entry(t), chains[d].records - 1);
      const std::size_t at = built.recordOffset(static_cast<int>(d), 0, static_cast<int>(record));
      d88build::putLE32(built.bytes, start + kTableOffset + 4 * static_cast<std::size_t>(t),
                        static_cast<std::uint32_t>(at - start));
    }
  }
  return built.bytes;
}

Chain oneChain(std::size_t records) {
  return {records, [](std::size_t i) -> std::uint16_t { return i == 0 ? 2 : 1; },
          [](int) { return std::size_t{0}; }};
}

Chain entries16Apart(std::size_t records) {
  return {records, [](std::size_t i) -> std::uint16_t { return i < 164 ? 200 : 1; },
          [](int t) { return static_cast<std::size_t>(t); }};
}

Chain countFFFF(std::size_t records) {
  Chain c{records, [](std::size_t) -> std::uint16_t { return 0xFFFF; },
          [](int t) { return static_cast<std::size_t>(t) * 40; }};
  c.id = [](std::size_t i) {
    std::mt19937 random(static_cast<unsigned>(i));
    Record r;
    r.c = static_cast<std::uint8_t>(random());
    r.h = static_cast<std::uint8_t>(random());
    r.r = static_cast<std::uint8_t>(random());
    r.n = 3;
    return r;
  };
  c.dataSize = [](std::size_t i) { return i % 65; };
  return c;
}

Chain zeroCounts(std::size_t records) {
  return {records, [](std::size_t) -> std::uint16_t { return 0; },
          [](int) { return std::size_t{0}; }};
}

// Records of the largest data size, every table entry at another of them:
// the walks overlap and their headers stand 64 KiB apart.
Chain longRecords(std::size_t records) {
  Chain c{records, [](std::size_t) -> std::uint16_t { return 0xFFFF; },
          [records](int t) { return static_cast<std::size_t>(t) % records; }};
  c.dataSize = [](std::size_t) { return 0xFFFF; };
  return c;
}

Bytes randomBytes(std::size_t size) {
  std::mt19937 random(7);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

// Random bytes under the header of an unformatted disk as large as the file,
// its tracks at random offsets inside it: a D88 image by its header, so that
// every walk goes over the random bytes.
Bytes randomUnderASoundHeader(std::size_t size) {
  Bytes bytes = randomBytes(size);
  Bytes header = d88build::build({Disk()}).bytes;
  d88build::putLE32(header, 0x1C, static_cast<std::uint32_t>(size));
  std::mt19937 random(11);
  for (int t = 0; t < d88::kTrackCount; ++t) {
    const auto entry = static_cast<std::uint32_t>(0x2B0 + random() % (size - 0x2B0));
    d88build::putLE32(header, kTableOffset + 4 * static_cast<std::size_t>(t), entry);
  }
  std::copy(header.begin(), header.end(), bytes.begin());
  return bytes;
}

struct Shape {
  const char* what;
  Bytes bytes;
  d88::TrackEnd end;  // how the walk of track 0 ends
  std::size_t trackRecords;
  // How many times the whole file may be read (plus 1 MiB). Walks that
  // overlap each read what they share: at worst, each walk and each listing
  // of a track reads the whole file once.
  std::uint64_t fileReads = 4;
};

// The walk that D88Image::listSectorIds() lists: on past a record count of 0.
d88::TrackWalk listing(Image& image, int track, std::size_t maxRecords) {
  d88::TrackWalk onward;
  const d88::TrackWalk* walk = nullptr;
  (void)d88::ImageAccess::walkPastZeroCounts(image, track, maxRecords, &onward, &walk);
  return walk != nullptr ? *walk : d88::TrackWalk();
}

// Asks every question a listing and a cut ask of every disk, as d88ls and
// d88cut would.
void askEverything(Image& image) {
  std::vector<std::uint8_t> data(8 * 1024);
  const auto cap = static_cast<std::size_t>(d88::kMaxTrackRecords);
  for (int disk = 0; disk < static_cast<int>(image.disks().size()); ++disk) {
    ASSERT_TRUE(image.selectDisk(disk).ok());
    for (int track = 0; track < d88::kTrackCount; ++track) {
      const d88::TrackWalk walk = image.walkTrack(track);
      ASSERT_LE(walk.records.size(), cap);
      ASSERT_LE(listing(image, track, 1024).records.size(), cap);
      if (!walk.records.empty()) {
        const d88::SectorId& id = walk.records.front().id;
        const d88::SectorAddress at{track, id.c, id.h, id.r, id.n};
        image.readRun(at, {1, 8}, data.data(), static_cast<std::int32_t>(data.size()));
        std::vector<d88::SectorRecord> twins;
        EXPECT_TRUE(image.recordsOf(at, &twins).ok());
        ASSERT_LE(twins.size(), walk.records.size());
      }
    }
  }
}

// Images built to make a reader walk, keep or read far more than the file
// holds: each walk stops at the cap, and the file is read within bounds that
// its size and the caps set, whatever the records claim. What the reader
// keeps is not seen from outside; it holds no more than it read, and reads
// no more at once than its window.
TEST(ReaderBounds, HostileShapesStayWithinFixedBounds) {
  constexpr std::size_t kRecords = 20000;
  std::vector<Chain> sixtyFour;
  for (int d = 0; d < 64; ++d) sixtyFour.push_back(entries16Apart(600));
  const auto cap = static_cast<std::size_t>(d88::kMaxTrackRecords);
  const Shape shapes[] = {
      {"every entry at one chain of empty records, counts 2 then 1",
       chainImage({oneChain(kRecords)}), d88::TrackEnd::kCap, cap},
      {"entries 16 bytes apart, counts 200 then 1", chainImage({entries16Apart(kRecords)}),
       d88::TrackEnd::kCap, cap},
      {"counts 0xFFFF, random identities, entries spread", chainImage({countFFFF(kRecords)}),
       d88::TrackEnd::kCap, cap},
      {"every header says 0 records", chainImage({zeroCounts(kRecords)}),
       d88::TrackEnd::kZeroCount, 1},
      {"records of 64 KiB, entries at each of them", chainImage({longRecords(64)}),
       d88::TrackEnd::kDiskEnd, 64},
      {"64 disks, entries 16 bytes apart", chainImage(sixtyFour), d88::TrackEnd::kCap, cap},
      {"random bytes", randomBytes(1 << 20), d88::TrackEnd::kRecordCount, 0},
      {"random bytes under a sound header", randomUnderASoundHeader(1 << 20),
       d88::TrackEnd::kRecordCount, 0, 2 * d88::kTrackCount},
  };
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.what);
    std::unique_ptr<TestFile> file = TestFile::over(shape.bytes);
    const std::shared_ptr<FileLog> log = file->log();
    Image image;
    const Status opened = Image::openFile(std::move(file), &image);
    if (!opened.ok()) {
      // Random bytes may well be refused as no D88 image: that open, which
      // walks the first disk's tracks, is bounded too.
      EXPECT_EQ(opened.code(), Status::Code::kNotD88Image) << opened.toString();
      EXPECT_EQ(shape.trackRecords, 0u);
    }
    if (shape.trackRecords > 0) {
      ASSERT_TRUE(image.selectDisk(0).ok());
      const d88::TrackWalk walk = image.walkTrack(0);
      EXPECT_EQ(walk.end, shape.end);
      EXPECT_EQ(walk.records.size(), shape.trackRecords);
    }
    askEverything(image);
    // Each walk reads each header it takes at most once, and the listing
    // walks a track at most once more; a run reads at most one piece per
    // sector (8 KiB in sectors of 128 bytes or more).
    const auto disks = std::max<std::uint64_t>(image.disks().size(), 1);
    const std::uint64_t walksAndRuns = disks * d88::kTrackCount * (2 * cap + 64);
    EXPECT_LE(log->reads, walksAndRuns + 2 * d88::kMaxDisks)
        << "read " << log->bytes << " bytes of a " << shape.bytes.size() << "-byte file";
    EXPECT_LE(log->bytes, shape.fileReads * shape.bytes.size() + (1u << 20))
        << "read " << log->bytes << " bytes of a " << shape.bytes.size() << "-byte file in "
        << log->reads << " reads";
    EXPECT_LE(log->largestRead, d88::kMaxWindowBytes);
    EXPECT_TRUE(image.readFailure().ok()) << image.readFailure().toString();
  }
}

// ---- the same answer whatever was asked before ----------------------------

std::string recordsText(const std::vector<d88::SectorRecord>& records) {
  std::string text;
  for (const d88::SectorRecord& r : records) {
    text += std::to_string(r.id.c) + "," + std::to_string(r.id.h) + "," + std::to_string(r.id.r) +
            "," + std::to_string(r.id.n) + "/" + std::to_string(r.dataAvailable) + "@" +
            std::to_string(r.headerOffset) + " ";
  }
  return text;
}

// One question to the reader and its whole answer, as comparable text.
std::string ask(Image& image, int disk, int kind, int track, std::uint32_t pick) {
  if (!image.selectDisk(disk).ok()) return "no disk";
  std::string answer;
  const d88::TrackWalk walk = image.walkTrack(track);
  switch (kind) {
    case 0:
      answer = recordsText(walk.records) + "end " + std::to_string(static_cast<int>(walk.end)) +
               " at " + std::to_string(walk.endOffset);
      break;
    case 1: {
      const d88::TrackWalk listed = listing(image, track, pick % 300);
      answer = recordsText(listed.records) + "end " + std::to_string(static_cast<int>(listed.end));
      break;
    }
    case 2: {
      if (walk.records.empty()) return "empty";
      const d88::SectorId id = walk.records[pick % walk.records.size()].id;
      std::vector<std::uint8_t> data(3000, 0xEE);
      const auto outcomes = image.readRun({track, id.c, id.h, id.r, id.n},
                                          {1, static_cast<std::int32_t>(pick % 10)}, data.data(),
                                          static_cast<std::int32_t>(data.size()));
      for (const auto& o : outcomes) answer += std::to_string(o.bytesRead) + " ";
      answer.append(data.begin(), data.end());
      break;
    }
    default: {
      if (walk.records.empty()) return "empty";
      const d88::SectorId id = walk.records[pick % walk.records.size()].id;
      std::vector<d88::SectorRecord> twins;
      answer = std::to_string(static_cast<int>(
                   image.recordsOf({track, id.c, id.h, id.r, id.n}, &twins).code())) +
               " " + recordsText(twins);
      bool same = false;
      if (twins.size() >= 2 && image.sameData(twins.front(), twins.back(), 1024, &same).ok()) {
        answer += same ? "same" : "differ";
      }
      break;
    }
  }
  return answer;
}

// Damaged multi-disk images: a reader that has answered many questions gives
// the same answer as a fresh one, question after question.
TEST(ReaderAnswers, ALongLivedReaderAnswersAsAFreshOne) {
  for (unsigned seed = 1; seed <= 3; ++seed) {
    SCOPED_TRACE(seed);
    Disk disk0 = d88build::standardDisk(0, 20);
    Disk disk1 = d88build::standardDisk(1, 20, 2, 16, 1);
    disk1.tracks[5][3].sectorCount = 0;
    // Twins on disk 0: sector 2 of track 4 again, its data changed in one byte.
    Record twin = disk0.tracks[4][1];
    twin.data[7] ^= 0x01;
    disk0.tracks[4].push_back(twin);
    d88build::Image built = d88build::build({disk0, disk1, d88build::standardDisk(2, 10)});
    std::mt19937 random(seed);
    // Damage: bytes of record headers and data overwritten at random.
    for (int k = 0; k < 200; ++k) {
      const std::size_t at = 0x2B0 + random() % (built.bytes.size() - 0x2B0);
      built.bytes[at] = static_cast<std::uint8_t>(random());
    }
    built.bytes.resize(built.bytes.size() - random() % 5000);
    const Bytes& bytes = built.bytes;
    Image longLived;
    ASSERT_TRUE(Image::openMemory(bytes.data(), bytes.size(), &longLived).ok());
    for (int q = 0; q < 300; ++q) {
      const int disk = static_cast<int>(random() % 4);
      const int kind = static_cast<int>(random() % 4);
      const int track = static_cast<int>(random() % 44);
      const auto pick = static_cast<std::uint32_t>(random());
      Image fresh;
      ASSERT_TRUE(Image::openMemory(bytes.data(), bytes.size(), &fresh).ok());
      ASSERT_EQ(ask(longLived, disk, kind, track, pick), ask(fresh, disk, kind, track, pick))
          << "question " << q << ": disk " << disk << " kind " << kind << " track " << track;
    }
  }
}

// ---- a reason for every read that fails -----------------------------------

// Opens `bytes` through a TestFile into *image; its log into *log.
Status openCounted(const Bytes& bytes, Image* image, std::shared_ptr<FileLog>* log) {
  std::unique_ptr<TestFile> file = TestFile::over(bytes);
  *log = file->log();
  return Image::openFile(std::move(file), image);
}

std::vector<d88::TrackWalk> walkAll(Image& image) {
  std::vector<d88::TrackWalk> walks;
  if (!image.selectDisk(0).ok()) return walks;
  for (int t = 0; t < d88::kTrackCount; ++t) walks.push_back(image.walkTrack(t));
  return walks;
}

// Read number k of a whole listing fails with EIO, for every k: the reader
// says so and why, the walk that met it says where, everything else is as
// without the failure, and nothing of it outlives the next open.
TEST(ReaderFailures, EveryReadThatFailsIsReportedWithItsReason) {
  const Bytes bytes = d88build::build({d88build::standardDisk()}).bytes;
  std::shared_ptr<FileLog> log;
  Image clean;
  ASSERT_TRUE(openCounted(bytes, &clean, &log).ok());
  const std::vector<d88::TrackWalk> expected = walkAll(clean);
  const std::uint64_t reads = log->reads;
  ASSERT_GT(reads, 2u);
  for (std::uint64_t k = 1; k <= reads; ++k) {
    SCOPED_TRACE(k);
    std::unique_ptr<TestFile> file = TestFile::over(bytes);
    log = file->log();
    log->failAt(k);
    Image image;
    const Status opened = Image::openFile(std::move(file), &image);
    if (k == 1) {
      // The first header could not be read: the open fails, and says why.
      EXPECT_EQ(opened.code(), Status::Code::kIoError);
      EXPECT_EQ(opened.errnum(), EIO);
      EXPECT_EQ(opened.reason(), std::strerror(EIO));
      EXPECT_FALSE(image.isOpen());
      EXPECT_TRUE(image.disks().empty());
      EXPECT_TRUE(log->destroyed);
      continue;
    }
    ASSERT_TRUE(opened.ok()) << opened.toString();
    const std::vector<d88::TrackWalk> walks = walkAll(image);
    ASSERT_FALSE(image.readFailure().ok());
    EXPECT_EQ(image.readFailure().errnum(), EIO);
    EXPECT_EQ(image.readFailure().reason(), std::strerror(EIO));
    ASSERT_EQ(walks.size(), expected.size());
    int failedWalks = 0;
    for (std::size_t t = 0; t < walks.size(); ++t) {
      if (walks[t].end == d88::TrackEnd::kReadError) {
        ++failedWalks;
        EXPECT_EQ(walks[t].error.errnum(), EIO);
        EXPECT_LE(walks[t].records.size(), expected[t].records.size());
      } else {
        EXPECT_EQ(walks[t].records.size(), expected[t].records.size()) << "track " << t;
      }
    }
    EXPECT_EQ(failedWalks, 1);
    ASSERT_TRUE(openCounted(bytes, &image, &log).ok());
    EXPECT_TRUE(image.readFailure().ok());
    EXPECT_EQ(walkAll(image).size(), expected.size());
  }
}

// Sector reads say why a sector gave nothing: not there, or the system's error.
TEST(ReaderFailures, ARunSaysWhyEachSectorFellShort) {
  Disk disk = d88build::standardDisk(0, 21);
  disk.tracks[40].erase(disk.tracks[40].begin() + 1);
  const Bytes bytes = d88build::build({disk}).bytes;
  std::shared_ptr<FileLog> log;
  Image image;
  ASSERT_TRUE(openCounted(bytes, &image, &log).ok());
  ASSERT_TRUE(image.selectDisk(0).ok());
  std::vector<std::uint8_t> data(3 * 1024);
  auto outcomes = image.readRun({40, 20, 0, 1, 3}, {1, 8}, data.data(), 3 * 1024);
  ASSERT_EQ(outcomes.size(), 3u);
  EXPECT_TRUE(outcomes[0].status.ok());
  EXPECT_EQ(outcomes[1].status.code(), Status::Code::kNotFound);
  EXPECT_TRUE(outcomes[2].status.ok());
  EXPECT_TRUE(image.readFailure().ok()) << "a sector not there is no failed read";

  // A data read that fails: the window of the track is gone, so the sector
  // must be read again, and that read fails.
  ASSERT_TRUE(openCounted(bytes, &image, &log).ok());
  ASSERT_TRUE(image.selectDisk(0).ok());
  image.walkTrack(40);
  image.walkTrack(0);
  log->failNext();
  outcomes = image.readRun({40, 20, 0, 1, 3}, {1, 8}, data.data(), 1024);
  log->heal();
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].status.code(), Status::Code::kIoError);
  EXPECT_EQ(outcomes[0].status.errnum(), EIO);
  EXPECT_EQ(image.readFailure().errnum(), EIO);
  // A walk cut short by a failed read: a sector it did not reach is missing
  // for that reason, not because the track lacks it, now and when asked again.
  ASSERT_TRUE(openCounted(bytes, &image, &log).ok());
  ASSERT_TRUE(image.selectDisk(0).ok());
  log->failNext(true);
  for (int again = 0; again < 2; ++again) {
    outcomes = image.readRun({40, 20, 0, 3, 3}, {1, 8}, data.data(), 1024);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].status.code(), Status::Code::kIoError) << outcomes[0].status.toString();
  }
}

// A read that fails after the first disk was found stops the search for
// more disks, and says so; the disks found read as before.
TEST(ReaderFailures, AFailureWhileSeekingLaterDisksKeepsTheFirst) {
  const Bytes bytes =
      d88build::build({d88build::standardDisk(0, 21), d88build::standardDisk(1, 21)}).bytes;
  std::unique_ptr<TestFile> file = TestFile::over(bytes);
  file->log()->failAt(2);
  Image image;
  ASSERT_TRUE(Image::openFile(std::move(file), &image).ok());
  EXPECT_EQ(image.disks().size(), 1u);
  EXPECT_EQ(image.directoryEnd().errnum(), EIO);
  EXPECT_TRUE(image.readFailure().ok());
  ASSERT_TRUE(image.selectDisk(0).ok());
  std::vector<std::uint8_t> data(1024);
  std::int32_t got = 0;
  EXPECT_TRUE(image.readSector({40, 20, 0, 1, 3}, data.data(), 1024, &got).ok());
  EXPECT_EQ(got, 1024);
}

}  // namespace
