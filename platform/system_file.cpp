#include "system_file.h"

#include <cerrno>
#include <cstring>

#include "platform.h"

#ifdef _WIN32
#include <windows.h>

#include <string>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace d88 {

namespace {

bool isStandardInput(const char* path) { return std::strcmp(path, "-") == 0; }

}  // namespace

#ifdef _WIN32

int SystemFile::open(const char* path) {
  close();
  if (path == nullptr) return EINVAL;
  HANDLE h = INVALID_HANDLE_VALUE;
  if (isStandardInput(path)) {
    h = GetStdHandle(STD_INPUT_HANDLE);
    if (h == INVALID_HANDLE_VALUE || h == nullptr) return EBADF;
    ownsHandle_ = false;
  } else {
    std::wstring wide;
    if (!toUtf16(path, &wide)) return EINVAL;
    // A folder opens, as it does elsewhere, and its reads say what it is.
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    isFolder_ = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, isFolder_ ? FILE_FLAG_BACKUP_SEMANTICS : FILE_ATTRIBUTE_NORMAL,
                    nullptr);
    if (h == INVALID_HANDLE_VALUE) return errnoFromWindows(GetLastError());
    ownsHandle_ = true;
  }
  handle_ = h;
  size_ = -1;
  // Only a file on a disk has a size; a pipe or a console is read in turn.
  if (GetFileType(h) == FILE_TYPE_DISK && !isFolder_) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size)) {
      const int error = errnoFromWindows(GetLastError());
      close();
      return error;
    }
    size_ = size.QuadPart;
  }
  return 0;
}

void SystemFile::close() {
  if (handle_ != nullptr && ownsHandle_) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
  ownsHandle_ = false;
  isFolder_ = false;
  size_ = -1;
}

bool SystemFile::isOpen() const { return handle_ != nullptr; }

FileIdentity SystemFile::identity() const {
  FileIdentity identity;
  BY_HANDLE_FILE_INFORMATION info{};
  if (handle_ != nullptr && GetFileInformationByHandle(static_cast<HANDLE>(handle_), &info)) {
    identity.known = true;
    identity.device = info.dwVolumeSerialNumber;
    identity.file = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  }
  return identity;
}

std::int64_t SystemFile::readAt(std::int64_t offset, std::uint8_t* buffer, std::size_t count,
                                int* error) {
  if (handle_ == nullptr || offset < 0) {
    *error = EBADF;
    return -1;
  }
  std::size_t done = 0;
  while (done < count) {
    OVERLAPPED at{};
    const std::int64_t position = offset + static_cast<std::int64_t>(done);
    at.Offset = static_cast<DWORD>(position & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    const std::size_t left = count - done;
    const DWORD want = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    DWORD got = 0;
    if (!ReadFile(static_cast<HANDLE>(handle_), buffer + done, want, &got, &at)) {
      const DWORD code = GetLastError();
      if (code == ERROR_HANDLE_EOF) break;
      *error = errnoFromWindows(code);
      return -1;
    }
    if (got == 0) break;
    done += got;
  }
  return static_cast<std::int64_t>(done);
}

std::int64_t SystemFile::readNext(std::uint8_t* buffer, std::size_t count, int* error) {
  if (handle_ == nullptr || isFolder_) {
    *error = isFolder_ ? EISDIR : EBADF;
    return -1;
  }
  const DWORD want = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
  DWORD got = 0;
  if (!ReadFile(static_cast<HANDLE>(handle_), buffer, want, &got, nullptr)) {
    const DWORD code = GetLastError();
    // The writing end of a pipe was closed: the stream has ended.
    if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) return 0;
    *error = errnoFromWindows(code);
    return -1;
  }
  return static_cast<std::int64_t>(got);
}

#else

int SystemFile::open(const char* path) {
  close();
  if (path == nullptr) return EINVAL;
  int fd = STDIN_FILENO;
  if (!isStandardInput(path)) {
    do {
      fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return lastErrno();
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    const int error = lastErrno();
    if (fd != STDIN_FILENO) ::close(fd);
    return error;
  }
  fd_ = fd;
  ownsHandle_ = fd != STDIN_FILENO;
  // A regular file is read at offsets; anything else (a pipe, a terminal, a
  // device, a folder) in turn, which also makes a folder's read say why.
  size_ = S_ISREG(st.st_mode) ? static_cast<std::int64_t>(st.st_size) : -1;
  return 0;
}

void SystemFile::close() {
  if (fd_ >= 0 && ownsHandle_) ::close(fd_);
  fd_ = -1;
  ownsHandle_ = false;
  size_ = -1;
}

bool SystemFile::isOpen() const { return fd_ >= 0; }

FileIdentity SystemFile::identity() const {
  FileIdentity identity;
  struct stat st {};
  if (fd_ >= 0 && fstat(fd_, &st) == 0) {
    identity.known = true;
    identity.device = static_cast<std::uint64_t>(st.st_dev);
    identity.file = static_cast<std::uint64_t>(st.st_ino);
  }
  return identity;
}

std::int64_t SystemFile::readAt(std::int64_t offset, std::uint8_t* buffer, std::size_t count,
                                int* error) {
  if (fd_ < 0 || offset < 0) {
    *error = EBADF;
    return -1;
  }
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = ::pread(fd_, buffer + done, count - done,
                                static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
    if (got < 0) {
      if (errno == EINTR) continue;
      *error = lastErrno();
      return -1;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

std::int64_t SystemFile::readNext(std::uint8_t* buffer, std::size_t count, int* error) {
  if (fd_ < 0) {
    *error = EBADF;
    return -1;
  }
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, count);
    if (got >= 0) return static_cast<std::int64_t>(got);
    if (errno == EINTR) continue;
    *error = lastErrno();
    return -1;
  }
}

#endif

}  // namespace d88
