// The d88raw command, run as a process: the raw image against the sectors
// read one by one through the reader, filler and the map on damaged disks,
// geometries that disagree with the disk, and exit statuses.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <d88/d88_image.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "json_value.h"
#include "test_support.h"

namespace {

using d88build::Bytes;
using d88build::Disk;
using d88build::Record;
using d88test::JsonValue;
using d88test::listDir;
using d88test::readFile;
using d88test::RunResult;
using d88test::TempDir;

class RawCommandTest : public ::testing::Test {
 protected:
  RunResult raw(const std::vector<std::string>& args) {
    std::vector<std::string> argv{D88RAW_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return d88test::run(argv, {work_.path(), -1});
  }
  std::string image(const Bytes& bytes) { return images_.write("image.d88", bytes); }
  std::string out(const std::string& name = "out.img") const { return work_.file(name); }

  TempDir images_;
  TempDir work_;
};

// What the raw image must hold: for each track and R of the geometry, the
// sector of the track's C and H read through the reader, cut or filled to
// the sector size.
Bytes expectedRaw(const std::string& path, int tracks, int sectors, int firstR, int n,
                  std::uint8_t fill) {
  d88::D88Image reader;
  EXPECT_TRUE(reader.open(path.c_str()));
  EXPECT_TRUE(reader.selectDisk(0));
  const int size = d88::sectorBytes(n);
  Bytes all;
  std::vector<std::uint8_t> sector(static_cast<std::size_t>(size));
  for (int t = 0; t < tracks; ++t) {
    for (int r = firstR; r < firstR + sectors; ++r) {
      std::fill(sector.begin(), sector.end(), fill);
      reader.readSector(t, t / 2, t % 2, r, n, sector.data(), size);
      all.insert(all.end(), sector.begin(), sector.end());
    }
  }
  return all;
}

JsonValue readJson(const std::string& path) {
  const Bytes bytes = readFile(path);
  return d88test::parseJson(std::string(bytes.begin(), bytes.end()));
}

std::string line(const std::string& text) { return text + d88test::kNewline; }

TEST_F(RawCommandTest, ASound2HDDiskIsItsSectorsInOrder) {
  const std::string path = image(d88build::build({d88build::standardDisk(3)}).bytes);
  const RunResult result = raw({"--map", out("map.json"), path, out()});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, line("writing ... " + out() +
                             ": 154x8x1024, sectors 1 to 8 (N 3), 1261568 bytes"));
  EXPECT_EQ(readFile(out()), expectedRaw(path, 154, 8, 1, 3, 0));
  const JsonValue map = readJson(out("map.json"));
  EXPECT_EQ(map["entries"].array.size(), 0u);
  EXPECT_TRUE(map["whole"].boolean);
  EXPECT_EQ(map["geometry"]["tracks"].asInt(), 154);
  EXPECT_EQ(listDir(work_.path()), (std::vector<std::string>{"map.json", "out.img"}));
}

TEST_F(RawCommandTest, A2DDiskIs80TracksOf16SectorsOf256Bytes) {
  Disk disk = d88build::standardDisk(4, 40, 2, 16, 1);
  disk.mediaType = 0x00;
  const std::string path = image(d88build::build({disk}).bytes);
  const RunResult result = raw({path, out()});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(readFile(out()), expectedRaw(path, 80, 16, 1, 1, 0));
  EXPECT_EQ(readFile(out()).size(), 80u * 16u * 256u);
}

// A damaged disk: every kind of doubt once, filler where bytes are missing,
// and each named in the map at its offset.
TEST_F(RawCommandTest, ADamagedDiskIsFilledAndMapped) {
  Disk disk = d88build::standardDisk(5);
  disk.tracks[5].erase(disk.tracks[5].begin() + 3);  // R 4 missing
  disk.tracks[6][1].data.resize(100);                 // R 2 short
  disk.tracks[7][0].status = d88::kStatusDataCrcError;  // R 1 marked bad
  disk.tracks[8][2].c = 9;                             // R 3 of another cylinder: used
  Record twin = disk.tracks[9][0];                     // R 1 again: left out
  twin.data.assign(1024, 0x77);
  disk.tracks[9].push_back(twin);
  Record extra = disk.tracks[10][0];
  extra.r = 9;                                         // R 9: left out
  disk.tracks[10].push_back(extra);
  Record smaller = disk.tracks[11][0];
  smaller.n = 2;                                       // R 1 of 512 bytes: left out
  smaller.data.resize(512);
  disk.tracks[11].push_back(smaller);
  disk.tracks.erase(100);                              // a track of 8 sectors gone
  const Bytes bytes = d88build::build({disk}).bytes;
  const std::string path = image(bytes);

  const RunResult result = raw({"--fill", "0xE5", "--map", out("map.json"), path, out()});
  EXPECT_EQ(result.status, 2);
  const std::vector<std::string> err = d88test::lines(result.err);
  const std::vector<std::string> want = {
      "Warning: " + out() + ": 9 of 1232 sectors are not in the image; the first is track 5 "
                            "(C 2, H 1, R 4, N 3); filled with 0xE5",
      "Warning: " + out() + ": 1 of 1232 sectors are short in the image; the first is track 6 "
                            "(C 3, H 0, R 2, N 3), with 100 of 1024 bytes; the rest filled with 0xE5",
      "Warning: " + out() + ": 1 of 1232 sectors are marked bad in the image; the first is track 7 "
                            "(C 3, H 1, R 1, N 3): data CRC error; copied as they are",
      "Warning: " + out() + ": 1 of 1232 sectors carry a C or H that is not their track's; the "
                            "first is track 8 (C 9, H 0, R 3, N 3); used as they are",
      "Warning: " + out() + ": 1 record repeats the R and N of an earlier one in their track and "
                            "is left out; the first is track 9 (C 4, H 1, R 1, N 3)",
      "Warning: " + out() + ": 1 record has an R outside 1 to 8 and is left out; the first is "
                            "track 10 (C 5, H 0, R 9, N 3)",
      "Warning: " + out() + ": 1 record is not of size N 3 (1024 bytes) and is left out; the "
                            "first is track 11 (C 5, H 1, R 1, N 2)",
  };
  EXPECT_EQ(err, want);

  const Bytes rawBytes = readFile(out());
  ASSERT_EQ(rawBytes.size(), 154u * 8u * 1024u);
  const auto at = [](int track, int r) { return static_cast<std::size_t>((track * 8 + r - 1) * 1024); };
  const auto allFill = [&rawBytes](std::size_t from, std::size_t count) {
    for (std::size_t i = from; i < from + count; ++i) {
      if (rawBytes[i] != 0xE5) return false;
    }
    return true;
  };
  EXPECT_TRUE(allFill(at(5, 4), 1024));
  EXPECT_TRUE(allFill(at(100, 1), 8 * 1024));
  EXPECT_TRUE(allFill(at(6, 2) + 100, 924));
  EXPECT_EQ(rawBytes[at(6, 2)], d88build::patternByte(5, 6, 2, 0));
  EXPECT_EQ(rawBytes[at(7, 1) + 10], d88build::patternByte(5, 7, 1, 10));
  EXPECT_EQ(rawBytes[at(8, 3) + 10], d88build::patternByte(5, 8, 3, 10));
  EXPECT_EQ(rawBytes[at(9, 1) + 10], d88build::patternByte(5, 9, 1, 10));  // not the twin

  const JsonValue map = readJson(out("map.json"));
  EXPECT_FALSE(map["whole"].boolean);
  EXPECT_EQ(map["fill"].asInt(), 0xE5);
  const std::vector<JsonValue>& entries = map["entries"].array;
  ASSERT_EQ(entries.size(), 15u);
  struct Want {
    int track, c, h, r, n;
    const char* kind;
    long long offset;  // -1: none
    int bytes;
    std::vector<std::string> status;
  };
  const Want wanted[] = {
      {5, 2, 1, 4, 3, "missing", static_cast<long long>(at(5, 4)), 0, {"not in the image"}},
      {6, 3, 0, 2, 3, "short", static_cast<long long>(at(6, 2)), 100, {"normal", "short"}},
      {7, 3, 1, 1, 3, "marked bad", static_cast<long long>(at(7, 1)), 1024, {"data CRC error"}},
      {8, 9, 0, 3, 3, "other C/H", static_cast<long long>(at(8, 3)), 1024, {"normal", "C/H not the track's"}},
      {9, 4, 1, 1, 3, "twin", -1, 0, {"normal"}},
      {10, 5, 0, 9, 3, "extra", -1, 0, {"normal"}},
      {11, 5, 1, 1, 2, "other size", -1, 0, {"normal"}},
      {100, 50, 0, 1, 3, "missing", static_cast<long long>(at(100, 1)), 0, {"not in the image"}},
  };
  for (const Want& w : wanted) {
    SCOPED_TRACE(std::string(w.kind) + " at track " + std::to_string(w.track));
    bool found = false;
    for (const JsonValue& e : entries) {
      if (e["track"].asInt() != w.track || e["r"].asInt() != w.r || e["kind"].string != w.kind) continue;
      found = true;
      EXPECT_EQ(e["c"].asInt(), w.c);
      EXPECT_EQ(e["h"].asInt(), w.h);
      EXPECT_EQ(e["n"].asInt(), w.n);
      if (w.offset >= 0) {
        EXPECT_EQ(static_cast<long long>(e["offset"].number), w.offset);
        EXPECT_EQ(e["bytes"].asInt(), w.bytes);
      } else {
        EXPECT_EQ(e.object.count("offset"), 0u);
      }
      std::vector<std::string> words;
      for (const JsonValue& word : e["status"].array) words.push_back(word.string);
      EXPECT_EQ(words, w.status);
    }
    EXPECT_TRUE(found);
  }
}

TEST_F(RawCommandTest, AGeometryThatDisagreesWithTheDiskIsWrittenAsAsked) {
  const std::string path = image(d88build::build({d88build::standardDisk(6)}).bytes);
  struct Case {
    const char* geometry;
    int tracks, sectors, n;
    const char* firstWarning;  // the start of the first warning line; "" for none
    int status;
  };
  const Case cases[] = {
      // More tracks and sectors than the disk: the rest is filler.
      {"160x16x1024", 160, 16, 3, ": 1328 of 2560 sectors are not in the image", 2},
      // Fewer: what is left out of the raw image is only what lies past it.
      {"10x4x0x400", 10, 4, 3, ": 40 records have an R outside 1 to 4", 2},
      // Tracks past T: their records are named too.
      {"150x8x1024", 150, 8, 3, ": 32 records stand on tracks past 149", 2},
      // Another size: every sector missing, every record of another size.
      {"154x8x512", 154, 8, 2, ": 1232 of 1232 sectors are not in the image", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.geometry);
    const RunResult result = raw({"--geometry", c.geometry, path, out()});
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_EQ(readFile(out()), expectedRaw(path, c.tracks, c.sectors, 1, c.n, 0));
    EXPECT_EQ(result.err.rfind("Warning: " + out() + c.firstWarning, 0), 0u) << result.err;
  }
}

// Two ranges of sector numbers, each the range of one track: the geometry
// takes the lower range (R 1 to 4), though the track that comes first in the
// disk holds the higher one (R 2 to 5).
TEST_F(RawCommandTest, ATieBetweenSectorRangesTakesTheLowestRange) {
  const auto track = [](int t, int firstR) {
    std::vector<Record> records;
    for (int r = firstR; r < firstR + 4; ++r) {
      Record rec;
      rec.c = static_cast<std::uint8_t>(t / 2);
      rec.h = static_cast<std::uint8_t>(t % 2);
      rec.r = static_cast<std::uint8_t>(r);
      rec.data = d88build::sectorPattern(11, t, r, 128);
      records.push_back(rec);
    }
    return records;
  };
  Disk disk;
  disk.tracks[0] = track(0, 2);
  disk.tracks[1] = track(1, 1);
  const std::string path = image(d88build::build({disk}).bytes);

  const RunResult result = raw({"--fill", "0xE5", path, out()});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, line("writing ... " + out() + ": 2x4x128, sectors 1 to 4 (N 0), 1024 bytes"));
  EXPECT_EQ(d88test::lines(result.err),
            (std::vector<std::string>{
                "Warning: " + out() + ": 1 of 8 sectors are not in the image; the first is track 0 "
                                      "(C 0, H 0, R 1, N 0); filled with 0xE5",
                "Warning: " + out() + ": 1 record has an R outside 1 to 4 and is left out; the "
                                      "first is track 0 (C 0, H 0, R 5, N 0)"}));
  Bytes expected(128, 0xE5);  // track 0 has no R 1; its R 5 is left out
  for (int t = 0; t < 2; ++t) {
    for (int r = t == 0 ? 2 : 1; r <= 4; ++r) {
      const Bytes sector = d88build::sectorPattern(11, t, r, 128);
      expected.insert(expected.end(), sector.begin(), sector.end());
    }
  }
  EXPECT_EQ(readFile(out()), expected);
}

