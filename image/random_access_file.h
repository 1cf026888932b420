// Positioned reads of one file opened read-only: each read names its offset,
// so no call depends on where an earlier one left a file position.
// Private to the reader.
#ifndef D88CUT_IMAGE_RANDOM_ACCESS_FILE_H_
#define D88CUT_IMAGE_RANDOM_ACCESS_FILE_H_

#include <cstddef>
#include <cstdint>

namespace d88 {

class RandomAccessFile {
 public:
  RandomAccessFile() = default;
  // Closes the file if one is open.
  ~RandomAccessFile() { close(); }
  RandomAccessFile(const RandomAccessFile&) = delete;
  RandomAccessFile& operator=(const RandomAccessFile&) = delete;

  // Closes any open file, then opens `path` (UTF-8) for reading. Returns 0, or
  // the errno value that says why the file cannot be opened.
  int open(const char* path);
  void close();
  bool isOpen() const;

  // Bytes of the file when it was opened; -1 when none is open or the file
  // is not a regular file (a device, say) and has no size to tell.
  std::int64_t size() const { return size_; }

  // Reads up to `count` bytes at `offset` into buffer. Returns the bytes read:
  // fewer at the end of the file, -1 on a read error (see lastError()).
  std::int64_t readAt(std::int64_t offset, std::uint8_t* buffer, std::size_t count);

  // errno value of the last failed read, 0 when none failed since open().
  int lastError() const { return lastError_; }

 private:
#ifdef _WIN32
  void* handle_ = nullptr;  // a HANDLE; null when none is open
#else
  int fd_ = -1;
#endif
  std::int64_t size_ = -1;
  int lastError_ = 0;
};

}  // namespace d88

#endif  // D88CUT_IMAGE_RANDOM_ACCESS_FILE_H_
