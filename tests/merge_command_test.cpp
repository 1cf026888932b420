// The d88merge command, run as a process: damaged dumps of one disk merge
// to the clean disk, which d88cut cuts as it cuts one dump with the other
// as a spare; a dump of another disk is refused by name; twins are kept in
// order; the reports, the map and the exit statuses.
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

std::string line(const std::string& text) { return text + d88test::kNewline; }

class MergeCommandTest : public ::testing::Test {
 protected:
  RunResult run(const char* program, const std::vector<std::string>& args) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    return d88test::run(argv, {work_.path(), -1});
  }
  RunResult merge(const std::vector<std::string>& args) { return run(D88MERGE_PATH, args); }
  std::string write(const std::string& name, const std::vector<Disk>& disks) {
    return work_.write(name, d88build::build(disks).bytes);
  }
  std::string file(const std::string& name) const { return work_.file(name); }

  TempDir work_;
};

// Two dumps of the standard disk, each damaged where the other is not: a
// sector missing, one marked with a CRC error (its bytes garbled), one
// short, a whole track missing.
Disk damagedA() {
  Disk disk = d88build::standardDisk(5);
  disk.tracks[40].erase(disk.tracks[40].begin() + 2);
  disk.tracks[41][1].status = d88::kStatusDataCrcError;
  disk.tracks[41][1].data[7] ^= 0xFF;
  disk.tracks[42][4].data.resize(500);
  disk.tracks.erase(60);
  return disk;
}

Disk damagedB() {
  Disk disk = d88build::standardDisk(5);
  disk.tracks[45].erase(disk.tracks[45].begin());
  disk.tracks[39][4].status = d88::kStatusDataCrcError;
  disk.tracks[39][4].data[0] ^= 0xFF;
  disk.tracks[43][5].data.resize(1);
  disk.tracks.erase(61);
  return disk;
}

TEST_F(MergeCommandTest, DamagedDumpsMergeToTheCleanDisk) {
  const std::string clean = write("clean.d88", {d88build::standardDisk(5)});
  const std::string a = write("a.d88", {damagedA()});
  const std::string b = write("b.d88", {damagedB()});
  const RunResult merged = merge({a, b});
  EXPECT_EQ(merged.status, 0) << merged.err;
  EXPECT_EQ(merged.out, line("writing ... " + file("a.merged.d88")));
  // Track 60 (8), R 3 of track 40, the marked R 2 of track 41, the short R 5 of track 42.
  EXPECT_EQ(merged.err, line("disk 0: 1232 sectors, 11 taken from " + b +
                             ", 0 still missing, 0 still marked bad"));
  EXPECT_EQ(fingerprintOf(file("a.merged.d88")), fingerprintOf(clean));
}

// d88cut cuts the merged image into the same files as it cuts one dump with
// the other as a spare.
TEST_F(MergeCommandTest, TheMergedImageCutsAsTheDumpWithItsSpare) {
  const std::string a = write("a.d88", {damagedA()});
  const std::string b = write("b.d88", {damagedB()});
  ASSERT_EQ(merge({"-o", file("m.d88"), a, b}).status, 0);
  std::filesystem::create_directory(file("merged"));
  std::filesystem::create_directory(file("spare"));
  const RunResult fromMerged = run(D88CUT_PATH, {"-o", file("merged"), file("m.d88")});
  const RunResult withSpare = run(D88CUT_PATH, {"-o", file("spare"), "--spare", b, a});
  EXPECT_EQ(fromMerged.status, 0) << fromMerged.err;
  EXPECT_EQ(withSpare.status, 0) << withSpare.err;
  const std::vector<std::string> names = d88test::listDir(file("merged"));
  ASSERT_EQ(names.size(), 20u);
  EXPECT_EQ(d88test::listDir(file("spare")), names);
  for (const std::string& name : names) {
    EXPECT_EQ(readFile(file("merged/" + name)), readFile(file("spare/" + name))) << name;
  }
}

