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

#include <d88/d88_image.h>

#include "byte_source.h"
#include "d88_builder.h"
#include "test_support.h"

namespace {

using d88::D88Image;
using d88build::Bytes;
using d88build::Disk;
using d88build::Record;
using d88test::TempDir;

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

struct Shape {
  const char* what;
  Bytes bytes;
  d88::TrackEnd end;  // how the walk of track 0 ends
  std::size_t trackRecords;
};

// Asks every question a listing and a cut ask of every disk, as d88ls and
// d88cut would.
void askEverything(D88Image& image) {
  std::vector<std::uint8_t> ids(4 * 1024);
  std::vector<std::uint8_t> data(8 * 1024);
  for (int disk = 0; disk < image.diskCount(); ++disk) {
    ASSERT_TRUE(image.selectDisk(disk));
    for (int track = 0; track < d88::kTrackCount; ++track) {
      const d88::TrackWalk walk = image.walkTrack(track);
      ASSERT_LE(walk.records.size(), static_cast<std::size_t>(d88::kMaxTrackRecords));
      image.listSectorIds(track, ids.data(), static_cast<std::int32_t>(ids.size()));
      if (!walk.records.empty()) {
        const d88::SectorId& id = walk.records.front().id;
        image.readRun({track, id.c, id.h, id.r, id.n}, {1, 8}, data.data(),
                      static_cast<std::int32_t>(data.size()));
      }
    }
    // What one disk keeps is bounded, however its tracks are laid out.
    const d88::ReaderStats stats = image.stats();
    EXPECT_LE(stats.recordsKept, static_cast<std::uint64_t>(d88::kTrackCount) * d88::kMaxTrackRecords);
    EXPECT_LE(stats.bytesHeld, d88::kMaxWindowBytes);
  }
}

// Images built to make a reader walk, keep or read far more than the file
// holds: each walk stops at the cap, what is kept stays bounded, and the bytes
// read stay within a small multiple of the file.
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
  };
  TempDir dir;
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.what);
    const std::string path = dir.write("hostile.d88", shape.bytes);
    D88Image image;
    ASSERT_TRUE(image.open(path.c_str()));
    if (shape.trackRecords > 0) {
      ASSERT_TRUE(image.selectDisk(0));
      const d88::TrackWalk walk = image.walkTrack(0);
      EXPECT_EQ(walk.end, shape.end);
      EXPECT_EQ(walk.records.size(), shape.trackRecords);
    }
    askEverything(image);
    const d88::ReaderStats stats = image.stats();
    const auto disks = static_cast<std::uint64_t>(image.diskCount());
    EXPECT_LE(stats.recordsWalked,
              2 * disks * d88::kTrackCount * static_cast<std::uint64_t>(d88::kMaxTrackRecords));
    EXPECT_LE(stats.bytesRead, 4 * shape.bytes.size() + (1u << 20))
        << "read " << stats.bytesRead << " bytes of a " << shape.bytes.size() << "-byte file in "
        << stats.readCalls << " reads";
    EXPECT_TRUE(image.readFailure().ok()) << image.readFailure().toString();
  }
}

// ---- the same answer whatever was asked before ----------------------------

