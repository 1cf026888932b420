// d88dir and d88get run as processes on disks built in code: the listing's
// first line and health column, JSON Lines with every sector of a file that
// is not whole, a disk with no file system, salvage of a damaged dump with
// every other file written whole, names matched and made safe, dates, and
// the exit statuses.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "fs_builder.h"
#include "json_value.h"
#include "test_support.h"

namespace {

using d88test::BasicBuilder;
using d88test::BasicLayout;
using d88test::Bytes;
using d88test::FatBuilder;
using d88test::fileBytes;
using d88test::RunResult;
using d88test::TempDir;

class FileCommandTest : public ::testing::Test {
 protected:
  RunResult run(const char* program, const std::vector<std::string>& args) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    return d88test::run(argv, {work_.path(), -1});
  }
  RunResult dir(const std::vector<std::string>& args) { return run(D88DIR_PATH, args); }
  RunResult get(const std::vector<std::string>& args) { return run(D88GET_PATH, args); }
  std::string image(const Bytes& bytes, const std::string& name = "disk.d88") {
    return images_.write(name, bytes);
  }
  std::string out(const std::string& name) const { return work_.file(name); }

  // A FAT12 dump whose HIT.BIN lacks its second sector.
  Bytes damagedDump() {
    FatBuilder fat(d88test::FatFormat{});
    fat.addFile("BEFORE.BIN", before_);
    const std::uint32_t first = fat.addFile("HIT.BIN", hit_);
    fat.addFolder("SUB");
    fat.addFile("INNER.TXT", inner_, "SUB", {}, 0x5A8F, 0x8C20);
    fat.disk.missing.insert(fat.sectorOf(first + 1));
    return fat.disk.image();
  }

  TempDir images_;
  TempDir work_;
  const Bytes before_ = fileBytes(1, 1500);
  const Bytes hit_ = fileBytes(2, 3000);
  const Bytes inner_ = fileBytes(3, 700);
};

TEST_F(FileCommandTest, DirNamesTheFileSystemAndEachFilesHealth) {
  const RunResult r = dir({image(damagedDump())});
  EXPECT_EQ(r.status, 2) << r.err;
  const std::vector<std::string> lines = d88test::lines(r.out);
  ASSERT_EQ(lines.size(), 5u) << r.out;
  EXPECT_EQ(lines[0].rfind("file system: fat12 (FAT12 with a BPB), because the boot sector holds a BPB", 0), 0u);
  EXPECT_NE(lines[0].find(" bytes free"), std::string::npos);
  EXPECT_NE(lines[1].find("BEFORE.BIN"), std::string::npos);
  EXPECT_NE(lines[1].find("1,500  file"), std::string::npos) << lines[1];
  EXPECT_EQ(lines[1].substr(lines[1].size() - 5), "whole");
  EXPECT_NE(lines[2].find("incomplete: 1 of 3 sectors missing, the first at track 1 (C 0, H 1, R 7, N 3)"),
            std::string::npos)
      << lines[2];
  EXPECT_NE(lines[4].find("SUB/INNER.TXT"), std::string::npos);
  EXPECT_NE(lines[4].find("2025-04-15 17:33"), std::string::npos);
}

