// d88ls and the listing under it, on images built in memory: multi-disk files,
// short track tables, shuffled, duplicate and mismatched identities, a record
// count of 0, a truncated last track, Shift_JIS names, and its errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "console.h"
#include "disk_survey.h"
#include "json_value.h"
#include "listing_command.h"
#include "listing_json.h"
#include "listing_text.h"
#include "test_files.h"
#include "test_support.h"
#include "text_format.h"

namespace {

using d88build::Bytes;
using d88build::Disk;
using d88build::Record;
using d88test::JsonValue;
using d88test::lines;
using d88test::parseJson;
using d88test::RunResult;
using d88test::TempDir;

Record record(int c, int h, int r, int n = 3) {
  Record rec;
  rec.c = static_cast<std::uint8_t>(c);
  rec.h = static_cast<std::uint8_t>(h);
  rec.r = static_cast<std::uint8_t>(r);
  rec.n = static_cast<std::uint8_t>(n);
  rec.data.assign(static_cast<std::size_t>(128) << n, static_cast<std::uint8_t>(r));
  return rec;
}

std::vector<int> rs(const d88::TrackListing& t) {
  std::vector<int> out;
  for (const d88::SectorRecord& record : t.records) out.push_back(record.id.r);
  return out;
}

class ListerTest : public ::testing::Test {
 protected:
  std::string write(const Bytes& bytes) { return dir_.write("image.d88", bytes); }
  bool load(const Bytes& bytes, int disk = 0) {
    const std::string path = write(bytes);
    return d88::Image::open(path, &image_).ok() && image_.selectDisk(disk).ok();
  }
  RunResult ls(const std::vector<std::string>& args) {
    std::vector<std::string> argv{D88LS_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return d88test::run(argv, {work_.path(), -1});
  }

  TempDir dir_;
  TempDir work_;
  d88::Image image_;
};

TEST_F(ListerTest, TrackListingMarksWhatAUserShouldNotice) {
  Disk disk;
  // Shuffled, a duplicate of R 3, R 5 from another cylinder, R 6 with N 2, no
  // R 4, and a second R 1 whose last byte differs from the first's.
  Record otherOne = record(20, 1, 1);
  otherOne.data.back() ^= 0x01;
  disk.tracks[41] = {record(20, 1, 3), record(20, 1, 1), record(20, 1, 3), record(21, 1, 5),
                     record(20, 1, 6, 2), record(20, 1, 2), otherOne};
  ASSERT_TRUE(load(d88build::build({disk}).bytes));
  const d88::TrackListing t = d88::listTrack(image_, 41);
  EXPECT_EQ(rs(t), (std::vector<int>{3, 1, 3, 5, 6, 2, 1}));
  EXPECT_EQ(t.c, 20);
  EXPECT_EQ(t.h, 1);
  EXPECT_EQ(t.usualN, 3);
  EXPECT_EQ(t.duplicates, (std::vector<int>{2, 6}));
  EXPECT_EQ(t.differingDuplicates, std::vector<int>{6});
  EXPECT_EQ(t.mismatched, std::vector<int>{3});
  EXPECT_EQ(t.missingR, std::vector<int>{4});

  const std::string text = d88::tracksText(d88::DiskSummary{}, {t});
  EXPECT_NE(text.find("track  41  C 20 H 1  N 3  7 records: 3 1 3 5(C21) 6(N2) 2 1"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("duplicate: R 3, 1 (different bytes); C/H not the track's: R 5; gap: R 4"),
            std::string::npos)
      << text;
}

TEST_F(ListerTest, GapCountsFromSectorOne) {
  Disk disk;
  disk.tracks[0] = {record(0, 0, 2), record(0, 0, 3), record(0, 0, 7)};
  ASSERT_TRUE(load(d88build::build({disk}).bytes));
  const d88::TrackListing t = d88::listTrack(image_, 0);
  EXPECT_EQ(t.missingR, (std::vector<int>{1, 4, 5, 6}));
  EXPECT_NE(d88::tracksText({}, {t}).find("gap: R 1, 4-6"), std::string::npos);
}

// A header that says its track has no records ends the listing there, as it
// ends a search, and the listing says so rather than running on into the
// tracks that follow.
TEST_F(ListerTest, RecordCountZeroEndsTheTrackAndIsNamed) {
  Disk disk = d88build::standardDisk(0, 2, 2, 8, 0);
  for (Record& rec : disk.tracks[0]) rec.sectorCount = 0;
  disk.tracks[1][2].sectorCount = 0;
  ASSERT_TRUE(load(d88build::build({disk}).bytes));
  const d88::TrackListing first = d88::listTrack(image_, 0);
  EXPECT_EQ(first.records.size(), 1u);
  EXPECT_EQ(first.end, d88::TrackEnd::kZeroCount);
  const d88::TrackListing second = d88::listTrack(image_, 1);
  EXPECT_EQ(second.records.size(), 3u);
  const std::string text = d88::tracksText({}, {first, second});
  EXPECT_NE(text.find("record count 0 at record 0"), std::string::npos) << text;
  EXPECT_NE(text.find("record count 0 at record 2"), std::string::npos) << text;
}

// Every way a walk can end other than by its count is named after "!" and
// given in JSON.
TEST_F(ListerTest, EveryWalkEndingButTheCountIsNamed) {
  Disk disk;
  // Track 0: records whose count never ends the walk, past the cap.
  for (int i = 0; i < d88::kMaxTrackRecords + 10; ++i) {
    Record rec = record(0, 0, i % 8 + 1, 0);
    rec.sectorCount = 0xFFFF;
    disk.tracks[0].push_back(rec);
  }
  // Track 1: counts too high, so the records run on to the end of the disk.
  disk.tracks[1] = {record(0, 1, 1), record(0, 1, 2)};
  for (Record& rec : disk.tracks[1]) rec.sectorCount = 9;
  d88build::Image built = d88build::build({disk});
  // The file ends 6 bytes into a header that the count of track 1 asks for.
  built.bytes.resize(built.bytes.size() + 6, 0);
  const std::string path = write(built.bytes);
  const d88::ImageListing text = d88::listImageTracks(image_, path.c_str(), "0", false);
  EXPECT_EQ(text.error, "");
  EXPECT_NE(text.out.find("cut short after 256 records"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find(" cut off by the end of the disk"), std::string::npos) << text.out;
  const JsonValue json = parseJson(d88::listImageTracks(image_, path.c_str(), "0", true).out);
  EXPECT_EQ(json["tracks"][0]["end"].string, "cap");
  EXPECT_EQ(json["tracks"][1]["end"].string, "headerCutOff");
}

// A read that fails part way: what was listed stays, the failing track says
// where, and d88ls says why and fails; as JSON the image gets an error line.
TEST_F(ListerTest, AReadThatFailsPartWayIsNamedAndFails) {
  const Bytes bytes = d88build::build({d88build::standardDisk()}).bytes;
  const std::string path = write(bytes);
  // Read 3 falls on a track well inside the listing.
  const auto failingAt = [&bytes](std::uint64_t n, bool andAfter) {
    auto file = d88test::TestFile::over(bytes);
    file->log()->failAt(n, andAfter);
    return file;
  };
  const d88::ImageListing text =
      d88::listImageTracks(image_, path.c_str(), "0", false, nullptr, false, failingAt(3, false));
  EXPECT_EQ(text.error, "cannot read " + path + ": Input/output error");
  const std::size_t mark = text.out.find("read error at offset ");
  ASSERT_NE(mark, std::string::npos) << text.out;
  EXPECT_NE(text.out.find(": Input/output error", mark), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("track   0"), std::string::npos) << text.out;

  const d88::ImageListing json =
      d88::listImageDisks(image_, path.c_str(), true, false, failingAt(3, false));
  EXPECT_FALSE(json.error.empty());
  const JsonValue doc = parseJson(json.out);
  EXPECT_EQ(doc["image"].string, path);
  EXPECT_EQ(doc["error"].string, "Input/output error");

  // The reader used for it starts afresh with the next image.
  EXPECT_EQ(d88::listImageDisks(image_, path.c_str(), false).error, "");

  // A drive that fails for good from some read on: every listing still says
  // why, whatever it managed to list first.
  auto counted = d88test::TestFile::over(bytes);
  const std::shared_ptr<d88test::FileLog> log = counted->log();
  d88::listImageTracks(image_, path.c_str(), "0", false, nullptr, false, std::move(counted));
  for (std::uint64_t k = 1; k <= log->reads; ++k) {
    SCOPED_TRACE(k);
    const d88::ImageListing failing =
        d88::listImageTracks(image_, path.c_str(), "0", false, nullptr, false, failingAt(k, true));
    const d88::ImageListing disks =
        d88::listImageDisks(image_, path.c_str(), true, false, failingAt(k, true));
    EXPECT_EQ(failing.error, "cannot read " + path + ": Input/output error");
    EXPECT_EQ(parseJson(disks.out)["error"].string, "Input/output error");
  }
}

#ifndef _WIN32
TEST_F(ListerTest, CommandReadsStandardInputAndEscapesNames) {
  d88test::RunOptions options(work_.path());
  options.stdinBytes = d88build::build({d88build::standardDisk(0, 2)}).bytes;
  const RunResult piped = d88test::run({D88LS_PATH, "-", "0"}, options);
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(lines(piped.out).size(), 5u) << piped.out;

  const RunResult forged = ls({dir_.file("x\nd88ls: fake line")});
  EXPECT_EQ(forged.status, 1);
  EXPECT_EQ(lines(forged.err).size(), 1u) << forged.err;
  EXPECT_NE(forged.err.find("x\\x0Ad88ls: fake line"), std::string::npos) << forged.err;
}
#endif

TEST_F(ListerTest, TruncatedLastTrackHasFewerRecordsThanUsual) {
  d88build::Image built = d88build::build({d88build::standardDisk(0, 3, 2, 8, 1)});
  built.bytes.resize(built.recordOffset(0, 5, 3) + 10);
  ASSERT_TRUE(load(built.bytes));
  const std::vector<d88::TrackListing> tracks = d88::listTracks(image_);
  ASSERT_EQ(tracks.size(), 6u);
  EXPECT_EQ(tracks[5].records.size(), 3u);
  EXPECT_EQ(tracks[5].usualRecords, 8);
  EXPECT_NE(d88::tracksText({}, tracks).find("3 records: 1 2 3  ! fewer records than the usual 8"),
            std::string::npos);
}

TEST_F(ListerTest, DiskSummariesOfAMultiDiskFile) {
  Disk a = d88build::standardDisk(0, 2, 2, 8, 3);
  a.name = "FIRST";
  Disk b = d88build::standardDisk(1, 40, 2, 16, 1);
  b.mediaType = 0x00;
  b.tableEntries = 160;
  b.tracks[5].pop_back();
  b.tracks[6].push_back(record(3, 0, 17, 2));
  Disk c;
  c.mediaType = 0x30;
  const d88build::Image built = d88build::build({a, b, c});
  ASSERT_TRUE(load(built.bytes));
  std::vector<d88::DiskSummary> disks(3);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(d88::summarizeDisk(image_, i, &disks[static_cast<std::size_t>(i)]));

  EXPECT_EQ(disks[0].offset, 0);
  EXPECT_EQ(disks[0].counts.tracks, 4);
  EXPECT_EQ(disks[0].name, "FIRST");
  EXPECT_EQ(disks[1].offset, static_cast<std::int32_t>(built.diskOffsets[1]));
  EXPECT_EQ(disks[1].size, static_cast<std::int32_t>(built.diskOffsets[2] - built.diskOffsets[1]));
  EXPECT_EQ(disks[1].counts.tracks, 80);
  EXPECT_EQ(disks[1].counts.minRecords, 15);
  EXPECT_EQ(disks[1].counts.maxRecords, 17);
  EXPECT_EQ(disks[1].counts.sizeCodes, (std::vector<int>{1, 2}));
  EXPECT_EQ(disks[2].counts.tracks, 0);

  const std::vector<std::string> text = lines(d88::disksText(disks, nullptr));
  ASSERT_EQ(text.size(), 3u);
  EXPECT_EQ(text[0], "disk 0: offset 0 (0x0), " + std::to_string(disks[0].size) +
                         " bytes, 2HD, 4 tracks, 8 sectors/track, N 3, name \"FIRST\"");
  EXPECT_NE(text[1].find("2D, 80 tracks, 15-17 sectors/track, N 1,2"), std::string::npos) << text[1];
  EXPECT_NE(text[2].find(" 1D, 0 tracks"), std::string::npos) << text[2];
}

TEST_F(ListerTest, CutPlanCoverageCountsWhatTheCutWouldFind) {
  Disk disk = d88build::standardDisk();
  ASSERT_TRUE(load(d88build::build({disk}).bytes));
  d88::CutCoverage full = d88::checkCutPlan(image_);
  EXPECT_EQ(full.sectors, 115);
  EXPECT_TRUE(full.unread.empty());
  EXPECT_EQ(d88::disksText({d88::DiskSummary{}}, &full),
            "disk 0: offset 0 (0x0), 0 bytes, 2D, 0 tracks, name \"\"\n"
            "  d88cut: all 115 sectors it reads are present\n");

  disk.tracks[41].erase(disk.tracks[41].begin());  // MA002's fourth sector
  disk.tracks[37][7].data.resize(768);             // VD000 needs only 768 of R 8
  disk.tracks[61].erase(disk.tracks[61].begin() + 2, disk.tracks[61].begin() + 5);  // PROG
  disk.tracks[62][0].data.resize(1000);            // PROG, short
  disk.tracks[40][4].status = d88::kStatusNoDataMark;  // MA001
  disk.tracks[39][4].status = d88::kStatusDeletedData;  // MB000: sound
  ASSERT_TRUE(load(d88build::build({disk}).bytes));
  const d88::CutCoverage c = d88::checkCutPlan(image_);
  ASSERT_EQ(c.unread.size(), 5u);
  EXPECT_STREQ(c.unread[0].file, "PROG");
  EXPECT_EQ(c.unread[0].outcome.address.track, 61);
  EXPECT_EQ(c.unread[0].outcome.address.r, 3);
  EXPECT_EQ(c.unread[3].outcome.address.track, 62);
  EXPECT_EQ(c.unread[3].outcome.bytesRead, 1000);
  EXPECT_STREQ(c.unread[4].file, "MA002");
  ASSERT_EQ(c.markedBad.size(), 1u);
  EXPECT_STREQ(c.markedBad[0].file, "MA001");
  const std::vector<std::string> text = lines(d88::disksText({d88::DiskSummary{}}, &c));
  ASSERT_EQ(text.size(), 3u);
  EXPECT_EQ(text[1],
            "  d88cut: 5 of 115 sectors it reads could not be read: track 61 (C 30, H 1, R 3, N 3), "
            "track 61 (C 30, H 1, R 4, N 3), track 61 (C 30, H 1, R 5, N 3), ...");
  EXPECT_EQ(text[2],
            "  d88cut: 1 of 115 sectors it reads are marked bad in the image, the first at "
            "track 40 (C 20, H 0, R 5, N 3): no data mark");

  const JsonValue json = parseJson(d88::disksJson("x.d88", {d88::DiskSummary{}}, &c));
  const JsonValue& plan = json["cutPlan"];
  EXPECT_EQ(plan["missing"].asInt(), 5);
  ASSERT_EQ(plan["missingSectors"].array.size(), 5u);
  EXPECT_EQ(plan["missingSectors"][3]["bytesRead"].asInt(), 1000);
  EXPECT_EQ(plan["missingSectors"][4]["file"].string, "MA002");
  EXPECT_EQ(plan["markedSectors"][0]["statusMeaning"].string, "no data mark");
  EXPECT_EQ(plan["markedSectors"][0]["sector"]["r"].asInt(), 5);
}

// How the cut plan fits disk 0, in the text's d88cut lines and JSON's
// cutPlan: a disk of another layout gets one line and no list of the plan's
// sectors; a disk of the plan's kind is counted against it even when it lost
// every track the plan reads.
TEST_F(ListerTest, CutPlanKindSaysHowThePlanFitsTheDisk) {
  const auto without = [](Disk disk, int from, int to) {
    for (int track = from; track <= to; ++track) disk.tracks.erase(track);
    return disk;
  };
  Disk marked = d88build::standardDisk();
  marked.tracks[40][2].status = d88::kStatusDataCrcError;  // MA001
  Disk both = marked;
  both.tracks[41].erase(both.tracks[41].begin());  // MA002
  // 1,024-byte sectors, but numbered past those the plan reads.
  Disk renumbered = d88build::standardDisk(0, 77, 2, 8, 3);
  for (auto& [track, records] : renumbered.tracks) {
    for (Record& rec : records) rec.r = static_cast<std::uint8_t>(rec.r + 8);
  }
  // One sector of the plan's kind, on a track the plan does not read.
  Disk stray = d88build::standardDisk(0, 40, 2, 16, 1);
  stray.tracks[0].push_back(record(0, 0, 1));
  const std::string none =
      "  d88cut: this disk holds none of the sectors d88cut reads (it reads 1,024-byte sectors 1 "
      "to 8)";
  struct Case {
    const char* what;
    Disk disk;
    const char* kind;
    int found, missingListed, markedListed;
    std::vector<std::string> lines;  // the d88cut lines, all of them
  };
  const std::vector<Case> cases = {
      {"a sound 2HD disk", d88build::standardDisk(), "whole", 115, 0, 0,
       {"  d88cut: all 115 sectors it reads are present"}},
      {"a 2D disk", d88build::standardDisk(0, 40, 2, 16, 1), "none", 0, 0, 0, {none}},
      {"a 2HD disk of 512-byte sectors", d88build::standardDisk(0, 77, 2, 15, 2), "none", 0, 0, 0,
       {none}},
      {"1,024-byte sectors 9 to 16", renumbered, "none", 0, 0, 0, {none}},
      {"an unformatted disk", Disk(), "none", 0, 0, 0, {none}},
      {"a 2HD dump that lost the plan's tracks", without(d88build::standardDisk(), 36, 70),
       "incomplete", 0, 115, 0,
       {"  d88cut: 115 of 115 sectors it reads could not be read: track 60 (C 30, H 0, R 1, N 3), "
        "track 60 (C 30, H 0, R 2, N 3), track 60 (C 30, H 0, R 3, N 3), ..."}},
      {"a 2D disk with one stray 1,024-byte sector 1", stray, "incomplete", 0, 115, 0,
       {"  d88cut: 115 of 115 sectors it reads could not be read: track 60 (C 30, H 0, R 1, N 3), "
        "track 60 (C 30, H 0, R 2, N 3), track 60 (C 30, H 0, R 3, N 3), ..."}},
      {"a marked sector", marked, "marked", 115, 0, 1,
       {"  d88cut: 1 of 115 sectors it reads are marked bad in the image, the first at track 40 "
        "(C 20, H 0, R 3, N 3): data CRC error"}},
      {"a missing and a marked sector", both, "incomplete", 114, 1, 1,
       {"  d88cut: 1 of 115 sectors it reads could not be read: track 41 (C 20, H 1, R 1, N 3)",
        "  d88cut: 1 of 115 sectors it reads are marked bad in the image, the first at track 40 "
        "(C 20, H 0, R 3, N 3): data CRC error"}},
  };
  std::size_t wholeLength = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = write(d88build::build({c.disk}).bytes);
    RunResult r = ls({path});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> text = lines(r.out);
    ASSERT_FALSE(text.empty());
    text.erase(text.begin());  // the disk line
    EXPECT_EQ(text, c.lines);

    r = ls({"--json", path});
    ASSERT_EQ(r.status, 0) << r.err;
    const JsonValue json = parseJson(r.out);
    const JsonValue& plan = json["cutPlan"];
    EXPECT_EQ(plan["kind"].string, c.kind);
    EXPECT_EQ(plan["found"].asInt(), c.found);
    EXPECT_EQ(plan["sectors"].asInt(), 115);
    EXPECT_EQ(plan["missing"].asInt(), 115 - c.found);
    EXPECT_EQ(plan["missingSectors"].array.size(), static_cast<std::size_t>(c.missingListed));
    EXPECT_EQ(plan["firstMissing"].array.size(),
              static_cast<std::size_t>(std::min(c.missingListed, d88::kFirstMissingShown)));
    EXPECT_EQ(plan["markedSectors"].array.size(), static_cast<std::size_t>(c.markedListed));
    if (wholeLength == 0) wholeLength = r.out.size();
    // A disk the plan does not apply to costs no more than a sound one.
    if (std::string(c.kind) == "none") {
      EXPECT_LT(r.out.size(), wholeLength + 64) << r.out;
    }
  }
}

// What stands after the last disk is said after the disk lines, and in JSON
// as trailingBytes and disksNotRead: a tail too short for a header, or a
// 65th disk, which is not read.
TEST_F(ListerTest, WhatFollowsTheLastDiskIsSaid) {
  const Disk small = d88build::standardDisk(0, 1, 1, 1, 0);
  const Bytes one = d88build::build({small}).bytes;
  const auto withTail = [&](std::size_t bytes) {
    Bytes image = one;
    image.resize(image.size() + bytes, 0xE5);
    return image;
  };
  // The size field says less than a header: the search for disks ends
  // there, and the disk line says so; what follows is no tail.
  Bytes tooSmall = withTail(5);
  d88build::putLE32(tooSmall, 0x1C, 0x100);
  const auto disks = [&](int count) {
    return d88build::build(std::vector<Disk>(static_cast<std::size_t>(count), small)).bytes;
  };
  struct Case {
    const char* what;
    Bytes bytes;
    int disks;
    std::int64_t trailing;
    bool notRead;
    const char* line;  // the last line of the listing; "" for none of the tail's
  };
  const Case cases[] = {
      {"no tail", one, 1, 0, false, ""},
      {"a one-byte tail", withTail(1), 1, 1, false,
       "! 1 byte after the last disk belongs to no disk"},
      {"a tail one byte short of a header", withTail(687), 1, 687, false,
       "! 687 bytes after the last disk belong to no disk"},
      {"a size field smaller than a header", tooSmall, 1, 0, false, ""},
      {"64 disks", disks(64), 64, 0, false, ""},
      {"65 disks", disks(65), 64, 0, true, "! disks past the 64th are not read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    d88::Image image;
    ASSERT_TRUE(d88::Image::openMemory(c.bytes.data(), c.bytes.size(), &image).ok());
    EXPECT_EQ(image.directoryTail().trailingBytes, c.trailing);
    EXPECT_EQ(image.directoryTail().disksNotRead, c.notRead);
    EXPECT_TRUE(image.directoryEnd().ok());

    const std::string path = write(c.bytes);
    RunResult r = ls({path});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> text = lines(r.out);
    // Every disk line, its d88cut line under disk 0, and the tail's line.
    ASSERT_EQ(text.size(), static_cast<std::size_t>(c.disks) + 1 + (*c.line != '\0' ? 1 : 0));
    if (*c.line != '\0') {
      EXPECT_EQ(text.back(), c.line);
    } else {
      EXPECT_NE(text.back().rfind("! ", 0), 0u) << text.back();
    }

    r = ls({"--json", path});
    ASSERT_EQ(r.status, 0) << r.err;
    const JsonValue json = parseJson(r.out);
    EXPECT_EQ(json["disks"].array.size(), static_cast<std::size_t>(c.disks));
    EXPECT_EQ(json["trailingBytes"].number, static_cast<double>(c.trailing));
    EXPECT_EQ(json["disksNotRead"].boolean, c.notRead);
  }
#ifndef _WIN32
  // A pipe has no size to tell: the tail is found as it is read.
  d88test::RunOptions piped(work_.path());
  piped.stdinBytes = withTail(5);
  const RunResult r = d88test::run({D88LS_PATH, "-"}, piped);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines(r.out).back(), "! 5 bytes after the last disk belong to no disk");
#endif
}

TEST_F(ListerTest, RecordStatusDensityAndSizeAreShownInWords) {
  Disk disk;
  std::vector<Record>& t = disk.tracks[0];
  for (int r = 1; r <= 6; ++r) t.push_back(record(0, 0, r));
  t[1].status = d88::kStatusDataCrcError;
  t[2].deletedMark = d88::kDeletedDataMark;
  t[3].density = d88::kDensitySingle;
  t[4].data.resize(512);
  t[5].status = 0x42;
  ASSERT_TRUE(load(d88build::build({disk}).bytes));
  const d88::TrackListing listing = d88::listTrack(image_, 0);
  EXPECT_EQ(lines(d88::tracksText({}, {listing}))[1],
            "track   0  C 0 H 0  N 3  6 records: 1 2(data CRC error) 3(deleted data) 4(single density) 5(512 bytes) "
            "6(unknown status 0x42)  ! marked bad: R 2 (data CRC error), 6 (unknown status 0x42); "
            "deleted data: R 3; single density: R 4");
  const JsonValue json = parseJson(d88::tracksJson("x.d88", {}, {listing}));
  const JsonValue& records = json["tracks"][0]["records"];
  EXPECT_EQ(records[1]["status"].asInt(), 0xB0);
  EXPECT_TRUE(records[1]["markedBad"].boolean);
  EXPECT_TRUE(records[2]["deleted"].boolean);
  EXPECT_TRUE(records[3]["singleDensity"].boolean);
  EXPECT_EQ(records[4]["dataSize"].asInt(), 512);
}

TEST_F(ListerTest, DiskLineShowsProtectionAndDiskLevelProblems) {
  Disk disk = d88build::standardDisk(0, 77);
  disk.mediaType = 0x00;  // says 2D over a 2HD layout
  disk.writeProtect = d88::kWriteProtected;
  d88build::Image built = d88build::build({disk});
  built.bytes.resize(built.bytes.size() - 100);  // the size field now runs past the end
  ASSERT_TRUE(load(built.bytes));
  d88::DiskSummary summary;
  ASSERT_TRUE(d88::summarizeDisk(image_, 0, &summary));
  EXPECT_TRUE(summary.writeProtected);
  EXPECT_EQ(d88::disksText({summary}, nullptr),
            "disk 0: offset 0 (0x0), " + std::to_string(built.bytes.size() + 100) +
                " bytes, 2D (the tracks hold 2HD: 77 x 2 x 8 x 1024), write-protected, 154 tracks, "
                "8 sectors/track, N 3, name \"DISK0\"  ! size field runs 100 bytes past the end of "
                "the file; media byte says 2D, the tracks hold 2HD\n");

  // A size field of 2^31 or more is shown as the unsigned number it is.
  d88build::putLE32(built.bytes, 0x1C, 0xFFFFFFF0u);
  ASSERT_TRUE(load(built.bytes));
  ASSERT_TRUE(d88::summarizeDisk(image_, 0, &summary));
  EXPECT_NE(d88::disksText({summary}, nullptr).find(", 4294967280 bytes, "), std::string::npos);
}

// One damaged byte in a sound two-disk image, and the problem d88ls names for
// it on the disk line or the track line; the sound image names none of them.
TEST_F(ListerTest, CommandNamesAHeaderThatContradictsTheDisk) {
  Disk first = d88build::standardDisk(0, 2, 2, 4, 0);  // 4 tracks of 4 x 128 bytes
  Disk second = d88build::standardDisk(1, 2, 2, 4, 0);
  first.mediaType = second.mediaType = 0x00;  // 2D, as the tracks hold
  const d88build::Image built = d88build::build({first, second});
  ASSERT_EQ(built.bytes.size(), 2u * 0xBB0u);  // each size field is 0x00000BB0
  constexpr std::size_t kSizeField = 0x1C;
  constexpr std::size_t kTrackTable = 0x20;
  constexpr std::size_t kRecordDataSize = 0x0E;
  const std::size_t lastRecord = built.recordOffset(0, 3, 3);

  struct Case {
    const char* what;
    std::size_t offset;  // the byte damaged, and its new value
    std::uint8_t value;
    bool tracks;         // the track lines of disk 0, else the disk lines
    const char* shown;     // a part of standard output
    const char* notShown;  // "" for nothing to check
  };
  const Case cases[] = {
      {"a size field of 0x1B0, less than a disk header", kSizeField + 1, 0x01, false,
       "disk 0: offset 0 (0x0), 432 bytes, 2D, 0 tracks, name \"DISK0\"  ! size field smaller "
       "than a disk header: no disk after this one is read",
       "disk 1:"},
      {"a size field of 0x2B0, a disk header exactly", kSizeField + 1, 0x02, false,
       "disk 0: offset 0 (0x0), 688 bytes", "size field smaller than a disk header"},
      {"track 2 at 0x100000 past its entry", kTrackTable + 4 * 2 + 2, 0x10, false,
       "3 tracks, 4 sectors/track, N 0, name \"DISK0\"  ! 1 track table entry points beyond "
       "the size field: those tracks are not read",
       ""},
      {"the last record's data size 0x180, past the disk's end", lastRecord + kRecordDataSize + 1,
       0x01, true, "4 records: 1 2 3 4(128 of 384 bytes)  ! data cut off: R 4", ""},
  };
  const std::string sound = dir_.write("sound.d88", built.bytes);
  for (const bool tracks : {false, true}) {
    const RunResult r = tracks ? ls({sound, "0"}) : ls({sound});
    EXPECT_EQ(r.status, 0);
    for (const char* problem :
         {"size field smaller than a disk header", "beyond the size field", "data cut off"}) {
      EXPECT_EQ(r.out.find(problem), std::string::npos) << r.out;
    }
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes bytes = built.bytes;
    d88build::putByte(bytes, c.offset, c.value);
    const std::string path = write(bytes);
    const RunResult r = c.tracks ? ls({path, "0"}) : ls({path});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find(c.shown), std::string::npos) << r.out;
    if (*c.notShown != '\0') {
      EXPECT_EQ(r.out.find(c.notShown), std::string::npos) << r.out;
    }
  }
}

// ---- table entries that point at one place ------------------------------

// The line of a track whose records are those of track `same`.
std::string sharedLine(int track, int same) {
  char line[80];
  std::snprintf(line, sizeof line, "track %3d  C %d H %d  the same records as track %d", track,
                track >> 1, track & 1, same);
  return line;
}

// A track whose table entry points where an earlier one's does is listed in
// one line naming that track, in text and JSON, and its records once, under
// the earliest entry of the place; in the disk line it still counts as a
// track of its own.
TEST_F(ListerTest, ATrackThatSharesItsRecordsIsListedOnceUnderTheEarliestEntry) {
  struct Case {
    const char* what;
    std::map<int, int> sameAs;     // given to the builder: entry -> track whose entry it takes
    std::map<int, int> shared;     // listed: track -> the track named on its line
    int listedTracks;              // tracks in the listing
    const char* counts;            // as the disk line counts them
  };
  const Case cases[] = {
      {"two later entries at track 1", {{6, 1}, {7, 1}}, {{6, 1}, {7, 1}}, 8,
       ", 8 tracks, 8 sectors/track, N 3,"},
      {"track 0's entry at track 3's records: track 3 names track 0", {{0, 3}}, {{3, 0}}, 6,
       ", 6 tracks, 8 sectors/track, N 3,"},
      {"entries of both heads at tracks of either", {{8, 3}, {9, 0}, {11, 3}},
       {{8, 3}, {9, 0}, {11, 3}}, 9, ", 9 tracks, 8 sectors/track, N 3,"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Disk disk = d88build::standardDisk(0, 3, 2, 8, 3);
    disk.sameAs = c.sameAs;
    const std::string path = write(d88build::build({disk}).bytes);

    const d88::ImageListing text = d88::listImageTracks(image_, path.c_str(), "0", false);
    ASSERT_EQ(text.error, "");
    const std::vector<std::string> got = lines(text.out);
    ASSERT_EQ(got.size(), static_cast<std::size_t>(c.listedTracks) + 1) << text.out;
    EXPECT_NE(got[0].find(c.counts), std::string::npos) << got[0];
    for (std::size_t i = 1; i < got.size(); ++i) {
      const int track = std::stoi(got[i].substr(6, 3));
      const auto shared = c.shared.find(track);
      if (shared != c.shared.end()) {
        EXPECT_EQ(got[i], sharedLine(track, shared->second));
      } else {
        EXPECT_NE(got[i].find("8 records: "), std::string::npos) << got[i];
        EXPECT_EQ(got[i].find("the same records"), std::string::npos) << got[i];
      }
    }

    const JsonValue json = parseJson(d88::listImageTracks(image_, path.c_str(), "0", true).out);
    EXPECT_EQ(json["disk"]["tracks"].asInt(), c.listedTracks);
    const std::vector<JsonValue>& tracks = json["tracks"].array;
    ASSERT_EQ(tracks.size(), static_cast<std::size_t>(c.listedTracks));
    for (const JsonValue& t : tracks) {
      const int track = t["track"].asInt();
      SCOPED_TRACE(track);
      EXPECT_EQ(t["c"].asInt(), track >> 1);
      EXPECT_EQ(t["h"].asInt(), track & 1);
      const auto shared = c.shared.find(track);
      if (shared != c.shared.end()) {
        EXPECT_EQ(t["sameAs"].asInt(), shared->second);
        EXPECT_EQ(t.object.size(), 4u) << "nothing of the records is repeated";
      } else {
        EXPECT_EQ(t.object.count("sameAs"), 0u);
        EXPECT_EQ(t["records"].array.size(), 8u);
      }
    }
  }
}

// The records listed under the earliest entry are the ones the place holds,
// judged against that track's own C and H; the entry that comes later in the
// table but whose records the file holds there names it.
TEST_F(ListerTest, TheEarliestEntryOfAPlaceListsItsRecordsAgainstItsOwnCylinder) {
  Disk disk = d88build::standardDisk(0, 3, 2, 8, 3);
  disk.sameAs = {{0, 3}};
  ASSERT_TRUE(load(d88build::build({disk}).bytes));
  const std::vector<d88::TrackListing> tracks = d88::listTracks(image_);
  ASSERT_EQ(tracks.size(), 6u);
  EXPECT_EQ(tracks[0].sameAs, -1);
  EXPECT_EQ(tracks[0].mismatched.size(), 8u);
  EXPECT_EQ(tracks[3].sameAs, 0);
  EXPECT_TRUE(tracks[3].records.empty());
  const std::vector<std::string> text = lines(d88::tracksText({}, tracks));
  EXPECT_EQ(text[1].rfind("track   0  C 0 H 0  N 3  8 records: 1(C1,H1) 2(C1,H1) ", 0), 0u)
      << text[1];
  EXPECT_EQ(text[4], sharedLine(3, 0));
}

// 164 entries at one track of 256 records: the records are listed and drawn
// once, and each other entry adds a line, an object or a slot of its own, so
// that the output stays near that of the track alone rather than 164 times it.
TEST_F(ListerTest, EveryEntryAtOneLongTrackStaysNearTheTrackAlone) {
  Disk alone;
  for (int i = 0; i < d88::kMaxTrackRecords; ++i) {
    Record rec = record(0, 0, i % 26 + 1, 0);
    rec.sectorCount = d88::kMaxTrackRecords;
    alone.tracks[0].push_back(rec);
  }
  Disk everyEntry = alone;
  for (int t = 1; t < d88::kTrackCount; ++t) everyEntry.sameAs[t] = 0;
  const std::string alonePath = dir_.write("alone.d88", d88build::build({alone}).bytes);
  const std::string sharedPath = dir_.write("shared.d88", d88build::build({everyEntry}).bytes);
  const std::size_t others = d88::kTrackCount - 1;

  struct Output {
    const char* what;
    std::function<d88::ImageListing(const std::string&)> make;
    std::size_t perEntry;  // bytes an entry that shares may add at most
    const char* named;     // how an entry that shares names track 0
  };
  const Output outputs[] = {
      {"text",
       [this](const std::string& p) { return d88::listImageTracks(image_, p.c_str(), "0", false); },
       80, "the same records as track 0"},
      {"JSON",
       [this](const std::string& p) { return d88::listImageTracks(image_, p.c_str(), "0", true); },
       64, "\"sameAs\":0}"},
      {"SVG", [this](const std::string& p) { return d88::pictureImageDisk(image_, p.c_str(), "0"); },
       1024, "the same records as track 0"},
  };
  for (const Output& o : outputs) {
    SCOPED_TRACE(o.what);
    const d88::ImageListing once = o.make(alonePath);
    const d88::ImageListing shared = o.make(sharedPath);
    ASSERT_EQ(once.error, "");
    ASSERT_EQ(shared.error, "");
    EXPECT_LT(shared.out.size(), once.out.size() + others * o.perEntry)
        << "alone " << once.out.size() << " bytes, shared " << shared.out.size();
    EXPECT_NE(shared.out.find(o.named), std::string::npos);
  }
  const std::vector<std::string> text =
      lines(d88::listImageTracks(image_, sharedPath.c_str(), "0", false).out);
  ASSERT_EQ(text.size(), 1 + others + 1);
  EXPECT_NE(text[0].find(", 164 tracks, 256 sectors/track, N 0,"), std::string::npos) << text[0];
  EXPECT_EQ(text.back(), sharedLine(163, 0));
}

TEST(DisplayName, ShiftJisIsReadableAndAnythingElseEscaped) {
  const std::pair<std::string, std::string> cases[] = {
      {"GAME DISK", "GAME DISK"},
      {"\x83\x51\x81\x5B\x83\x80", "\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0"},  // ゲーム
      {"\xB1\xB2", "\xEF\xBD\xB1\xEF\xBD\xB2"},                              // half-width ｱｲ
      {"AB\x83", "AB\\x83"},                   // a lead byte with nothing after it
      {"\x1B[2J", "\\x1B[2J"},                 // terminal control never passes
      {"C:\\DISK", "C:\\\\DISK"},
      {"\x80\xA0\xFD", "\\x80\\xA0\\xFD"},  // no characters in Shift_JIS
  };
  for (const auto& [raw, shown] : cases) {
    EXPECT_EQ(d88::displayName(raw), shown) << raw;
  }
  EXPECT_EQ(d88::safeUtf8("ok\xFF\xC3\xA9\x01"), "ok\\xFF\xC3\xA9\\x01");
}

// Valid UTF-8 that a terminal or a line-splitting reader takes as a control
// or a line end never passes raw: C1 controls and the line and paragraph
// separators are escaped in text, and in JSON as escapes a reader turns back
// into the character. Their neighbours pass as they are.
TEST(TextEscapes, C1ControlsAndSeparatorsAreEscapedInTextAndJson) {
  const struct {
    const char* raw;
    const char* text;
    const char* json;
  } cases[] = {
      {"x\xC2\x9B" "31mRED\xC2\x85", "x\\u009B31mRED\\u0085", "\"x\\u009B31mRED\\u0085\""},
      {"\xC2\x80|\xC2\x9F", "\\u0080|\\u009F", "\"\\u0080|\\u009F\""},
      {"a\xE2\x80\xA8" "b\xE2\x80\xA9", "a\\u2028b\\u2029", "\"a\\u2028b\\u2029\""},
      // Neighbours: U+00A0, U+00E9, U+2027, U+202A.
      {"\xC2\xA0\xC3\xA9\xE2\x80\xA7\xE2\x80\xAA", "\xC2\xA0\xC3\xA9\xE2\x80\xA7\xE2\x80\xAA",
       "\"\xC2\xA0\xC3\xA9\xE2\x80\xA7\xE2\x80\xAA\""},
      // C0 controls and DEL keep their \x form; JSON escapes C0 as before.
      {"\x01\x7F", "\\x01\\x7F", "\"\\u0001\x7F\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.raw);
    EXPECT_EQ(d88::safeUtf8(c.raw), c.text);
    EXPECT_EQ(d88::jsonString(c.raw), c.json);
  }
}

// ---- the command ---------------------------------------------------------

// An image whose name holds a C1 control (U+009B starts a terminal's control
// sequence) and U+0085 (a line end to some readers) never gets them onto a
// terminal, in a listing's heading, a JSON line or an error; JSON gives the
// name back whole.
TEST_F(ListerTest, CommandEscapesC1ControlsInImageNames) {
  const std::string name = "x\xC2\x9B" "31mRED\xC2\x85.d88";
  const std::string path = work_.file(name);
  ASSERT_TRUE(d88build::writeFile(path, d88build::build({d88build::standardDisk()}).bytes));
  const std::string other = write(d88build::build({d88build::standardDisk(1)}).bytes);
  const std::string junk = work_.file("x\xC2\x85junk.d88");
  ASSERT_TRUE(d88build::writeFile(junk, Bytes(2000, 0)));
  const auto rawC1 = [](const std::string& text) {
    return text.find("\xC2\x9B") != std::string::npos ||
           text.find("\xC2\x85") != std::string::npos;
  };
  const RunResult text = ls({path, other});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_FALSE(rawC1(text.out)) << text.out;
  EXPECT_NE(text.out.find("x\\u009B31mRED\\u0085.d88:"), std::string::npos) << text.out;
  const RunResult json = ls({"--json", path});
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_FALSE(rawC1(json.out)) << json.out;
  EXPECT_EQ(parseJson(json.out)["image"].string, path);
  const RunResult refused = ls({junk});
  EXPECT_EQ(refused.status, 1);
  EXPECT_FALSE(rawC1(refused.err)) << refused.err;
  EXPECT_NE(refused.err.find("x\\u0085junk.d88 is not a D88 image"), std::string::npos)
      << refused.err;
}

TEST_F(ListerTest, CommandListsDisksAndTracksAsTextAndJson) {
  Disk a = d88build::standardDisk();
  a.name = "\x83\x51\x81\x5B\x83\x80\x01";
  Disk b = d88build::standardDisk(1, 2);
  b.tracks[1].push_back(record(0, 1, 1));
  const std::string path = write(d88build::build({a, b}).bytes);

  RunResult r = ls({path});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  std::vector<std::string> text = lines(r.out);
  ASSERT_EQ(text.size(), 3u) << r.out;
  EXPECT_NE(text[0].find("154 tracks, 8 sectors/track, N 3, name \"\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0\\x01\""),
            std::string::npos) << text[0];
  EXPECT_EQ(text[1], "  d88cut: all 115 sectors it reads are present");
  EXPECT_EQ(text[2].rfind("disk 1: ", 0), 0u);

  r = ls({"--json", path});
  EXPECT_EQ(r.status, 0);
  const JsonValue disks = parseJson(r.out);
  EXPECT_EQ(disks["image"].string, path);
  ASSERT_EQ(disks["disks"].array.size(), 2u);
  EXPECT_EQ(disks["disks"][0]["media"].string, "2HD");
  EXPECT_EQ(disks["disks"][0]["tracks"].asInt(), 154);
  EXPECT_EQ(disks["disks"][1]["offset"].asInt(), disks["disks"][0]["size"].asInt());
  EXPECT_EQ(disks["disks"][1]["sectorsPerTrack"]["max"].asInt(), 9);
  EXPECT_EQ(disks["cutPlan"]["missing"].asInt(), 0);

  r = ls({path, "1"});
  EXPECT_EQ(r.status, 0);
  text = lines(r.out);
  ASSERT_EQ(text.size(), 5u) << r.out;
  EXPECT_NE(text[2].find("9 records: 1 2 3 4 5 6 7 8 1  ! duplicate: R 1"), std::string::npos)
      << text[2];

  r = ls({path, "1", "--json"});
  EXPECT_EQ(r.status, 0);
  const JsonValue tracks = parseJson(r.out);
  EXPECT_EQ(tracks["disk"]["index"].asInt(), 1);
  ASSERT_EQ(tracks["tracks"].array.size(), 4u);
  EXPECT_EQ(tracks["tracks"][1]["records"].array.size(), 9u);
  EXPECT_EQ(tracks["tracks"][1]["duplicates"][0].asInt(), 8);
  EXPECT_EQ(tracks["tracks"][1]["records"][8]["r"].asInt(), 1);
  EXPECT_TRUE(d88test::listDir(work_.path()).empty()) << "d88ls wrote a file";
}

TEST_F(ListerTest, CommandErrorsAreOneLineAndStatusOne) {
  const std::string good = write(d88build::build({d88build::standardDisk(0, 2)}).bytes);
  const std::string empty = dir_.write("empty.d88", Bytes());
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"no arguments", {}},
      {"only --json", {"--json"}},
      {"only --", {"--"}},
      {"an option not understood", {"--bogus", good}},
      {"image that does not exist", {dir_.file("missing.d88")}},
      {"disk not in the file", {good, "1"}},
      {"disk index too large for any number", {good, "99999999999999999999999"}},
      {"no disk in the image", {empty}},
  };
  for (const auto& [what, args] : cases) {
    SCOPED_TRACE(what);
    const RunResult r = ls(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
  }
  // As JSON, an image that cannot be listed still gets its line, saying why.
  const std::pair<const char*, std::vector<std::string>> jsonCases[] = {
      {"no disk in the image", {"--json", empty}},
      {"disk not in the file", {"--json", good, "1"}},
      {"image that does not exist", {"--json", dir_.file("missing.d88")}},
  };
  for (const auto& [what, args] : jsonCases) {
    SCOPED_TRACE(what);
    const RunResult r = ls(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
    ASSERT_EQ(lines(r.out).size(), 1u) << r.out;
    const d88test::JsonValue doc = parseJson(lines(r.out)[0]);
    EXPECT_EQ(doc["image"].string, args[1]);
    EXPECT_FALSE(doc["error"].string.empty()) << r.out;
  }
  EXPECT_TRUE(d88test::listDir(work_.path()).empty());
}

// Many images: each listed in turn, text blocks headed by the image's name,
// JSON as one document per line; an image that cannot be read is one line on
// standard error, the others go on and the status is 1. A second argument
// that is not plain decimal digits is an image, never a disk index.
TEST_F(ListerTest, CommandListsManyImagesAndGoesOnPastOnesThatCannotBeRead) {
  const std::string a = dir_.write("a.d88", d88build::build({d88build::standardDisk(0, 2)}).bytes);
  Disk one;
  one.tracks[0] = {record(0, 0, 1)};
  const std::string b = dir_.write("b.d88", d88build::build({one}).bytes);
  const std::string missing = dir_.file("missing.d88");
  const std::string empty = dir_.write("empty.d88", Bytes());

  RunResult r = ls({a, missing, empty, b});
  EXPECT_EQ(r.status, 1);
  const std::vector<std::string> errors = lines(r.err);
  ASSERT_EQ(errors.size(), 2u) << r.err;
  EXPECT_NE(errors[0].find(missing), std::string::npos) << errors[0];
  EXPECT_NE(errors[1].find(empty), std::string::npos) << errors[1];
  std::vector<std::string> text = lines(r.out);
  ASSERT_EQ(text.size(), 7u) << r.out;
  EXPECT_EQ(text[0], a + ":");
  EXPECT_EQ(text[1].rfind("disk 0: ", 0), 0u) << text[1];
  EXPECT_EQ(text[3], "");
  EXPECT_EQ(text[4], b + ":");
  EXPECT_NE(text[5].find(", 1 track, 1 sectors/track"), std::string::npos) << text[5];

  r = ls({"--json", a, missing, b});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
  const std::vector<std::string> docs = lines(r.out);
  ASSERT_EQ(docs.size(), 3u) << r.out;
  EXPECT_EQ(parseJson(docs[0])["image"].string, a);
  EXPECT_EQ(parseJson(docs[1])["image"].string, missing);
  EXPECT_EQ(parseJson(docs[1])["error"].string, "No such file or directory");
  EXPECT_EQ(parseJson(docs[2])["image"].string, b);
  EXPECT_EQ(parseJson(docs[2])["disks"][0]["tracks"].asInt(), 1);

  // One image alone keeps its listing unheaded.
  r = ls({a});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(lines(r.out).size(), 2u) << r.out;

  for (const char* notADisk : {"x", "+0", " +0", "0 ", "0x0", ""}) {
    SCOPED_TRACE(std::string("second argument \"") + notADisk + "\"");
    r = ls({a, notADisk});
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(lines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find(std::string("cannot open ") + notADisk + ":"), std::string::npos) << r.err;
    EXPECT_EQ(lines(r.out).front(), a + ":");
  }
}

TEST_F(ListerTest, CommandOptionsHelpVersionAndEndOfOptions) {
  RunResult r = ls({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("d88ls ") + D88_VERSION + d88test::kNewline);
  EXPECT_EQ(r.err, "");

  r = ls({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Usage: d88ls [--json] [--fingerprint] [--] IMAGE... | ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("--json"), std::string::npos);
  EXPECT_EQ(r.err, "");

  // After "--", an image may be called --json, and --json is no longer an option.
  const std::string image = write(d88build::build({d88build::standardDisk(0, 2)}).bytes);
  const std::string named = dir_.file("--json");
  ASSERT_TRUE(d88build::writeFile(named, d88test::readFile(image)));
  r = ls({"--", named, "0"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("disk 0: ", 0), 0u) << r.out;
  r = ls({"--", "--json"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot open --json:"), std::string::npos) << r.err;

  // Short options, and any other argument that begins with "-" is refused.
  EXPECT_EQ(ls({"-V"}).out, std::string("d88ls ") + D88_VERSION + d88test::kNewline);
  EXPECT_EQ(ls({"-h"}).out.rfind("Usage: ", 0), 0u);
  r = ls({"-x", image});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("unknown option -x"), std::string::npos) << r.err;
}

#ifndef _WIN32
// A name that is not UTF-8 (Shift_JIS, as unzip leaves Japanese archives)
// keeps its bytes in JSON, so that a script can open the image again.
TEST_F(ListerTest, JsonKeepsANameThatIsNotUtf8) {
  const std::string name = dir_.file("\x83\x51\x81\x5B\x83\x80.d88");
  ASSERT_TRUE(d88build::writeFile(name, d88build::build({d88build::standardDisk(0, 2)}).bytes));
  const RunResult r = ls({"--json", name});
  EXPECT_EQ(r.status, 0) << r.err;
  const JsonValue doc = parseJson(lines(r.out).at(0));
  std::string bytes;
  const std::string& hex = doc["imageHex"].string;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  EXPECT_EQ(bytes, name);
  EXPECT_EQ(d88test::readFile(bytes), d88test::readFile(name));
  // A name that is UTF-8 needs no hex, control characters and all.
  const std::string plain = dir_.file("a\tb.d88");
  ASSERT_TRUE(d88build::writeFile(plain, d88test::readFile(name)));
  const JsonValue other = parseJson(lines(ls({"--json", plain}).out).at(0));
  EXPECT_EQ(other["image"].string, plain);
  EXPECT_EQ(other.object.count("imageHex"), 0u);
}
#endif

#ifdef _WIN32
// On Windows the programs expand wildcards themselves, as cmd.exe leaves them.
TEST_F(ListerTest, WildcardsAreExpandedOnWindows) {
  const Bytes bytes = d88build::build({d88build::standardDisk()}).bytes;
  ASSERT_TRUE(d88build::writeFile(dir_.file("one.d88"), bytes));
  ASSERT_TRUE(d88build::writeFile(dir_.file("two.d88"), bytes));
  RunResult r = ls({"--json", dir_.file("*.d88")});
  EXPECT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(lines(r.out).size(), 2u) << r.out;
  EXPECT_EQ(parseJson(lines(r.out)[0])["image"].string, dir_.file("one.d88"));
  EXPECT_EQ(parseJson(lines(r.out)[1])["image"].string, dir_.file("two.d88"));
  // A pattern that matches nothing stays as typed.
  r = ls({dir_.file("*.d77")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("*.d77"), std::string::npos) << r.err;
  // d88cut cuts one image: a pattern for several is refused.
  r = d88test::run({D88CUT_PATH, dir_.file("*.d88")}, {work_.path(), -1});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("matches 2 images; name one"), std::string::npos) << r.err;
  EXPECT_TRUE(d88test::listDir(work_.path()).empty());
  r = d88test::run({D88CUT_PATH, dir_.file("on?.d88")}, {work_.path(), -1});
  EXPECT_EQ(r.status, 0) << r.err;
}
#endif

}  // namespace
