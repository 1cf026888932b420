// d88cmp run on pairs of images built in memory, and the content fingerprint
// under it: what changes the fingerprint, and what does not.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include <d88/image.h>

#include "content_fingerprint.h"
#include "json_value.h"
#include "sha256.h"
#include "test_support.h"

namespace {

using d88build::Bytes;
using d88build::Disk;
using d88build::Record;
using d88test::JsonValue;
using d88test::RunResult;
using d88test::TempDir;

// A small formatted disk: 4 cylinders, 2 heads, sectors 1 to 4 of 256 bytes.
Disk smallDisk(int seed = 1) { return d88build::standardDisk(seed, 4, 2, 4, 1); }

// The record with sector number r on `track`.
Record& sector(Disk& disk, int track, int r) {
  auto& records = disk.tracks.at(track);
  return *std::find_if(records.begin(), records.end(),
                       [r](const Record& rec) { return rec.r == r; });
}

void eraseSector(Disk& disk, int track, int r) {
  auto& records = disk.tracks.at(track);
  records.erase(std::find_if(records.begin(), records.end(),
                             [r](const Record& rec) { return rec.r == r; }));
}

Bytes image(const std::vector<Disk>& disks) { return d88build::build(disks).bytes; }

struct PairCase {
  const char* name;
  std::vector<Disk> a;
  std::vector<Disk> b;
  int status;
  std::vector<std::string> lines;  // every line of the text listing, in order
};

std::vector<PairCase> pairCases() {
  std::vector<PairCase> cases;
  {
    Disk b = smallDisk();
    b.name = "OTHER";
    b.mediaType = 0x10;
    b.writeProtect = 0x10;
    cases.push_back({"HeaderOnly", {smallDisk()}, {b}, 0,
                     {"disk 0: note: name differs: A \"DISK1\", B \"OTHER\"",
                      "disk 0: note: media byte differs: A 2HD, B 2DD",
                      "disk 0: note: write protection differs: A not, B write-protected",
                      "disk 0: 32 sectors: 32 same"}});
  }
  {
    Disk b = smallDisk();
    std::reverse(b.tracks[3].begin(), b.tracks[3].end());
    cases.push_back({"RecordOrderOnly", {smallDisk()}, {b}, 0,
                     {"disk 0: note: record order differs on 1 track, the first track 3",
                      "disk 0: 32 sectors: 32 same"}});
  }
  {
    Disk b = smallDisk();
    sector(b, 3, 2).data[5] ^= 0x01;
    cases.push_back({"OneSectorChanged", {smallDisk()}, {b}, 1,
                     {"disk 0: track 3 (C 1, H 1, R 2, N 1): differs (1 byte differs, the first "
                      "at byte 5)",
                      "disk 0: 32 sectors: 31 same, 1 differs"}});
  }
  {
    Disk a = smallDisk();
    Disk b = smallDisk();
    eraseSector(a, 2, 4);
    eraseSector(b, 5, 1);
    cases.push_back({"OneMissingInEach", {a}, {b}, 1,
                     {"disk 0: track 2 (C 1, H 0, R 4, N 1): only in B",
                      "disk 0: track 5 (C 2, H 1, R 1, N 1): only in A",
                      "disk 0: 32 sectors: 30 same, 1 only in A, 1 only in B"}});
  }
  {
    Disk a = smallDisk();
    Disk b = smallDisk();
    sector(b, 1, 3).status = d88::kStatusDataCrcError;
    sector(a, 6, 1).status = d88::kStatusIdCrcError;
    sector(a, 7, 2).data.resize(100);  // short: the disk holds 100 of 256 bytes
    cases.push_back({"MarkedBadOrShortOnOneSide", {a}, {b}, 1,
                     {"disk 0: track 1 (C 0, H 1, R 3, N 1): better in A (B: data CRC error)",
                      "disk 0: track 6 (C 3, H 0, R 1, N 1): better in B (A: ID CRC error)",
                      "disk 0: track 7 (C 3, H 1, R 2, N 1): better in B (A: 100 of 256 bytes)",
                      "disk 0: 32 sectors: 29 same, 1 better in A, 2 better in B"}});
  }
  {
    // Two unsound copies: the same bytes and status are the same sector;
    // different bytes are bad in both.
    Disk a = smallDisk();
    Disk b = smallDisk();
    sector(a, 0, 1).status = d88::kStatusDataCrcError;
    sector(b, 0, 1).status = d88::kStatusDataCrcError;
    sector(a, 0, 2).status = d88::kStatusDataCrcError;
    sector(b, 0, 2).status = d88::kStatusDataCrcError;
    sector(b, 0, 2).data[0] ^= 0xFF;
    cases.push_back({"UnsoundOnBothSides", {a}, {b}, 1,
                     {"disk 0: track 0 (C 0, H 0, R 2, N 1): bad in both (data CRC error; 1 byte "
                      "differs, the first at byte 0)",
                      "disk 0: 32 sectors: 31 same, 1 bad in both"}});
  }
  {
    // Sound copies with equal bytes but another mark or density.
    Disk b = smallDisk();
    sector(b, 4, 1).deletedMark = d88::kDeletedDataMark;
    sector(b, 4, 1).status = d88::kStatusDeletedData;
    sector(b, 4, 2).density = d88::kDensitySingle;
    cases.push_back({"AttributesDiffer", {smallDisk()}, {b}, 1,
                     {"disk 0: track 4 (C 2, H 0, R 1, N 1): differs (status: A normal, B deleted "
                      "data; deleted mark: A 0x00, B 0x10)",
                      "disk 0: track 4 (C 2, H 0, R 2, N 1): differs (density: A double, B single)",
                      "disk 0: 32 sectors: 30 same, 2 differs"}});
  }
  {
    // A twin in A: the first pairs with B's copy, the second has no partner.
    Disk a = smallDisk();
    a.tracks[3].push_back(sector(a, 3, 1));
    a.tracks[3].back().data[0] ^= 0xFF;
    cases.push_back({"TwinWithoutPartner", {a}, {smallDisk()}, 1,
                     {"disk 0: track 3 (C 1, H 1, R 1, N 1): only in A",
                      "disk 0: 33 sectors: 32 same, 1 only in A"}});
  }
  {
    Disk b = d88build::standardDisk(2, 1, 1, 2, 1);
    cases.push_back({"AnotherDisk", {d88build::standardDisk(1, 1, 1, 2, 1)}, {b}, 1,
                     {"disk 0: track 0 (C 0, H 0, R 1, N 1): differs (256 bytes differ, the first "
                      "at byte 0)",
                      "disk 0: track 0 (C 0, H 0, R 2, N 1): differs (255 bytes differ, the first "
                      "at byte 0)",
                      "disk 0: note: name differs: A \"DISK1\", B \"DISK2\"",
                      "disk 0: 2 sectors: 2 differs"}});
  }
  cases.push_back({"TwoDisksAgainstOne", {smallDisk(), smallDisk(3)}, {smallDisk()}, 1,
                   {"disk 0: 32 sectors: 32 same", "disk 1: only in A (32 sectors)"}});
  return cases;
}

class CompareCommandTest : public ::testing::Test {
 protected:
  RunResult cmp(const std::vector<std::string>& args, const d88test::RunOptions& options = {}) {
    std::vector<std::string> argv{D88CMP_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return d88test::run(argv, options);
  }
  // Compares a and b three ways: the text gives `lines` and `status`, -s the
  // status alone, and --json the status in a document, parsed into *doc.
  void compareThreeWays(const std::string& a, const std::string& b, int status,
                        const std::vector<std::string>& lines, JsonValue* doc) {
    const RunResult text = cmp({a, b});
    EXPECT_EQ(text.status, status) << text.err;
    EXPECT_EQ(text.err, "");
    EXPECT_EQ(d88test::lines(text.out), lines) << text.out;

    const RunResult quiet = cmp({"-s", a, b});
    EXPECT_EQ(quiet.status, status);
    EXPECT_EQ(quiet.out, "");

    const RunResult json = cmp({"--json", a, b});
    EXPECT_EQ(json.status, status);
    ASSERT_NO_THROW(*doc = d88test::parseJson(json.out)) << json.out;
  }

  TempDir dir_;
};

TEST_F(CompareCommandTest, PairsGiveTheirLinesStatusAndJson) {
  for (const PairCase& c : pairCases()) {
    SCOPED_TRACE(c.name);
    const std::string a = dir_.write("a.d88", image(c.a));
    const std::string b = dir_.write("b.d88", image(c.b));
    JsonValue doc;
    ASSERT_NO_FATAL_FAILURE(compareThreeWays(a, b, c.status, c.lines, &doc));
    EXPECT_EQ(doc["imageA"].string, a);
    EXPECT_EQ(doc["status"].asInt(), c.status);
    EXPECT_EQ(doc["same"].boolean, c.status == 0);
    // The text's lines, rebuilt from the document: each difference, notes, summary.
    std::vector<std::string> rebuilt;
    for (const JsonValue& disk : doc["disks"].array) {
      const std::string head = "disk " + std::to_string(disk["index"].asInt()) + ": ";
      for (const JsonValue& note : disk["notes"].array) {
        rebuilt.push_back(head + "note: " + note.string);
      }
      int counted = 0;
      for (const char* kind : {"same", "differs", "onlyInA", "onlyInB", "betterInA", "betterInB",
                               "badInBoth"}) {
        counted += disk[kind].asInt();
      }
      if (disk["inA"].boolean && disk["inB"].boolean) {
        EXPECT_EQ(counted, disk["sectors"].asInt());
        EXPECT_EQ(disk["differences"].array.size(),
                  static_cast<std::size_t>(counted - disk["same"].asInt()));
      }
      for (const JsonValue& d : disk["differences"].array) {
        const std::string sector = "track " + std::to_string(d["track"].asInt()) + " (C " +
                                   std::to_string(d["c"].asInt()) + ", H " +
                                   std::to_string(d["h"].asInt()) + ", R " +
                                   std::to_string(d["r"].asInt()) + ", N " +
                                   std::to_string(d["n"].asInt()) + "): " + d["kind"].string;
        const bool found = std::any_of(c.lines.begin(), c.lines.end(), [&](const std::string& l) {
          return l.rfind(head + sector, 0) == 0;
        });
        EXPECT_TRUE(found) << sector;
      }
      rebuilt.push_back(disk["summary"].string);
    }
    std::vector<std::string> expectedNotesAndSummaries;
    for (const std::string& line : c.lines) {
      if (line.find(": track ") == std::string::npos) expectedNotesAndSummaries.push_back(line);
    }
    std::vector<std::string> rebuiltNotesAndSummaries;
    for (const std::string& line : rebuilt) rebuiltNotesAndSummaries.push_back(line);
    EXPECT_EQ(rebuiltNotesAndSummaries, expectedNotesAndSummaries);
  }
}

TEST_F(CompareCommandTest, TroubleIsStatusTwoWithTheFileAndReason) {
  const std::string a = dir_.write("a.d88", image({smallDisk()}));
  const std::string missing = dir_.file("missing.d88");
  for (const bool silent : {false, true}) {
    const RunResult r = silent ? cmp({"-s", a, missing}) : cmp({a, missing});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "d88cmp: cannot open " + missing + ": No such file or directory" +
                         d88test::kNewline);
  }
  const std::string notAnImage = dir_.write("short.d88", Bytes(100, 0));
  const RunResult noDisk = cmp({notAnImage, a});
  EXPECT_EQ(noDisk.status, 2);
  EXPECT_NE(noDisk.err.find(notAnImage + " holds no D88 disk"), std::string::npos) << noDisk.err;