// 0, 2 and 1 tell the outcomes apart; a failure leaves the folder as it was.
TEST_F(RawCommandTest, ExitStatusTellsTheOutcomesApart) {
  const Bytes sound = d88build::build({d88build::standardDisk(7)}).bytes;
  Bytes bad = sound;
  Disk damaged = d88build::standardDisk(7);
  damaged.tracks[3][3].status = d88::kStatusNoDataMark;
  const Bytes marked = d88build::build({damaged}).bytes;
  Bytes noise(600);  // shorter than a disk header
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = d88build::patternByte(9, 0, 0, i);
  Disk empty;
  const Bytes emptyDisk = d88build::build({empty}).bytes;

  struct Case {
    const char* what;
    const Bytes* bytes;  // nullptr: an image that does not exist
    std::vector<std::string> options;
    int status;
    const char* err;  // a part of standard error; "" for none
  };
  const Case cases[] = {
      {"sound", &sound, {}, 0, ""},
      {"sound, options in both forms", &sound, {"--fill=255", "--disk", "0x0", "--geometry=154x8x1024"}, 0, ""},
      {"a sector marked bad", &marked, {}, 2, "marked bad in the image"},
      {"no image", nullptr, {}, 1, "d88raw: cannot open"},
      {"no disk", &noise, {}, 1, "holds no D88 disk"},
      {"a disk without sectors", &emptyDisk, {}, 1, "holds no sectors to lay out; --geometry"},
      {"a disk without sectors, laid out", &emptyDisk, {"--geometry", "2x2x128"}, 2, "4 of 4 sectors"},
      {"no such disk", &sound, {"--disk", "3"}, 1, "holds 1 disk; there is no disk 3"},
      {"a fill that is no byte", &sound, {"--fill", "256"}, 1, "--fill 256: not a byte"},
      {"a fill with a sign", &sound, {"--fill", "-1"}, 1, "--fill -1: not a byte"},
      {"B not 128 << n", &sound, {"--geometry", "80x16x300"}, 1, "B must be 128 << n"},
      {"too many tracks", &sound, {"--geometry", "165x8x1024"}, 1, "T must be 1 to 164"},
      {"no sectors", &sound, {"--geometry", "80x0x1024"}, 1, "S must be 1 to 255"},
      {"no sectors, B in hex", &sound, {"--geometry", "80x0x0x400"}, 1, "S must be 1 to 255"},
      {"too many sectors", &sound, {"--geometry", "80x256x256"}, 1, "S must be 1 to 255"},
      {"too large", &sound, {"--geometry", "164x255x0x100000"}, 1, "a raw image is at most 536870912 bytes"},
      {"not TxSxB", &sound, {"--geometry", "80x16"}, 1, "expected TxSxB"},
      {"a fifth number", &sound, {"--geometry", "80x2x8x1024x1"}, 1, "expected TxSxB"},
      {"three heads", &sound, {"--geometry", "40x3x8x1024"}, 1, "H must be 1 or 2 heads"},
      {"two-head cylinders past the table", &sound, {"--geometry", "83x2x8x1024"}, 1,
       "C must be 1 to 82 cylinders of 2 heads"},
      {"a trailing x", &sound, {"--geometry", "80x8x1024x"}, 1, "expected TxSxB"},
      {"an option without its value", &sound, {"--map"}, 1, "option --map needs a value"},
      {"an unknown option", &sound, {"--frobnicate"}, 1, "unknown option --frobnicate"},
      {"a map to standard output", &sound, {"--map", "-"}, 1, "MAP.json cannot be - (standard output)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = c.bytes != nullptr ? image(*c.bytes) : images_.file("absent.d88");
    std::vector<std::string> args = c.options;
    if (c.options != std::vector<std::string>{"--map"}) {
      args.push_back(path);
      args.push_back(out());
    }
    const RunResult result = raw(args);
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
    if (c.status == 1) {
      EXPECT_EQ(listDir(work_.path()), std::vector<std::string>{});
    } else {
      EXPECT_EQ(listDir(work_.path()), std::vector<std::string>{"out.img"});
    }
    std::remove(out().c_str());
  }
}

TEST_F(RawCommandTest, TheImageItselfIsNeverOverwritten) {
  const Bytes sound = d88build::build({d88build::standardDisk(8)}).bytes;
  const std::string path = image(sound);
  for (const auto& args : {std::vector<std::string>{path, path},
                           std::vector<std::string>{"--map", path, path, out()}}) {
    const RunResult result = raw(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("it is the image being converted"), std::string::npos) << result.err;
    EXPECT_EQ(readFile(path), sound);
  }
  EXPECT_EQ(listDir(work_.path()), std::vector<std::string>{});
}

// OUT and the map are checked together before anything is written: one that
// is the image, the other file, a folder, a FIFO or a device stops the run
// with one line, and every earlier file stays as it was.
TEST_F(RawCommandTest, OutputsThatCannotBeWrittenStopTheRunBeforeAnyIsReplaced) {
  const Bytes sound = d88build::build({d88build::standardDisk(8)}).bytes;
  namespace fs = std::filesystem;
  struct Case {
    const char* what;
    void (*prepare)(const std::string& dir);
    std::vector<std::string> args;  // IMAGE stands for the image's path
    std::string err;
  };
  const Case cases[] = {
      {"a map that is a folder", [](const std::string& dir) { fs::create_directory(dir + "/map.json"); },
       {"--map", "map.json", "IMAGE", "out.img"}, "Error: cannot write map.json: it is a folder"},
      {"a map that is OUT by another name, neither there yet", nullptr,
       {"--map", "./o.img", "IMAGE", "o.img"}, "Error: the map and the raw image cannot both be o.img"},
      {"a map that is OUT", nullptr, {"--map", "out.img", "IMAGE", "out.img"},
       "Error: the map and the raw image cannot both be out.img"},
      {"OUT in a folder that does not exist", nullptr, {"IMAGE", "nodir/out.img"},
       "Error: cannot write nodir/out.img: No such file or directory"},
#ifndef _WIN32
      {"a map in a folder that is a file", nullptr, {"--map", "out.img/map.json", "IMAGE", "o.img"},
       "Error: cannot write out.img/map.json: Not a directory"},
      {"OUT of a name longer than the system takes", nullptr, {"IMAGE", std::string(256, 'o')},
       "Error: cannot write " + std::string(256, 'o') + ": File name too long"},
#endif
      {"a map that is the image through a link",
       [](const std::string& dir) { fs::create_hard_link(dir + "/../image.d88", dir + "/map.json"); },
       {"--map", "map.json", "IMAGE", "out.img"},
       "Error: cannot write map.json: it is the image being converted"},
#ifndef _WIN32
      {"OUT that is a FIFO", [](const std::string& dir) { ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0); },
       {"IMAGE", "fifo"}, "Error: cannot write fifo: it is a FIFO (named pipe)"},
      {"OUT that is a device", nullptr, {"IMAGE", "/dev/null"},
       "Error: cannot write /dev/null: it is a device"},
      {"a map that is a device", nullptr, {"--map", "/dev/null", "IMAGE", "out.img"},
       "Error: cannot write /dev/null: it is a device"},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir top;
    const std::string imagePath = top.write("image.d88", sound);
    const std::string dir = top.file("work");
    fs::create_directory(dir);
    d88build::writeFile(dir + "/out.img", Bytes(7, 7));  // an earlier output
    if (c.prepare != nullptr) c.prepare(dir);
    const auto before = listDir(dir);
    std::vector<std::string> argv{D88RAW_PATH};
    for (const std::string& arg : c.args) argv.push_back(arg == "IMAGE" ? imagePath : arg);
    const RunResult result = d88test::run(argv, {dir, -1});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, line(c.err));
    EXPECT_EQ(listDir(dir), before);
    EXPECT_EQ(readFile(dir + "/out.img"), Bytes(7, 7));
    EXPECT_EQ(readFile(imagePath), sound);
  }
}

