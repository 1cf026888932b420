// d88cut with spares and twins: every sector taken from its best copy, in the
// image's track or in another dump of the same disk, and what the user is
// told about it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "planned_files.h"
#include "test_support.h"

namespace {

using d88build::Bytes;
using d88build::Disk;
using d88build::Record;
using d88test::kPlan;
using d88test::PlannedFile;
using d88test::RunResult;
using d88test::TempDir;

constexpr std::uint8_t kDataCrcError = 0xB0;

// A change made to the disk model of a dump before it is built.
using Damage = std::function<void(Disk&)>;

const Damage kClean = [](Disk&) {};

// Record `index` of `track`, in file order.
Record& recordAt(Disk& disk, int track, int index) {
  return disk.tracks.at(track).at(static_cast<std::size_t>(index));
}

// The disk lacks the sector that record `index` of `track` holds.
Damage lose(int track, int index) {
  return [=](Disk& disk) {
    auto& records = disk.tracks.at(track);
    records.erase(records.begin() + index);
  };
}

// The image marks the sector bad, and its bytes are what a failing read gave.
Damage markBad(int track, int index) {
  return [=](Disk& disk) {
    Record& record = recordAt(disk, track, index);
    record.status = kDataCrcError;
    for (std::uint8_t& byte : record.data) byte = static_cast<std::uint8_t>(~byte);
  };
}

// What a twin put in front of a sector holds.
enum class Twin {
  kSame,       // the sector's bytes
  kBadOther,   // other bytes, marked bad
  kSoundOther  // other bytes, not marked
};

// A second record of the same identity stands in front of the sector.
Damage twinAhead(int track, int index, Twin kind) {
  return [=](Disk& disk) {
    Record twin = recordAt(disk, track, index);
    if (kind != Twin::kSame) twin.data.assign(twin.data.size(), 0xE5);
    if (kind == Twin::kBadOther) twin.status = kDataCrcError;
    auto& records = disk.tracks.at(track);
    records.insert(records.begin() + index, twin);
  };
}

// One byte of the sector's data is other than on the disk the others dumped.
Damage changeByte(int track, int index) {
  return [=](Disk& disk) { recordAt(disk, track, index).data[100] ^= 0x01; };
}

Damage both(Damage a, Damage b) {
  return [=](Disk& disk) {
    a(disk);
    b(disk);
  };
}

// Another disk altogether: other bytes in every sector.
Damage otherDisk() {
  return [](Disk& disk) { disk = d88build::standardDisk(1); };
}

// A 2D disk: 16 sectors of 256 bytes, none of the identities the plan reads.
Damage twoDDisk() {
  return [](Disk& disk) { disk = d88build::standardDisk(0, 40, 2, 16, 1); };
}

const d88build::Image& cleanBuilt() {
  static const d88build::Image built = d88build::build({d88build::standardDisk()});
  return built;
}

Bytes dump(const Damage& damage) {
  Disk disk = d88build::standardDisk();
  damage(disk);
  return d88build::build({disk}).bytes;
}

class SpareTest : public ::testing::Test {
 protected:
  // Writes the image and its spares beside the work folder, and cuts.
  RunResult cut(const Damage& image, const std::vector<Damage>& spares,
                std::vector<std::string> extra = {}) {
    std::vector<std::string> argv{D88CUT_PATH};
    for (std::size_t k = 0; k < spares.size(); ++k) {
      argv.push_back("--spare");
      argv.push_back(sparePath(k));
      images_.write("spare" + std::to_string(k) + ".d88", dump(spares[k]));
    }
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(imagePath());
    images_.write("image.d88", dump(image));
    return d88test::run(argv, {work_.path(), -1});
  }
  std::string imagePath() const { return images_.file("image.d88"); }
  std::string sparePath(std::size_t k) const {
    return images_.file("spare" + std::to_string(k) + ".d88");
  }
  // The line as the command writes it, with IMAGE and SPARE0, SPARE1 named.
  std::string line(std::string text) const {
    for (std::size_t k = 0; k < 2; ++k) {
      const std::string mark = "SPARE" + std::to_string(k);
      for (std::size_t at; (at = text.find(mark)) != std::string::npos;) {
        text.replace(at, mark.size(), sparePath(k));
      }
    }
    const std::size_t at = text.find("IMAGE");
    if (at != std::string::npos) text.replace(at, 5, imagePath());
    return text + d88test::kNewline;
  }

