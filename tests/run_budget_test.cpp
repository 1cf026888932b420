// One memory budget for all the inputs of a run: spares and images read
// from pipes together hold no more than one stream alone may.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "d88_builder.h"
#include "planned_files.h"
#include "test_support.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#endif

namespace {

#ifndef _WIN32
using d88build::Bytes;
using d88test::RunResult;
using d88test::TempDir;

// Offsets in a disk header.
constexpr std::size_t kSizeField = 0x1C;
constexpr std::size_t kTrackTable = 0x20;
constexpr std::size_t kHeaderSize = 0x2B0;
constexpr std::size_t kTracks = 164;

std::uint32_t le32(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

void putLe32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A pipe that gives a sound disk whose tracks stand `pad` bytes further
// into the stream than its header: a reader that wants them holds the pad.
// The header and the tracks go in files; a shell feeds the pipe, the pad
// from /dev/zero, so that the test holds none of it.
struct PaddedPipe {
  std::string fifo;
  d88test::Process feeder;
};

PaddedPipe paddedPipe(const TempDir& dir, const std::string& name, const Bytes& disk,
                      std::uint32_t pad) {
  Bytes header(disk.begin(), disk.begin() + kHeaderSize);
  putLe32(header, kSizeField, le32(header, kSizeField) + pad);
  for (std::size_t t = 0; t < kTracks; ++t) {
    const std::uint32_t entry = le32(header, kTrackTable + 4 * t);
    if (entry != 0) putLe32(header, kTrackTable + 4 * t, entry + pad);
  }
  const std::string head = dir.write(name + ".head", header);
  const std::string rest = dir.write(name + ".rest", Bytes(disk.begin() + kHeaderSize, disk.end()));
  PaddedPipe pipe;
  pipe.fifo = dir.file(name);
  EXPECT_EQ(mkfifo(pipe.fifo.c_str(), 0600), 0);
  const std::string script = "exec > '" + pipe.fifo + "'; cat '" + head + "'; head -c " +
                             std::to_string(pad) + " /dev/zero; cat '" + rest + "'";
  pipe.feeder = d88test::start({"/bin/sh", "-c", script}, {dir.path(), -1});
  return pipe;
}

// The largest resident size of any child waited for so far, in KiB.
long largestChildKiB() {
  struct rusage usage {};
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_maxrss;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMeasuresMemory = false;  // the sanitizer's own memory counts too
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMeasuresMemory = false;
#else
constexpr bool kMeasuresMemory = true;
#endif
#else
constexpr bool kMeasuresMemory = true;
#endif

// The most a run may reach: the budget, and the programs' own few MiB.
constexpr long kMostKiB = 300 * 1000;
constexpr std::uint32_t kPad = 120u << 20;

// Three spares on pipes, each 120 MiB deep: the first two are weighed, the
// third would pass the run's budget and is not used; the cut is whole.
TEST(RunBudget, ASpareThatWouldPassTheBudgetIsNotUsed) {
  TempDir dir;
  const d88build::Image built = d88build::build({d88build::standardDisk(1)});
  const std::string image = dir.write("image.d88", built.bytes);
  std::vector<PaddedPipe> pipes;
  for (const char* name : {"a", "b", "c"}) pipes.push_back(paddedPipe(dir, name, built.bytes, kPad));
  TempDir out;
  const RunResult result = d88test::run(
      {D88CUT_PATH, "--spare", pipes[0].fifo, "--spare", pipes[1].fifo, "--spare", pipes[2].fifo,
       image},
      {out.path(), -1});
  for (PaddedPipe& pipe : pipes) d88test::finish(pipe.feeder);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "Note: " + pipes[2].fifo +
                            " is not used: the inputs read at once may hold at most 260 MiB in "
                            "memory together\n");
  EXPECT_EQ(d88test::listDir(out.path()), d88test::sortedPlannedNames());
  if (kMeasuresMemory) {
    EXPECT_LT(largestChildKiB(), kMostKiB);
  }
}

// One pipe alone is read as far as a stream may go (256 MiB): the budget
// leaves room for what the reader keeps besides.
TEST(RunBudget, OnePipeIsReadAsFarAsAStreamMayGo) {
  TempDir dir;
  const Bytes disk = d88build::build({d88build::standardDisk(3)}).bytes;
  const std::uint32_t pad = (256u << 20) - static_cast<std::uint32_t>(disk.size()) - 4096;
  PaddedPipe pipe = paddedPipe(dir, "deep", disk, pad);
  const RunResult result = d88test::run({D88RAW_PATH, pipe.fifo, "out.img"}, {dir.path(), -1});
  d88test::finish(pipe.feeder);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
}

// Two pipes that together pass the budget: d88cmp stops with the limit
// named, as cmp does with trouble (status 2).
TEST(RunBudget, TwoPipesThatPassTheBudgetTogetherStopTheComparison) {
  TempDir dir;
  const Bytes disk = d88build::build({d88build::standardDisk(2)}).bytes;
  PaddedPipe a = paddedPipe(dir, "a", disk, 150u << 20);
  PaddedPipe b = paddedPipe(dir, "b", disk, 150u << 20);
  const RunResult result = d88test::run({D88CMP_PATH, a.fifo, b.fifo}, {dir.path(), -1});
  d88test::finish(a.feeder);
  d88test::finish(b.feeder);
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.err.find("the inputs read at once may hold at most 260 MiB in memory together"),
            std::string::npos)
      << result.err;
  if (kMeasuresMemory) {
    EXPECT_LT(largestChildKiB(), kMostKiB);
  }
}
#endif

}  // namespace
