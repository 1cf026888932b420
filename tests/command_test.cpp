// The d88cut command, run as a process in a scratch folder: its messages,
// exit statuses and the twenty files it writes.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <d88/d88_image.h>

#include "planned_files.h"
#include "test_support.h"

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

// The disk number is not read: disk 0 is cut whatever it says, and a number
// other than 0 earns one note, with the cut and the status unchanged.
TEST_F(CommandTest, ASecondArgumentIsNotReadAndDiskZeroIsCut) {
  const Bytes two =
      d88build::build({d88build::standardDisk(0), d88build::standardDisk(1)}).bytes;
  const std::string note = std::string("Note: the disk number is not read; disk 0 is cut") +
                           d88test::kNewline;
  const std::pair<std::vector<std::string>, bool> cases[] = {
      {{"0"}, false}, {{"000"}, false}, {{"1"}, true}, {{"3"}, true},
  };
  for (const auto& [extra, noted] : cases) {
    SCOPED_TRACE(extra[0]);
    std::vector<std::string> args{image(two)};
    args.insert(args.end(), extra.begin(), extra.end());
    const RunResult result = cut(args);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, progressLines());
    EXPECT_EQ(result.err, noted ? note : "");
    EXPECT_EQ(readFile(work_.file("PROG")), expected(kPlan[0]));
  }
}

// One image at a time: another image, or anything but a disk number, where
// the disk number stands, and anything after it, stop the run before
// anything is read or written, so that `d88cut *.d88` says what it did not do.
TEST_F(CommandTest, MoreThanOneImageIsRefusedAndNothingIsCut) {
  const std::string other = image(standardImage());
  const struct {
    std::vector<std::string> extra;
    std::string err;
  } cases[] = {
      {{"b.d88"}, "Error: one image at a time: b.d88 is not a disk number"},
      {{"b.d88", "c.d88"}, "Error: one image at a time: b.d88 is not a disk number"},
      {{"0", "more"}, "Error: one image at a time: more is not read"},
      {{"1", "c.d88"}, "Error: one image at a time: c.d88 is not read"},
      {{"-"}, "Error: one image at a time: - is not a disk number"},
      {{""}, "Error: one image at a time:  is not a disk number"},
      {{"0x1"}, "Error: one image at a time: 0x1 is not a disk number"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    std::vector<std::string> args{other};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const RunResult result = cut(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, c.err + d88test::kNewline);
    EXPECT_EQ(outputs(), std::vector<std::string>{});
  }
}

// Options: --help and --version answer on standard output and cut nothing;
// "--" makes the next argument the image whatever its name; any other
// argument that begins with "--" is refused.
TEST_F(CommandTest, OptionsAnswerOrAreRefusedAndCutNothing) {
  // The usage as called (on standard error), and --help's, which names the
  // program without its folder and shows every option.
  const std::string usage = std::string("Usage: ") + D88CUT_PATH + " [d88file] (DiskNo.)";
  const std::string helpUsage = "Usage: d88cut [-o|--output DIR] [--spare SPARE]... [--] IMAGE [DISK]";
  const std::string path = image(standardImage());
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string outStart;  // standard output begins with this
    std::string errPart;   // standard error is one line holding this, or empty
  };
  const Case cases[] = {
      {{"--version"}, 0, std::string("d88cut ") + D88_VERSION + d88test::kNewline, ""},
      {{"--help"}, 0, helpUsage + d88test::kNewline, ""},
      {{path, "--help"}, 0, helpUsage, ""},
      {{"--version", path}, 0, "d88cut ", ""},
      {{"-V"}, 0, std::string("d88cut ") + D88_VERSION + d88test::kNewline, ""},
      {{"-h"}, 0, helpUsage + d88test::kNewline, ""},
      {{"--bogus", path}, 1, "", "unknown option --bogus"},
      {{"-x", path}, 1, "", "unknown option -x"},
      {{path, "-1"}, 1, "", "unknown option -1"},
      {{"-o"}, 1, "", "option -o needs a folder"},
      {{"--output=", path}, 1, "", "option --output= needs a folder"},
      {{"--"}, 1, "", usage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const RunResult result = cut(c.args);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out.rfind(c.outStart, 0), 0u) << result.out;
    if (c.errPart.empty()) {
      EXPECT_EQ(result.err, "");
    } else {
      ASSERT_EQ(lines(result.err).size(), 1u) << result.err;
      EXPECT_NE(result.err.find(c.errPart), std::string::npos) << result.err;
    }
    EXPECT_TRUE(outputs().empty());
  }
  EXPECT_NE(cut({"--help"}).out.find("--version"), std::string::npos);

  // Images called --help and -h, after "--".
  for (const char* name : {"--help", "-h"}) {
    d88build::writeFile(work_.file(name), standardImage());
    const RunResult named = cut({"--", name});
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(named.out, progressLines());
    EXPECT_EQ(readFile(work_.file("MA002")), expected(kPlan[5]));
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
  // Then the same, readable on a UTF-8 terminal, with the system's reason.
  const std::string reason = "d88cut: cannot open " + images_.file("missing.d88") +
                             ": No such file or directory" + d88test::kNewline;
  EXPECT_EQ(result.err, message + reason);
  EXPECT_TRUE(outputs().empty());
}

#ifndef _WIN32
// "-" is standard input: a regular file behind it is read at offsets, a pipe
// is read into memory; either way the cut is the same as from the file.
TEST_F(CommandTest, StandardInputCutsTheSameFilesFromAFileOrAPipe) {
  const std::string path = image(standardImage());
  for (const bool pipe : {false, true}) {
    SCOPED_TRACE(pipe ? "a pipe" : "a file");
    std::filesystem::remove_all(work_.path());
    std::filesystem::create_directory(work_.path());
    d88test::RunOptions options(work_.path());
    if (pipe) {
      options.stdinBytes = standardImage();
    } else {
      options.stdinFile = path;
    }
    const RunResult result = d88test::run({D88CUT_PATH, "-"}, options);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, progressLines());
    ASSERT_EQ(outputs(), sortedPlannedNames());
    for (const PlannedFile& f : kPlan) EXPECT_EQ(readFile(work_.file(f.name)), expected(f)) << f.name;
  }
  // A pipe that holds no disk is told apart from one that cannot be read.
  d88test::RunOptions empty(work_.path());
  empty.stdinBytes = Bytes(100, 0);
  const RunResult result = d88test::run({D88CUT_PATH, "-"}, empty);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Error: - holds no D88 disk (no complete 688-byte disk header)\n");
}

