// The image file as the system gives it: opened read-only by name or as
// standard input, read at an offset when it is a regular file, or in turn
// when it is a stream. The reader reads images through it. Private to this
// project; not installed.
#ifndef D88CUT_PLATFORM_SYSTEM_FILE_H_
#define D88CUT_PLATFORM_SYSTEM_FILE_H_

#include <cstddef>
#include <cstdint>

#include "file_system.h"

namespace d88 {

class SystemFile {
 public:
  SystemFile() = default;
  // Closes the file if this object opened it (standard input stays open).
  ~SystemFile() { close(); }
  SystemFile(const SystemFile&) = delete;
  SystemFile& operator=(const SystemFile&) = delete;

  // Closes any open file, then opens `path` (UTF-8) for reading; "-" is
  // standard input. Returns 0, or the errno value that says why it cannot
  // be opened.
  int open(const char* path);
  void close();
  bool isOpen() const;

  // True for a regular file: it has a size and may be read at any offset.
  // Anything else (a pipe, a terminal, a device) is a stream, read in turn.
  bool seekable() const { return size_ >= 0; }
  // Bytes of a regular file when it was opened; -1 for a stream.
  std::int64_t size() const { return size_; }

  // Which file is open (FileIdentity::known false when none is, or the
  // system does not say): a program compares it with the files it writes.
  FileIdentity identity() const;

  // Reads up to `count` bytes: at `offset` from a regular file, the next
  // ones from a stream. Returns the bytes read, 0 at the end; -1 with
  // *error set on failure.
  std::int64_t read(std::int64_t offset, std::uint8_t* buffer, std::size_t count, int* error) {
    return seekable() ? readAt(offset, buffer, count, error) : readNext(buffer, count, error);
  }
  // Regular files: reads up to `count` bytes at `offset`. Returns the bytes
  // read, fewer only at the end of the file; -1 with *error set on failure.
  std::int64_t readAt(std::int64_t offset, std::uint8_t* buffer, std::size_t count, int* error);
  // Streams: reads the next bytes, at most `count`. Returns the bytes read
  // (0 at the end of the stream); -1 with *error set on failure.
  std::int64_t readNext(std::uint8_t* buffer, std::size_t count, int* error);

 private:
#ifdef _WIN32
  void* handle_ = nullptr;  // a HANDLE; null when none is open
  bool isFolder_ = false;   // a folder, opened so that its reads fail as elsewhere
#else
  int fd_ = -1;
#endif
  bool ownsHandle_ = false;  // false for standard input
  std::int64_t size_ = -1;
};

}  // namespace d88

#endif  // D88CUT_PLATFORM_SYSTEM_FILE_H_
