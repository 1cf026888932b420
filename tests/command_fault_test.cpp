// d88cut under faults, run as a process in a scratch folder: images that are
// not disks, images cut off anywhere, a file size limit. Whatever happens, the
// command never crashes and nothing the user already had is lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "planned_files.h"
#include "test_support.h"

#ifdef __linux__
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using d88build::Bytes;
using d88test::kPlan;
using d88test::lines;
using d88test::listDir;
using d88test::PlannedFile;
using d88test::readFile;
using d88test::RunResult;
using d88test::TempDir;

// Every file of a folder with its bytes and modification time.
using Snapshot = std::map<std::string, std::pair<Bytes, std::int64_t>>;

Snapshot snapshot(const std::string& dir) {
  Snapshot result;
  for (const std::string& name : listDir(dir)) {
    const std::string path = (std::filesystem::path(dir) / name).string();
    const std::int64_t mtime = static_cast<std::int64_t>(
        std::filesystem::last_write_time(path).time_since_epoch().count());
    result[name] = {readFile(path), mtime};
  }
  return result;
}

class FaultTest : public ::testing::Test {
 protected:
  RunResult cut(const std::string& image, long long fileSizeLimit = -1) {
    return d88test::run({D88CUT_PATH, image}, {work_.path(), fileSizeLimit});
  }

  // Runs on a good image first, so the folder holds twenty good outputs.
  void cutGoodOutputs() {
    const RunResult result = cut(images_.write("good.d88", built_.bytes));
    ASSERT_EQ(result.status, 0) << result.err;
  }

  // Tracks 0 to 69: all the command reads.
  const d88build::Image built_ = d88build::build({d88build::standardDisk(0, 35)});
  TempDir images_;
  TempDir work_;
};

TEST_F(FaultTest, ImagesThatAreNotDisksChangeNothing) {
  cutGoodOutputs();
  const Snapshot before = snapshot(work_.path());
  std::filesystem::create_directory(images_.file("folder.d88"));
  const std::string text = "This is a text file, not a disk image.\nIt has two lines.\n";
  const std::pair<const char*, std::string> cases[] = {
      {"empty file", images_.write("empty.d88", Bytes())},
      {"100 bytes", images_.write("hundred.d88", Bytes(100, 0x20))},
      {"one byte short of a header", images_.write("short.d88", Bytes(687, 0))},
      {"a text file", images_.write("notes.txt", Bytes(text.begin(), text.end()))},
      {"a folder", images_.file("folder.d88")},
  };
  for (const auto& [what, path] : cases) {
    SCOPED_TRACE(what);
    const RunResult result = cut(path);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    // One line each, a folder's too ("cannot read FOLDER: Is a directory"),
    // on every system.
    ASSERT_EQ(lines(result.err).size(), 1u) << result.err;
    EXPECT_NE(result.err.find(path), std::string::npos) << result.err;
    EXPECT_EQ(snapshot(work_.path()), before);
  }
}

// Two runs on different images, started together in one folder, again and
// again: both succeed quietly, and each final file is one run's whole output.
#ifdef _WIN32
constexpr int kPairedRuns = 8;  // every process start is slow under Wine
#else
constexpr int kPairedRuns = 30;
#endif

TEST_F(FaultTest, TwoRunsInOneFolderEachFinishAndEveryFileIsOneRunsWhole) {
  const d88build::Image other = d88build::build({d88build::standardDisk(1, 35)});
  const std::string images[2] = {images_.write("zero.d88", built_.bytes),
                                 images_.write("one.d88", other.bytes)};
  for (int pair = 0; pair < kPairedRuns; ++pair) {
    SCOPED_TRACE("pair " + std::to_string(pair));
    d88test::Process first = d88test::start({D88CUT_PATH, images[0]}, {work_.path(), -1});
    d88test::Process second = d88test::start({D88CUT_PATH, images[1]}, {work_.path(), -1});
    for (d88test::Process* process : {&first, &second}) {
      const RunResult result = d88test::finish(*process);
      ASSERT_EQ(result.status, 0) << result.err;
      ASSERT_EQ(result.err, "");
    }
    ASSERT_EQ(listDir(work_.path()), d88test::sortedPlannedNames());
    for (const PlannedFile& f : kPlan) {
      const Bytes got = readFile(work_.file(f.name));
      ASSERT_TRUE(got == d88test::expectedContent(f, built_) ||
                  got == d88test::expectedContent(f, other, SIZE_MAX, nullptr, 1))
          << f.name;
    }
  }
}

