// The d88cut command, run as a process in a scratch folder: its messages,
// exit statuses and the twenty files it writes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using d88build::Bytes;
using d88build::Disk;
using d88test::lines;
using d88test::listDir;
using d88test::readFile;
using d88test::RunResult;
using d88test::TempDir;

constexpr int kSector = 1024;

// The published plan: file, first track and sector, bytes. Head and cylinder
// follow from the track; every run continues through sectors 1 to 8.
struct PlannedFile {
  const char* name;
  int track;
  int r;
  int length;
};
const PlannedFile kPlan[] = {
    {"PROG", 60, 1, 81920}, {"VD000", 37, 7, 1792}, {"VD001", 43, 6, 1024},
    {"MA000", 40, 1, 2048}, {"MA001", 40, 3, 5120}, {"MA002", 40, 8, 4096},
    {"MA003", 41, 4, 4096}, {"MA004", 42, 1, 2048}, {"MA005", 42, 3, 2048},
    {"MA006", 42, 5, 1024}, {"MA007", 42, 6, 3072}, {"MA008", 45, 1, 1024},
    {"MB000", 39, 5, 1024}, {"MB001", 39, 6, 1024}, {"MB002", 39, 7, 1024},
    {"MB003", 39, 8, 1024}, {"MB004", 41, 8, 1024}, {"MB005", 45, 4, 1024},
    {"MB006", 45, 5, 1024}, {"MB007", 45, 6, 1024},
};

// The bytes a planned file holds when cut from disk `seed` of standardDisk.
Bytes expectedContent(const PlannedFile& file, int seed = 0) {
  Bytes out;
  int track = file.track;
  int r = file.r;
  while (out.size() < static_cast<std::size_t>(file.length)) {
    const Bytes s = d88build::sectorPattern(seed, track, r, kSector);
    out.insert(out.end(), s.begin(), s.end());
    if (++r > 8) {
      r = 1;
      ++track;
    }
  }
  out.resize(static_cast<std::size_t>(file.length));
  return out;
}

std::string progressLines() {
  std::string out;
  for (const PlannedFile& f : kPlan) out += std::string("cutting ... ") + f.name + "\n";
  return out;
}

std::vector<std::string> plannedNames() {
  std::vector<std::string> names;
  for (const PlannedFile& f : kPlan) names.push_back(f.name);
  return names;
}

class CommandTest : public ::testing::Test {
 protected:
  RunResult cut(const std::vector<std::string>& args) {
    std::vector<std::string> argv{D88CUT_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return d88test::run(argv, {work_.path(), -1});
  }
  // Writes the image outside the work folder, so the folder holds only outputs.
  std::string image(const Bytes& bytes) { return images_.write("image.d88", bytes); }

  std::vector<std::string> outputs() const { return listDir(work_.path()); }

  TempDir images_;
  TempDir work_;
};

const Bytes& standardImage() {
  static const Bytes bytes = d88build::build({d88build::standardDisk()}).bytes;
  return bytes;
}

TEST_F(CommandTest, ValidImageGivesTwentyExactFiles) {
  const RunResult result = cut({image(standardImage())});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, progressLines());
  EXPECT_EQ(result.err, "");
  std::vector<std::string> sorted = plannedNames();
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(outputs(), sorted);
  for (const PlannedFile& f : kPlan) {
    EXPECT_EQ(readFile(work_.file(f.name)), expectedContent(f)) << f.name;
  }
}

TEST_F(CommandTest, ASecondArgumentIsNotReadAndDiskZeroIsCut) {
  const Bytes two =
      d88build::build({d88build::standardDisk(0), d88build::standardDisk(1)}).bytes;
  for (const char* extra : {"1", "0", "anything"}) {
    const RunResult result = cut({image(two), extra, "more"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, progressLines());
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(readFile(work_.file("PROG")), expectedContent(kPlan[0], 0));
  }
}

TEST_F(CommandTest, ExistingOutputsAreReplacedNotAppendedTo) {
  TempDir capture;
  d88build::writeFile(work_.file("PROG"), Bytes(100000, 0xEE));
  d88build::writeFile(work_.file("MB007"), Bytes(10, 0xEE));
  ASSERT_EQ(cut({image(standardImage())}).status, 0);
  EXPECT_EQ(readFile(work_.file("PROG")), expectedContent(kPlan[0]));
  EXPECT_EQ(readFile(work_.file("MB007")), expectedContent(kPlan[19]));
}

TEST_F(CommandTest, NoArgumentsPrintsUsageWithTheProgramName) {
  const RunResult result = cut({});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, std::string("Usage: ") + D88CUT_PATH + " [d88file] (DiskNo.)\n");
  EXPECT_TRUE(outputs().empty());
}

TEST_F(CommandTest, ImageThatCannotBeOpenedGivesTheShiftJisMessage) {
  const RunResult result = cut({images_.file("missing.d88")});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  const std::string message =
      "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76"
      "\x83\x93\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x2E\x0A";
  EXPECT_EQ(message.size(), 30u);
  EXPECT_EQ(result.err, message);
  EXPECT_TRUE(outputs().empty());
}