// A folder opens but cannot be read: the system's reason, nothing written.
TEST_F(CommandTest, AFolderIsAReadErrorWithItsReason) {
  const RunResult result = cut({images_.path()});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Error: cannot read " + images_.path() + ": Is a directory\n");
  EXPECT_TRUE(outputs().empty());
}
#endif

// A size field of 2^31 or more is an unsigned size like any other: past the
// end of the file here, so every track is inside the disk.
TEST_F(CommandTest, ASizeFieldOf2To31OrMoreIsUnsigned) {
  for (const std::uint32_t size : {0x80000000u, 0xFFFFFFFFu, 0x7FFFFFFFu}) {
    SCOPED_TRACE(size);
    Bytes bytes = standardImage();
    d88build::putLE32(bytes, 0x1C, size);
    const RunResult result = cut({image(bytes)});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    for (const PlannedFile& f : kPlan) EXPECT_EQ(readFile(work_.file(f.name)), expected(f)) << f.name;
  }
}

// Control characters in a name never reach a message raw: no name can forge
// a line of output.
TEST_F(CommandTest, ControlCharactersInNamesAreEscapedInMessages) {
  const RunResult result = cut({images_.file("x\nd88cut: fake line")});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(lines(result.err).size(), 2u) << result.err;
  EXPECT_NE(result.err.find("x\\x0Ad88cut: fake line"), std::string::npos) << result.err;
}