TEST_F(MergeCommandTest, OneImageWithItselfKeepsItsFingerprint) {
  Disk second = d88build::standardDisk(9, 40, 2, 16, 1);
  second.tracks[7][3].status = d88::kStatusDeletedData;
  second.tracks[7][3].deletedMark = d88::kDeletedDataMark;
  second.tracks[8][0].density = d88::kDensitySingle;
  const std::string image = write("two.d88", {damagedA(), second});
  const RunResult merged = merge({"-o", file("self.d88"), image, image});
  EXPECT_EQ(merged.status, 2) << merged.err;  // A's own damage stays
  for (int disk : {0, 1}) EXPECT_EQ(fingerprintOf(file("self.d88"), disk), fingerprintOf(image, disk));
  d88::Image out;
  ASSERT_TRUE(d88::Image::open(file("self.d88"), &out).ok());
  EXPECT_EQ(out.disks().size(), 2u);
}

// A dump that differs in one sound sector is another disk: refused by
// name, and the image is written from the others.
TEST_F(MergeCommandTest, ADumpOfAnotherDiskIsNotUsed) {
  Disk other = d88build::standardDisk(5);
  other.tracks[44][2].data[100] ^= 1;
  other.tracks[60][0].status = d88::kStatusDataCrcError;
  const std::string a = write("a.d88", {damagedA()});
  const std::string b = write("other.d88", {other});
  const std::string text = work_.write("notes.txt", Bytes(1000, 'x'));
  const RunResult merged = merge({"-o", file("m.d88"), a, b, text});
  EXPECT_EQ(merged.status, 2);
  const std::vector<std::string> lines = d88test::lines(merged.err);
  ASSERT_EQ(lines.size(), 3u) << merged.err;
  EXPECT_EQ(lines[0], "Note: " + b + " is not used: 1 of the 1221 sectors that both hold sound differ");
  EXPECT_EQ(lines[1].rfind("Note: " + text + " is not used: it is not a D88 image: ", 0), 0u);
  // Still missing: the short sector, R 3 of track 40 and track 60, in no dump.
  EXPECT_EQ(lines[2], "disk 0: 1223 sectors, 10 still missing, 1 still marked bad");
  EXPECT_EQ(fingerprintOf(file("m.d88")), fingerprintOf(a));
}

// A track that copy protection holds twice (two R 3 records with different
// bytes) keeps both twins through the merge, in order, whichever dump comes
// first: a dump that lost one twin is the same disk, and its remaining twin
// takes no other's place. A record only the second dump holds is placed
// after the record before it there.
TEST_F(MergeCommandTest, TwinsAreAllKeptInOrder) {
  Disk a = d88build::standardDisk(2, 2, 2, 8, 3);
  auto& protectedA = a.tracks[1];
  d88build::Record twin = protectedA[2];
  twin.data = d88build::sectorPattern(99, 1, 3, 1024);
  protectedA.insert(protectedA.begin() + 5, twin);
  const std::string pathA = write("a.d88", {a});
  // Twins whose two R 3 differ, read back from track 1 of `path`.
  const auto expectTwinsOfA = [&](const std::string& path, const std::vector<int>& order) {
    d88::Image out;
    ASSERT_TRUE(d88::Image::open(path, &out).ok());
    ASSERT_TRUE(out.selectDisk(0).ok());
    const d88::TrackWalk walk = out.walkTrack(1);
    std::vector<int> rs;
    std::vector<Bytes> threes;
    for (const d88::SectorRecord& r : walk.records) {
      rs.push_back(r.id.r);
      if (r.id.r != 3) continue;
      Bytes data(1024);
      std::int32_t got = 0;
      ASSERT_TRUE(out.readRecord(r, data.data(), 1024, &got).ok());
      threes.push_back(data);
    }
    EXPECT_EQ(rs, order);
    EXPECT_EQ(threes, (std::vector<Bytes>{a.tracks[1][2].data, twin.data}));
  };

  // B lost the first R 3 and holds one more record.
  Disk b = a;
  b.tracks[1].erase(b.tracks[1].begin() + 2);
  b.tracks[1].push_back(d88build::record(0, 1, 0xF5, 3, Bytes(1024, 0x4E)));
  const std::string pathB = write("b.d88", {b});
  for (const bool aFirst : {true, false}) {
    SCOPED_TRACE(aFirst ? "A first" : "B first");
    const RunResult merged =
        merge({"-o", file("m.d88"), aFirst ? pathA : pathB, aFirst ? pathB : pathA});
    EXPECT_EQ(merged.status, 0) << merged.err;
    EXPECT_EQ(merged.err.find("is not used"), std::string::npos) << merged.err;
    expectTwinsOfA(file("m.d88"), aFirst ? std::vector<int>{1, 2, 3, 4, 5, 3, 6, 7, 8, 0xF5}
                                         : std::vector<int>{1, 2, 3, 4, 5, 3, 6, 7, 8, 0xF5});
  }
}