// A name as long as the system takes is written: the temporaries' names are
// shortened, not the user's.
TEST_F(RawCommandTest, AnOutOfTheLongestNameIsWritten) {
  const Bytes sound = d88build::build({d88build::standardDisk(8)}).bytes;
  const std::string name = std::string(251, 'o') + ".img";
  const std::string map = std::string(250, 'm') + ".json";
  const RunResult result = raw({"--map", map, image(sound), name});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(readFile(out(name)), expectedRaw(image(sound), 154, 8, 1, 3, 0));
  EXPECT_EQ(listDir(work_.path()), (std::vector<std::string>{map, name}));
}

// Two runs at once into the same OUT and map: each finishes, and the map
// that stands always describes the raw image beside it.
TEST_F(RawCommandTest, TwoRunsAtOnceNeverLeaveOneRunsMapBesideTheOthersImage) {
#ifdef _WIN32
  constexpr int kPairs = 6;  // every process start is slow under Wine
#else
  constexpr int kPairs = 25;
#endif
  const std::string images[2] = {
      images_.write("a.d88", d88build::build({d88build::standardDisk(1)}).bytes),
      images_.write("b.d88", d88build::build({d88build::standardDisk(2, 10)}).bytes)};
  for (int pair = 0; pair < kPairs; ++pair) {
    SCOPED_TRACE("pair " + std::to_string(pair));
    d88test::Process first =
        d88test::start({D88RAW_PATH, "--map", "map.json", images[0], "out.img"}, {work_.path(), -1});
    d88test::Process second =
        d88test::start({D88RAW_PATH, "--map", "map.json", images[1], "out.img"}, {work_.path(), -1});
    for (d88test::Process* process : {&first, &second}) {
      const RunResult result = d88test::finish(*process);
      ASSERT_EQ(result.status, 0) << result.err;
    }
    ASSERT_EQ(listDir(work_.path()), (std::vector<std::string>{"map.json", "out.img"}));
    const JsonValue map = readJson(out("map.json"));
    const JsonValue& geometry = map["geometry"];
    const std::size_t bytes = static_cast<std::size_t>(geometry["tracks"].number *
                                                       geometry["sectors"].number *
                                                       geometry["sectorBytes"].number);
    ASSERT_EQ(readFile(out("out.img")).size(), bytes);
  }
}

TEST_F(RawCommandTest, HelpAndVersionAnswerOnStandardOutput) {
  EXPECT_EQ(raw({"--version"}).out, line(std::string("d88raw ") + D88_VERSION));
  const RunResult help = raw({"-h"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--geometry TxSxB"), std::string::npos);
  EXPECT_EQ(raw({}).status, 1);
}

}  // namespace
