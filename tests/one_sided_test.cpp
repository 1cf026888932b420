// One-sided disks, kept in every slot of the track table or in every other
// one: the layout the reader works out from the heads the records carry, and
// what d88raw, d88cmp and d88ls make of it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include <d88/disk_layout.h>
#include <d88/image.h>

#include "json_value.h"
#include "test_support.h"

namespace {

using d88build::Bytes;
using d88build::Disk;
using d88test::JsonValue;
using d88test::RunResult;
using d88test::TempDir;

constexpr int kCylinders = 40;
constexpr int kSectors = 16;
constexpr int kSizeCode = 1;  // 256 bytes

// A 1D disk: kCylinders cylinders of head 0, sectors 1 to kSectors of 256
// bytes, identity C = cylinder, H = 0. Cylinder c stands in slot c
// (`everySlot`) or in slot 2 x c; its data is the same either way.
Disk oneSidedDisk(bool everySlot) {
  Disk disk;
  disk.mediaType = d88::kMedia1D;
  for (int c = 0; c < kCylinders; ++c) {
    auto& records = disk.tracks[everySlot ? c : 2 * c];
    for (int r = 1; r <= kSectors; ++r) {
      records.push_back(d88build::record(c, 0, r, kSizeCode,
                                         d88build::sectorPattern(5, 2 * c, r, 256)));
    }
  }
  return disk;
}

// A 2D disk that lost every track of head 1: its odd slots are empty.
Disk lostHeadOne() {
  Disk disk = d88build::standardDisk(2, kCylinders, 2, kSectors, kSizeCode);
  disk.mediaType = d88::kMedia2D;
  for (int t = 1; t < 2 * kCylinders; t += 2) disk.tracks.erase(t);
  return disk;
}

// A two-sided disk whose records all carry H 0: its odd slots hold records
// whose C is half the slot, as two tracks a cylinder have it.
Disk headBytesAllZero() {
  Disk disk = d88build::standardDisk(2, kCylinders, 2, kSectors, kSizeCode);
  for (auto& [track, records] : disk.tracks) {
    for (d88build::Record& record : records) record.h = 0;
  }
  return disk;
}

// A 1D disk with a protected track: one record of cylinder 20 carries H 1.
Disk protectedOneSided(bool everySlot) {
  Disk disk = oneSidedDisk(everySlot);
  disk.tracks[everySlot ? 20 : 40][4].h = 1;
  return disk;
}

// A dump of track 0 alone: it says nothing of the disk's sides.
Disk trackZeroOnly() {
  Disk disk = d88build::standardDisk(2, kCylinders, 2, kSectors, kSizeCode);
  disk.mediaType = d88::kMedia2D;
  for (int t = 1; t < 2 * kCylinders; ++t) disk.tracks.erase(t);
  return disk;
}

// The raw image a one-sided disk must give: cylinder after cylinder.
Bytes oneSidedRaw() {
  Bytes all;
  for (int c = 0; c < kCylinders; ++c) {
    for (int r = 1; r <= kSectors; ++r) {
      const Bytes sector = d88build::sectorPattern(5, 2 * c, r, 256);
      all.insert(all.end(), sector.begin(), sector.end());
    }
  }
  return all;
}

d88::DiskLayout layoutOf(const Disk& disk) {
  const Bytes bytes = d88build::build({disk}).bytes;
  d88::Image image;
  EXPECT_TRUE(d88::Image::openMemory(bytes.data(), bytes.size(), &image).ok());
  EXPECT_TRUE(image.selectDisk(0).ok());
  return d88::diskLayout(image);
}

TEST(DiskLayout, HeadsComeFromTheRecordsWhicheverSlotsHoldThem) {
  const struct {
    const char* name;
    Disk disk;
    int heads;
    bool everySlot;
  } cases[] = {
      {"two-sided", d88build::standardDisk(), 2, false},
      {"one-sided in every other slot", oneSidedDisk(false), 1, false},
      {"one-sided in every slot", oneSidedDisk(true), 1, true},
      {"two-sided dump that lost head 1", lostHeadOne(), 1, false},
      {"two-sided, every H byte 0", headBytesAllZero(), 2, false},
      {"no records", Disk(), 2, false},
      {"track 0 alone", trackZeroOnly(), 2, false},
      {"one-sided in every other slot, a record of H 1", protectedOneSided(false), 1, false},
      {"one-sided in every slot, a record of H 1", protectedOneSided(true), 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const d88::DiskLayout layout = layoutOf(c.disk);
    EXPECT_EQ(layout.heads, c.heads);
    EXPECT_EQ(layout.everySlot, c.everySlot);
  }
}

TEST(DiskLayout, EverySlotNumbersTracksTwoPerSlotAndKeepsNoHeadOne) {
  d88::DiskLayout layout;
  layout.heads = 1;
  layout.everySlot = true;
  EXPECT_EQ(layout.trackNumber(7), 14);
  EXPECT_EQ(layout.cylinderOf(7), 7);
  EXPECT_EQ(layout.headOf(7), 0);
  EXPECT_EQ(layout.slotOf(14), 7);
  EXPECT_EQ(layout.slotOf(15), -1);
  EXPECT_EQ(layout.slotOf(2 * d88::kTrackCount), -1);
  const d88::DiskLayout twoSided;
  EXPECT_EQ(twoSided.slotOf(15), 15);
  EXPECT_EQ(twoSided.slotOf(d88::kTrackCount), -1);
  EXPECT_EQ(twoSided.cylinderOf(15), 7);
  EXPECT_EQ(twoSided.headOf(15), 1);
}

class OneSidedCommandTest : public ::testing::Test {
 protected:
  RunResult run(const char* program, const std::vector<std::string>& args) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    return d88test::run(argv, {work_.path(), -1});
  }
  std::string image(const std::string& name, const Disk& disk) {
    return images_.write(name, d88build::build({disk}).bytes);
  }
  JsonValue diskJson(const std::string& path) {
    const RunResult r = run(D88LS_PATH, {"--json", "--fingerprint", path});
    EXPECT_EQ(r.status, 0) << r.err;
    return d88test::parseJson(r.out)["disks"].array.at(0);
  }

  TempDir images_;
  TempDir work_;
};

TEST_F(OneSidedCommandTest, RawImageIsOneTrackPerCylinderInEitherKeeping) {
  for (const bool everySlot : {false, true}) {
    SCOPED_TRACE(everySlot ? "every slot" : "every other slot");
    const std::string path = image("one.d88", oneSidedDisk(everySlot));
    const std::string out = work_.file("one.img");
    const std::string map = work_.file("one.json");
    const RunResult r = run(D88RAW_PATH, {"--map", map, path, out});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "writing ... " + out + ": 40x1x16x256, sectors 1 to 16 (N 1), 163840 bytes" +
                         d88test::kNewline);
    EXPECT_EQ(d88test::readFile(out), oneSidedRaw());
    const Bytes mapBytes = d88test::readFile(map);
    const JsonValue doc = d88test::parseJson(std::string(mapBytes.begin(), mapBytes.end()));
    EXPECT_EQ(doc["geometry"]["tracks"].asInt(), kCylinders);
    EXPECT_EQ(doc["geometry"]["heads"].asInt(), 1);
    EXPECT_TRUE(doc["entries"].array.empty());
  }
}