// A sector that every dump marks keeps its mark; one that a dump marks and
// another holds sound is listed in the map with the copy taken; --json
// gives the report as JSON Lines.
TEST_F(MergeCommandTest, TheMapNamesWhatIsNotWholeAndWhereMarksDisagree) {
  Disk a = d88build::standardDisk(3, 4, 2, 8, 3);
  a.tracks[2][1].status = d88::kStatusDataCrcError;
  a.tracks[3][5].status = d88::kStatusNoDataMark;
  a.tracks[4][0].data.resize(100);
  Disk b = d88build::standardDisk(3, 4, 2, 8, 3);
  b.tracks[3][5].status = d88::kStatusDataCrcError;
  b.tracks[4][0].data.resize(200);
  const std::string pathA = write("a.d88", {a});
  const std::string pathB = write("b.d88", {b});
  const RunResult merged =
      merge({"--json", "--map", file("m.json"), "-o", file("m.d88"), pathA, pathB});
  EXPECT_EQ(merged.status, 2) << merged.err;
  EXPECT_EQ(merged.err, "");
  const d88test::JsonValue report = d88test::parseJson(merged.out);
  EXPECT_EQ(report["sectors"].asInt(), 64);
  EXPECT_EQ(report["taken"][0]["sectors"].asInt(), 1);
  EXPECT_EQ(report["missing"].asInt(), 1);
  EXPECT_EQ(report["markedBad"].asInt(), 1);
  const Bytes mapBytes = readFile(file("m.json"));
  const d88test::JsonValue map = d88test::parseJson(std::string(mapBytes.begin(), mapBytes.end()));
  const d88test::JsonValue& entries = map["disks"][0]["entries"];
  ASSERT_EQ(entries.array.size(), 2u);
  EXPECT_EQ(entries[0]["track"].asInt(), 3);
  EXPECT_EQ(entries[0]["kind"].string, "marked bad");
  EXPECT_EQ(entries[0]["status"][0].string, "no data mark");
  EXPECT_EQ(entries[0]["from"].string, pathA);
  EXPECT_EQ(entries[1]["track"].asInt(), 4);
  EXPECT_EQ(entries[1]["kind"].string, "short");
  EXPECT_EQ(entries[1]["bytes"].asInt(), 100);
  const d88test::JsonValue& disagreements = map["disks"][0]["disagreements"];
  ASSERT_EQ(disagreements.array.size(), 1u);
  EXPECT_EQ(disagreements[0]["track"].asInt(), 2);
  EXPECT_EQ(disagreements[0]["r"].asInt(), 2);
  EXPECT_EQ(disagreements[0]["from"].string, pathB);
  EXPECT_EQ(disagreements[0]["copies"][0]["status"][0].string, "data CRC error");
  EXPECT_EQ(disagreements[0]["copies"][1]["status"][0].string, "normal");
  EXPECT_FALSE(map["whole"].boolean);
}

#ifndef _WIN32
// A dump whose name is not UTF-8 is named in the JSON with its bytes in hex
// beside it, as every listing names an image, so that a script finds it.
TEST_F(MergeCommandTest, ADumpNameThatIsNotUtf8KeepsItsBytesInTheJson) {
  Disk b = d88build::standardDisk(3, 4, 2, 8, 3);
  Disk a = b;
  a.tracks[2].erase(a.tracks[2].begin());
  const std::string pathA = write("a.d88", {a});
  const std::string pathB = write("b\xFF.d88", {b});
  const RunResult merged = merge({"--json", "--map", file("m.json"), "-o", file("m.d88"), pathA, pathB});
  EXPECT_EQ(merged.status, 0) << merged.err;
  std::string hex;
  for (const char ch : pathB) {
    static const char kDigits[] = "0123456789abcdef";
    hex += kDigits[static_cast<unsigned char>(ch) >> 4];
    hex += kDigits[static_cast<unsigned char>(ch) & 0x0F];
  }
  const d88test::JsonValue report = d88test::parseJson(merged.out);
  EXPECT_EQ(report["taken"][0]["dumpHex"].string, hex);
  const Bytes mapBytes = readFile(file("m.json"));
  const d88test::JsonValue map = d88test::parseJson(std::string(mapBytes.begin(), mapBytes.end()));
  EXPECT_EQ(map["dumps"][1]["dumpHex"].string, hex);
  EXPECT_EQ(map["dumps"][0].object.count("dumpHex"), 0u);
}
#endif