#ifndef _WIN32
TEST_F(FaultTest, AStandardOutputThatCannotBeWrittenIsAnErrorAndTheFilesAreStillCut) {
  const std::string image = images_.write("good.d88", built_.bytes);
  const struct {
    const char* what;
    d88test::StdoutElsewhere to;
    int reason;
  } cases[] = {
      {"a full device", {"/dev/full", false, false}, ENOSPC},
      {"a pipe closed before the first line", {"", true, false}, EPIPE},
      {"a pipe closed after the first line", {"", false, true}, EPIPE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(work_.path());
    std::filesystem::create_directory(work_.path());
    const RunResult result = d88test::run({D88CUT_PATH, image}, {work_.path(), -1}, c.to);
    EXPECT_EQ(result.signal, 0) << "killed by a signal";
    // A reader that goes away after the first line may still have left room
    // for every line in the pipe; when a line did fail, the error says why.
    const bool allLinesFitBeforeTheClose =
        c.to.closedAfterFirstLine && result.status == 0 && result.err.empty();
    if (!allLinesFitBeforeTheClose) {
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.err, std::string("Error: cannot write to standard output: ") +
                                std::strerror(c.reason) + "\n");
    }
    if (c.to.closedAfterFirstLine) {
      EXPECT_EQ(result.out, "cutting ... PROG\n");
    }
    ASSERT_EQ(listDir(work_.path()), d88test::sortedPlannedNames());
    for (const PlannedFile& f : kPlan) {
      EXPECT_EQ(readFile(work_.file(f.name)), d88test::expectedContent(f, built_)) << f.name;
    }
  }
}
#endif

#ifdef __linux__
// The command is stopped (SIGSTOP) as soon as a temporary file of its appears
// in the folder; if the file is still there once it has stopped, the
// interrupt is sent and the command let go, so the interrupt lands between
// the temporary's creation and its rename: while the file is written. When the
// command had got past the rename already, it is let go and caught at its next
// file. Earlier outputs from another image are in the folder throughout.
TEST_F(FaultTest, AnInterruptWhileAFileIsWrittenLeavesNothingBehind) {
  const d88build::Image earlier = d88build::build({d88build::standardDisk(1, 35)});
  ASSERT_EQ(cut(images_.write("earlier.d88", earlier.bytes)).status, 0);
  const std::string image = images_.write("good.d88", built_.bytes);
  for (int interrupt : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(interrupt));
    bool landed = false;
    for (int attempt = 0; attempt < 20 && !landed; ++attempt) {
      const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
      ASSERT_GE(watch, 0);
      ASSERT_GE(inotify_add_watch(watch, work_.path().c_str(), IN_CREATE), 0);
      d88test::Process process = d88test::start({D88CUT_PATH, image}, {work_.path(), -1});
      siginfo_t ended{};
      while (!landed) {
        pollfd ready{watch, POLLIN, 0};
        if (poll(&ready, 1, 20) == 0) {
          ended.si_pid = 0;
          waitid(P_PID, static_cast<id_t>(process.pid), &ended, WEXITED | WNOHANG | WNOWAIT);
          if (ended.si_pid != 0) break;
          continue;
        }
        alignas(inotify_event) char events[4096];
        const ssize_t size = read(watch, events, sizeof events);
        for (ssize_t at = 0; at < size && !landed;) {
          const auto* event = reinterpret_cast<const inotify_event*>(events + at);
          at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
          if (event->len == 0 || std::strstr(event->name, ".d88cut-") == nullptr) continue;
          kill(process.pid, SIGSTOP);
          siginfo_t state{};
          waitid(P_PID, static_cast<id_t>(process.pid), &state, WSTOPPED | WEXITED | WNOWAIT);
          if (state.si_code != CLD_STOPPED) break;
          landed = std::filesystem::exists(work_.file(event->name));
          if (landed) kill(process.pid, interrupt);
          kill(process.pid, SIGCONT);
        }
      }
      close(watch);
      const RunResult result = d88test::finish(process);
      if (!landed) continue;
      EXPECT_EQ(result.signal, interrupt) << result.err;
      EXPECT_EQ(listDir(work_.path()), d88test::sortedPlannedNames())
          << "a temporary file was left behind";
      for (const PlannedFile& f : kPlan) {
        const Bytes got = readFile(work_.file(f.name));
        EXPECT_TRUE(got == d88test::expectedContent(f, built_) ||
                    got == d88test::expectedContent(f, earlier, SIZE_MAX, nullptr, 1))
            << f.name;
      }
    }
    EXPECT_TRUE(landed) << "no interrupt landed while a file was written";
  }
}
#endif

