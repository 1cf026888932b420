// The file system as the programs' output needs it: files created new,
// renames, removals, folders, and whether two names are one file. Paths are
// UTF-8; on Windows they become UTF-16 only here.
#ifndef D88CUT_PLATFORM_FILE_SYSTEM_H_
#define D88CUT_PLATFORM_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace d88 {

// The character of a path as the system takes it: UTF-16 on Windows, bytes
// elsewhere.
#ifdef _WIN32
using NativeChar = wchar_t;
#else
using NativeChar = char;
#endif
using NativePath = std::basic_string<NativeChar>;

// The system's form of the UTF-8 path `path`; false (errno EINVAL) when it
// has none.
bool toNativePath(const char* path, NativePath* native);

// Where the last part of `path` (UTF-8), its name in its folder, starts.
std::size_t nameOffset(const std::string& path);

// The folder that holds `path` (UTF-8): its part before the name ("/" for
// a name at the root), "." when there is none.
std::string folderOfPath(const std::string& path);

// Removes the file `path`. Only async-signal-safe calls (unlink, or
// DeleteFileW on Windows), so that an interrupt handler may call it.
void removeFileNow(const NativeChar* path);

// A file this process created, closed by its destructor if not before.
class NewFile {
 public:
  NewFile() = default;
  ~NewFile() { close(); }
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  // Creates `path` (UTF-8), which must not exist yet: what is there is
  // never reused, so nothing is written through a link someone left under
  // that name. Returns 0, EEXIST when the name is taken, or the errno of the
  // failure.
  int create(const char* path);
  // Writes all of `data`; 0 or the errno of the failure.
  int write(const std::uint8_t* data, std::size_t size);
  // Appends up to `size` bytes of the POSIX descriptor `sourceFd` from
  // `offset` by the system's own copy (copy_file_range on Linux); the bytes
  // appended, fewer at the source's end or a failure, 0 where the system has
  // no such copy.
  std::uint64_t copyFrom(int sourceFd, std::int64_t offset, std::uint64_t size);
  // Gives the file the permission bits `mode` (the low nine of POSIX
  // mode_t), so that a file written in place of another keeps the other's
  // permissions; nothing on Windows. 0 or the errno of the failure.
  int setMode(unsigned mode);
  // Sets the file's modification (and access) time to `seconds` since
  // 1970-01-01 UTC; a write after it moves it again. 0 or the errno of the
  // failure.
  int setModificationTime(std::int64_t seconds);
  // Closes the file; 0 or the errno of the failure.
  int close();

 private:
#ifdef _WIN32
  void* handle_ = reinterpret_cast<void*>(static_cast<std::intptr_t>(-1));  // INVALID_HANDLE_VALUE
#else
  int fd_ = -1;
#endif
};

// Puts the file `from` in the place of `to` (both UTF-8), replacing a file
// that is there; a folder at `to` is EISDIR. Returns 0 or the errno of the
// failure. On Windows a replace that another process holds up for an
// instant is tried again a few times.
int replaceFile(const char* from, const char* to);

// True when `name` (UTF-8) exists and the user may not write it: a
// read-only file that cp would not replace either.
bool isReadOnlyFile(const char* name);

// The permission bits (the low nine of POSIX mode_t) of the regular file
// `name` (UTF-8) into *mode; false when there is none, and on Windows.
bool regularFileMode(const char* name, unsigned* mode);

// Makes the folder `path` (UTF-8) when it is missing; its parents must
// exist. Returns 0, or the errno value of the failure (ENOTDIR when `path`
// is something other than a folder).
int makeFolder(const char* path);

// What stands under a name.
enum class FileKind { kNothing, kRegular, kFolder, kDevice, kFifo, kSocket, kOther };

// Which file a name or an open handle reaches: the device and inode, or on
// Windows the volume's serial number and the file index. Two names reach the
// same file, through links or not, exactly when their identities are equal.
struct FileIdentity {
  bool known = false;
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  bool operator==(const FileIdentity& o) const {
    return known && o.known && device == o.device && file == o.file;
  }
  bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

// Looks up `path` (UTF-8), following links: *kind is what stands there
// (kNothing when the name, or a folder on its way, is missing) and
// *identity which file it is. Returns 0, or the errno of a lookup that
// failed for another reason (no permission, a loop of links).
int lookUpFile(const char* path, FileKind* kind, FileIdentity* identity);

// True when the folder `path` (UTF-8) finds names without regard to case
// (Windows, macOS, FAT and NTFS volumes, case-folded ext4 folders), so that
// "PROG" and "prog" there are one file.
bool folderIgnoresCase(const char* path);

// An exclusive lock on a folder among the runs of these programs, held from
// lock() until the object goes: runs that replace several files of one
// folder as one step take it, so that their steps do not interleave. It
// locks nothing else out, and where the system cannot lock a folder it is
// only not held.
class FolderLock {
 public:
  FolderLock() = default;
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  // Waits for the lock of `folder` (UTF-8); false when it cannot be had.
  bool lock(const char* folder);

 private:
#ifdef _WIN32
  void* mutex_ = nullptr;  // a named mutex's HANDLE
#else
  int fd_ = -1;
#endif
};

// Makes a second name `link` (UTF-8) for the file `target`; 0 or the errno
// of the failure (EEXIST when `link` is taken; the file system may not
// have links at all).
int linkFile(const char* target, const char* link);

// A regular file open for reading by a POSIX descriptor, for the system to
// copy from (NewFile::copyFrom). Only where the system copies so (Linux);
// elsewhere, or when `path` (UTF-8; "-" is standard input) is not a regular
// file of `expectedSize` bytes whose identity is `expected`, fd() is -1: a
// second handle is used only when it reaches the file already open.
class CopySourceFile {
 public:
  CopySourceFile(const char* path, std::int64_t expectedSize, const FileIdentity& expected);
  ~CopySourceFile();
  CopySourceFile(const CopySourceFile&) = delete;
  CopySourceFile& operator=(const CopySourceFile&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  bool owned_ = false;  // standard input is not closed
};

// Fills out[0, length) with random letters and digits, for names no other
// run picks: runs started at one instant differ by their process ids.
void fillRandomName(char* out, std::size_t length);

}  // namespace d88

#endif  // D88CUT_PLATFORM_FILE_SYSTEM_H_
