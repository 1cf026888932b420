// The d88make command, run as a process: a raw image made into a D88 disk
// holds its sectors in order at the slots of their tracks; with d88raw's map
// the round trip through d88raw gives back a disk with the same content
// fingerprint, for real samples and for damaged disks; what cannot be made
// is refused before anything is written.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <d88/image.h>

#include "content_fingerprint.h"
#include "json_value.h"
#include "test_support.h"

namespace {

using d88build::Bytes;
using d88build::Disk;
using d88test::readFile;
using d88test::RunResult;
using d88test::TempDir;

std::string fingerprintOf(const std::string& path, int disk = 0) {
  d88::Image reader;
  if (!d88::Image::open(path, &reader).ok()) return "cannot open " + path;
  d88::Sha256Digest digest{};
  const d88::Status status = d88::contentSha256(reader, disk, &digest);
  return status.ok() ? d88::hexDigest(digest) : "failed: " + status.toString();
}

class MakeCommandTest : public ::testing::Test {
 protected:
  RunResult run(const char* program, const std::vector<std::string>& args,
                d88test::RunOptions options = {}) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    options.cwd = work_.path();
    return d88test::run(argv, options);
  }
  RunResult make(const std::vector<std::string>& args, d88test::RunOptions options = {}) {
    return run(D88MAKE_PATH, args, options);
  }
  std::string file(const std::string& name) const { return work_.file(name); }

  // d88raw of `image` with its map, then d88make of the raw image with that
  // map under `geometry`; the made disk's path.
  std::string roundTrip(const std::string& image, const std::string& geometry, int firstR = 1) {
    const RunResult raw = run(D88RAW_PATH, {"--map", file("m.json"), image, file("x.img")});
    EXPECT_NE(raw.status, 1) << raw.err;
    const RunResult made = make({"--geometry", geometry, "--first", std::to_string(firstR), "--map",
                                 file("m.json"), file("x.img"), file("y.d88")});
    EXPECT_EQ(made.status, 0) << made.err;
    return file("y.d88");
  }

  TempDir work_;
};

// The geometry d88raw's map was made under, as d88make takes it: two heads
// when it has two tracks or more.
std::string geometryOfMap(const std::string& mapPath, int* firstR) {
  const Bytes bytes = readFile(mapPath);
  const d88test::JsonValue map = d88test::parseJson(std::string(bytes.begin(), bytes.end()));
  const d88test::JsonValue& g = map["geometry"];
  *firstR = g["firstR"].asInt();
  const int tracks = g["tracks"].asInt();
  return std::to_string(tracks / 2) + "x2x" + std::to_string(g["sectors"].asInt()) + "x" +
         std::to_string(g["sectorBytes"].asInt());
}

TEST_F(MakeCommandTest, EveryTwoSidedSampleComesBackWithItsFingerprint) {
  const std::filesystem::path samples(D88_SAMPLES_DIR);
  if (!std::filesystem::is_directory(samples)) GTEST_SKIP() << "no samples at " << D88_SAMPLES_DIR;
  int tried = 0;
  for (const auto& entry : std::filesystem::directory_iterator(samples)) {
    const std::string ext = entry.path().extension().string();
    if (ext != ".d88" && ext != ".d77") continue;
    const std::string image = entry.path().string();
    SCOPED_TRACE(image);
    const RunResult raw = run(D88RAW_PATH, {"--map", file("m.json"), image, file("x.img")});
    ASSERT_NE(raw.status, 1) << raw.err;
    int firstR = 1;
    const std::string geometry = geometryOfMap(file("m.json"), &firstR);
    if (geometry.rfind("0x", 0) == 0) continue;  // one track: not two-sided
    const RunResult made = make({"--geometry", geometry, "--first", std::to_string(firstR),
                                 "--map", file("m.json"), file("x.img"), file("y.d88")});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(fingerprintOf(file("y.d88")), fingerprintOf(image));
    ++tried;
  }
  EXPECT_GT(tried, 0);
}