// ---- damaged images --------------------------------------------------------

// The standard disk damaged by `damage`, as the only disk of an image.
template <typename Damage>
Bytes damaged(Damage&& damage) {
  Disk disk = d88build::standardDisk();
  damage(disk);
  return d88build::build({disk}).bytes;
}

// A planned file's expected bytes with the given 1,024-byte slots (from the
// file's start) zeroed from `from` bytes into the slot on.
Bytes withZeroedSlot(const PlannedFile& file, int slot, int from = 0) {
  Bytes bytes = expected(file);
  const auto start = bytes.begin() + slot * kSector;
  std::fill(start + from, start + kSector, 0);
  return bytes;
}

struct DamageCase {
  const char* what;
  Bytes (*image)();
  int file;                 // index into kPlan of the file the damage touches
  Bytes (*bytes)();         // that file's exact bytes after the run
  std::vector<std::string> err;  // standard error, line by line; IMAGE stands for the path
  int status;
};

const DamageCase kDamageCases[] = {
    {"a sector renumbered in the middle of PROG",
     [] { return damaged([](Disk& d) { d.tracks[61][2].r = 9; }); }, 0,
     [] { return withZeroedSlot(kPlan[0], 8 + 2); },
     {"Warning: PROG is incomplete: 1 of 80 sectors could not be read, the first at track 61 "
      "(C 30, H 1, R 3, N 3); their bytes are written as zero"},
     2},
    {"a short sector",
     [] { return damaged([](Disk& d) { d.tracks[45][4].data.resize(512); }); }, 18,
     [] { return withZeroedSlot(kPlan[18], 0, 512); },
     {"Warning: MB006 is incomplete: 1 of 1 sectors could not be read, the first at track 45 "
      "(C 22, H 1, R 5, N 3); their bytes are written as zero"},
     2},
    {"a sector marked with a data CRC error",
     [] { return damaged([](Disk& d) { d.tracks[40][3].status = d88::kStatusDataCrcError; }); }, 4,
     [] { return expected(kPlan[4]); },
     {"Warning: MA001: 1 of 5 sectors are marked bad in the image, the first at track 40 "
      "(C 20, H 0, R 4, N 3): data CRC error; their bytes are copied as they are"},
     2},
    {"a deleted-data sector is sound",
     [] {
       return damaged([](Disk& d) {
         d.tracks[39][4].status = d88::kStatusDeletedData;
         d.tracks[39][4].deletedMark = d88::kDeletedDataMark;
       });
     },
     12, [] { return expected(kPlan[12]); }, {}, 0},
    {"a record count that runs into the next disk",
     [] {
       // Track 69 ends the disk without its R 8, yet its records say 8; the
       // next disk's header begins like the record (34, 1, 8, 3) of 1,024 bytes.
       Disk first = d88build::standardDisk(0, 35);
       first.tracks[69].pop_back();
       for (d88build::Record& rec : first.tracks[69]) rec.sectorCount = 8;
       Disk next = d88build::standardDisk(1, 35);
       next.name = std::string("\x22\x01\x08\x03\x08\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x04", 16);
       return d88build::build({first, next}).bytes;
     },
     0, [] { return withZeroedSlot(kPlan[0], 79); },
     {"Warning: PROG is incomplete: 1 of 80 sectors could not be read, the first at track 69 "
      "(C 34, H 1, R 8, N 3); their bytes are written as zero"},
     2},
    {"random bytes are no D88 image and leave earlier outputs as they were",
     [] {
       Bytes noise(2000);
       for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = d88build::patternByte(7, 0, 0, i);
       return noise;
     },
     0, [] { return Bytes(10, 0xEE); },
     {"Error: IMAGE is not a D88 image: its first disk header breaks 4 of the format's rules "
      "(the size field, 499814564, is larger than the file; the write-protect byte is 0x36, not "
      "0x00 or 0x10; the media byte 0x8A is unknown; track 0 points past the end of the file) "
      "and no track of its first disk holds a sector record"},
     1},
    {"a disk of other sectors leaves earlier outputs as they were",
     [] { return d88build::build({d88build::standardDisk(0, 40, 2, 16, 1)}).bytes; },
     0, [] { return Bytes(10, 0xEE); },
     {"Error: IMAGE holds none of the sectors d88cut reads on disk 0; nothing is written",
      "Note: disk 0 holds 80 tracks, 16 sectors/track, N 1; d88ls IMAGE lists it"},
     1},
};