TEST_F(OneSidedCommandTest, GeometryTakesCylindersAndHeads) {
  // Head 0 of a two-sided disk, asked for as one head: head 1's records are
  // left out and named.
  const Disk twoSided = d88build::standardDisk(4, kCylinders, 2, kSectors, kSizeCode);
  const std::string path = image("two.d88", twoSided);
  const std::string out = work_.file("head0.img");
  const RunResult r = run(D88RAW_PATH, {"--geometry", "40x1x16x256", path, out});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.out.find(": 40x1x16x256,"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("640 records stand on tracks"), std::string::npos) << r.err;
  Bytes expected;
  for (int c = 0; c < kCylinders; ++c) {
    for (const d88build::Record& record : twoSided.tracks.at(2 * c)) {
      expected.insert(expected.end(), record.data.begin(), record.data.end());
    }
  }
  EXPECT_EQ(d88test::readFile(out), expected);

  // Two heads named as such are T tracks: the same bytes as TxSxB.
  const std::string both = work_.file("both.img");
  const std::string tracks = work_.file("tracks.img");
  EXPECT_EQ(run(D88RAW_PATH, {"--geometry", "40x2x16x256", path, both}).status, 0);
  EXPECT_EQ(run(D88RAW_PATH, {"--geometry", "80x16x256", path, tracks}).status, 0);
  EXPECT_EQ(d88test::readFile(both), d88test::readFile(tracks));
}