// OUT is never a dump, by name, through a link or as standard input; a dump
// that cannot be read stops the run; nothing is written then.
TEST_F(MergeCommandTest, NothingIsWrittenOverADumpOrFromAnUnreadableOne) {
  const std::string a = write("a.d88", {d88build::standardDisk(1, 3, 2, 8, 3)});
  const Bytes before = readFile(a);
  std::error_code linked;
  std::filesystem::create_symlink(a, file("link.d88"), linked);
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string words;
  };
  const std::vector<Case> cases = {
      {"OUT is a dump", {"-o", a, a, a}, "cannot write " + a + ": it is the dump " + a},
      {"OUT is a link to one", {"-o", linked ? a : file("link.d88"), a, a}, "it is the dump " + a},
      {"a dump that is not there", {"-o", file("m.d88"), a, file("none.d88")}, "cannot open"},
      {"standard output", {"-o", "-", a, a}, "OUT cannot be -"},
      {"a disk no dump holds", {"--disk", "3", "-o", file("m.d88"), a, a}, "no dump holds disk 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RunResult merged = merge(c.args);
    EXPECT_EQ(merged.status, 1);
    EXPECT_NE(merged.err.find(c.words), std::string::npos) << merged.err;
    EXPECT_FALSE(std::filesystem::exists(file("m.d88")));
    EXPECT_EQ(readFile(a), before);
  }
#ifndef _WIN32
  d88test::RunOptions fromA(work_.path(), -1);
  fromA.stdinFile = a;
  const RunResult piped = d88test::run({D88MERGE_PATH, "-o", a, "-", file("link.d88")}, fromA);
  EXPECT_EQ(piped.status, 1);
  EXPECT_NE(piped.err.find("it is the dump -"), std::string::npos) << piped.err;
  EXPECT_EQ(readFile(a), before);
#endif
}

// A later dump whose track 1 holds, with the first dump's, more records
// than one track can hold is left out with the reason, as a dump of another
// disk is; the image comes from the others and its status follows it.
TEST_F(MergeCommandTest, ADumpThatCannotJoinThePlanIsNotUsed) {
  Disk a = d88build::standardDisk(5);
  Disk crowded = a;
  for (int r = 100; r < 250; ++r) {
    a.tracks[1].push_back(d88build::record(0, 1, r, 0, Bytes(128, 0xE5)));
    crowded.tracks[1].push_back(d88build::record(9, 1, r, 0, Bytes(128, 0xE5)));
  }
  Disk lacking = a;
  lacking.tracks[40].erase(lacking.tracks[40].begin() + 2);
  const std::string pathA = write("a.d88", {a});
  const std::string pathCrowded = write("crowded.d88", {crowded});
  const std::string pathLacking = write("lacking.d88", {lacking});
  const RunResult merged = merge({"-o", file("m.d88"), pathA, pathCrowded, pathLacking});
  EXPECT_EQ(merged.status, 0) << merged.err;
  const std::vector<std::string> lines = d88test::lines(merged.err);
  ASSERT_EQ(lines.size(), 2u) << merged.err;
  EXPECT_EQ(lines[0], "Note: " + pathCrowded + " is not used: track 1 of disk 0 holds 308 records in the "
                      "dumps together; a track holds 256 at most");
  EXPECT_EQ(lines[1].rfind("disk 0: ", 0), 0u) << lines[1];
  EXPECT_EQ(fingerprintOf(file("m.d88")), fingerprintOf(pathA));

  // The first dump is never left out: with it alone the plan holds.
  const RunResult alone = merge({"-o", file("n.d88"), pathCrowded, pathA});
  EXPECT_EQ(alone.status, 0) << alone.err;
  EXPECT_NE(alone.err.find("Note: " + pathA + " is not used: track 1 of disk 0 holds 308 records"),
            std::string::npos)
      << alone.err;
}