// Every readable byte of a damaged disk reaches the files, every doubtful
// sector is named once per file, and a disk with nothing to salvage changes
// nothing in the folder.
TEST_F(CommandTest, DamagedImagesAreSalvagedAndNamed) {
  for (const DamageCase& c : kDamageCases) {
    SCOPED_TRACE(c.what);
    for (const PlannedFile& f : kPlan) d88build::writeFile(work_.file(f.name), Bytes(10, 0xEE));
    const std::string path = image(c.image());
    const RunResult result = cut({path});

    EXPECT_EQ(result.status, c.status);
    std::vector<std::string> err = c.err;
    for (std::string& line : err) {
      const std::size_t at = line.find("IMAGE");
      if (at != std::string::npos) line.replace(at, 5, path);
    }
    EXPECT_EQ(lines(result.err), err);
    const bool nothingWritten = !c.err.empty() && c.err[0].rfind("Error:", 0) == 0;
    EXPECT_EQ(result.out, nothingWritten ? "" : progressLines());
    EXPECT_EQ(readFile(work_.file(kPlan[c.file].name)), c.bytes());
    for (const PlannedFile& f : kPlan) {
      if (&f == &kPlan[c.file]) continue;
      EXPECT_EQ(readFile(work_.file(f.name)), nothingWritten ? Bytes(10, 0xEE) : expected(f))
          << f.name;
    }
    EXPECT_EQ(outputs(), sortedPlannedNames());
  }
}

// Several damaged sectors in one file: each kind is named once, with the
// count and the first in run order.
TEST_F(CommandTest, EachKindOfDamageIsNamedOncePerFile) {
  const RunResult result = cut({image(damaged([](Disk& d) {
    d.tracks[64].erase(d.tracks[64].begin() + 5);
    d.tracks[63].erase(d.tracks[63].begin() + 1);
    d.tracks[66][0].status = d88::kStatusIdCrcError;
    d.tracks[62][7].status = 0x42;
  }))});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(lines(result.err),
            (std::vector<std::string>{
                "Warning: PROG is incomplete: 2 of 80 sectors could not be read, the first at "
                "track 63 (C 31, H 1, R 2, N 3); their bytes are written as zero",
                "Warning: PROG: 2 of 80 sectors are marked bad in the image, the first at track 62 "
                "(C 31, H 0, R 8, N 3): unknown status 0x42; their bytes are copied as they are"}));
}

// ---- exit statuses and the output folder -----------------------------------

// The copy of d88cut that the folder tests run: in a folder anyone may read,
// so that it also runs as an ordinary user when the tests run as root.
std::string runnableCopy(const TempDir& dir) {
  const std::string copy = dir.file("d88cut-copy");
  if (!std::filesystem::exists(copy)) {
    std::filesystem::copy_file(D88CUT_PATH, copy);
    std::filesystem::permissions(copy, std::filesystem::perms::all);
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
  }
  return copy;
}