// A missing sector is left out again, a marked one gets its status back, a
// short one its length, a sector of another C its C: the content is the same.
TEST_F(MakeCommandTest, ADamagedDiskComesBackWithItsFingerprint) {
  Disk disk = d88build::standardDisk(7);
  disk.tracks[3].erase(disk.tracks[3].begin() + 4);
  disk.tracks[10][2].status = d88::kStatusDataCrcError;
  disk.tracks[20][7].data.resize(300);
  disk.tracks[30][1].c = 40;
  disk.tracks[31][1].status = d88::kStatusIdCrcError;
  disk.tracks[31][1].data.resize(10);
  const std::string image = file("damaged.d88");
  ASSERT_TRUE(d88build::writeFile(image, d88build::build({disk}).bytes));
  EXPECT_EQ(fingerprintOf(roundTrip(image, "77x2x8x1024")), fingerprintOf(image));
}

// Without a map every sector is a sound record, track C, H in slot 2C + H,
// also for one head, with the header's fields as asked.
TEST_F(MakeCommandTest, TracksStandAtTwiceTheirCylinderPlusHead) {
  Bytes raw(3 * 1 * 4 * 256);
  for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>(i / 256 * 7 + i);
  const std::string rawPath = work_.write("one.img", raw);
  const RunResult made = make({"--geometry", "3x1x4x256", "--first", "0", "--fm", "--name", "ONE SIDE",
                               "--protect", rawPath, file("one.d88")});
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(made.err, "");
  d88::Image image;
  ASSERT_TRUE(d88::Image::open(file("one.d88"), &image).ok());
  ASSERT_TRUE(image.selectDisk(0).ok());
  EXPECT_EQ(image.disk().name, "ONE SIDE");
  EXPECT_EQ(image.disk().writeProtect, d88::kWriteProtected);
  EXPECT_EQ(image.disk().mediaType, d88::kMedia1D);
  std::size_t at = 0;
  for (int t = 0; t < d88::kTrackCount; ++t) {
    const d88::TrackWalk walk = image.walkTrack(t);
    if (t % 2 == 1 || t >= 6) {
      EXPECT_TRUE(walk.records.empty()) << "slot " << t;
      continue;
    }
    ASSERT_EQ(walk.records.size(), 4u) << "slot " << t;
    for (int s = 0; s < 4; ++s) {
      const d88::SectorRecord& r = walk.records[static_cast<std::size_t>(s)];
      EXPECT_EQ(r.id.c, t / 2);
      EXPECT_EQ(r.id.h, 0);
      EXPECT_EQ(r.id.r, s);
      EXPECT_EQ(r.id.n, 1);
      EXPECT_EQ(r.density, d88::kDensitySingle);
      Bytes data(256);
      std::int32_t got = 0;
      ASSERT_TRUE(image.readRecord(r, data.data(), 256, &got).ok());
      EXPECT_EQ(data, Bytes(raw.begin() + static_cast<std::ptrdiff_t>(at),
                            raw.begin() + static_cast<std::ptrdiff_t>(at + 256)));
      at += 256;
    }
  }
}

#ifndef _WIN32
TEST_F(MakeCommandTest, StandardInputIsReadAsARawImage) {
  const Bytes raw(2 * 2 * 8 * 512, 0xE5);
  d88test::RunOptions options;
  options.stdinBytes = raw;
  const RunResult made = make({"--geometry", "2x2x8x512", "-", file("in.d88")}, options);
  ASSERT_EQ(made.status, 0) << made.err;
  d88::Image image;
  ASSERT_TRUE(d88::Image::open(file("in.d88"), &image).ok());
  ASSERT_TRUE(image.selectDisk(0).ok());
  EXPECT_EQ(image.walkTrack(3).records.size(), 8u);
  EXPECT_EQ(image.disk().mediaType, d88::kMedia2D);
}
#endif