// A dump read only for its records (a stray write-protect byte and an
// unknown media byte, its one record cut off by the end of the file) merges
// to an image that reads as D88: the write-protect byte is written as 0x10.
TEST_F(MergeCommandTest, AStrayWriteProtectByteIsWrittenAsProtected) {
  Disk disk;
  disk.writeProtect = 0x27;
  disk.mediaType = 0x6A;
  disk.tracks[3].push_back(d88build::record(1, 1, 3, 1, d88build::sectorPattern(1, 3, 3, 256)));
  Bytes bytes = d88build::build({disk}).bytes;
  bytes.resize(bytes.size() - 28);
  const std::string dump = work_.write("dump.d88", bytes);
  const RunResult merged = merge({"-o", file("m.d88"), dump, dump});
  EXPECT_EQ(merged.status, 2) << merged.err;
  d88::Image out;
  ASSERT_TRUE(d88::Image::open(file("m.d88"), &out).ok());
  ASSERT_TRUE(out.selectDisk(0).ok());
  EXPECT_EQ(out.disk().writeProtect, d88::kWriteProtected);
  EXPECT_EQ(out.disk().mediaType, 0x6A);
  ASSERT_EQ(out.walkTrack(3).records.size(), 1u);
  EXPECT_EQ(out.walkTrack(3).records[0].dataSize, 228);
}

TEST_F(MergeCommandTest, DiskNMergesThatDiskAlone) {
  const std::string a = write("a.d88", {d88build::standardDisk(1, 2, 2, 8, 3), damagedA()});
  const std::string b = write("b.d88", {d88build::standardDisk(1, 2, 2, 8, 3), damagedB()});
  const RunResult merged = merge({"--disk", "1", "-o", file("m.d88"), a, b});
  EXPECT_EQ(merged.status, 0) << merged.err;
  EXPECT_EQ(merged.err, line("disk 1: 1232 sectors, 11 taken from " + b +
                             ", 0 still missing, 0 still marked bad"));
  d88::Image out;
  ASSERT_TRUE(d88::Image::open(file("m.d88"), &out).ok());
  EXPECT_EQ(out.disks().size(), 1u);
  EXPECT_EQ(fingerprintOf(file("m.d88")), fingerprintOf(write("clean.d88", {d88build::standardDisk(5)})));
}

// A sector that no dump holds is still missing: named in the report and the
// map as d88raw names it, and the status is 2. A track of another format
// (an FM track 0 of 26 x 128 bytes) and an extra sector past the usual
// numbers are no gaps.
TEST_F(MergeCommandTest, ASectorInNoDumpIsStillMissing) {
  Disk disk = d88build::standardDisk(6);
  disk.tracks[0].clear();
  for (int r = 1; r <= 26; ++r) {
    disk.tracks[0].push_back(d88build::record(0, 0, r, 0, d88build::sectorPattern(6, 0, r, 128)));
  }
  disk.tracks[3].push_back(d88build::record(1, 1, 0xF5, 3, Bytes(1024, 0xE5)));
  const std::string sound = write("sound.d88", {disk});
  EXPECT_EQ(merge({"-o", file("m1.d88"), sound, sound}).status, 0);

  disk.tracks[40].erase(disk.tracks[40].begin() + 2);  // R 3, from every dump
  const std::string a = write("a.d88", {disk});
  const std::string b = write("b.d88", {disk});
  const RunResult merged = merge({"-o", file("m.d88"), "--map", file("m.json"), a, b});
  EXPECT_EQ(merged.status, 2) << merged.err;
  EXPECT_EQ(merged.err, "disk 0: 1250 sectors, 0 taken from " + b +
                            ", 1 still missing, 0 still marked bad" + d88test::kNewline);
  const Bytes map = readFile(file("m.json"));
  const d88test::JsonValue doc = d88test::parseJson(std::string(map.begin(), map.end()));
  const d88test::JsonValue& entry = doc["disks"].array.at(0)["entries"].array.at(0);
  EXPECT_EQ(entry["kind"].string, "missing");
  EXPECT_EQ(entry["track"].asInt(), 40);
  EXPECT_EQ(entry["r"].asInt(), 3);
  EXPECT_EQ(entry["status"].array.at(0).string, "not in the image");
}

}  // namespace