// Each outcome of a cut has its status, so that scripts need not read
// standard error: 0 whole, 2 written with gaps or marks, 1 nothing or not all
// written. Run as an ordinary user, so that permissions hold as for users.
TEST_F(CommandTest, ExitStatusTellsTheOutcomesApart) {
  const std::string program = runnableCopy(images_);
  const std::string whole = images_.write("whole.d88", standardImage());
  const std::string salvaged = images_.write(
      "salvaged.d88", damaged([](Disk& d) { d.tracks[40][3].status = d88::kStatusDataCrcError; }));
  const std::string junk = images_.write("junk.d88", Bytes(5000, 0x42));
  namespace fs = std::filesystem;
  struct Case {
    const char* what;
    std::string image;
    std::function<void(const std::string&)> prepare;  // the output folder, before the run
    int status;
    std::string errStart;  // the first line of standard error begins so; empty: no message
    bool allWritten;
  };
  const Case cases[] = {
      {"whole", whole, [](const std::string&) {}, 0, "", true},
      {"salvaged", salvaged, [](const std::string&) {}, 2, "Warning: MA001: 1 of 5", true},
      {"junk", junk, [](const std::string&) {}, 1, "Error: ", false},
#ifndef _WIN32
      {"a folder that takes no files", whole,
       [](const std::string& dir) { fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read |
                                                             fs::perms::group_exec | fs::perms::others_read |
                                                             fs::perms::others_exec); },
       1, "Error: cannot write into ", false},
      {"a read-only earlier output", whole,
       [](const std::string& dir) {
         d88build::writeFile(dir + "/VD001", Bytes(7, 0xEE));
         fs::permissions(dir + "/VD001", fs::perms::owner_read | fs::perms::group_read |
                                             fs::perms::others_read);
       },
       1, "Error: cannot write VD001: Permission denied", false},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir out;
    fs::permissions(out.path(), fs::perms::all);
    c.prepare(out.path());
    d88test::RunOptions options(out.path());
    options.asOrdinaryUser = true;
    const RunResult result = d88test::run({program, c.image}, options);
    EXPECT_EQ(result.status, c.status) << result.err;
    if (c.errStart.empty()) {
      EXPECT_EQ(result.err, "");
    } else {
      EXPECT_EQ(result.err.rfind(c.errStart, 0), 0u) << result.err;
    }
    if (c.allWritten) {
      EXPECT_EQ(listDir(out.path()), sortedPlannedNames());
    }
  }
#ifndef _WIN32
  // The folder that takes no files gets one line, and the read-only file
  // stays as it was while the others are written.
  TempDir locked;
  fs::permissions(locked.path(), fs::perms::owner_all | fs::perms::others_exec);
  d88test::RunOptions asUser(locked.path());
  asUser.asOrdinaryUser = true;
  const RunResult refused = d88test::run({program, whole}, asUser);
  EXPECT_EQ(lines(refused.err).size(), 1u) << refused.err;
  EXPECT_NE(refused.err.find("Permission denied; the remaining files are not written"),
            std::string::npos) << refused.err;
  TempDir kept;
  fs::permissions(kept.path(), fs::perms::all);
  d88build::writeFile(kept.file("VD001"), Bytes(7, 0xEE));
  fs::permissions(kept.file("VD001"), fs::perms::owner_read | fs::perms::others_read);
  d88test::RunOptions keep(kept.path());
  keep.asOrdinaryUser = true;
  const RunResult partly = d88test::run({program, whole}, keep);
  EXPECT_EQ(readFile(kept.file("VD001")), Bytes(7, 0xEE));
  EXPECT_EQ(readFile(kept.file("MB007")), expected(kPlan[19]));
  EXPECT_EQ(lines(partly.err).size(), 1u) << partly.err;
#endif
}