TEST_F(OneSidedCommandTest, TheTwoKeepingsCompareAndFingerprintAsOneDisk) {
  const std::string a = image("a.d88", oneSidedDisk(false));
  const std::string b = image("b.d88", oneSidedDisk(true));
  const RunResult r = run(D88CMP_PATH, {a, b});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(diskJson(a)["contentSha256"].string, diskJson(b)["contentSha256"].string);

  // A sector that differs is named by its track number 2 x C + H in both.
  Disk changed = oneSidedDisk(true);
  changed.tracks[5][2].data[0] ^= 0xFF;
  const std::string c = image("c.d88", changed);
  const RunResult differs = run(D88CMP_PATH, {a, c});
  EXPECT_EQ(differs.status, 1);
  EXPECT_NE(differs.out.find("disk 0: track 10 (C 5, H 0, R 3, N 1): differs"), std::string::npos)
      << differs.out;
}

TEST_F(OneSidedCommandTest, ListingShowsOneHeadAndSaysSo) {
  const struct {
    const char* name;
    Disk disk;
    std::vector<std::string> problems;
  } cases[] = {
      {"1D in every other slot", oneSidedDisk(false), {"one-sided: no record carries head 1"}},
      {"1D in every slot", oneSidedDisk(true), {"one-sided: no record carries head 1"}},
      {"2D that lost head 1",
       lostHeadOne(),
       {"one-sided: no record carries head 1", "media byte says 2D, the tracks hold 1D"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const JsonValue disk = diskJson(image("ls.d88", c.disk));
    EXPECT_EQ(disk["layout"]["cylinders"].asInt(), kCylinders);
    EXPECT_EQ(disk["layout"]["heads"].asInt(), 1);
    EXPECT_EQ(disk["layout"]["media"].string, "1D");
    std::vector<std::string> problems;
    for (const JsonValue& p : disk["problems"].array) problems.push_back(p.string);
    EXPECT_EQ(problems, c.problems);
  }
  // Each track is listed with the cylinder its slot holds.
  const RunResult tracks = run(D88LS_PATH, {"--json", image("ls.d88", oneSidedDisk(true)), "0"});
  ASSERT_EQ(tracks.status, 0) << tracks.err;
  const JsonValue doc = d88test::parseJson(tracks.out);
  const JsonValue& seventh = doc["tracks"].array.at(7);
  EXPECT_EQ(seventh["track"].asInt(), 7);
  EXPECT_EQ(seventh["c"].asInt(), 7);
  EXPECT_EQ(seventh["h"].asInt(), 0);
  // Two-sided disks are as they were: no word about heads.
  const JsonValue twoSided = diskJson(image("ls.d88", d88build::standardDisk()));
  EXPECT_EQ(twoSided["layout"]["heads"].asInt(), 2);
  EXPECT_TRUE(twoSided["problems"].array.empty());
}

TEST_F(OneSidedCommandTest, ADumpThatLostHeadOneIsWrittenButNotWhole) {
  const std::string path = image("lost.d88", lostHeadOne());
  const std::string out = work_.file("lost.img");
  const std::string map = work_.file("lost.json");
  const RunResult r = run(D88RAW_PATH, {"--map", map, path, out});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.out.find(": 40x1x16x256,"), std::string::npos) << r.out;
  const Bytes mapBytes = d88test::readFile(map);
  EXPECT_FALSE(d88test::parseJson(std::string(mapBytes.begin(), mapBytes.end()))["whole"].boolean);
  EXPECT_EQ(r.err, "Warning: " + out +
                       ": the media byte says 2D, but no record carries head 1: head 1 of every "
                       "cylinder is not in the image" + d88test::kNewline);
  // A 1D disk is whole as it is.
  EXPECT_EQ(run(D88RAW_PATH, {image("one.d88", oneSidedDisk(false)), out}).status, 0);
}

TEST_F(OneSidedCommandTest, ATwoSidedMapSaysNothingOfHeads) {
  const std::string map = work_.file("two.json");
  const RunResult r = run(D88RAW_PATH, {"--map", map, image("two.d88", d88build::standardDisk()),
                                        work_.file("two.img")});
  ASSERT_EQ(r.status, 0) << r.err;
  const Bytes bytes = d88test::readFile(map);
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_EQ(text.rfind("{\"disk\":0,\"geometry\":{\"tracks\":154,\"sectors\":8,", 0), 0u) << text;
}

TEST_F(OneSidedCommandTest, MergeAndMakeMeetTracksByNumberWhicheverSlotKeepsThem) {
  const std::string everyOther = image("a.d88", oneSidedDisk(false));
  const std::string everySlot = image("b.d88", oneSidedDisk(true));
  const std::string fingerprint = diskJson(everyOther)["contentSha256"].string;

  // Two keepings of one disk merge as one: nothing taken from the second.
  const std::string merged = work_.file("merged.d88");
  const RunResult m = run(D88MERGE_PATH, {"-o", merged, everySlot, everyOther});
  EXPECT_EQ(m.status, 0) << m.err;
  EXPECT_NE(m.err.find("0 taken from " + everyOther), std::string::npos) << m.err;
  EXPECT_EQ(diskJson(merged)["contentSha256"].string, fingerprint);
  EXPECT_EQ(run(D88CMP_PATH, {"-s", merged, everySlot}).status, 0);

  // A dump of one track says nothing of its sides: it is taken as kept the
  // way the first dump is, and gives the sound copy the first lacks.
  Disk marked = oneSidedDisk(true);
  marked.tracks[5][3].status = d88::kStatusDataCrcError;
  Disk oneTrack;
  oneTrack.mediaType = d88::kMedia1D;
  oneTrack.tracks[5] = oneSidedDisk(true).tracks[5];
  const std::string repaired = work_.file("repaired.d88");
  const RunResult r = run(D88MERGE_PATH, {"-o", repaired, image("marked.d88", marked),
                                          image("track5.d88", oneTrack)});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(diskJson(repaired)["contentSha256"].string, fingerprint);

  // d88raw's one-head image and map give the disk back through d88make.
  const std::string raw = work_.file("one.img");
  const std::string map = work_.file("one.json");
  ASSERT_EQ(run(D88RAW_PATH, {"--map", map, everySlot, raw}).status, 0);
  const std::string made = work_.file("made.d88");
  const RunResult k =
      run(D88MAKE_PATH, {"--geometry", "40x1x16x256", "--media", "1D", "--map", map, raw, made});
  EXPECT_EQ(k.status, 0) << k.err;
  EXPECT_EQ(diskJson(made)["contentSha256"].string, fingerprint);
  // A map of one head does not fit two.
  const RunResult wrong =
      run(D88MAKE_PATH, {"--geometry", "20x2x16x256", "--map", map, raw, work_.file("x.d88")});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.err.find("it maps an image of 1 head, not 20x2x16x256"), std::string::npos)
      << wrong.err;
}

}  // namespace
