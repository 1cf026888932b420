// Writing an output whole or not at all.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "output_file.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif
#include "test_support.h"

namespace {

using d88build::Bytes;
using d88test::listDir;
using d88test::readFile;
using d88test::TempDir;

TEST(OutputFile, ReplacesAnExistingFileAndLeavesNoTemporary) {
  TempDir dir;
  const std::string path = dir.file("OUT");
  d88build::writeFile(path, Bytes(5000, 1));
  const Bytes data(300, 7);
  EXPECT_EQ(d88::writeFileWhole(path.c_str(), data.data(), data.size()).error, 0);
  EXPECT_EQ(readFile(path), data);
  EXPECT_EQ(d88::writeFileWhole(path.c_str(), nullptr, 0).error, 0);
  EXPECT_EQ(readFile(path), Bytes());
  EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"OUT"});
}

TEST(OutputFile, AFolderInPlaceIsAnErrorAndStays) {
  TempDir dir;
  const std::string path = dir.file("OUT");
  std::filesystem::create_directory(path);
  const Bytes data(10, 7);
  EXPECT_EQ(d88::writeFileWhole(path.c_str(), data.data(), data.size()).error, EISDIR);
  EXPECT_TRUE(std::filesystem::is_directory(path));
  EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"OUT"});
}

#ifndef _WIN32
// A name like a temporary's that the call did not create, here a link left
// by an older run, is neither written through nor removed.
TEST(OutputFile, AFileNamedLikeATemporaryIsLeftAlone) {
  TempDir dir;
  const std::string path = dir.file("OUT");
  const std::string victim = dir.file("victim");
  d88build::writeFile(victim, Bytes(3, 9));
  const std::string leftover = path + d88::kTemporaryMarker + "tmp";
  ASSERT_EQ(symlink(victim.c_str(), leftover.c_str()), 0);
  const Bytes data(10, 7);
  EXPECT_EQ(d88::writeFileWhole(path.c_str(), data.data(), data.size()).error, 0);
  EXPECT_EQ(readFile(path), data);
  EXPECT_EQ(readFile(victim), Bytes(3, 9));
  EXPECT_EQ(listDir(dir.path()), (std::vector<std::string>{"OUT", "OUT.d88cut-tmp", "victim"}));
}

TEST(OutputFile, AnUnwritableFolderIsAnErrorWithTheSystemsReason) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  TempDir dir;
  std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_read |
                                               std::filesystem::perms::owner_exec);
  const Bytes data(10, 7);
  const d88::WriteResult result = d88::writeFileWhole(dir.file("OUT").c_str(), data.data(), data.size());
  EXPECT_EQ(result.error, EACCES);
  EXPECT_TRUE(result.folderFailed);
}
#endif

// A file written in pieces appears whole at commit and not before; one
// discarded, or dropped, leaves nothing; several may be open at once.
TEST(PendingFile, AppearsOnlyWhenCommitted) {
  TempDir dir;
  const std::string a = dir.file("A");
  const std::string b = dir.file("B");
  d88build::writeFile(a, Bytes(4, 1));
  {
    d88::PendingFile first;
    d88::PendingFile second;
    ASSERT_EQ(first.start(a.c_str()).error, 0);
    ASSERT_EQ(second.start(b.c_str()).error, 0);
    const Bytes piece(1000, 7);
    ASSERT_EQ(first.append(piece.data(), piece.size()).error, 0);
    ASSERT_EQ(first.append(piece.data(), piece.size()).error, 0);
    EXPECT_EQ(readFile(a), Bytes(4, 1));
    EXPECT_EQ(listDir(dir.path()).size(), 3u);  // A and two temporaries
    ASSERT_EQ(first.commit().error, 0);
    EXPECT_EQ(readFile(a), Bytes(2000, 7));
    second.discard();
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"A"});
    ASSERT_EQ(second.start(b.c_str()).error, 0);
  }
  EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"A"});
}

// The temporaries' list has no cap: more files than any program keeps open
// start, and each lands whole under its own name, in the order committed.
TEST(PendingFile, ManyAtOnceEachCommitWhole) {
  TempDir dir;
  constexpr int kFiles = 12;
  std::vector<std::unique_ptr<d88::PendingFile>> files;
  for (int i = 0; i < kFiles; ++i) {
    files.push_back(std::make_unique<d88::PendingFile>());
    ASSERT_EQ(files.back()->start(dir.file("F" + std::to_string(i)).c_str()).error, 0);
    const Bytes piece(static_cast<std::size_t>(i + 1), static_cast<std::uint8_t>(i));
    ASSERT_EQ(files.back()->append(piece.data(), piece.size()).error, 0);
  }
  EXPECT_EQ(listDir(dir.path()).size(), static_cast<std::size_t>(kFiles));
  for (int i = 0; i < kFiles; ++i) ASSERT_EQ(files[static_cast<std::size_t>(i)]->commit().error, 0);
  for (int i = 0; i < kFiles; ++i) {
    EXPECT_EQ(readFile(dir.file("F" + std::to_string(i))),
              Bytes(static_cast<std::size_t>(i + 1), static_cast<std::uint8_t>(i)));
  }
  EXPECT_EQ(listDir(dir.path()).size(), static_cast<std::size_t>(kFiles));
}

#ifndef _WIN32
// An interrupt removes every temporary open at that moment, whichever
// entries of the list they took (some freed and reused before), and leaves
// the files already committed; the process ends by the signal.
TEST(PendingFile, AnInterruptRemovesEveryOpenTemporary) {
  TempDir dir;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    d88::removeTemporaryOnInterrupt();
    std::vector<std::unique_ptr<d88::PendingFile>> files;
    for (int i = 0; i < 5; ++i) {
      files.push_back(std::make_unique<d88::PendingFile>());
      if (files.back()->start(dir.file("F" + std::to_string(i)).c_str()).error != 0) _exit(3);
    }
    if (files[1]->commit().error != 0) _exit(3);
    files[3]->discard();
    if (files[3]->start(dir.file("G").c_str()).error != 0) _exit(3);
    raise(SIGTERM);
    _exit(4);  // not reached: SIGTERM ends the process
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"F1"});
}
#endif

}  // namespace