#ifndef _WIN32
// PROG (81,920 bytes) is over the limit; every other file is under it.
TEST_F(FaultTest, FileSizeLimitKeepsTheEarlierFileAndTheOthersAreRight) {
  const std::string image = images_.write("good.d88", built_.bytes);
  for (bool earlier : {false, true}) {
    SCOPED_TRACE(earlier ? "with an earlier PROG" : "without an earlier PROG");
    std::filesystem::remove_all(work_.path());
    std::filesystem::create_directory(work_.path());
    const Bytes earlierProg(5000, 0x3C);
    if (earlier) d88build::writeFile(work_.file("PROG"), earlierProg);

    const RunResult result = cut(image, 50000);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, d88test::progressLines());
    ASSERT_EQ(lines(result.err).size(), 1u) << result.err;
    EXPECT_NE(result.err.find("PROG"), std::string::npos);
    EXPECT_NE(result.err.find("File too large"), std::string::npos) << result.err;

    if (earlier) {
      EXPECT_EQ(readFile(work_.file("PROG")), earlierProg);
    }
    std::vector<std::string> names = d88test::sortedPlannedNames();
    if (!earlier) names.erase(std::find(names.begin(), names.end(), "PROG"));
    EXPECT_EQ(listDir(work_.path()), names) << "a partial or temporary file remains";
    for (const PlannedFile& f : kPlan) {
      if (std::string(f.name) == "PROG") continue;
      EXPECT_EQ(readFile(work_.file(f.name)), d88test::expectedContent(f, built_)) << f.name;
    }
  }
}

#endif

// Cuts the image at each length and checks everything the command promises.
class TruncationSweep : public FaultTest {
 protected:
  // File offset of the first data byte of any sector the plan reads: each
  // file's run starts with its lowest sector.
  std::size_t firstPlannedByte() const {
    std::size_t first = built_.bytes.size();
    for (const PlannedFile& f : kPlan) {
      first = std::min(first, built_.recordOffset(0, f.track, f.r - 1) + 16);
    }
    return first;
  }

