#include "output_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace d88 {
namespace {

constexpr std::size_t kMaxNameLength = 4096;
// Random characters at the end of a temporary name, and tries at a free name.
constexpr std::size_t kRandomLength = 6;
constexpr int kNameAttempts = 100;
#ifdef _WIN32
// Tries at replacing a file that another process holds for an instant.
constexpr int kReplaceAttempts = 10;
#endif

#ifdef _WIN32

// The UTF-16 form of a path, or false with errno EINVAL.
bool widePath(const char* path, std::wstring* wide) {
  if (toUtf16(path, wide)) return true;
  errno = EINVAL;
  return false;
}

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
#else
#endif

// The temporary files this run is writing, one slot each, for the interrupt
// handler: a slot's name is stored before its flag is set, and both change
// only while interrupts are held off (InterruptsHeld), so the handler never
// removes a file of another's, nor a name that is already in place.
volatile std::sig_atomic_t temporaryActive[kMaxPendingFiles] = {};
#ifdef _WIN32
wchar_t temporaryName[kMaxPendingFiles][kMaxNameLength];
// Held while a temporary is created or renamed; the console handler takes it
// and never gives it back, as the process is ending.
SRWLOCK interruptLock = SRWLOCK_INIT;
#else
char temporaryName[kMaxPendingFiles][kMaxNameLength];
// The signals that remove the temporary before they end the process.
constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t interruptSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signalNumber : kInterruptSignals) sigaddset(&set, signalNumber);
  return set;
}
#endif

// Holds off the interrupts that removeTemporaryOnInterrupt() handles while it
// lives: creating and registering a temporary, or renaming and forgetting it,
// is then one step as the handler sees it.
class InterruptsHeld {
 public:
#ifdef _WIN32
  InterruptsHeld() { AcquireSRWLockExclusive(&interruptLock); }
  ~InterruptsHeld() { ReleaseSRWLockExclusive(&interruptLock); }
#else
  InterruptsHeld() {
    const sigset_t held = interruptSignals();
    sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~InterruptsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
#endif
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;

 private:
#ifndef _WIN32
  sigset_t previous_;
#endif
};

#ifdef _WIN32
BOOL WINAPI onConsoleInterrupt(DWORD) {
  AcquireSRWLockExclusive(&interruptLock);
  // The file was opened with FILE_SHARE_DELETE: it goes when the exiting
  // process closes it.
  for (int slot = 0; slot < kMaxPendingFiles; ++slot) {
    if (temporaryActive[slot]) DeleteFileW(temporaryName[slot]);
  }
  return FALSE;  // on to the default handler, which ends the process
}
#else
// Only async-signal-safe calls: unlink, signal, raise.
void onInterruptSignal(int signalNumber) {
  for (int slot = 0; slot < kMaxPendingFiles; ++slot) {
    if (temporaryActive[slot]) unlink(temporaryName[slot]);
  }
  signal(signalNumber, SIG_DFL);
  // Held until the handler returns; then it ends the process as usual.
  raise(signalNumber);
}
#endif

// A file this call created, closed by its destructor if not before.
class NewFile {
 public:
  NewFile() = default;
  ~NewFile() { close(); }
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  // Creates `path`, which must not exist yet: what is there is never reused,
  // so nothing is written through a link someone left under that name.
  // Returns 0, EEXIST when the name is taken, or the errno of the failure.
  int create(const char* path) {
#ifdef _WIN32
    std::wstring wide;
    if (!widePath(path, &wide)) return EINVAL;
    handle_ = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                          nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle_ != INVALID_HANDLE_VALUE ? 0 : errnoFromWindows(GetLastError());
#else
    errno = 0;
    fd_ = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return fd_ >= 0 ? 0 : lastErrno();
#endif
  }

