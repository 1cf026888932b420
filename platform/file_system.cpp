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
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef __linux__
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
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

std::size_t nameOffset(const std::string& path) {
#ifdef _WIN32
  const std::size_t slash = path.find_last_of("/\\:");
#else
  const std::size_t slash = path.find_last_of('/');
#endif
  return slash == std::string::npos ? 0 : slash + 1;
}

std::string folderOfPath(const std::string& path) {
  std::size_t at = nameOffset(path);
  if (at == 0) return ".";
#ifdef _WIN32
  // "C:name" is in the drive's current folder "C:"; "C:\\name" in its root.
  if (path[at - 1] == ':') return path.substr(0, at);
  const std::size_t root = path.size() >= 3 && path[1] == ':' ? 3 : 1;
  const auto separator = [](char c) { return c == '/' || c == '\\'; };
#else
  const std::size_t root = 1;
  const auto separator = [](char c) { return c == '/'; };
#endif
  // The separators before the name go with it ("a//name" is in "a"), but
  // not the root's own ("/name" is in "/").
  while (at > root && separator(path[at - 1])) --at;
  return path.substr(0, at);
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

int NewFile::setMode(unsigned mode) {
#ifdef _WIN32
  (void)mode;
  return 0;
#else
  errno = 0;
  return fchmod(fd_, static_cast<mode_t>(mode & 0777)) == 0 ? 0 : lastErrno();
#endif
}

int NewFile::setModificationTime(std::int64_t seconds) {
#ifdef _WIN32
  // FILETIME counts 100 ns from 1601-01-01.
  const auto ticks = static_cast<std::uint64_t>(seconds + 11644473600LL) * 10000000ULL;
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return SetFileTime(handle_, nullptr, &time, &time) ? 0 : errnoFromWindows(GetLastError());
#else
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  errno = 0;
  return ::futimens(fd_, times) == 0 ? 0 : lastErrno();
#endif
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

bool regularFileMode(const char* name, unsigned* mode) {
#ifdef _WIN32
  (void)name;
  (void)mode;
  return false;
#else
  struct stat st {};
  if (stat(name, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  *mode = static_cast<unsigned>(st.st_mode & 0777);
  return true;
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

namespace {

#ifdef _WIN32
// What an open handle is, and which file.
void describeHandle(HANDLE h, FileKind* kind, FileIdentity* identity) {
  switch (GetFileType(h)) {
    case FILE_TYPE_CHAR:
      *kind = FileKind::kDevice;
      break;
    case FILE_TYPE_PIPE:
      *kind = FileKind::kFifo;
      break;
    case FILE_TYPE_DISK:
      *kind = FileKind::kRegular;
      break;
    default:
      *kind = FileKind::kOther;
      break;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileInformationByHandle(h, &info)) {
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) *kind = FileKind::kFolder;
    identity->known = true;
    identity->device = info.dwVolumeSerialNumber;
    identity->file = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  }
}
#else
FileKind kindOf(mode_t mode) {
  if (S_ISREG(mode)) return FileKind::kRegular;
  if (S_ISDIR(mode)) return FileKind::kFolder;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return FileKind::kDevice;
  if (S_ISFIFO(mode)) return FileKind::kFifo;
  if (S_ISSOCK(mode)) return FileKind::kSocket;
  return FileKind::kOther;
}

FileIdentity identityOf(const struct stat& st) {
  FileIdentity identity;
  identity.known = true;
  identity.device = static_cast<std::uint64_t>(st.st_dev);
  identity.file = static_cast<std::uint64_t>(st.st_ino);
  return identity;
}
#endif

}  // namespace

int lookUpFile(const char* path, FileKind* kind, FileIdentity* identity) {
  *kind = FileKind::kNothing;
  *identity = FileIdentity();
#ifdef _WIN32
  std::wstring wide;
  if (!toUtf16(path, &wide)) return EINVAL;
  // No access asked: the handle only tells what the name reaches. A
  // folder opens only with backup semantics.
  Handle h(CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (h.get() == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return 0;
    // A device that refuses to be opened still stands under the name.
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DEVICE) != 0) {
      *kind = FileKind::kDevice;
      return 0;
    }
    return errnoFromWindows(code);
  }
  describeHandle(h.get(), kind, identity);
  return 0;
#else
  struct stat st {};
  if (stat(path, &st) != 0) {
    const int error = lastErrno();
    return error == ENOENT || error == ENOTDIR ? 0 : error;
  }
  *kind = kindOf(st.st_mode);
  *identity = identityOf(st);
  return 0;
#endif
}

bool folderIgnoresCase(const char* path) {
#if defined(_WIN32)
  (void)path;
  return true;
#elif defined(__APPLE__)
  return pathconf(path, _PC_CASE_SENSITIVE) == 0;
#elif defined(__linux__)
  struct statfs fs {};
  if (statfs(path, &fs) != 0) return false;
  // Volumes that keep names as Windows does: FAT, exFAT, NTFS, SMB shares.
  static constexpr unsigned long kIgnoringCase[] = {
      0x4d44,      // FAT (msdos, vfat)
      0x2011BAB0,  // exFAT
      0x5346544e,  // NTFS
      0x7366746e,  // ntfs3
      0xFF534D42,  // CIFS
      0xFE534D42,  // SMB2
      0x517B,      // SMB
  };
  const auto type = static_cast<unsigned long>(fs.f_type);
  for (unsigned long magic : kIgnoringCase) {
    if (type == magic) return true;
  }
  // ext4 and f2fs fold case in the folders so marked.
  constexpr int kCaseFoldFlag = 0x40000000;  // FS_CASEFOLD_FL
  const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  // The kernel writes an int here, whatever the request's type says.
  int flags = 0;
  const bool folded = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & kCaseFoldFlag) != 0;
  ::close(fd);
  return folded;
#else
  (void)path;
  return false;
#endif
}

FolderLock::~FolderLock() {
#ifdef _WIN32
  if (mutex_ != nullptr) {
    ReleaseMutex(static_cast<HANDLE>(mutex_));
    CloseHandle(static_cast<HANDLE>(mutex_));
  }
#else
  // Closing the descriptor gives the lock back.
  if (fd_ >= 0) ::close(fd_);
#endif
}

bool FolderLock::lock(const char* folder) {
#ifdef _WIN32
  // A folder cannot be locked as a file can: a mutex named for its identity
  // stands in for it among the runs of one session.
  FileKind kind = FileKind::kNothing;
  FileIdentity identity;
  if (lookUpFile(folder, &kind, &identity) != 0 || !identity.known) return false;
  const std::wstring name = L"Local\\d88-folder-" + std::to_wstring(identity.device) + L"-" +
                            std::to_wstring(identity.file);
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) return false;
  const DWORD waited = WaitForSingleObject(mutex, INFINITE);
  // A run that ended holding it leaves it abandoned, and now ours.
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    CloseHandle(mutex);
    return false;
  }
  mutex_ = mutex;
  return true;
#else
  const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int result = 0;
  do {
    result = flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
#endif
}

int linkFile(const char* target, const char* link) {
#ifdef _WIN32
  std::wstring wideTarget;
  std::wstring wideLink;
  if (!toNativePath(target, &wideTarget) || !toNativePath(link, &wideLink)) return EINVAL;
  return CreateHardLinkW(wideLink.c_str(), wideTarget.c_str(), nullptr)
             ? 0
             : errnoFromWindows(GetLastError());
#else
  errno = 0;
  // linkat without AT_SYMLINK_FOLLOW names a link itself, never its target,
  // on every system (link() follows it on some).
  return ::linkat(AT_FDCWD, target, AT_FDCWD, link, 0) == 0 ? 0 : lastErrno();
#endif
}

CopySourceFile::CopySourceFile(const char* path, std::int64_t expectedSize,
                               const FileIdentity& expected) {
#ifdef __linux__
  if (expectedSize < 0 || !expected.known) return;
  owned_ = std::strcmp(path, "-") != 0;
  fd_ = owned_ ? ::open(path, O_RDONLY | O_CLOEXEC) : STDIN_FILENO;
  struct stat st {};
  if (fd_ >= 0 && (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != expectedSize ||
                   identityOf(st) != expected)) {
    if (owned_) ::close(fd_);
    fd_ = -1;
  }
#else
  (void)path;
  (void)expectedSize;
  (void)expected;
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