TEST_F(FileCommandTest, DirListsOnePathWithoutRegardToCaseOnFat) {
  const RunResult r = dir({image(damagedDump()), "sub/inner.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(d88test::lines(r.out).size(), 2u);
  const RunResult none = dir({image(damagedDump()), "NOPE.TXT"});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("NOPE.TXT: no such file or folder on disk 0"), std::string::npos);
}

TEST_F(FileCommandTest, DirJsonCarriesEverySectorOfAFileThatIsNotWhole) {
  const RunResult r = dir({"--json", image(damagedDump())});
  EXPECT_EQ(r.status, 2);
  const std::vector<std::string> lines = d88test::lines(r.out);
  ASSERT_EQ(lines.size(), 5u);
  const d88test::JsonValue volume = d88test::parseJson(lines[0]);
  EXPECT_EQ(volume["fileSystem"].string, "fat12");
  EXPECT_EQ(volume["disk"].asInt(), 0);
  const d88test::JsonValue whole = d88test::parseJson(lines[1]);
  EXPECT_EQ(whole["health"].string, "whole");
  EXPECT_EQ(whole.object.count("sectors"), 0u);
  const d88test::JsonValue hit = d88test::parseJson(lines[2]);
  EXPECT_EQ(hit["path"].string, "HIT.BIN");
  EXPECT_EQ(hit["health"].string, "incomplete");
  EXPECT_EQ(hit["missingSectors"].asInt(), 1);
  ASSERT_EQ(hit["sectors"].array.size(), 3u);
  EXPECT_EQ(hit["sectors"][1]["state"].string, "missing");
  EXPECT_EQ(hit["sectors"][1]["r"].asInt(), 7);
  EXPECT_EQ(hit["sectors"][0]["state"].string, "sound");
}

TEST_F(FileCommandTest, DirShowsKanaNamesAsUtf8WithTheirBytesInJson) {
  BasicBuilder b(BasicLayout::kHuBasic2D);
  b.addFile("\xB6\xDE\xD1", "Bin", fileBytes(1, 100), 0x01);
  const std::string path = image(b.disk.image());
  const RunResult text = dir({path});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("ｶﾞﾑ.Bin"), std::string::npos);
  const RunResult json = dir({"--json", path});
  const d88test::JsonValue f = d88test::parseJson(d88test::lines(json.out)[1]);
  EXPECT_EQ(f["path"].string, "ｶﾞﾑ.Bin");
  EXPECT_EQ(f["pathHex"].string, "b6ded12e42696e");
}

TEST_F(FileCommandTest, ADiskWithNoFileSystemSaysWhatEachExpectedAndExits1) {
  const RunResult r = dir({image(d88test::SectorDisk(40, 16, 1, 0x00, 0x00).image())});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find("no file system found; each expected:"), std::string::npos);
  for (const char* fs : {"  fat12: ", "  n88: ", "  fbasic: ", "  hubasic: "}) {
    EXPECT_NE(r.err.find(fs), std::string::npos) << fs;
  }
}

