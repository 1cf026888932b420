// A d88::File over bytes in memory for tests: a file with a size or a stream,
// which counts the reads the reader makes of it and can make chosen ones fail.
//
//   auto file = d88test::TestFile::over(bytes);            // or over(bytes, d88test::kStream)
//   std::shared_ptr<d88test::FileLog> log = file->log();
//   log->failFrom(3);                                       // read 3 and every later one: EIO
//   d88::Status s = d88::Image::openFile(std::move(file), &image);
//   ... log->reads, log->bytes ...
//
// The image owns the file and destroys it when it is closed; the log is
// shared, so the test reads it and changes its faults before, during and after.
#ifndef D88CUT_TESTS_SUPPORT_TEST_FILES_H_
#define D88CUT_TESTS_SUPPORT_TEST_FILES_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include <d88/file.h>
#include <d88/status.h>

#include "d88_builder.h"

namespace d88test {

// What a TestFile was asked and gave, and which of its reads fail. Reads are
// numbered from 1 in the order they are made; a failed read counts too.
struct FileLog {
  std::uint64_t reads = 0;         // calls of read()
  std::uint64_t bytes = 0;         // bytes those reads brought
  std::uint64_t largestRead = 0;   // the largest count one read asked for
  std::uint64_t furthestEnd = 0;   // the furthest offset + count asked for
  bool outOfTurn = false;          // a stream was asked for bytes other than the next ones
  bool destroyed = false;          // the file object is gone

  // Read number n fails with EIO (0: none); with `andAfter`, every later read too.
  void failAt(std::uint64_t n, bool andAfter = false) {
    failRead = n;
    failAfter = andAfter;
  }
  // Read number n and every read after it fail with EIO.
  void failFrom(std::uint64_t n) { failAt(n, true); }
  // The next read fails (with `andAfter`, and every one after it).
  void failNext(bool andAfter = false) { failAt(reads + 1, andAfter); }
  // No read fails from now on.
  void heal() { failAt(0); }

  // Whether read number n fails; used by the file.
  bool fails(std::uint64_t n) const {
    return failRead != 0 && (n == failRead || (failAfter && n > failRead));
  }

  std::uint64_t failRead = 0;
  bool failAfter = false;
  // When not 0: no read gives more than this many bytes, as a network file
  // or an archive's member may give fewer than asked before its end.
  std::size_t mostPerRead = 0;
};

// Whether a TestFile tells its size or is read in turn as a stream.
enum FileKind { kSized, kStream };

class TestFile : public d88::File {
 public:
  // A file over a copy of `bytes`.
  static std::unique_ptr<TestFile> over(const d88build::Bytes& bytes, FileKind kind = kSized);

  TestFile(d88build::Bytes bytes, FileKind kind);
  ~TestFile() override;

  // Shared with the test; outlives the file.
  const std::shared_ptr<FileLog>& log() const { return log_; }

  // The bytes' count; -1 for a stream.
  std::int64_t size() const override;
  // As d88::File: fewer bytes than asked only at the end. A failing read
  // (FileLog::failAt) gives none and Status::ioError(EIO); a stream asked
  // for any offset but the count of bytes it gave so far says so in the log
  // and fails with ESPIPE.
  d88::Status read(std::int64_t offset, std::uint8_t* buffer, std::size_t count,
                   std::size_t* got) override;

 private:
  d88build::Bytes bytes_;
  FileKind kind_;
  std::uint64_t streamAt_ = 0;
  std::shared_ptr<FileLog> log_;
};

}  // namespace d88test

#endif  // D88CUT_TESTS_SUPPORT_TEST_FILES_H_
