// What the outputs lean on in the file system: the lock that makes runs
// take turns at a folder, and the second handle a copy may read through.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "file_system.h"
#include "system_file.h"
#include "test_support.h"

namespace {

using d88build::Bytes;
using d88test::TempDir;

// A path's folder and the name in it, as the check of outputs and the
// folder lock see them: separators before the name go with it, a root's
// own stays.
TEST(FolderOfPath, SplitsAPathIntoItsFolderAndName) {
  struct Case {
    const char* path;
    const char* folder;
    const char* name;
  };
  const Case cases[] = {
      {"name", ".", "name"},
      {"a/name", "a", "name"},
      {"a//name", "a", "name"},
      {"/name", "/", "name"},
      {"//name", "/", "name"},
      {"a/b/", "a/b", ""},
      {"./name", ".", "name"},
#ifdef _WIN32
      {"C:\\name", "C:\\", "name"},
      {"C:name", "C:", "name"},
      {"C:\\a\\\\name", "C:\\a", "name"},
      {"\\name", "\\", "name"},
      {"\\\\server\\share\\name", "\\\\server\\share", "name"},
#else
      {"a\\name", ".", "a\\name"},  // a backslash is part of a name here
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string path = c.path;
    EXPECT_EQ(d88::folderOfPath(path), c.folder);
    EXPECT_EQ(path.substr(d88::nameOffset(path)), c.name);
  }
}

// A second lock of one folder waits until the first is given back.
TEST(FolderLock, IsHeldByOneAtATime) {
  TempDir dir;
  auto first = std::make_unique<d88::FolderLock>();
  ASSERT_TRUE(first->lock(dir.path().c_str()));
  std::atomic<bool> taken{false};
  std::thread second([&] {
    d88::FolderLock lock;
    EXPECT_TRUE(lock.lock(dir.path().c_str()));
    taken = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(taken.load());
  first.reset();
  second.join();
  EXPECT_TRUE(taken.load());
}

#ifdef __linux__
// The system copies from a second handle only when it reaches the file the
// reader has open: another file of the same size put under the name since
// is not read.
TEST(CopySourceFile, IsOnlyTheFileAlreadyOpen) {
  TempDir dir;
  const std::string path = dir.write("image.d88", Bytes(1000, 1));
  d88::SystemFile opened;
  ASSERT_EQ(opened.open(path.c_str()), 0);
  const d88::CopySourceFile same(path.c_str(), 1000, opened.identity());
  EXPECT_GE(same.fd(), 0);
  dir.write("other.d88", Bytes(1000, 2));
  ASSERT_EQ(std::rename(dir.file("other.d88").c_str(), path.c_str()), 0);
  const d88::CopySourceFile replaced(path.c_str(), 1000, opened.identity());
  EXPECT_EQ(replaced.fd(), -1);
}
#endif

}  // namespace