// One question to the reader and its whole answer, as comparable text.
std::string ask(D88Image& image, int disk, int kind, int track, std::uint32_t pick) {
  if (!image.selectDisk(disk)) return "no disk";
  std::string answer;
  const d88::TrackWalk walk = image.walkTrack(track);
  const auto addRecords = [&](const std::vector<d88::SectorRecord>& records) {
    for (const d88::SectorRecord& r : records) {
      answer += std::to_string(r.id.c) + "," + std::to_string(r.id.h) + "," +
                std::to_string(r.id.r) + "," + std::to_string(r.id.n) + "/" +
                std::to_string(r.dataAvailable) + "@" + std::to_string(r.headerOffset) + " ";
    }
  };
  switch (kind) {
    case 0:
      addRecords(walk.records);
      answer += "end " + std::to_string(static_cast<int>(walk.end)) + " at " +
                std::to_string(walk.endOffset);
      break;
    case 1: {
      std::vector<std::uint8_t> ids(4 * (pick % 300));
      const int got = image.listSectorIds(track, ids.data(), static_cast<std::int32_t>(ids.size()));
      answer.assign(ids.begin(), ids.begin() + got);
      break;
    }
    default: {
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
  }
  return answer;
}

// Damaged multi-disk images: a reader that has answered many questions gives
// the same answer as a fresh one, question after question.
TEST(ReaderAnswers, ALongLivedReaderAnswersAsAFreshOne) {
  TempDir dir;
  for (unsigned seed = 1; seed <= 3; ++seed) {
    SCOPED_TRACE(seed);
    Disk disk0 = d88build::standardDisk(0, 20);
    Disk disk1 = d88build::standardDisk(1, 20, 2, 16, 1);
    disk1.tracks[5][3].sectorCount = 0;
    d88build::Image built = d88build::build({disk0, disk1, d88build::standardDisk(2, 10)});
    std::mt19937 random(seed);
    // Damage: bytes of record headers and data overwritten at random.
    for (int k = 0; k < 200; ++k) {
      const std::size_t at = 0x2B0 + random() % (built.bytes.size() - 0x2B0);
      built.bytes[at] = static_cast<std::uint8_t>(random());
    }
    built.bytes.resize(built.bytes.size() - random() % 5000);
    const std::string path = dir.write("damaged.d88", built.bytes);
    D88Image longLived;
    ASSERT_TRUE(longLived.open(path.c_str()));
    for (int q = 0; q < 300; ++q) {
      const int disk = static_cast<int>(random() % 4);
      const int kind = static_cast<int>(random() % 3);
      const int track = static_cast<int>(random() % 44);
      const auto pick = static_cast<std::uint32_t>(random());
      D88Image fresh;
      ASSERT_TRUE(fresh.open(path.c_str()));
      ASSERT_EQ(ask(longLived, disk, kind, track, pick), ask(fresh, disk, kind, track, pick))
          << "question " << q << ": disk " << disk << " kind " << kind << " track " << track;
    }
  }
}

// ---- a reason for every read that fails -----------------------------------

// Read number k of a whole listing fails with EIO, for every k: the reader
// says so and why, the walk that met it says where, everything else is as
// without the failure, and nothing of it outlives the next open().
TEST(ReaderFailures, EveryReadThatFailsIsReportedWithItsReason) {
  TempDir dir;
  const std::string path = dir.write("good.d88", d88build::build({d88build::standardDisk()}).bytes);
  const auto listAll = [&](D88Image& image) {
    std::vector<d88::TrackWalk> walks;
    if (!image.selectDisk(0)) return walks;
    for (int t = 0; t < d88::kTrackCount; ++t) walks.push_back(image.walkTrack(t));
    return walks;
  };
  D88Image clean;
  ASSERT_TRUE(clean.open(path.c_str()));
  const std::vector<d88::TrackWalk> expected = listAll(clean);
  const std::uint64_t reads = clean.stats().readCalls;
  ASSERT_GT(reads, 2u);
  for (std::uint64_t k = 1; k <= reads; ++k) {
    SCOPED_TRACE(k);
    D88Image image;
    d88::failNthReadForTesting(k);
    ASSERT_TRUE(image.open(path.c_str()));
    const d88::Status::Code afterOpen = image.status().code();
    const std::vector<d88::TrackWalk> walks = listAll(image);
    d88::failNthReadForTesting(0);
    ASSERT_FALSE(image.readFailure().ok());
    EXPECT_EQ(image.readError(), EIO);
    EXPECT_EQ(image.readFailure().reason(), std::strerror(EIO));
    if (k == 1) {
      // The first header could not be read: no disk, and the reason kept.
      EXPECT_EQ(image.diskCount(), 0);
      EXPECT_EQ(afterOpen, d88::Status::Code::kIoError);
      continue;
    }
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
    ASSERT_TRUE(image.open(path.c_str()));
    EXPECT_TRUE(image.readFailure().ok());
    EXPECT_EQ(listAll(image).size(), expected.size());
  }
}

// Sector reads say why a sector gave nothing: not there, or the system's error.
TEST(ReaderFailures, ARunSaysWhyEachSectorFellShort) {
  TempDir dir;
  Disk disk = d88build::standardDisk(0, 21);
  disk.tracks[40].erase(disk.tracks[40].begin() + 1);
  const std::string path = dir.write("gap.d88", d88build::build({disk}).bytes);
  D88Image image;
  ASSERT_TRUE(image.open(path.c_str()));
  ASSERT_TRUE(image.selectDisk(0));
  std::vector<std::uint8_t> data(3 * 1024);
  auto outcomes = image.readRun({40, 20, 0, 1, 3}, {1, 8}, data.data(), 3 * 1024);
  ASSERT_EQ(outcomes.size(), 3u);
  EXPECT_TRUE(outcomes[0].status.ok());
  EXPECT_EQ(outcomes[1].status.code(), d88::Status::Code::kNotFound);
  EXPECT_TRUE(outcomes[2].status.ok());
  EXPECT_EQ(image.status().code(), d88::Status::Code::kNotFound);

  // A data read that fails: the window of the track is gone, so the sector
  // must be read again, and that read fails.
  ASSERT_TRUE(image.open(path.c_str()));
  ASSERT_TRUE(image.selectDisk(0));
  image.walkTrack(40);
  image.walkTrack(0);
  d88::failNthReadForTesting(1);
  outcomes = image.readRun({40, 20, 0, 1, 3}, {1, 8}, data.data(), 1024);
  d88::failNthReadForTesting(0);
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].status.code(), d88::Status::Code::kIoError);
  EXPECT_EQ(outcomes[0].status.errnum(), EIO);
  EXPECT_EQ(image.readError(), EIO);
  // A walk cut short by a failed read: a sector it did not reach is missing
  // for that reason, not because the track lacks it, now and when asked again.
  ASSERT_TRUE(image.open(path.c_str()));
  ASSERT_TRUE(image.selectDisk(0));
  d88::failNthReadForTesting(1, true);
  for (int again = 0; again < 2; ++again) {
    outcomes = image.readRun({40, 20, 0, 3, 3}, {1, 8}, data.data(), 1024);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].status.code(), d88::Status::Code::kIoError) << outcomes[0].status.toString();
  }
  d88::failNthReadForTesting(0);
}

// A read that fails after the first disk was found stops the search for
// more disks, and says so; the disks found read as before.
TEST(ReaderFailures, AFailureWhileSeekingLaterDisksKeepsTheFirst) {
  TempDir dir;
  const std::string path = dir.write(
      "two.d88", d88build::build({d88build::standardDisk(0, 21), d88build::standardDisk(1, 21)}).bytes);
  D88Image image;
  d88::failNthReadForTesting(2);
  ASSERT_TRUE(image.open(path.c_str()));
  d88::failNthReadForTesting(0);
  EXPECT_EQ(image.diskCount(), 1);
  EXPECT_EQ(image.directoryStatus().errnum(), EIO);
  EXPECT_TRUE(image.readFailure().ok());
  ASSERT_TRUE(image.selectDisk(0));
  std::vector<std::uint8_t> data(1024);
  EXPECT_EQ(image.readSector(40, 20, 0, 1, 3, data.data(), 1024), 1024);
}

}  // namespace