  const RunResult json = cmp({"--json", a, missing});
  EXPECT_EQ(json.status, 2);
  JsonValue doc;
  ASSERT_NO_THROW(doc = d88test::parseJson(json.out)) << json.out;
  EXPECT_EQ(doc["error"].string, "cannot open " + missing + ": No such file or directory");

  EXPECT_EQ(cmp({a}).status, 2);
  EXPECT_EQ(cmp({a, a, a}).status, 2);
  EXPECT_EQ(cmp({"-", "-"}).status, 2);
  const RunResult unknown = cmp({"--frobnicate", a, a});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("d88cmp: unknown option --frobnicate"), std::string::npos);
}

TEST_F(CompareCommandTest, HelpVersionEndOfOptionsAndStandardInput) {
  const RunResult version = cmp({"-V"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("d88cmp " D88_VERSION) + d88test::kNewline);
  const RunResult help = cmp({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: ", 0), 0u) << help.out;

  const std::string dashed = dir_.write("-s", image({smallDisk()}));
  const std::string other = dir_.write("b.d88", image({smallDisk()}));
  d88test::RunOptions inFolder(dir_.path());
  EXPECT_EQ(cmp({"--", "-s", "b.d88"}, inFolder).status, 0);
#ifndef _WIN32
  d88test::RunOptions piped(dir_.path());
  piped.stdinBytes = image({smallDisk(2)});
  const RunResult fromPipe = cmp({"-s", "b.d88", "-"}, piped);
  EXPECT_EQ(fromPipe.status, 1) << fromPipe.err;
#endif
  (void)dashed;
  (void)other;
}

// ---- tracks whose table entries share an earlier track's records ----

// Points table entries at earlier tracks: {disk, track, target} each.
struct Pointing {
  int disk;
  int track;
  int target;
};

Bytes imageSharing(std::vector<Disk> disks, const std::vector<Pointing>& pointings) {
  for (const Pointing& p : pointings) disks.at(static_cast<std::size_t>(p.disk)).sameAs[p.track] = p.target;
  return d88build::build(disks).bytes;
}

struct SharedCase {
  const char* name;
  Bytes a;
  Bytes b;
  int status;
  std::vector<std::string> lines;  // every line of the text listing, in order
};

std::vector<SharedCase> sharedCases() {
  std::vector<SharedCase> cases;
  {
    // Tracks 5 and 6 hold track 1's records in both; track 1 and track 3
    // differ. Each shared track gets one line where its sectors would stand,
    // and counts track 1's sectors again.
    Disk b = smallDisk();
    sector(b, 1, 2).data[5] ^= 0x01;
    sector(b, 1, 4).status = d88::kStatusDataCrcError;
    sector(b, 3, 1).data[0] ^= 0x01;
    const std::vector<Pointing> shares{{0, 5, 1}, {0, 6, 1}};
    cases.push_back({"BothShareTheSameTrack", imageSharing({smallDisk()}, shares),
                     imageSharing({b}, shares), 1,
                     {"disk 0: track 1 (C 0, H 1, R 2, N 1): differs (1 byte differs, the first "
                      "at byte 5)",
                      "disk 0: track 1 (C 0, H 1, R 4, N 1): better in A (B: data CRC error)",
                      "disk 0: track 3 (C 1, H 1, R 1, N 1): differs (1 byte differs, the first "
                      "at byte 0)",
                      "disk 0: track 5: the same records as track 1",
                      "disk 0: track 6: the same records as track 1",
                      "disk 0: 32 sectors: 25 same, 3 better in A, 4 differs"}});
  }
  {
    // Nothing differs: no line for the shared tracks, and two identical
    // images say no more than they would without sharing. The record order
    // of the shared track counts for each track that shares it.
    Disk b = smallDisk();
    std::reverse(b.tracks[1].begin(), b.tracks[1].end());
    const std::vector<Pointing> shares{{0, 5, 1}, {0, 7, 1}, {0, 6, 0}};
    cases.push_back({"BothShareAndNothingDiffers", imageSharing({smallDisk()}, shares),
                     imageSharing({b}, shares), 0,
                     {"disk 0: note: record order differs on 3 tracks, the first track 1",
                      "disk 0: 32 sectors: 32 same"}});
  }
  {
    // Only A shares; B holds a copy of track 1's records at track 5, with
    // one byte changed: track 5 is compared sector by sector.
    Disk a = smallDisk();
    Disk b = smallDisk();
    b.tracks[5] = b.tracks[1];
    sector(b, 5, 3).data[9] ^= 0x01;
    cases.push_back({"OnlyOneSideShares", imageSharing({a}, {{0, 5, 1}}), image({b}), 1,
                     {"disk 0: track 5 (C 0, H 1, R 3, N 1): differs (1 byte differs, the first "
                      "at byte 9)",
                      "disk 0: 32 sectors: 31 same, 1 differs"}});
  }
  {
    // Both share track 5, A with track 1 and B with track 2, which holds
    // the same records as A's track 1; B's own track 1 differs. Track 5 is
    // compared sector by sector, and is the same.
    Disk a = smallDisk();
    a.tracks[2] = a.tracks[1];
    Disk b = a;
    sector(b, 1, 2).data[0] ^= 0x01;
    cases.push_back({"BothShareWithDifferentTracks", imageSharing({a}, {{0, 5, 1}}),
                     imageSharing({b}, {{0, 5, 2}}), 1,
                     {"disk 0: track 1 (C 0, H 1, R 2, N 1): differs (1 byte differs, the first "
                      "at byte 0)",
                      "disk 0: 32 sectors: 31 same, 1 differs"}});
  }
  {
    // A disk of one file counts each shared track's records again.
    cases.push_back({"DiskOfOneFileCountsSharedTracks",
                     imageSharing({smallDisk(), smallDisk(3)}, {{1, 4, 0}, {1, 6, 0}}),
                     image({smallDisk()}), 1,
                     {"disk 0: 32 sectors: 32 same", "disk 1: only in A (32 sectors)"}});
  }
  return cases;
}

// The listing's lines for one disk's differences, rebuilt from the JSON
// document; a shared track's object holds its track and sameAs only.
std::vector<std::string> linesFromJson(const JsonValue& doc) {
  std::vector<std::string> out;
  for (const JsonValue& disk : doc["disks"].array) {
    const std::string head = "disk " + std::to_string(disk["index"].asInt()) + ": ";
    for (const JsonValue& d : disk["differences"].array) {
      const std::string track = "track " + std::to_string(d["track"].asInt());
      if (d.object.count("sameAs") != 0) {
        EXPECT_EQ(d.object.size(), 2u);
        out.push_back(head + track + ": the same records as track " +
                      std::to_string(d["sameAs"].asInt()));
        continue;
      }
      out.push_back(head + track + " (C " + std::to_string(d["c"].asInt()) + ", H " +
                    std::to_string(d["h"].asInt()) + ", R " + std::to_string(d["r"].asInt()) +
                    ", N " + std::to_string(d["n"].asInt()) + "): " + d["kind"].string +
                    (d["detail"].string.empty() ? "" : " (" + d["detail"].string + ")"));
    }
    for (const JsonValue& note : disk["notes"].array) out.push_back(head + "note: " + note.string);
    int counted = 0;
    for (const char* kind :
         {"same", "differs", "onlyInA", "onlyInB", "betterInA", "betterInB", "badInBoth"}) {
      counted += disk[kind].asInt();
    }
    if (disk["inA"].boolean && disk["inB"].boolean) {
      EXPECT_EQ(counted, disk["sectors"].asInt());
    }
    out.push_back(disk["summary"].string);
  }
  return out;
}

TEST_F(CompareCommandTest, SharedTracksAreComparedOnceAndCountedForEach) {
  for (const SharedCase& c : sharedCases()) {
    SCOPED_TRACE(c.name);
    const std::string a = dir_.write("a.d88", c.a);
    const std::string b = dir_.write("b.d88", c.b);
    JsonValue doc;
    ASSERT_NO_FATAL_FAILURE(compareThreeWays(a, b, c.status, c.lines, &doc));
    EXPECT_EQ(linesFromJson(doc), c.lines);
  }
}

// Every table entry of each image points at one track of 64 records that
// all differ: the listing names each record once and each other entry in
// one line, where it would otherwise repeat the 64 records 163 times more.
TEST_F(CompareCommandTest, OneTrackSharedByEveryEntryIsListedOnce) {
  constexpr int kRecords = 64;
  Disk a;
  a.name = "SHARED";
  Disk b = a;
  for (int r = 1; r <= kRecords; ++r) {
    a.tracks[0].push_back(d88build::record(0, 0, r, 1, d88build::sectorPattern(1, 0, r, 256)));
    b.tracks[0].push_back(d88build::record(0, 0, r, 1, d88build::sectorPattern(2, 0, r, 256)));
  }
  std::vector<Pointing> shares;
  for (int t = 1; t < d88::kTrackCount; ++t) shares.push_back({0, t, 0});
  const std::string pathA = dir_.write("a.d88", imageSharing({a}, shares));
  const std::string pathB = dir_.write("b.d88", imageSharing({b}, shares));
  const int sectors = kRecords * d88::kTrackCount;

  const RunResult text = cmp({pathA, pathB});
  EXPECT_EQ(text.status, 1) << text.err;
  const std::vector<std::string> lines = d88test::lines(text.out);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kRecords + d88::kTrackCount));
  EXPECT_EQ(lines[kRecords], "disk 0: track 1: the same records as track 0");
  EXPECT_EQ(lines[kRecords + d88::kTrackCount - 2],
            "disk 0: track 163: the same records as track 0");
  EXPECT_EQ(lines.back(), "disk 0: " + std::to_string(sectors) + " sectors: " +
                              std::to_string(sectors) + " differs");
  // Each line is short: the listing stays within about 100 bytes a line.
  EXPECT_LT(text.out.size(), lines.size() * 100);

  const RunResult json = cmp({"--json", pathA, pathB});
  EXPECT_EQ(json.status, 1);
  JsonValue doc;
  ASSERT_NO_THROW(doc = d88test::parseJson(json.out));
  const JsonValue& disk = doc["disks"][0];
  EXPECT_EQ(disk["differences"].array.size(),
            static_cast<std::size_t>(kRecords + d88::kTrackCount - 1));
  EXPECT_EQ(disk["sectors"].asInt(), sectors);
  EXPECT_EQ(disk["differs"].asInt(), sectors);
  // A record's object takes some hundreds of bytes, each record once.
  EXPECT_LT(json.out.size(), std::size_t{kRecords} * 1024 + std::size_t{d88::kTrackCount} * 64);
}

// ---- the content fingerprint ----

std::string fingerprintOf(const Bytes& bytes, int disk = 0) {
  TempDir dir;
  const std::string path = dir.write("image.d88", bytes);
  d88::Image reader;
  if (!d88::Image::open(path, &reader).ok()) return "cannot open";
  d88::Sha256Digest digest{};
  const d88::Status status = d88::contentSha256(reader, disk, &digest);
  return status.ok() ? d88::hexDigest(digest) : "failed: " + status.toString();
}

// The image of one disk laid out anew: 64 bytes of padding after the header,
// the tracks stored in reverse order with 16 bytes after each, the table
// pointing at them, and 100 bytes after the disk.
Bytes relaid(const Disk& disk) {
  const d88build::Image built = d88build::build({disk});
  const Bytes& in = built.bytes;
  const std::size_t tableAt = 0x20;
  std::vector<int> tracks;
  for (const auto& entry : built.records[0]) tracks.push_back(entry.first);
  Bytes out(in.begin(), in.begin() + d88::kDiskHeaderSize);
  std::fill(out.begin() + tableAt, out.end(), 0);
  out.resize(out.size() + 64, 0xE5);
  for (auto it = tracks.rbegin(); it != tracks.rend(); ++it) {
    const std::size_t begin = built.records[0].at(*it).front();
    const auto next = built.records[0].upper_bound(*it);
    const std::size_t end = next != built.records[0].end() ? next->second.front() : in.size();
    d88build::putLE32(out, tableAt + 4 * static_cast<std::size_t>(*it),
                      static_cast<std::uint32_t>(out.size()));
    out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(begin),
               in.begin() + static_cast<std::ptrdiff_t>(end));
    out.resize(out.size() + 16, 0xE5);
  }
  d88build::putLE32(out, 0x1C, static_cast<std::uint32_t>(out.size()));
  out.resize(out.size() + 100, 0x55);
  return out;
}

