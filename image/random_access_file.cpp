#include "image/random_access_file.h"

#include "image/platform.h"

#include <cerrno>

#ifdef _WIN32
#include <windows.h>

#include <string>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace d88 {

#ifdef _WIN32

int RandomAccessFile::open(const char* path) {
  close();
  std::wstring wide;
  if (path == nullptr || !toUtf16(path, &wide)) return EINVAL;
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return errnoFromWindows(GetLastError());
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(h, &size)) {
    const int error = errnoFromWindows(GetLastError());
    CloseHandle(h);
    return error;
  }
  handle_ = h;
  size_ = size.QuadPart;
  return 0;
}

void RandomAccessFile::close() {
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
  size_ = -1;
  lastError_ = 0;
}

bool RandomAccessFile::isOpen() const { return handle_ != nullptr; }

std::int64_t RandomAccessFile::readAt(std::int64_t offset, std::uint8_t* buffer,
                                      std::size_t count) {
  if (handle_ == nullptr || offset < 0) return -1;
  std::int64_t done = 0;
  while (static_cast<std::size_t>(done) < count) {
    OVERLAPPED at{};
    const std::int64_t position = offset + done;
    at.Offset = static_cast<DWORD>(position & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    const std::size_t left = count - static_cast<std::size_t>(done);
    const DWORD want = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    DWORD got = 0;
    if (!ReadFile(static_cast<HANDLE>(handle_), buffer + done, want, &got, &at)) {
      const DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) break;
      lastError_ = errnoFromWindows(error);
      return -1;
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

#else

int RandomAccessFile::open(const char* path) {
  close();
  if (path == nullptr) return EINVAL;
  int fd = -1;
  do {
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return lastErrno();
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    const int error = lastErrno();
    ::close(fd);
    return error;
  }
  fd_ = fd;
  // A folder or a device has no size to tell; reads then say what it holds.
  size_ = S_ISREG(st.st_mode) ? static_cast<std::int64_t>(st.st_size) : -1;
  return 0;
}

void RandomAccessFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  size_ = -1;
  lastError_ = 0;
}

bool RandomAccessFile::isOpen() const { return fd_ >= 0; }

std::int64_t RandomAccessFile::readAt(std::int64_t offset, std::uint8_t* buffer,
                                      std::size_t count) {
  if (fd_ < 0 || offset < 0) return -1;
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = ::pread(fd_, buffer + done, count - done,
                                static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
    if (got < 0) {
      if (errno == EINTR) continue;
      lastError_ = errno != 0 ? errno : EIO;
      return -1;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

#endif

}  // namespace d88