// A media byte that does not fit the geometry is written, with a note.
TEST_F(MakeCommandTest, AMediaByteThatDoesNotFitIsWrittenWithANote) {
  const std::string rawPath = work_.write("x.img", Bytes(2 * 2 * 8 * 1024));
  const RunResult made = make({"--geometry", "2x2x8x1024", "--media", "2hd", rawPath, file("m.d88")});
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_NE(made.err.find("Note: " + file("m.d88") + ": media 2HD written as asked; 2x2x8x1024 is "
                          "the geometry of a 2D disk"),
            std::string::npos)
      << made.err;
  d88::Image image;
  ASSERT_TRUE(d88::Image::open(file("m.d88"), &image).ok());
  EXPECT_EQ(image.disks().at(0).mediaType, d88::kMedia2HD);
}

// Each refusal names its reason, and OUT is not written.
TEST_F(MakeCommandTest, WhatCannotBeMadeIsRefusedAndNothingIsWritten) {
  const std::string rawPath = work_.write("r.img", Bytes(2 * 2 * 8 * 1024));
  work_.write("other.json",
              d88build::Bytes{'{', '"', 'g', 'e', 'o', 'm', 'e', 't', 'r', 'y', '"', ':', '{', '}', '}'});
  d88test::RunOptions piped;
  piped.stdinBytes = Bytes(1000);
  // A stream longer than the geometry is read only a little past it: an
  // endless one ends the run too.
  d88test::RunOptions longStream;
  longStream.stdinBytes = Bytes(4 * 1024 * 1024);
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string words;
    d88test::RunOptions options;
  };
  const std::vector<Case> cases = {
      {"a size that is not the geometry's", {"--geometry", "2x2x8x512", rawPath, file("o.d88")},
       "r.img holds 32768 bytes; the geometry 2x2x8x512 takes 16384; nothing is written", {}},
#ifndef _WIN32
      {"a stream of another size", {"--geometry", "2x2x8x512", "-", file("o.d88")},
       "- holds 1000 bytes; the geometry 2x2x8x512 takes 16384", piped},
      {"a stream longer than the geometry", {"--geometry", "2x2x8x512", "-", file("o.d88")},
       "- holds more than 16384 bytes; the geometry 2x2x8x512 takes 16384", longStream},
#endif
      {"three heads", {"--geometry", "2x3x8x1024", rawPath, file("o.d88")}, "H must be 1 or 2", {}},
      {"83 cylinders", {"--geometry", "83x2x8x1024", rawPath, file("o.d88")}, "C must be 1 to 82", {}},
      {"a record too large", {"--geometry", "1x1x1x65536", rawPath, file("o.d88")},
       "holds at most 65535 bytes", {}},
      {"no geometry", {rawPath, file("o.d88")}, "--geometry CxHxSxB is needed", {}},
      {"a name of 17 bytes", {"--geometry", "2x2x8x1024", "--name", "ABCDEFGHIJKLMNOPQ", rawPath, file("o.d88")},
       "17 bytes; a D88 name holds at most 16", {}},
      {"OUT is RAW", {"--geometry", "2x2x8x1024", rawPath, rawPath}, "it is the raw image being read", {}},
      {"a map of nothing", {"--geometry", "2x2x8x1024", "--map", file("other.json"), rawPath, file("o.d88")},
       "is not a map of", {}},
      {"an unknown media", {"--geometry", "2x2x8x1024", "--media", "8inch", rawPath, file("o.d88")},
       "not 2D, 2DD, 2HD, 1D or 1DD", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RunResult made = make(c.args, c.options);
    EXPECT_EQ(made.status, 1);
    EXPECT_NE(made.err.find(c.words), std::string::npos) << made.err;
    EXPECT_FALSE(std::filesystem::exists(file("o.d88")));
    EXPECT_EQ(d88test::listDir(work_.path()), (std::vector<std::string>{"other.json", "r.img"}));
  }
}

}  // namespace