  TempDir images_;
  TempDir work_;
};

TEST_F(SpareTest, EachSectorComesFromItsBestCopy) {
  struct Case {
    const char* what;
    Damage image;
    std::vector<Damage> spares;
    int status;
    std::vector<std::string> err;  // standard error, line by line
    bool asClean;                  // every file as cut from the undamaged disk
  };
  // Track 60 is PROG's first track; track 40 holds MA001 from R 3; track 41
  // holds MA003 from R 4.
  const Case cases[] = {
      {"two dumps damaged in different places come out whole",
       lose(60, 0), {markBad(40, 2)}, 0,
       {"Note: PROG: 1 of 80 sectors taken from SPARE0"}, true},
      {"the same two dumps the other way round",
       markBad(40, 2), {lose(60, 0)}, 0,
       {"Note: MA001: 1 of 5 sectors taken from SPARE0"}, true},
      {"a bad copy in the image gives way to a spare's sound copy",
       markBad(41, 3), {kClean}, 0,
       {"Note: MA003: 1 of 4 sectors taken from SPARE0"}, true},
      {"spares are tried in order, for a sound copy",
       lose(60, 0), {markBad(60, 0), kClean}, 0,
       {"Note: PROG: 1 of 80 sectors taken from SPARE1"}, true},
      {"a spare of another disk is refused",
       markBad(60, 0), {otherDisk()}, 2,
       {"Note: SPARE0 is not used: 114 of the 114 sectors that both hold sound differ",
        "Warning: PROG: 1 of 80 sectors are marked bad in the image, the first at track 60 "
        "(C 30, H 0, R 1, N 3): data CRC error; their bytes are copied as they are"},
       false},
      {"a spare that differs in one sound sector is refused",
       lose(60, 0), {changeByte(40, 0)}, 2,
       {"Note: SPARE0 is not used: 1 of the 114 sectors that both hold sound differ",
        "Warning: PROG is incomplete: 1 of 80 sectors could not be read, the first at track 60 "
        "(C 30, H 0, R 1, N 3); their bytes are written as zero"},
       false},
      {"a bad copy taken from a spare is named with the spare",
       lose(60, 0), {markBad(60, 0)}, 2,
       {"Note: PROG: 1 of 80 sectors taken from SPARE0",
        "Warning: PROG: 1 of 80 sectors are marked bad in the image or its spares, the first at "
        "track 60 (C 30, H 0, R 1, N 3) in SPARE0: data CRC error; their bytes are copied as "
        "they are"},
       false},
      {"a spare that shares no sound sector is refused",
       kClean, {twoDDisk()}, 0,
       {"Note: SPARE0 is not used: it shares no sound sector with IMAGE"}, true},
      {"with no sound copy anywhere the image's copy stays, and is named",
       markBad(60, 0), {markBad(60, 0)}, 2,
       {"Warning: PROG: 1 of 80 sectors are marked bad in the image, the first at track 60 "
        "(C 30, H 0, R 1, N 3): data CRC error; their bytes are copied as they are"},
       false},
      {"a marked-bad first twin gives way to a sound later twin",
       twinAhead(41, 3, Twin::kBadOther), {}, 0,
       {"Warning: MA003: 1 of 4 sectors stand twice in their track with different bytes, the "
        "first at track 41 (C 20, H 1, R 4, N 3); the first sound copy is used"},
       true},
      {"twins that differ and are both marked bad: the first is used",
       both(twinAhead(41, 3, Twin::kBadOther), markBad(41, 4)), {}, 2,
       {"Warning: MA003: 1 of 4 sectors are marked bad in the image, the first at track 41 "
        "(C 20, H 1, R 4, N 3): data CRC error; their bytes are copied as they are",
        "Warning: MA003: 1 of 4 sectors stand twice in their track with different bytes, the "
        "first at track 41 (C 20, H 1, R 4, N 3); no copy is sound, the first is used"},
       false},
      {"sound twins that differ: the first is used, and named",
       twinAhead(41, 3, Twin::kSoundOther), {}, 0,
       {"Warning: MA003: 1 of 4 sectors stand twice in their track with different bytes, the "
        "first at track 41 (C 20, H 1, R 4, N 3); the first sound copy is used"},
       false},
      {"identical twins pass silently", twinAhead(41, 3, Twin::kSame), {}, 0, {}, true},
      {"a twin that differs is named even when a spare is there",
       both(twinAhead(41, 3, Twin::kBadOther), lose(60, 0)), {kClean}, 0,
       {"Note: PROG: 1 of 80 sectors taken from SPARE0",
        "Warning: MA003: 1 of 4 sectors stand twice in their track with different bytes, the "
        "first at track 41 (C 20, H 1, R 4, N 3); the first sound copy is used"},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RunResult result = cut(c.image, c.spares);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out, d88test::progressLines());
    std::string err;
    for (const std::string& text : c.err) err += line(text);
    EXPECT_EQ(result.err, err);
    if (!c.asClean) continue;
    for (const PlannedFile& f : kPlan) {
      EXPECT_EQ(d88test::readFile(work_.file(f.name)), d88test::expectedContent(f, cleanBuilt()))
          << f.name;
    }
  }
}

// A spare that cannot be opened, or standard input named twice, stops the
// run before anything is written.
TEST_F(SpareTest, ASpareThatCannotBeOpenedWritesNothing) {
  images_.write("image.d88", dump(kClean));
  const std::string missing = images_.file("missing.d88");
  std::vector<std::string> seventeenSpares;
  for (int k = 0; k < 17; ++k) {
    seventeenSpares.push_back("--spare");
    seventeenSpares.push_back(imagePath());
  }
  seventeenSpares.push_back(imagePath());
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"--spare", missing, imagePath()},
       "d88cut: cannot open " + missing + ": No such file or directory"},
      {{"--spare=" + missing, imagePath()},
       "d88cut: cannot open " + missing + ": No such file or directory"},
      {{"--spare", "-", "-"}, "d88cut: standard input (-) may be named once only"},
      {{imagePath(), "--spare"}, "d88cut: option --spare needs an image"},
      {{"--spare", images_.path(), imagePath()},
       "Error: cannot read " + images_.path() + ": Is a directory"},
      {seventeenSpares, "d88cut: at most 16 spares may be given"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    std::vector<std::string> argv{D88CUT_PATH};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const RunResult result = d88test::run(argv, {work_.path(), -1});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
    EXPECT_TRUE(d88test::listDir(work_.path()).empty());
  }
}