  // Writes all of `data`; 0 or the errno of the failure.
  int write(const std::uint8_t* data, std::size_t size) {
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

  // Appends up to `size` bytes of `sourceFd` from `offset` by the system's
  // own copy; the bytes appended, fewer at the source's end or a failure.
  std::uint64_t copyFrom(int sourceFd, std::int64_t offset, std::uint64_t size) {
    std::uint64_t done = 0;
#ifdef __linux__
    while (done < size) {
      off64_t from = static_cast<off64_t>(offset) + static_cast<off64_t>(done);
      const std::size_t chunk = static_cast<std::size_t>(
          std::min<std::uint64_t>(size - done, std::uint64_t{1} << 30));
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

  // Closes the file; 0 or the errno of the failure.
  int close() {
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

 private:
#ifdef _WIN32
  HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
  int fd_ = -1;
#endif
};

// Random letters and digits for temporary names; runs started together get
// different ones from their process ids.
char randomCharacter() {
  static std::uint64_t state =
      static_cast<std::uint64_t>(
          std::chrono::high_resolution_clock::now().time_since_epoch().count()) ^
#ifdef _WIN32
      (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32);
#else
      (static_cast<std::uint64_t>(getpid()) << 32);
#endif
  // splitmix64
  state += 0x9E3779B97F4A7C15u;
  std::uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  z ^= z >> 31;
  static constexpr char kAlphabet[] =
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  return kAlphabet[z % (sizeof kAlphabet - 1)];
}

// A slot no temporary holds, or -1 when all are taken. Called while
// interrupts are held off.
int freeSlot() {
  for (int slot = 0; slot < kMaxPendingFiles; ++slot) {
    if (!temporaryActive[slot]) return slot;
  }
  return -1;
}

// Stores `path` in `slot` as a temporary the interrupt handler removes.
void registerTemporary(const char* path, int slot) {
#ifdef _WIN32
  std::wstring wide;
  if (!toUtf16(path, &wide) || wide.size() >= kMaxNameLength) return;
  std::memcpy(temporaryName[slot], wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
#else
  std::memcpy(temporaryName[slot], path, std::strlen(path) + 1);
#endif
  temporaryActive[slot] = 1;
}

// Creates a temporary file beside `name` whose name no one else holds, and
// registers it in a free slot, which *slot receives; `temporary` receives its
// name. EBUSY when kMaxPendingFiles temporaries are open already.
int createTemporary(const char* name, char (&temporary)[kMaxNameLength], NewFile* file,
                    int* slot) {
  const std::size_t length = std::strlen(name);
  const std::size_t markerLength = sizeof kTemporaryMarker - 1;
  if (length + markerLength + kRandomLength >= kMaxNameLength) return ENAMETOOLONG;
  std::memcpy(temporary, name, length);
  std::memcpy(temporary + length, kTemporaryMarker, markerLength);
  char* random = temporary + length + markerLength;
  random[kRandomLength] = '\0';
  int error = EEXIST;
  for (int attempt = 0; attempt < kNameAttempts && error == EEXIST; ++attempt) {
    for (std::size_t i = 0; i < kRandomLength; ++i) random[i] = randomCharacter();
    const InterruptsHeld held;
    *slot = freeSlot();
    if (*slot < 0) return EBUSY;
    error = file->create(temporary);
    if (error == 0) registerTemporary(temporary, *slot);
  }
  return error;
}

// Removes the temporary this call created and forgets it.
void removeTemporary(const char* temporary, int slot) {
  const InterruptsHeld held;
#ifdef _WIN32
  std::wstring wide;
  if (toUtf16(temporary, &wide)) DeleteFileW(wide.c_str());
#else
  unlink(temporary);
#endif
  temporaryActive[slot] = 0;
}

// Puts the temporary `from` in the place of `to`, replacing a file that is
// there, and forgets it.
int replaceWithTemporary(const char* from, const char* to, int slot) {
  const InterruptsHeld held;
  int error = 0;
#ifdef _WIN32
  std::wstring wideFrom;
  std::wstring wideTo;
  if (!widePath(from, &wideFrom) || !widePath(to, &wideTo)) {
    error = EINVAL;
  } else if (isDirectory(wideTo)) {
    // Moving onto a folder is reported as such, as on other systems.
    error = EISDIR;
  } else {
    // Another run replacing the same name at the same moment (or a virus
    // scanner looking at it) holds the old file for an instant, and the
    // replace is refused; it is tried again a few times before it counts.
    for (int attempt = 1;; ++attempt) {
      if (MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_REPLACE_EXISTING)) break;
      const DWORD code = GetLastError();
      const bool busy = code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION;
      if (!busy || attempt == kReplaceAttempts) {
        error = errnoFromWindows(code);
        break;
      }
      Sleep(static_cast<DWORD>(10 * attempt));
    }
  }
#else
  errno = 0;
  if (std::rename(from, to) != 0) error = lastErrno();
#endif
  if (error == 0) temporaryActive[slot] = 0;
  return error;
}

// True when `name` exists and the user may not write it: a read-only file
// that cp would not replace either.
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

// Failures to create a file in a folder, or to write into its filesystem,
// that no other file there escapes.
bool isFolderError(int error, bool creating) {
  switch (error) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
    case EROFS:
      return true;
    case EACCES:
    case EPERM:
    case ENOENT:
    case ENOTDIR:
      return creating;
    default:
      return false;
  }
}

}  // namespace

struct PendingFile::Impl {
  std::string name;
  char temporary[kMaxNameLength] = {};
  int slot = -1;
  NewFile out;
};

PendingFile::PendingFile() = default;

PendingFile::~PendingFile() { discard(); }

WriteResult PendingFile::start(const char* name) {
  discard();
  if (isReadOnlyFile(name)) return WriteResult{EACCES, false};
  auto impl = std::make_unique<Impl>();
  impl->name = name;
  const int error = createTemporary(name, impl->temporary, &impl->out, &impl->slot);
  if (error != 0) return WriteResult{error, isFolderError(error, true)};
  impl_ = std::move(impl);
  return WriteResult{};
}

WriteResult PendingFile::append(const std::uint8_t* data, std::size_t size) {
  if (!impl_) return WriteResult{EBADF, false};
  const int error = impl_->out.write(data, size);
  if (error == 0) return WriteResult{};
  discard();
  return WriteResult{error, isFolderError(error, false)};
}

std::uint64_t PendingFile::appendCopyOf(int sourceFd, std::int64_t offset, std::uint64_t size) {
  if (!impl_ || sourceFd < 0 || offset < 0) return 0;
  return impl_->out.copyFrom(sourceFd, offset, size);
}

WriteResult PendingFile::commit() {
  if (!impl_) return WriteResult{EBADF, false};
  int error = impl_->out.close();
  if (error != 0) {
    discard();
    return WriteResult{error, isFolderError(error, false)};
  }
  error = replaceWithTemporary(impl_->temporary, impl_->name.c_str(), impl_->slot);
  if (error != 0) {
    discard();
    return WriteResult{error, false};
  }
  impl_.reset();
  return WriteResult{};
}

void PendingFile::discard() {
  if (!impl_) return;
  impl_->out.close();
  removeTemporary(impl_->temporary, impl_->slot);
  impl_.reset();
}

WriteResult writeFileWhole(const char* name, const std::uint8_t* data, std::size_t size) {
  PendingFile file;
  WriteResult result = file.start(name);
  if (result.error == 0) result = file.append(data, size);
  if (result.error == 0) result = file.commit();
  return result;
}

int makeFolder(const char* path) {
#ifdef _WIN32
  std::wstring wide;
  if (!widePath(path, &wide)) return EINVAL;
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

void removeTemporaryOnInterrupt() {
#ifdef _WIN32
  SetConsoleCtrlHandler(onConsoleInterrupt, TRUE);
#else
  for (int signalNumber : kInterruptSignals) {
    struct sigaction previous {};
    // A signal the caller ignores (nohup, a background job) stays ignored.
    if (sigaction(signalNumber, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = onInterruptSignal;
    action.sa_mask = interruptSignals();
    sigaction(signalNumber, &action, nullptr);
  }
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

}  // namespace d88
