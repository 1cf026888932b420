// The d88split command, run as a process: the parts of a multi-disk file,
// put back together, are the file; names, folders and failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using d88build::Bytes;
using d88build::Disk;
using d88test::listDir;
using d88test::readFile;
using d88test::RunResult;
using d88test::TempDir;

class SplitCommandTest : public ::testing::Test {
 protected:
  RunResult split(const std::vector<std::string>& args, const d88test::RunOptions& options) {
    std::vector<std::string> argv{D88SPLIT_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return d88test::run(argv, options);
  }
  RunResult split(const std::vector<std::string>& args) { return split(args, {work_.path(), -1}); }

  TempDir images_;
  TempDir work_;
};

Bytes joined(const std::vector<Bytes>& parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::string line(const std::string& text) { return text + d88test::kNewline; }

// Three disks of different sizes; the last one's size field says less than
// what follows it, and bytes that hold no disk trail it.
TEST_F(SplitCommandTest, ThreeDisksComeBackByteForByte) {
  Disk small = d88build::standardDisk(2, 40, 2, 16, 1);
  small.mediaType = 0x00;
  const d88build::Image built =
      d88build::build({d88build::standardDisk(1), small, d88build::standardDisk(3, 3)});
  Bytes bytes = built.bytes;
  const Bytes trailing(300, 0xAB);  // too short for a disk header
  bytes.insert(bytes.end(), trailing.begin(), trailing.end());
  const std::string path = images_.write("games.d88", bytes);

  const RunResult result = split({path});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, line("writing ... games.disk0.d88") + line("writing ... games.disk1.d88") +
                            line("writing ... games.disk2.d88"));
  const std::size_t lastSize = built.bytes.size() - built.diskOffsets[2];
  EXPECT_EQ(result.err, line("Warning: disk 2: the size field says " + std::to_string(lastSize) +
                             " bytes; " + std::to_string(lastSize + trailing.size()) +
                             " bytes are written"));
  EXPECT_EQ(listDir(work_.path()),
            (std::vector<std::string>{"games.disk0.d88", "games.disk1.d88", "games.disk2.d88"}));
  const Bytes disk0 = readFile(work_.file("games.disk0.d88"));
  const Bytes disk1 = readFile(work_.file("games.disk1.d88"));
  const Bytes disk2 = readFile(work_.file("games.disk2.d88"));
  EXPECT_EQ(disk0.size(), built.diskOffsets[1]);
  EXPECT_EQ(disk1.size(), built.diskOffsets[2] - built.diskOffsets[1]);
  EXPECT_EQ(joined({disk0, disk1, disk2}), bytes);
}

// The reader looks at 64 disks: what follows the 64th goes into its file,
// so that nothing of the image is lost.
TEST_F(SplitCommandTest, BytesPastThe64thDiskGoIntoItsFile) {
  const Bytes one = d88build::build({d88build::standardDisk(8, 1, 1, 2, 0)}).bytes;
  Bytes bytes;
  for (int i = 0; i < 66; ++i) bytes.insert(bytes.end(), one.begin(), one.end());
  const std::string path = images_.write("many.d88", bytes);
  const RunResult result = split({path});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(listDir(work_.path()).size(), 64u);
  Bytes last = one;
  last.insert(last.end(), one.begin(), one.end());
  last.insert(last.end(), one.begin(), one.end());
  EXPECT_EQ(readFile(work_.file("many.disk63.d88")), last);
  EXPECT_EQ(result.err, line("Warning: disk 63: the size field says " + std::to_string(one.size()) +
                             " bytes; " + std::to_string(3 * one.size()) + " bytes are written"));
}

TEST_F(SplitCommandTest, OneDiskGivesOneFileAndStandardInputIsCalledStdin) {
  const Bytes bytes = d88build::build({d88build::standardDisk(4)}).bytes;
  const std::string path = images_.write("only.disk.d88", bytes);
  EXPECT_EQ(split({path}).status, 0);
  EXPECT_EQ(listDir(work_.path()), std::vector<std::string>{"only.disk.disk0.d88"});
  EXPECT_EQ(readFile(work_.file("only.disk.disk0.d88")), bytes);
#ifndef _WIN32
  TempDir piped;
  d88test::RunOptions options(piped.path());
  options.stdinBytes = bytes;
  EXPECT_EQ(split({"-"}, options).status, 0);
  EXPECT_EQ(listDir(piped.path()), std::vector<std::string>{"stdin.disk0.d88"});
  EXPECT_EQ(readFile(piped.file("stdin.disk0.d88")), bytes);
#endif
}

TEST_F(SplitCommandTest, FilesGoIntoTheFolderThatDashOMakes) {
  const Bytes bytes =
      d88build::build({d88build::standardDisk(5, 2), d88build::standardDisk(6, 2)}).bytes;
  const std::string path = images_.write("pair", bytes);
  for (const auto& option : {std::vector<std::string>{"-o", "parts"},
                             std::vector<std::string>{"--output=parts"}}) {
    std::vector<std::string> args = option;
    args.push_back(path);
    const RunResult result = split(args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(listDir(work_.file("parts")),
              (std::vector<std::string>{"pair.disk0.d88", "pair.disk1.d88"}));
    EXPECT_EQ(joined({readFile(work_.file("parts/pair.disk0.d88")),
                      readFile(work_.file("parts/pair.disk1.d88"))}),
              bytes);
  }
  // The folder's parents are not made.
  const RunResult deep = split({"-o", "missing/parts", path});
  EXPECT_EQ(deep.status, 1);
  EXPECT_NE(deep.err.find("Error: cannot write into missing/parts:"), std::string::npos) << deep.err;
  EXPECT_EQ(listDir(work_.path()), std::vector<std::string>{"parts"});
}

// A name the split would write that is the image itself (standard input
// redirected from it, or a link to it) is refused before any part is
// written: the image keeps its bytes, and the run names the file and ends
// with status 1.
TEST_F(SplitCommandTest, AnOutputThatIsTheImageItselfIsRefusedAndTheImageKept) {
  const d88build::Image built =
      d88build::build({d88build::standardDisk(5, 2), d88build::standardDisk(6, 2)});
  const Bytes& bytes = built.bytes;
  enum class Via { kStandardInput, kSymbolicLink, kHardLink };
  struct Case {
    const char* what;
    Via via;
    int disk;  // the disk whose file is the image
  };
  const Case cases[] = {
#ifndef _WIN32
      {"standard input redirected from stdin.disk0.d88", Via::kStandardInput, 0},
      {"a symbolic link named pair.disk1.d88", Via::kSymbolicLink, 1},
#endif
      {"a hard link named pair.disk0.d88", Via::kHardLink, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const bool piped = c.via == Via::kStandardInput;
    const std::string stem = piped ? "stdin" : "pair";
    const std::string guarded = stem + ".disk" + std::to_string(c.disk) + ".d88";
    const std::string other = stem + ".disk" + std::to_string(1 - c.disk) + ".d88";
    const std::string imageName = piped ? guarded : "pair.d88";
    const std::string imagePath = dir.write(imageName, bytes);
    d88test::RunOptions options(dir.path());
    if (c.via == Via::kSymbolicLink) {
      std::filesystem::create_symlink(imageName, std::filesystem::u8path(dir.file(guarded)));
    } else if (c.via == Via::kHardLink) {
      std::filesystem::create_hard_link(std::filesystem::u8path(imagePath),
                                        std::filesystem::u8path(dir.file(guarded)));
    }
    if (piped) options.stdinFile = imagePath;

    const RunResult result = split({piped ? "-" : imageName}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, line("Error: cannot write " + guarded +
                               ": it is the image being split; nothing is written"));
    EXPECT_EQ(readFile(imagePath), bytes);
    EXPECT_EQ(readFile(dir.file(guarded)), bytes);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(dir.file(other))));
    std::vector<std::string> names{guarded};
    if (!piped) names.push_back(imageName);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(listDir(dir.path()), names) << "a temporary file remains";
    if (c.via == Via::kSymbolicLink) {
      EXPECT_TRUE(std::filesystem::is_symlink(std::filesystem::u8path(dir.file(guarded))));
    }
  }
}

TEST_F(SplitCommandTest, NothingIsWrittenWithoutADisk) {
  Bytes noise(600, 0x5A);
  const std::string path = images_.write("noise.d88", noise);
  struct Case {
    std::vector<std::string> args;
    const char* err;
  };
  const Case cases[] = {
      {{path}, "holds no D88 disk"},
      {{"-o", "out", path}, "holds no D88 disk"},
      {{images_.file("absent.d88")}, "d88split: cannot open"},
      {{path, path}, "one image at a time"},
      {{"-x", path}, "unknown option -x"},
      {{"-o"}, "option -o needs a folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    const RunResult result = split(c.args);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
    EXPECT_EQ(listDir(work_.path()), std::vector<std::string>{});
  }
  EXPECT_EQ(split({"-V"}).out, line(std::string("d88split ") + D88_VERSION));
}

#ifndef _WIN32
// A part's name longer than the system takes stops the run before its
// progress line, as any other output that cannot be written does. (Windows
// says of such a name only that nothing stands there, until it is created.)
TEST_F(SplitCommandTest, APartNameTooLongIsRefusedBeforeAnythingIsWritten) {
  const std::string stem(246, 'a');  // STEM.disk0.d88 is 256 bytes: one too many
  const std::string path =
      images_.write(stem + ".d88", d88build::build({d88build::standardDisk(1, 2)}).bytes);
  for (const bool intoFolder : {false, true}) {
    SCOPED_TRACE(intoFolder ? "into a folder that stands" : "beside the image");
    std::vector<std::string> args{path};
    if (intoFolder) args = {"-o", work_.path(), path};
    const RunResult result = split(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("; nothing is written"), std::string::npos) << result.err;
    EXPECT_EQ(listDir(work_.path()), std::vector<std::string>{});
  }
}
#endif

}  // namespace