// A spare that holds no disk is named and left out; the cut goes on.
TEST_F(SpareTest, ASpareWithNoDiskIsNotUsed) {
  const std::string empty = images_.write("empty.d88", {});
  images_.write("image.d88", dump(kClean));
  const RunResult result =
      d88test::run({D88CUT_PATH, "--spare", empty, imagePath()}, {work_.path(), -1});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "Note: " + empty + " is not used: it holds no D88 disk" +
                            d88test::kNewline);
  EXPECT_EQ(d88test::listDir(work_.path()).size(), 20u);
}

// A spare is an input whether the run uses it or not: a file of the cut
// that is a spare stops the run before anything is written.
TEST_F(SpareTest, ASpareIsNeverOverwrittenUsedOrNot) {
  struct Case {
    const char* what;
    Bytes spare;
  };
  const Case cases[] = {
      {"a spare that is used", dump(kClean)},
      {"a spare of another disk, not used", d88build::build({d88build::standardDisk(99)}).bytes},
      {"a spare that is no D88 image", Bytes(4000, 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = work_.write("PROG", c.spare);
    images_.write("image.d88", dump(lose(40, 0)));
    const RunResult result =
        d88test::run({D88CUT_PATH, "--spare", "PROG", imagePath()}, {work_.path(), -1});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Error: cannot write PROG: it is the spare PROG" +
                              std::string(d88test::kNewline));
    EXPECT_EQ(d88test::readFile(path), c.spare);
    EXPECT_EQ(d88test::listDir(work_.path()), std::vector<std::string>{"PROG"});
  }
}

}  // namespace
