#include "file_system.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace d88 {
namespace {

#ifdef _WIN32
// Tries at replacing a file that another process holds for an instant.
constexpr int kReplaceAttempts = 10;

struct HandleCloser {
  using pointer = HANDLE;
  void operator()(HANDLE h) const {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
using Handle = std::unique_ptr<void, HandleCloser>;

bool isDirectory(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
#endif

}  // namespace

bool toNativePath(const char* path, NativePath* native) {
#ifdef _WIN32
  if (toUtf16(path, native)) return true;
  errno = EINVAL;
  return false;
#else
  *native = path;
  return true;
#endif
}

void removeFileNow(const NativeChar* path) {
#ifdef _WIN32
  DeleteFileW(path);
#else
  unlink(path);
#endif
}

int NewFile::create(const char* path) {
#ifdef _WIN32
  std::wstring wide;
  if (!toNativePath(path, &wide)) return EINVAL;
  handle_ = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  return handle_ != INVALID_HANDLE_VALUE ? 0 : errnoFromWindows(GetLastError());
#else
  errno = 0;
  fd_ = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  return fd_ >= 0 ? 0 : lastErrno();
#endif
}

int NewFile::write(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
#ifdef _WIN32
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD done = 0;
    if (!WriteFile(handle_, data, chunk, &done, nullptr)) return errnoFromWindows(GetLastError());
#else
    errno = 0;
    const ssize_t done = ::write(fd_, data, size);
    if (done < 0 && errno == EINTR) continue;
    if (done < 0) return lastErrno();
#endif
    if (done == 0) return EIO;
    data += done;
    size -= static_cast<std::size_t>(done);
  }
  return 0;
}

std::uint64_t NewFile::copyFrom(int sourceFd, std::int64_t offset, std::uint64_t size) {
  std::uint64_t done = 0;
#ifdef __linux__
  while (done < size) {
    off64_t from = static_cast<off64_t>(offset) + static_cast<off64_t>(done);
    const std::size_t chunk =
        static_cast<std::size_t>(std::min<std::uint64_t>(size - done, std::uint64_t{1} << 30));
    const ssize_t n = copy_file_range(sourceFd, &from, fd_, nullptr, chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::uint64_t>(n);
  }
#else
  (void)sourceFd;
  (void)offset;
  (void)size;
#endif
  return done;
}

int NewFile::close() {
#ifdef _WIN32
  if (handle_ == INVALID_HANDLE_VALUE) return 0;
  const BOOL closed = CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  return closed ? 0 : errnoFromWindows(GetLastError());
#else
  if (fd_ < 0) return 0;
  errno = 0;
  const int result = ::close(fd_);
  fd_ = -1;
  return result == 0 ? 0 : lastErrno();
#endif
}

int replaceFile(const char* from, const char* to) {
#ifdef _WIN32
  std::wstring wideFrom;
  std::wstring wideTo;
  if (!toNativePath(from, &wideFrom) || !toNativePath(to, &wideTo)) return EINVAL;
  // Moving onto a folder is reported as such, as on other systems.
  if (isDirectory(wideTo)) return EISDIR;
  // Another run replacing the same name at the same moment (or a virus
  // scanner looking at it) holds the old file for an instant, and the
  // replace is refused; it is tried again a few times before it counts.
  for (int attempt = 1;; ++attempt) {
    if (MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_REPLACE_EXISTING)) return 0;
    const DWORD code = GetLastError();
    const bool busy = code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION;
    if (!busy || attempt == kReplaceAttempts) return errnoFromWindows(code);
    Sleep(static_cast<DWORD>(10 * attempt));
  }
#else
  errno = 0;
  return std::rename(from, to) == 0 ? 0 : lastErrno();
#endif
}

bool isReadOnlyFile(const char* name) {
#ifdef _WIN32
  std::wstring wide;
  if (!toUtf16(name, &wide)) return false;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
         (attributes & FILE_ATTRIBUTE_READONLY) != 0;
#else
  struct stat st {};
  if (stat(name, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  return access(name, W_OK) != 0 && errno == EACCES;
#endif
}

int makeFolder(const char* path) {
#ifdef _WIN32
  std::wstring wide;
  if (!toNativePath(path, &wide)) return EINVAL;
  if (CreateDirectoryW(wide.c_str(), nullptr)) return 0;
  const DWORD code = GetLastError();
  if (code == ERROR_ALREADY_EXISTS) return isDirectory(wide) ? 0 : ENOTDIR;
  return errnoFromWindows(code);
#else
  if (::mkdir(path, 0777) == 0) return 0;
  const int error = lastErrno();
  struct stat st {};
  if (error == EEXIST) return stat(path, &st) == 0 && S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  return error;
#endif
}

bool isSameFile(const char* a, const char* b) {
#ifdef _WIN32
  // st_ino means nothing on Windows: compare the volume and the file index.
  BY_HANDLE_FILE_INFORMATION infoA{};
  BY_HANDLE_FILE_INFORMATION infoB{};
  const auto identify = [](const char* path, BY_HANDLE_FILE_INFORMATION* info) {
    // "-" is standard input, which may be a file redirected from here.
    if (std::strcmp(path, "-") == 0) {
      return GetFileInformationByHandle(GetStdHandle(STD_INPUT_HANDLE), info) != 0;
    }
    std::wstring wide;
    if (!toUtf16(path, &wide)) return false;
    Handle h(CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return h.get() != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h.get(), info) != 0;
  };
  if (!identify(a, &infoA) || !identify(b, &infoB)) return false;
  return infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber &&
         infoA.nFileIndexHigh == infoB.nFileIndexHigh && infoA.nFileIndexLow == infoB.nFileIndexLow;
#else
  // "-" is standard input, which may be a file redirected from here.
  const auto identify = [](const char* path, struct stat* st) {
    return std::strcmp(path, "-") == 0 ? fstat(STDIN_FILENO, st) == 0 : stat(path, st) == 0;
  };
  struct stat sa {};
  struct stat sb {};
  if (!identify(a, &sa) || !identify(b, &sb)) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
#endif
}

CopySourceFile::CopySourceFile(const char* path, std::int64_t expectedSize) {
#ifdef __linux__
  if (expectedSize < 0) return;
  owned_ = std::strcmp(path, "-") != 0;
  fd_ = owned_ ? ::open(path, O_RDONLY | O_CLOEXEC) : STDIN_FILENO;
  struct stat st {};
  if (fd_ >= 0 && (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != expectedSize)) {
    if (owned_) ::close(fd_);
    fd_ = -1;
  }
#else
  (void)path;
  (void)expectedSize;
#endif
}

CopySourceFile::~CopySourceFile() {
#ifdef __linux__
  if (owned_ && fd_ >= 0) ::close(fd_);
#endif
}

void fillRandomName(char* out, std::size_t length) {
  static std::uint64_t state =
      static_cast<std::uint64_t>(
          std::chrono::high_resolution_clock::now().time_since_epoch().count()) ^
#ifdef _WIN32
      (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32);
#else
      (static_cast<std::uint64_t>(getpid()) << 32);
#endif
  static constexpr char kAlphabet[] =
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  for (std::size_t i = 0; i < length; ++i) {
    // splitmix64
    state += 0x9E3779B97F4A7C15u;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    z ^= z >> 31;
    out[i] = kAlphabet[z % (sizeof kAlphabet - 1)];
  }
}

}  // namespace d88