// -o writes the files into a folder, made when missing (but not its
// parents); the current folder stays untouched.
TEST_F(CommandTest, OutputFolderIsMadeAndFilled) {
  const std::string path = image(standardImage());
  for (const std::vector<std::string>& option :
       {std::vector<std::string>{"-o", "new"}, {"--output", "new"}, {"--output=new"}, {"-onew"}}) {
    SCOPED_TRACE(option[0]);
    std::filesystem::remove_all(work_.file("new"));
    std::vector<std::string> args = option;
    args.push_back(path);
    const RunResult result = cut(args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, progressLines());
    EXPECT_EQ(outputs(), std::vector<std::string>{"new"});
    ASSERT_EQ(listDir(work_.file("new")), sortedPlannedNames());
    for (const PlannedFile& f : kPlan) {
      EXPECT_EQ(readFile(work_.file(std::string("new/") + f.name)), expected(f));
    }
  }
  const RunResult noParent = cut({"-o", "missing/new", path});
  EXPECT_EQ(noParent.status, 1);
  EXPECT_EQ(noParent.err, std::string("Error: cannot write into missing/new: No such file or "
                                      "directory; nothing is written") +
                              d88test::kNewline);
  EXPECT_FALSE(std::filesystem::exists(work_.file("missing")));
  // Nothing to cut: no folder is made.
  const RunResult junk = cut({"-o", "junk", image(Bytes(100, 0))});
  EXPECT_EQ(junk.status, 1);
  EXPECT_FALSE(std::filesystem::exists(work_.file("junk")));
}


// An output name that holds a folder, or that is the image itself by any
// name, stops the run before any file is written: earlier outputs and the
// image stay as they were, and one line says which output and why.
TEST_F(CommandTest, AnOutputThatCannotBeReplacedStopsTheRunBeforeAnythingIsWritten) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    void (*prepare)(const std::string& dir);
    const char* err;
  };
  const Case cases[] = {
      {"a folder named MA003", {"image.d88"},
       [](const std::string& dir) { std::filesystem::create_directory(dir + "/MA003"); },
       "Error: cannot write MA003: it is a folder"},
      {"the image named PROG", {"PROG"}, nullptr, "Error: cannot write PROG: it is the image being cut"},
      {"the image named ./VD001, cut into .", {"./VD001"}, nullptr,
       "Error: cannot write VD001: it is the image being cut"},
      {"a link MB007 to the image", {"image.d88"},
       [](const std::string& dir) {
         std::filesystem::create_hard_link(dir + "/image.d88", dir + "/MB007");
       },
       "Error: cannot write MB007: it is the image being cut"},
#ifndef _WIN32
      {"a FIFO named MA000", {"image.d88"},
       [](const std::string& dir) { ASSERT_EQ(mkfifo((dir + "/MA000").c_str(), 0600), 0); },
       "Error: cannot write MA000: it is a FIFO (named pipe)"},
      {"a symbolic link MB000 to the image", {"image.d88"},
       [](const std::string& dir) { std::filesystem::create_symlink("image.d88", dir + "/MB000"); },
       "Error: cannot write MB000: it is the image being cut"},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string imageName = c.args.back().substr(c.args.back().find_last_of('/') + 1);
    d88build::writeFile(dir.file(imageName), standardImage());
    d88build::writeFile(dir.file("VD000"), Bytes(3, 1));  // an earlier output
    if (c.prepare != nullptr) c.prepare(dir.path());
    const auto before = listDir(dir.path());
    const RunResult result = d88test::run({D88CUT_PATH, c.args.back()}, {dir.path(), -1});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, c.err + std::string(d88test::kNewline));
    EXPECT_EQ(listDir(dir.path()), before);
    EXPECT_EQ(readFile(dir.file(imageName)), standardImage());
    EXPECT_EQ(readFile(dir.file("VD000")), Bytes(3, 1));
  }
}

TEST_F(CommandTest, AnImageNamedLikeAnOutputIsNeverReplaced) {
  const std::string path = work_.file("PROG");
  d88build::writeFile(path, standardImage());
#ifndef _WIN32
  // The same file redirected to standard input is the image too.
  d88test::RunOptions redirected(work_.path());
  redirected.stdinFile = path;
  const RunResult fromInput = d88test::run({D88CUT_PATH, "-"}, redirected);
  EXPECT_EQ(fromInput.status, 1);
  EXPECT_EQ(fromInput.err, "Error: cannot write PROG: it is the image being cut\n");
  EXPECT_EQ(readFile(path), standardImage());
  EXPECT_EQ(outputs(), std::vector<std::string>{"PROG"});
#endif
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
