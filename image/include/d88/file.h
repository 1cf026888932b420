// Where an image's bytes come from. The reader reads every image through a
// File: the system's file or standard input (Image::open), a caller's memory
// (Image::openMemory), or an object of the caller's own (Image::openFile),
// such as a file inside an archive, or a test's file that fails on purpose.
#ifndef D88_FILE_H_
#define D88_FILE_H_

#include <cstddef>
#include <cstdint>

#include <d88/status.h>

namespace d88 {

// Thread safety: the reader calls a File from one thread at a time; a File
// need not be safe for concurrent calls.
class File {
 public:
  virtual ~File() = default;

  // Bytes of the file when it may be read at any offset; -1 for a stream (a
  // pipe, a terminal), which has no size to tell and is read in turn only.
  virtual std::int64_t size() const = 0;

  // Reads up to `count` bytes from `offset` into `buffer` and sets *got to
  // the bytes that came; 0 only at the end of the file. Fewer than asked is
  // fine: the reader asks again for the rest. A stream is always asked for
  // the bytes right after those it gave last, so `offset` is then the count
  // of bytes read so far. A failure returns a Status that says why
  // (Status::ioError with the errno value for the system's own failures).
  [[nodiscard]] virtual Status read(std::int64_t offset, std::uint8_t* buffer, std::size_t count,
                                    std::size_t* got) = 0;
};

}  // namespace d88

#endif  // D88_FILE_H_