// An image without one whole disk header is a failure, and the outputs a
// user already has stay exactly as they were.
TEST_F(CommandTest, ImageWithoutADiskWritesNothing) {
  ASSERT_EQ(cut({image(standardImage())}).status, 0);
  const std::vector<std::string> before = outputs();
  const Bytes prog = readFile(work_.file("PROG"));

  struct Case {
    const char* what;
    std::string path;
  };
  std::filesystem::create_directory(images_.file("folder.d88"));
  const Case cases[] = {
      {"empty file", images_.write("empty.d88", Bytes())},
      {"shorter than a header", images_.write("short.d88", Bytes(687, 0x20))},
      {"a folder", images_.file("folder.d88")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RunResult result = cut({c.path});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(lines(result.err).size(), 1u);
    EXPECT_NE(result.err.find(c.path), std::string::npos) << result.err;
    EXPECT_EQ(outputs(), before);
    EXPECT_EQ(readFile(work_.file("PROG")), prog);
  }
}

// Missing sectors: every file keeps its full length, the bytes no sector
// supplied are zero (never left over from an earlier cut), and each
// incomplete file is named once with the first sector that was missing.
TEST_F(CommandTest, MissingSectorsAreZeroAndNamed) {
  Disk disk = d88build::standardDisk();
  auto& t37 = disk.tracks[37];
  t37.erase(t37.begin() + 6);            // VD000's first sector: track 37 R 7
  disk.tracks[41].erase(disk.tracks[41].begin());  // MA002 crosses into track 41 R 1
  disk.tracks[45][4].dataSize = 512;     // MB006: track 45 R 5 holds 512 bytes
  disk.tracks[45][4].data.resize(512);
  const RunResult result = cut({image(d88build::build({disk}).bytes)});

  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, progressLines());
  const std::vector<std::string> warnings = lines(result.err);
  ASSERT_EQ(warnings.size(), 3u) << result.err;
  EXPECT_NE(warnings[0].find("VD000"), std::string::npos);
  EXPECT_NE(warnings[0].find("track 37 (C 18, H 1, R 7, N 3)"), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[1].find("MA002"), std::string::npos);
  EXPECT_NE(warnings[1].find("track 41 (C 20, H 1, R 1, N 3)"), std::string::npos) << warnings[1];
  EXPECT_NE(warnings[2].find("MB006"), std::string::npos);
  EXPECT_NE(warnings[2].find("track 45 (C 22, H 1, R 5, N 3)"), std::string::npos) << warnings[2];

  EXPECT_EQ(readFile(work_.file("VD000")), Bytes(1792, 0));
  Bytes ma002 = expectedContent(kPlan[5]);
  std::fill(ma002.begin() + kSector, ma002.end(), 0);
  EXPECT_EQ(readFile(work_.file("MA002")), ma002);
  Bytes mb006 = expectedContent(kPlan[18]);
  std::fill(mb006.begin() + 512, mb006.end(), 0);
  EXPECT_EQ(readFile(work_.file("MB006")), mb006);
  for (const PlannedFile& f : kPlan) {
    EXPECT_EQ(readFile(work_.file(f.name)).size(), static_cast<std::size_t>(f.length)) << f.name;
  }
  EXPECT_EQ(readFile(work_.file("PROG")), expectedContent(kPlan[0]));
}

TEST_F(CommandTest, OutputThatCannotBeWrittenLeavesTheRestAndReportsIt) {
  std::filesystem::create_directory(work_.file("MA003"));
  const RunResult result = cut({image(standardImage())});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, progressLines());
  ASSERT_EQ(lines(result.err).size(), 1u) << result.err;
  EXPECT_NE(result.err.find("MA003"), std::string::npos);
  EXPECT_NE(result.err.find("Is a directory"), std::string::npos) << result.err;
  EXPECT_TRUE(std::filesystem::is_directory(work_.file("MA003")));
  for (const PlannedFile& f : kPlan) {
    if (std::string(f.name) == "MA003") continue;
    EXPECT_EQ(readFile(work_.file(f.name)), expectedContent(f)) << f.name;
  }
  std::vector<std::string> sorted = plannedNames();
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(outputs(), sorted) << "a temporary file was left behind";
}

TEST_F(CommandTest, AnImageNamedLikeAnOutputIsNeverReplaced) {
  const std::string path = work_.file("PROG");
  d88build::writeFile(path, standardImage());
  const RunResult result = d88test::run({D88CUT_PATH, "PROG"}, {work_.path(), -1});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, progressLines());
  EXPECT_NE(result.err.find("PROG"), std::string::npos);
  EXPECT_EQ(readFile(path), standardImage());
  EXPECT_EQ(readFile(work_.file("MA002")), expectedContent(kPlan[5]));
}

}  // namespace