TEST_F(FileCommandTest, DirJsonGivesOneErrorLineForAnImageItCannotList) {
  struct Case {
    const char* what;
    Bytes bytes;
    std::vector<std::string> options;
    const char* errorStart;
  };
  const Case cases[] = {
      {"no file system", d88test::SectorDisk(40, 16, 1, 0x00, 0x00).image(), {},
       "disk 0: no file system found; each expected: fat12: "},
      {"no such disk", d88test::SectorDisk(40, 16, 1, 0x00, 0x00).image(), {"--disk", "2"},
       "it holds 1 disk; there is no disk 2"},
      {"not a D88 image", Bytes(1000, 0x41), {}, "not a D88 image: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = image(c.bytes, std::string(c.what) + ".d88");
    std::vector<std::string> args = c.options;
    args.push_back("--json");
    args.push_back(path);
    const RunResult r = dir(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.err.empty());
    const std::vector<std::string> lines = d88test::lines(r.out);
    ASSERT_EQ(lines.size(), 1u) << r.out;
    const d88test::JsonValue e = d88test::parseJson(lines[0]);
    EXPECT_EQ(e["image"].string, path);
    EXPECT_EQ(e["error"].string.rfind(c.errorStart, 0), 0u) << e["error"].string;
  }
  // A usage error is no image's: nothing on standard output.
  const RunResult usage = dir({"--json", "--fs", "cpm", image(Bytes(10, 0))});
  EXPECT_EQ(usage.status, 1);
  EXPECT_TRUE(usage.out.empty()) << usage.out;
}

TEST_F(FileCommandTest, GetAllSalvagesADamagedDumpAndWritesEveryOtherFileWhole) {
  const RunResult r = get({"--all", "-o", "out", image(damagedDump())});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(d88test::readFile(out("out/BEFORE.BIN")), before_);
  EXPECT_EQ(d88test::readFile(out("out/SUB/INNER.TXT")), inner_);
  Bytes expected = hit_;
  std::fill(expected.begin() + 1024, expected.begin() + 2048, 0);
  EXPECT_EQ(d88test::readFile(out("out/HIT.BIN")), expected);
  EXPECT_NE(r.err.find("Warning: HIT.BIN is incomplete: 1 of 3 sectors are not in the image, the first "
                       "at track 1 (C 0, H 1, R 7, N 3); written as zeros"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("getting ... SUB/INNER.TXT"), std::string::npos);
}

TEST_F(FileCommandTest, GetTakesNamesWithoutRegardToCaseOnFatAndSetsTheirDates) {
  const RunResult r = get({image(damagedDump()), "sub/inner.txt", "before.bin"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(d88test::listDir(work_.path()), (std::vector<std::string>{"BEFORE.BIN", "SUB"}));
  EXPECT_EQ(d88test::readFile(out("SUB/INNER.TXT")), inner_);
  std::tm t{};
  t.tm_year = 2025 - 1900;
  t.tm_mon = 3;
  t.tm_mday = 15;
  t.tm_hour = 17;
  t.tm_min = 33;
  t.tm_isdst = -1;
  const auto when = std::filesystem::last_write_time(std::filesystem::u8path(out("SUB/INNER.TXT")));
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
      when - std::filesystem::file_time_type::clock::now() + std::chrono::system_clock::now().time_since_epoch());
  EXPECT_NEAR(static_cast<double>(seconds.count()), static_cast<double>(std::mktime(&t)), 2.0);
}

TEST_F(FileCommandTest, GetNeedsANameOrAllAndANameThatIsThere) {
  const std::string path = image(damagedDump());
  const RunResult none = get({path});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("name the files to get, or give --all"), std::string::npos);
  const RunResult missing = get({path, "BEFORE.BIN", "NOPE.TXT"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("NOPE.TXT: no such file on disk 0"), std::string::npos);
  EXPECT_TRUE(d88test::listDir(work_.path()).empty());
}

TEST_F(FileCommandTest, GetMakesNamesSafeAndNumbersThoseThatMeet) {
  BasicBuilder b(BasicLayout::kHuBasic2D);
  b.addFile("A/B", "", fileBytes(1, 10), 0x01);
  b.addFile("A_B", "", fileBytes(2, 10), 0x01);
  b.addFile("CON", "", fileBytes(3, 10), 0x01);
  const RunResult r = get({"--all", image(b.disk.image())});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(d88test::listDir(work_.path()), (std::vector<std::string>{"A_B", "A_B~2", "_CON"}));
  EXPECT_EQ(d88test::readFile(out("A_B")), fileBytes(1, 10));
  EXPECT_EQ(d88test::readFile(out("A_B~2")), fileBytes(2, 10));
  EXPECT_NE(r.err.find("Note: A/B is written as A_B"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Note: A_B is written as A_B~2"), std::string::npos);
  EXPECT_NE(r.err.find("Note: CON is written as _CON"), std::string::npos);
}

TEST_F(FileCommandTest, GetNeverWritesOverTheImage) {
  BasicBuilder b(BasicLayout::kHuBasic2D);
  b.addFile("disk", "d88", fileBytes(1, 10), 0x01);
  const Bytes bytes = b.disk.image();
  const std::string path = image(bytes);
  const RunResult r = get({"--all", "-o", images_.path(), path});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("it is the image being read"), std::string::npos) << r.err;
  EXPECT_EQ(d88test::readFile(path), bytes);
}

TEST_F(FileCommandTest, GetWritesEachBasicLayoutsFilesByteForByte) {
  for (BasicLayout layout : {BasicLayout::kN88_2D, BasicLayout::kFBasic2D, BasicLayout::kHuBasic2HD}) {
    BasicBuilder b(layout);
    const Bytes data = fileBytes(5, static_cast<std::size_t>(b.clusterBytes() * 2));
    b.addFile("PROG", "", data, layout == BasicLayout::kFBasic2D ? 0x02 : 0x01);
    TempDir folder;
    const RunResult r = run(D88GET_PATH, {"-o", folder.path(), image(b.disk.image()), "PROG"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(d88test::readFile(folder.file("PROG")), data);
  }
}

TEST_F(FileCommandTest, ADamagedRootSectorIsNamedByDirAndGetAndExits2) {
  FatBuilder fat(d88test::FatFormat{});
  for (int k = 0; k < 40; ++k) fat.addFile("F" + std::to_string(k) + ".BIN", fileBytes(k, 100));
  fat.disk.missing.insert(5);  // the root's first sector: F0 to F31
  const std::string disk = image(fat.disk.image());
  const std::string damage =
      "damaged: root folder sector at track 0 (C 0, H 0, R 6, N 3) is missing; its entries are not listed";
  const RunResult listed = dir({disk});
  EXPECT_EQ(listed.status, 2) << listed.err;
  const std::vector<std::string> lines = d88test::lines(listed.out);
  ASSERT_EQ(lines.size(), 11u) << listed.out;
  EXPECT_EQ(lines[1], damage);
  EXPECT_EQ(lines[2], "not listed: 32 clusters in use belong to no listed file");
  const RunResult json = dir({"--json", disk});
  EXPECT_EQ(json.status, 2);
  EXPECT_NE(d88test::lines(json.out)[0].find(
                "\"damage\":[{\"what\":\"root folder\",\"track\":0,\"c\":0,\"h\":0,\"r\":6,\"n\":3,\"state\":\"missing\""),
            std::string::npos)
      << json.out;
  const RunResult got = get({"--all", "-o", "out", disk});
  EXPECT_EQ(got.status, 2) << got.err;
  EXPECT_NE(got.err.find("Warning: disk 0 of " + disk + ": " + damage), std::string::npos) << got.err;
  EXPECT_EQ(d88test::readFile(out("out/F39.BIN")), fileBytes(39, 100));
}

// Damage that leaves every listed file whole yet makes the disk doubtful:
// both programs name it and exit 2, and d88get still writes the files.
TEST_F(FileCommandTest, ADoubtfulTableIsNamedByDirAndGetAndExits2) {
  struct Case {
    const char* what;
    void (*damage)(FatBuilder*);
    const char* line;
  };
  const Case cases[] = {
      {"FAT copies that differ",
       [](FatBuilder* fat) { fat->disk.sectors[3][40] = 0x12; },
       "damaged: the FATs differ at sector track 0 (C 0, H 0, R 4, N 3); its copy at track 0 (C 0, H 0, R 2, "
       "N 3) was used"},
      {"a root entry wiped",
       [](FatBuilder* fat) { std::fill_n(fat->disk.sectors[5].begin() + 64, 32, 0); },  // C.BIN's
       "not listed: 1 cluster in use belongs to no listed file"},
      {"a FAT copy marked bad",
       [](FatBuilder* fat) { fat->disk.status[1] = 0xB0; },
       "damaged: FAT sector at track 0 (C 0, H 0, R 2, N 3) is marked bad (data CRC error); its sound copy at "
       "track 0 (C 0, H 0, R 4, N 3) was used"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FatBuilder fat(d88test::FatFormat{});
    fat.addFile("A.BIN", before_);
    fat.addFile("B.BIN", hit_);
    fat.addFile("C.BIN", inner_);
    c.damage(&fat);
    const std::string disk = image(fat.disk.image(), std::string(c.what) + ".d88");
    const RunResult listed = dir({disk});
    EXPECT_EQ(listed.status, 2) << listed.err;
    const std::vector<std::string> lines = d88test::lines(listed.out);
    ASSERT_GE(lines.size(), 2u) << listed.out;
    EXPECT_EQ(lines[1], c.line);
    const RunResult got = get({"--all", "-o", "out", disk});
    EXPECT_EQ(got.status, 2) << got.err;
    EXPECT_NE(got.err.find("Warning: disk 0 of " + disk + ": " + c.line), std::string::npos) << got.err;
    EXPECT_EQ(d88test::readFile(out("out/A.BIN")), before_);
    EXPECT_EQ(d88test::readFile(out("out/B.BIN")), hit_);
  }
}

TEST_F(FileCommandTest, DirSaysTheEntryCapAndExits2) {
  const RunResult r = dir({image(d88test::fatWithManyEntries().disk.image())});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(d88test::lines(r.out)[1], "not listed: listing stopped at 8,192 entries");
}

TEST_F(FileCommandTest, DeletedEntriesOfADiskBasicLeaveTheStatusAlone) {
  BasicBuilder b(BasicLayout::kN88_2D);
  const std::uint32_t gone = b.addFile("GONE", "", fileBytes(1, 300), 0x01);
  b.addFile("KEPT", "", fileBytes(2, 300), 0x01);
  b.disk.sectors[37 * 16][0] = 0x00;
  b.setEntry(gone, 0xFF);  // deleting frees the chain
  const RunResult r = dir({"--deleted", image(b.disk.image())});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("deleted: the table no longer holds its chain"), std::string::npos) << r.out;
}

TEST_F(FileCommandTest, GetWritesACrossLinkedFileOnlyAsFarAsItsOwnChain) {
  FatBuilder fat(d88test::FatFormat{});
  const Bytes a = fileBytes(1, 3000);
  fat.addFile("A.BIN", a, "", {10, 11, 12});
  Bytes b = fileBytes(2, 3000);
  fat.addFile("B.BIN", b, "", {20, 21, 22});
  fat.setEntry(21, 11);
  b.resize(2048);  // clusters 20 and 21
  const RunResult r = get({"--all", "-o", "out", image(fat.disk.image())});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(d88test::readFile(out("out/A.BIN")), a);
  EXPECT_EQ(d88test::readFile(out("out/B.BIN")), b);
  EXPECT_NE(r.err.find("Warning: B.BIN: broken chain: cluster 11 also belongs to A.BIN; written only as far as "
                       "its chain goes"),
            std::string::npos)
      << r.err;
}

TEST_F(FileCommandTest, AChainThatMeetsAKanaNamedFileNamesItAsTheListingDoes) {
  FatBuilder fat(d88test::FatFormat{});
  fat.addFile("\xB6\xDE\xD1.BIN", fileBytes(1, 3000), "", {10, 11, 12});
  fat.addFile("B.BIN", fileBytes(2, 3000), "", {20, 21, 22});
  fat.setEntry(21, 11);
  const std::string path = image(fat.disk.image());
  const std::string problem = "cluster 11 also belongs to ｶﾞﾑ.BIN";
  const RunResult text = dir({path});
  EXPECT_NE(text.out.find("broken chain: " + problem + d88test::kNewline), std::string::npos) << text.out;
  const RunResult json = dir({"--json", path});
  const d88test::JsonValue b = d88test::parseJson(d88test::lines(json.out)[2]);
  EXPECT_EQ(b["chainProblem"].string, problem);
  EXPECT_EQ(b["healthText"].string, "broken chain: " + problem);
  const RunResult r = get({"-o", "out", path, "B.BIN"});
  EXPECT_NE(r.err.find("Warning: B.BIN: broken chain: " + problem + ";"), std::string::npos) << r.err;
}

}  // namespace