  void sweep(const std::vector<std::size_t>& lengths) {
    for (std::size_t length : lengths) {
      SCOPED_TRACE("image cut at " + std::to_string(length) + " bytes");
      const Bytes bytes(built_.bytes.begin(), built_.bytes.begin() + static_cast<long>(length));
      std::filesystem::remove_all(work_.path());
      std::filesystem::create_directory(work_.path());
      const RunResult result = cut(images_.write("cut.d88", bytes));
      ASSERT_EQ(result.signal, 0);
      // Cut off before the first byte of any sector the plan reads: nothing
      // to salvage, so nothing is written.
      if (length <= firstPlannedByte()) {
        ASSERT_EQ(result.status, 1);
        ASSERT_EQ(result.out, "");
        ASSERT_EQ(lines(result.err).size(), 2u) << result.err;
        ASSERT_NE(result.err.find("holds none of the sectors"), std::string::npos) << result.err;
        ASSERT_NE(result.err.find("Note: disk 0 holds "), std::string::npos) << result.err;
        ASSERT_TRUE(listDir(work_.path()).empty());
        continue;
      }
      ASSERT_EQ(result.out, d88test::progressLines());

      std::set<std::string> incomplete;
      for (const PlannedFile& f : kPlan) {
        bool complete = false;
        const Bytes expected = d88test::expectedContent(f, built_, length, &complete);
        ASSERT_EQ(readFile(work_.file(f.name)), expected) << f.name;
        if (!complete) incomplete.insert(f.name);
      }
      ASSERT_EQ(result.status, incomplete.empty() ? 0 : 2);
      const std::vector<std::string> warnings = lines(result.err);
      ASSERT_EQ(warnings.size(), incomplete.size()) << result.err;
      for (const std::string& warning : warnings) {
        const std::string name = warning.substr(9, warning.find(' ', 9) - 9);
        ASSERT_EQ(warning.rfind("Warning: ", 0), 0u) << warning;
        ASSERT_EQ(incomplete.count(name), 1u) << warning;
      }
      ASSERT_EQ(listDir(work_.path()), d88test::sortedPlannedNames());
    }
  }
};

// Under Wine every process start is slow; the reader is the same code there,
// so the Windows build sweeps more coarsely.
#ifdef _WIN32
constexpr std::size_t kSweepStep = 2039;
#else
constexpr std::size_t kSweepStep = 293;
#endif

// The whole image is sampled every kWholeImageStep bytes: the reader's own
// sweep cuts images at every kind of boundary in process, and the records the
// command reads are swept byte by byte around each below, so this sweep needs
// lengths that land anywhere in the other tracks, and the few places where
// the command's outcome turns outside those records. The step is prime and
// not a multiple of a record's 1,040 bytes, so the cuts fall at ever other
// offsets within the records.
constexpr std::size_t kWholeImageStep = 2039;

TEST_F(TruncationSweep, AcrossTheWholeImage) {
  std::vector<std::size_t> lengths;
  for (std::size_t l = 688; l < built_.bytes.size(); l += kWholeImageStep) lengths.push_back(l);
  // The disk header and track 0's first record cut; the first record after
  // the files of tracks 37 to 45 and the last one before PROG, cut in their
  // header and in their data; the image one byte short, and whole.
  const std::size_t first = built_.recordOffset(0, 0, 0);
  for (const std::size_t at : {first, first + 1, first + 15, first + 16, first + 16 + 1023}) {
    lengths.push_back(at);
  }
  for (const std::size_t header : {built_.recordOffset(0, 46, 0), built_.recordOffset(0, 59, 7)}) {
    for (const std::size_t at : {header - 1, header, header + 1, header + 16, header + 16 + 1023}) {
      lengths.push_back(at);
    }
  }
  lengths.push_back(built_.bytes.size() - 1);
  lengths.push_back(built_.bytes.size());
  sweep(lengths);
}

TEST_F(TruncationSweep, AroundEachRecordTheCommandReads) {
  std::vector<std::size_t> lengths;
  for (int track = 37; track <= 69; ++track) {
    if (track > 45 && track < 60) continue;
    for (int i = 0; i < 8; ++i) {
      const std::size_t header = built_.recordOffset(0, track, i);
      for (std::size_t at : {header - 1, header, header + 1, header + 15, header + 16,
                             header + 17, header + 16 + 1023}) {
        if (kSweepStep > 1000 && at != header + 15 && at != header + 16 + 1023) continue;
        lengths.push_back(at);
      }
    }
  }
  sweep(lengths);
}

}  // namespace
