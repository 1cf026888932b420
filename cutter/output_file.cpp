#include "cutter/output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace d88 {
namespace {

constexpr std::size_t kMaxNameLength = 4096;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// errno after a failed call, never 0: some C libraries leave it unset.
int lastError() { return errno != 0 ? errno : EIO; }

#ifdef _WIN32
struct HandleCloser {
  using pointer = HANDLE;
  void operator()(HANDLE h) const {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
using Handle = std::unique_ptr<void, HandleCloser>;

int errnoFromWindows(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    default:
      return EIO;
  }
}

bool isDirectory(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
#endif

// A new file for binary writing. It refuses to reuse what is already there,
// and so never writes through a link that someone left under that name.
File createNew(const char* path) {
#ifdef _WIN32
  const int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  File file(_fdopen(fd, "wb"));
  if (!file) _close(fd);
  return file;
#else
  return File(std::fopen(path, "wbx"));
#endif
}

// Puts `from` in the place of `to`, replacing a file that is there.
int replaceFile(const char* from, const char* to) {
#ifdef _WIN32
  // Plain rename fails when the target exists; a folder in its place is
  // reported as such, as on other systems.
  if (isDirectory(to)) return EISDIR;
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) ? 0 : errnoFromWindows(GetLastError());
#else
  errno = 0;
  return std::rename(from, to) == 0 ? 0 : lastError();
#endif
}

}  // namespace

int writeFileWhole(const char* name, const std::uint8_t* data, std::size_t size) {
  char temporary[kMaxNameLength];
  const int needed = std::snprintf(temporary, sizeof temporary, "%s%s", name, kTemporarySuffix);
  if (needed < 0 || static_cast<std::size_t>(needed) >= sizeof temporary) return ENAMETOOLONG;

  // A leftover from an interrupted run is removed, not written through.
  std::remove(temporary);
  errno = 0;
  File out = createNew(temporary);
  if (!out) return lastError();
  // One write of the whole slice: a stream buffer would only add a copy.
  std::setvbuf(out.get(), nullptr, _IONBF, 0);

  int error = 0;
  errno = 0;
  if (size != 0 && std::fwrite(data, 1, size, out.get()) != size) error = lastError();
  errno = 0;
  if (error == 0 && std::fflush(out.get()) != 0) error = lastError();
  errno = 0;
  if (std::fclose(out.release()) != 0 && error == 0) error = lastError();
  if (error == 0) error = replaceFile(temporary, name);
  if (error != 0) std::remove(temporary);
  return error;
}

bool isSameFile(const char* a, const char* b) {
#ifdef _WIN32
  // st_ino means nothing on Windows: compare the volume and the file index.
  BY_HANDLE_FILE_INFORMATION infoA{};
  BY_HANDLE_FILE_INFORMATION infoB{};
  const auto identify = [](const char* path, BY_HANDLE_FILE_INFORMATION* info) {
    Handle h(CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return h.get() != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h.get(), info) != 0;
  };
  if (!identify(a, &infoA) || !identify(b, &infoB)) return false;
  return infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber &&
         infoA.nFileIndexHigh == infoB.nFileIndexHigh && infoA.nFileIndexLow == infoB.nFileIndexLow;
#else
  struct stat sa {};
  struct stat sb {};
  if (stat(a, &sa) != 0 || stat(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
#endif
}

}  // namespace d88