void appendLE(Bytes& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

d88::Sha256Digest sha256Of(const Bytes& bytes) {
  d88::Sha256 hash;
  d88::Sha256Digest digest{};
  EXPECT_TRUE(hash.update(bytes.data(), bytes.size()) && hash.finish(&digest))
      << hash.status().toString();
  return digest;
}

// The fingerprint of a disk worked out from its description, step by step:
// each record's data digest, each track's digest over its records by
// identity (twins in record order), then the disk's over its tracks, each
// by its number 2 x C + H: `slotsPerTrack` is 2 for a one-sided disk kept
// in every slot, whose slot t holds track number 2 x t.
std::string fingerprintByHand(const Disk& disk, int slotsPerTrack = 1) {
  Bytes diskStream;
  for (const auto& [track, records] : disk.tracks) {
    if (records.empty()) continue;
    std::vector<Record> sorted = records;
    std::stable_sort(sorted.begin(), sorted.end(), [](const Record& x, const Record& y) {
      return std::make_tuple(x.c, x.h, x.r, x.n) < std::make_tuple(y.c, y.h, y.r, y.n);
    });
    Bytes trackStream;
    for (const Record& r : sorted) {
      trackStream.insert(trackStream.end(),
                         {r.c, r.h, r.r, r.n, r.density, r.deletedMark, r.status});
      appendLE(trackStream, static_cast<std::uint32_t>(r.data.size()), 4);
      const d88::Sha256Digest data = sha256Of(r.data);
      trackStream.insert(trackStream.end(), data.begin(), data.end());
    }
    appendLE(diskStream, static_cast<std::uint32_t>(track * slotsPerTrack), 2);
    appendLE(diskStream, static_cast<std::uint32_t>(records.size()), 4);
    const d88::Sha256Digest trackDigest = sha256Of(trackStream);
    diskStream.insert(diskStream.end(), trackDigest.begin(), trackDigest.end());
  }
  return d88::hexDigest(sha256Of(diskStream));
}

// Twins, a marked record, a short one, an empty one and a deleted one.
Disk variedDisk() {
  Disk base = smallDisk();
  base.tracks[2].push_back(sector(base, 2, 3));
  base.tracks[2].back().data[7] = 0x42;
  sector(base, 5, 2).status = d88::kStatusDataCrcError;
  sector(base, 6, 4).data.resize(77);
  sector(base, 6, 3).data.clear();
  sector(base, 7, 1).deletedMark = d88::kDeletedDataMark;
  return base;
}

// A disk of large sectors, more data than the reader's window holds: 80
// tracks of 8 sectors of 8 KiB, every byte distinct by place.
Disk largeDisk() { return d88build::standardDisk(3, 40, 2, 8, 6); }

// A disk of tracks that hold only records with no data. Head 0 only, one
// cylinder per slot: a one-sided disk kept in every slot.
Disk emptyRecordsDisk() {
  Disk disk;
  for (int t = 0; t < 3; ++t) {
    for (int r = 1; r <= 5; ++r) disk.tracks[t].push_back(d88build::record(t, 0, r, 1, {}));
  }
  return disk;
}

TEST(ContentFingerprint, EqualsTheDigestsWorkedOutByHand) {
  const struct {
    const char* name;
    Disk disk;
    int slotsPerTrack;
  } cases[] = {
      {"varied records", variedDisk(), 1},
      {"large sectors", largeDisk(), 1},
      {"records with no data", emptyRecordsDisk(), 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string fingerprint = fingerprintOf(image({c.disk}));
    ASSERT_EQ(fingerprint.size(), 64u) << fingerprint;
    EXPECT_EQ(fingerprint, fingerprintByHand(c.disk, c.slotsPerTrack));
  }
}

TEST(ContentFingerprint, IgnoresHeaderAndLayoutAndSeesEveryRecordField) {
  const Disk base = variedDisk();
  const std::string fingerprint = fingerprintOf(image({base}));
  ASSERT_EQ(fingerprint.size(), 64u) << fingerprint;

  Disk header = base;
  header.name = "ANOTHER NAME";
  header.mediaType = 0x00;
  header.writeProtect = 0x10;
  Disk reordered = base;
  std::reverse(reordered.tracks[4].begin(), reordered.tracks[4].end());
  const struct {
    const char* name;
    Bytes bytes;
    int disk;
  } same[] = {
      {"name, media byte, write protection", image({header}), 0},
      {"record order within a track", image({reordered}), 0},
      {"track table, padding, trailing bytes", relaid(base), 0},
      {"the second disk of a file", image({smallDisk(5), base}), 1},
  };
  for (const auto& c : same) {
    EXPECT_EQ(fingerprintOf(c.bytes, c.disk), fingerprint) << c.name;
  }

  Disk oneByte = base;
  sector(oneByte, 3, 4).data[255] ^= 0x80;
  Disk lastByte = base;
  sector(lastByte, 6, 4).data.back() ^= 0x01;
  Disk oneStatus = base;
  sector(oneStatus, 3, 4).status = d88::kStatusDeletedData;
  Disk oneDensity = base;
  sector(oneDensity, 3, 4).density = d88::kDensitySingle;
  Disk oneMark = base;
  sector(oneMark, 3, 4).deletedMark = d88::kDeletedDataMark;
  Disk oneIdentity = base;
  sector(oneIdentity, 3, 4).h ^= 1;
  Disk oneSize = base;
  sector(oneSize, 3, 4).n = 2;
  Disk shorter = base;
  sector(shorter, 3, 4).data.pop_back();
  Disk twinsSwapped = base;
  std::swap(twinsSwapped.tracks[2][2], twinsSwapped.tracks[2].back());
  Disk moved = base;  // the same records under another track index
  moved.tracks[9] = moved.tracks[7];
  moved.tracks.erase(7);
  Disk oneMore = base;
  oneMore.tracks[8].push_back(sector(oneMore, 7, 4));
  const struct {
    const char* name;
    Disk disk;
  } differ[] = {
      {"a data byte", oneByte},       {"the last data byte", lastByte},
      {"a status", oneStatus},        {"a density", oneDensity},
      {"a deleted mark", oneMark},    {"an identity", oneIdentity},
      {"a size code", oneSize},       {"a data length", shorter},
      {"twins swapped", twinsSwapped}, {"a track index", moved},
      {"a record more", oneMore},
  };
  for (const auto& c : differ) {
    EXPECT_NE(fingerprintOf(image({c.disk})), fingerprint) << c.name;
  }

  EXPECT_EQ(fingerprintOf(image({base}), 1).rfind("failed: no disk 1", 0), 0u);
}

// The image of `disk` with the table entry of each track in `sharing`
// pointing at the place of track `at` instead.
Bytes sharedEntries(const Disk& disk, int at, const std::vector<int>& sharing) {
  const d88build::Image built = d88build::build({disk});
  Bytes bytes = built.bytes;
  const std::size_t place = built.records[0].at(at).front();
  for (int t : sharing) {
    d88build::putLE32(bytes, 0x20 + 4 * static_cast<std::size_t>(t),
                      static_cast<std::uint32_t>(place));
  }
  return bytes;
}

// Entries that share one track's records give what separate copies of the
// track give, whether the track holds data, nothing, or many records.
TEST(ContentFingerprint, SharedTrackCountsForEveryEntryThatPointsAtIt) {
  Disk sixTracks = smallDisk();
  for (int t = 6; t < 8; ++t) sixTracks.tracks.erase(t);
  std::vector<int> allOthers;
  for (int t = 1; t < d88::kTrackCount; ++t) allOthers.push_back(t);
  Disk emptyTrack;
  for (int r = 0; r < d88::kMaxTrackRecords; ++r) {
    emptyTrack.tracks[0].push_back(d88build::record(0, 0, r % 256, 0, {}));
  }
  Disk bigTrack;
  for (int r = 1; r <= 40; ++r) {
    bigTrack.tracks[0].push_back(
        d88build::record(0, 0, r, 6, d88build::sectorPattern(7, 0, r, 8192)));
  }
  const struct {
    const char* name;
    Disk disk;
    int at;
    std::vector<int> sharing;
  } cases[] = {
      {"two entries at track 2", sixTracks, 2, {3, 9}},
      {"every entry at track 0", sixTracks, 0, allOthers},
      {"every entry at 256 empty records", emptyTrack, 0, allOthers},
      {"nine entries at 40 records of 8 KiB", bigTrack, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Disk copies = c.disk;
    for (int t : c.sharing) copies.tracks[t] = c.disk.tracks.at(c.at);
    const std::string shared = fingerprintOf(sharedEntries(c.disk, c.at, c.sharing));
    ASSERT_EQ(shared.size(), 64u) << shared;
    EXPECT_EQ(shared, fingerprintOf(image({copies})));
    EXPECT_EQ(shared, fingerprintByHand(copies));
  }
}

// A table entry that points into another track's chain of records: the
// records both walks reach count in each track, as separate copies would.
TEST(ContentFingerprint, RecordsTwoWalksReachCountInBoth) {
  Disk chained = smallDisk();
  for (int t = 6; t < 8; ++t) chained.tracks.erase(t);
  // The last track's walk ends at the disk's end, not at a count.
  for (Record& record : chained.tracks[5]) record.sectorCount = 255;
  const d88build::Image built = d88build::build({chained});
  Bytes bytes = built.bytes;
  const std::size_t second = built.records[0].at(5).at(1);
  d88build::putLE32(bytes, 0x20 + 4 * 9, static_cast<std::uint32_t>(second));

  Disk copies = smallDisk();
  for (int t = 6; t < 8; ++t) copies.tracks.erase(t);
  copies.tracks[9].assign(copies.tracks[5].begin() + 1, copies.tracks[5].end());
  const std::string fingerprint = fingerprintOf(bytes);
  ASSERT_EQ(fingerprint.size(), 64u) << fingerprint;
  EXPECT_EQ(fingerprint, fingerprintOf(image({copies})));
  EXPECT_EQ(fingerprint, fingerprintByHand(copies));
}

TEST(ContentFingerprint, ShownByTheListingOnRequestOnly) {
  TempDir dir;
  const std::string a = dir.write("a.d88", image({smallDisk()}));
  Disk renamed = smallDisk();
  renamed.name = "RENAMED";
  const std::string b = dir.write("b.d88", image({renamed}));
  const std::string full = fingerprintOf(image({smallDisk()}));

  const RunResult plain = d88test::run({D88LS_PATH, a}, {});
  EXPECT_EQ(plain.out.find("content"), std::string::npos) << plain.out;
  const RunResult listed = d88test::run({D88LS_PATH, "--fingerprint", a, b}, {});
  EXPECT_EQ(listed.status, 0) << listed.err;
  std::vector<std::string> contents;
  for (const std::string& line : d88test::lines(listed.out)) {
    const std::size_t at = line.find(", content ");
    if (at != std::string::npos) contents.push_back(line.substr(at + 10, 16));
  }
  EXPECT_EQ(contents, (std::vector<std::string>{full.substr(0, 16), full.substr(0, 16)}))
      << listed.out;

  const RunResult json = d88test::run({D88LS_PATH, "--json", "--fingerprint", b}, {});
  JsonValue doc;
  ASSERT_NO_THROW(doc = d88test::parseJson(json.out)) << json.out;
  EXPECT_EQ(doc["disks"][0]["contentSha256"].string, full);
  const RunResult plainJson = d88test::run({D88LS_PATH, "--json", b}, {});
  EXPECT_EQ(plainJson.out.find("contentSha256"), std::string::npos);
}

}  // namespace
