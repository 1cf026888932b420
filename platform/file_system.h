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

// Makes the folder `path` (UTF-8) when it is missing; its parents must
// exist. Returns 0, or the errno value of the failure (ENOTDIR when `path`
// is something other than a folder).
int makeFolder(const char* path);

// True when both paths (UTF-8; "-" is standard input) exist and name the same file.
bool isSameFile(const char* a, const char* b);

// A regular file open for reading by a POSIX descriptor, for the system to
// copy from (NewFile::copyFrom). Only where the system copies so (Linux);
// elsewhere, or when `path` (UTF-8; "-" is standard input) is not a regular
// file of `expectedSize` bytes, fd() is -1.
class CopySourceFile {
 public:
  CopySourceFile(const char* path, std::int64_t expectedSize);
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
