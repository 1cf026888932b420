// Files that are plainly not D88 images, given to every program: each says
// so with its reason, ends as a failure and writes nothing. A spare that is
// no D88 image is only not used.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

using d88build::Bytes;
using d88test::listDir;
using d88test::RunResult;
using d88test::TempDir;

Bytes repeated(const std::string& text, std::size_t size) {
  Bytes bytes;
  while (bytes.size() < size) bytes.insert(bytes.end(), text.begin(), text.end());
  bytes.resize(size);
  return bytes;
}

// The first bytes of common kinds of files, padded past one disk header as
// such files are.
Bytes startingWith(const Bytes& head, std::size_t size, std::uint8_t filler) {
  Bytes bytes = head;
  bytes.resize(size, filler);
  // Some life past the head, as a real file has.
  for (std::size_t i = head.size(); i < size; i += 97) bytes[i] = static_cast<std::uint8_t>(i * 31);
  return bytes;
}

struct NotAnImage {
  const char* name;
  Bytes bytes;
};

std::vector<NotAnImage> notImages() {
  const Bytes elf = {0x7F, 'E', 'L', 'F', 2, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                     3, 0, 0x3E, 0, 1, 0, 0, 0, 0x40, 0x11, 0, 0, 0, 0, 0, 0,
                     0x40, 0, 0, 0, 0, 0, 0, 0, 0x98, 0x32, 0x02, 0, 0, 0, 0, 0};
  const Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0x0D,
                     'I', 'H', 'D', 'R', 0, 0, 0x02, 0x80, 0, 0, 0x01, 0xE0, 8, 6, 0, 0, 0};
  const Bytes zip = {'P', 'K', 3, 4, 0x14, 0, 0, 0, 8, 0, 0x21, 0x5B, 0x8A, 0x59,
                     0x3C, 0x7A, 0x11, 0x02, 0x34, 0x12, 0, 0, 0xC8, 0x30, 0, 0,
                     8, 0, 0x1C, 0, 'r', 'e', 'a', 'd', 'm', 'e', '.', 't'};
  return {
      {"elf.d88", startingWith(elf, 5000, 0)},
      {"png.d88", startingWith(png, 3000, 0x55)},
      {"zip.d88", startingWith(zip, 3000, 0x20)},
      {"text.d88", repeated("The quick brown fox jumps over the lazy dog.\n", 4000)},
      {"zeros.d88", Bytes(2000, 0)},
  };
}

struct Program {
  const char* path;
  std::vector<std::string> extra;  // arguments after the image
  const char* prefix;              // how its message begins
  int status;                      // its failure status
};

TEST(NotAD88Image, EveryProgramRefusesItWithItsReasonAndWritesNothing) {
  const Program programs[] = {
      {D88CUT_PATH, {}, "Error: ", 1},
      {D88SPLIT_PATH, {}, "Error: ", 1},
      {D88RAW_PATH, {"out.img"}, "Error: ", 1},
      {D88LS_PATH, {}, "d88ls: ", 1},
      {D88CMP_PATH, {"IMAGE"}, "d88cmp: ", 2},
      {D88MERGE_PATH, {"IMAGE"}, "Error: ", 1},
  };
  for (const NotAnImage& file : notImages()) {
    for (const Program& program : programs) {
      TempDir work;
      const std::string image = work.write(file.name, file.bytes);
      std::vector<std::string> argv = {program.path, image};
      for (const std::string& a : program.extra) argv.push_back(a == "IMAGE" ? image : a);
      const RunResult result = d88test::run(argv, {work.path()});
      SCOPED_TRACE(std::string(program.path) + " " + file.name);
      EXPECT_EQ(result.status, program.status) << result.err;
      EXPECT_EQ(result.err.rfind(std::string(program.prefix) + image + " is not a D88 image: ", 0),
                0u)
          << result.err;
      EXPECT_NE(result.err.find("no track of its first disk holds a sector record"),
                std::string::npos)
          << result.err;
      EXPECT_EQ(listDir(work.path()), std::vector<std::string>{file.name});
    }
  }
}

TEST(NotAD88Image, JsonListingGivesAnErrorLine) {
  TempDir work;
  const std::string image = work.write("zeros.d88", Bytes(2000, 0));
  const RunResult result = d88test::run({D88LS_PATH, "--json", image}, {work.path()});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find("\"error\":\"not a D88 image: its first disk header is all zero bytes"),
            std::string::npos)
      << result.out;
}

TEST(NotAD88Image, AnUnformattedDiskIsStillAnImage) {
  d88build::Disk blank;
  blank.name = "BLANK";
  TempDir work;
  const std::string image = work.write("blank.d88", d88build::build({blank}).bytes);
  const RunResult listed = d88test::run({D88LS_PATH, image}, {work.path()});
  EXPECT_EQ(listed.status, 0) << listed.err;
  const RunResult compared = d88test::run({D88CMP_PATH, image, image}, {work.path()});
  EXPECT_EQ(compared.status, 0) << compared.err;
}

TEST(NotAD88Image, ASpareThatIsNoImageIsNotUsed) {
  TempDir work;
  const std::string image =
      work.write("good.d88", d88build::build({d88build::standardDisk(1)}).bytes);
  const std::string spare = work.write("zeros.d88", Bytes(2000, 0));
  TempDir out;
  const RunResult result =
      d88test::run({D88CUT_PATH, "-o", out.path(), "--spare", spare, image}, {work.path()});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.err.find("Note: " + spare +
                            " is not used: it is not a D88 image: its first disk header is all "
                            "zero bytes"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(listDir(out.path()).size(), 20u);
}

}  // namespace
