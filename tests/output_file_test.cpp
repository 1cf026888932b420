// Writing an output whole or not at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "output_file.h"

#ifndef _WIN32
#include <sys/stat.h>
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

// Any name the system takes is written, the longest too: the temporary's
// name is shortened instead, at a character's edge.
TEST(OutputFile, ANameOfTheLongestLengthIsWritten) {
  struct Case {
    const char* what;
    std::string name;
  };
  std::string kana;
  for (int i = 0; i < 85; ++i) kana += "\u30b2";  // 3 bytes each: 255 in all
  const Case cases[] = {
      {"255 ASCII bytes", std::string(251, 'a') + ".img"},
      {"255 bytes of three-byte characters", kana},
      {"242 bytes: the temporary is 256 without shortening", std::string(242, 'b')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir.file(c.name);
    const Bytes data(100, 3);
    ASSERT_EQ(d88::writeFileWhole(path.c_str(), data.data(), data.size()).error, 0);
    EXPECT_EQ(readFile(path), data);
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{c.name});
  }
}

#ifndef _WIN32
// A file written in place of another keeps the other's permissions, as one
// written over would; a new file gets the usual ones.
TEST(OutputFile, AReplacedFileKeepsItsPermissions) {
  TempDir dir;
  const std::string path = dir.file("OUT");
  d88build::writeFile(path, Bytes(5, 1));
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  const Bytes data(10, 7);
  ASSERT_EQ(d88::writeFileWhole(path.c_str(), data.data(), data.size()).error, 0);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// What takes a final name between the start and the commit and is no file
// (here a FIFO) is left in place, and the temporary goes.
TEST(PendingFile, AFifoThatTakesTheNameBeforeTheCommitIsLeftInPlace) {
  TempDir dir;
  const std::string path = dir.file("OUT");
  d88::PendingFile file;
  ASSERT_EQ(file.start(path.c_str()).error, 0);
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  const d88::WriteResult result = file.commit();
  EXPECT_EQ(result.error, EEXIST);
  EXPECT_EQ(result.standing, d88::FileKind::kFifo);
  EXPECT_EQ(d88::writeFailureText(result), "it is a FIFO (named pipe)");
  struct stat st {};
  ASSERT_EQ(lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"OUT"});
}
#endif

// Files committed together land all, or, when one of them fails, none: the
// final names hold what they held before (or nothing, where they held
// nothing), and no temporary or kept copy stays.
TEST(PendingFile, FilesCommittedTogetherLandAllOrNone) {
  struct Case {
    const char* what;
    bool firstExisted;
    bool secondExisted;
    bool blockSecond;  // a folder takes the second name before the commit
  };
  const Case cases[] = {
      {"both land over old files", true, true, false},
      {"both land as new files", false, false, false},
      {"the second fails: the old first is back", true, false, true},
      {"the second fails: the new first is gone", false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string first = dir.file("OUT");
    const std::string second = dir.file("MAP");
    if (c.firstExisted) d88build::writeFile(first, Bytes(4, 1));
    if (c.secondExisted) d88build::writeFile(second, Bytes(4, 2));
    const auto before = listDir(dir.path());
    d88::PendingFile a;
    d88::PendingFile b;
    ASSERT_EQ(a.start(first.c_str()).error, 0);
    ASSERT_EQ(b.start(second.c_str()).error, 0);
    const Bytes data(50, 9);
    ASSERT_EQ(a.append(data.data(), data.size()).error, 0);
    ASSERT_EQ(b.append(data.data(), data.size()).error, 0);
    if (c.blockSecond) std::filesystem::create_directory(second);
    d88::PendingFile* const files[] = {&a, &b};
    std::size_t failed = 9;
    const d88::WriteResult result = d88::PendingFile::commitTogether(files, 2, &failed);
    if (!c.blockSecond) {
      EXPECT_EQ(result.error, 0);
      EXPECT_EQ(readFile(first), data);
      EXPECT_EQ(readFile(second), data);
      EXPECT_EQ(listDir(dir.path()), (std::vector<std::string>{"MAP", "OUT"}));
      continue;
    }
    EXPECT_EQ(result.error, EISDIR);
    EXPECT_EQ(failed, 1u);
    EXPECT_TRUE(std::filesystem::is_directory(second));
    if (c.firstExisted) {
      EXPECT_EQ(readFile(first), Bytes(4, 1));
    } else {
      EXPECT_FALSE(std::filesystem::exists(first));
    }
    std::vector<std::string> after = before;
    after.push_back("MAP");
    std::sort(after.begin(), after.end());
    EXPECT_EQ(listDir(dir.path()), after);
  }
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
