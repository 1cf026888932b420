// The d88cut command, run as a process in a scratch folder: its messages,
// exit statuses and the twenty files it writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/planned_files.h"
#include "tests/support/test_support.h"

namespace {

using d88build::Bytes;
using d88build::Disk;
using d88test::lines;
using d88test::listDir;
using d88test::readFile;
using d88test::RunResult;
using d88test::expectedContent;
using d88test::kPlan;
using d88test::PlannedFile;
using d88test::progressLines;
using d88test::sortedPlannedNames;
using d88test::TempDir;

constexpr int kSector = 1024;

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

const d88build::Image& standardBuilt() {
  static const d88build::Image built = d88build::build({d88build::standardDisk()});
  return built;
}
const Bytes& standardImage() { return standardBuilt().bytes; }

Bytes expected(const PlannedFile& file) { return expectedContent(file, standardBuilt()); }

TEST_F(CommandTest, ValidImageGivesTwentyExactFiles) {
  const RunResult result = cut({image(standardImage())});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, progressLines());
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(outputs(), sortedPlannedNames());
  for (const PlannedFile& f : kPlan) {
    EXPECT_EQ(readFile(work_.file(f.name)), expected(f)) << f.name;
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
    EXPECT_EQ(readFile(work_.file("PROG")), expected(kPlan[0]));
  }
}

TEST_F(CommandTest, ExistingOutputsAreReplacedNotAppendedTo) {
  d88build::writeFile(work_.file("PROG"), Bytes(100000, 0xEE));
  d88build::writeFile(work_.file("MB007"), Bytes(10, 0xEE));
  ASSERT_EQ(cut({image(standardImage())}).status, 0);
  EXPECT_EQ(readFile(work_.file("PROG")), expected(kPlan[0]));
  EXPECT_EQ(readFile(work_.file("MB007")), expected(kPlan[19]));
}

TEST_F(CommandTest, NoArgumentsPrintsUsageWithTheProgramName) {
  const RunResult result = cut({});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, std::string("Usage: ") + D88CUT_PATH + " [d88file] (DiskNo.)" + d88test::kNewline);
  EXPECT_TRUE(outputs().empty());
}

TEST_F(CommandTest, ImageThatCannotBeOpenedGivesTheShiftJisMessage) {
  const RunResult result = cut({images_.file("missing.d88")});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  const std::string message =
      "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76"
      "\x83\x93\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x2E" +
      std::string(d88test::kNewline);
  // 28 Shift_JIS bytes, the full stop and the newline: LF, or CR LF on Windows.
  EXPECT_EQ(message.size(), 29u + std::string(d88test::kNewline).size());
  EXPECT_EQ(result.err, message);
  EXPECT_TRUE(outputs().empty());
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
  Bytes ma002 = expected(kPlan[5]);
  std::fill(ma002.begin() + kSector, ma002.end(), 0);
  EXPECT_EQ(readFile(work_.file("MA002")), ma002);
  Bytes mb006 = expected(kPlan[18]);
  std::fill(mb006.begin() + 512, mb006.end(), 0);
  EXPECT_EQ(readFile(work_.file("MB006")), mb006);
  for (const PlannedFile& f : kPlan) {
    EXPECT_EQ(readFile(work_.file(f.name)).size(), static_cast<std::size_t>(f.length)) << f.name;
  }
  EXPECT_EQ(readFile(work_.file("PROG")), expected(kPlan[0]));
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
    EXPECT_EQ(readFile(work_.file(f.name)), expected(f)) << f.name;
  }
  EXPECT_EQ(outputs(), sortedPlannedNames()) << "a temporary file was left behind";
}

TEST_F(CommandTest, AnImageNamedLikeAnOutputIsNeverReplaced) {
  const std::string path = work_.file("PROG");
  d88build::writeFile(path, standardImage());
  const RunResult result = d88test::run({D88CUT_PATH, "PROG"}, {work_.path(), -1});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, progressLines());
  EXPECT_NE(result.err.find("PROG"), std::string::npos);
  EXPECT_EQ(readFile(path), standardImage());
  EXPECT_EQ(readFile(work_.file("MA002")), expected(kPlan[5]));
}

// Images named in Japanese, emoji and Korean, in folders named the same way:
// on Windows these are outside any ANSI code page. d88cut cuts them into their
// folder, d88ls lists them, and messages give their paths as UTF-8.
TEST_F(CommandTest, ImagesAndFoldersNamedInAnyScriptAreCutAndListed) {
  for (const std::string name : {"\u30b2\u30fc\u30e0", "\U0001F600disk", "\ud55c\uad6d\uc5b4"}) {
    SCOPED_TRACE(name);
    const std::string folder = work_.file(name);
    std::filesystem::create_directory(std::filesystem::u8path(folder));
    const std::string imageName = name + ".d88";
    d88build::writeFile(folder + "/" + imageName, standardImage());

    const RunResult cutting = d88test::run({D88CUT_PATH, imageName}, {folder, -1});
    EXPECT_EQ(cutting.status, 0) << cutting.err;
    EXPECT_EQ(cutting.err, "");
    std::vector<std::string> names = sortedPlannedNames();
    names.push_back(imageName);
    EXPECT_EQ(listDir(folder), names);
    for (const PlannedFile& f : kPlan) {
      EXPECT_EQ(readFile(folder + "/" + f.name), expected(f)) << f.name;
    }

    const std::string relative = name + "/" + imageName;
    const RunResult listing = d88test::run({D88LS_PATH, "--json", relative}, {work_.path(), -1});
    EXPECT_EQ(listing.status, 0) << listing.err;
    EXPECT_NE(listing.out.find("\"image\":\"" + relative + "\""), std::string::npos) << listing.out;
    const RunResult missing = d88test::run({D88LS_PATH, relative + "x"}, {work_.path(), -1});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "d88ls: cannot open " + relative + "x: No such file or directory" +
                               d88test::kNewline);
  }
}

}  // namespace
