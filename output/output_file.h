// Writing an output file whole or not at all, and where an output goes.
#ifndef D88CUT_OUTPUT_OUTPUT_FILE_H_
#define D88CUT_OUTPUT_OUTPUT_FILE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "file_system.h"

namespace d88 {

// A temporary file is named NAME + this + six random letters and digits; a
// NAME too long for that is shortened in the temporary's name.
constexpr const char kTemporaryMarker[] = ".d88cut-";

// How writing a file went.
struct WriteResult {
  int error = 0;  // 0, or the errno value of the failure
  // The failure is the folder's or its filesystem's (no permission to create
  // files, read-only, missing, full, over quota): no other file can be
  // written there either.
  bool folderFailed = false;
  // What stood under the final name when it was no file to replace (a
  // device, a FIFO, a socket; error is then EEXIST); kNothing otherwise.
  FileKind standing = FileKind::kNothing;
  // After files committed together failed: an earlier file that could not
  // go back under its name `keptFor`, and the name `keptAs` that holds it
  // now; both empty when every final name holds what it held.
  std::string keptFor;
  std::string keptAs;
};

// What `kind` is, in words: "a folder", "a device", "a FIFO (named pipe)",
// "a socket", "no regular file"; "nothing" for kNothing.
std::string fileKindText(FileKind kind);

// Why a write failed, in words: "it is a FIFO (named pipe)" for what stood
// in the way, else the system's reason; then, when an earlier file could
// not go back, "; the earlier NAME could not be put back and is now KEPT".
std::string writeFailureText(const WriteResult& result);

// A file written whole or not at all, in pieces: the bytes go to a temporary
// file of this run's own beside the final name, which replaces any file of
// that name only at commit(). Until then an interrupt (see
// removeTemporaryOnInterrupt) or the destructor removes the temporary. Any
// number may be started at once.
class PendingFile {
 public:
  PendingFile();
  // Removes the temporary unless it was committed.
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Creates the temporary for `name` (UTF-8), after discarding any earlier
  // one. An existing `name` that the user may not write fails with EACCES;
  // the temporary takes the permissions of an existing `name`, which it
  // replaces, where the system has them (not on Windows).
  WriteResult start(const char* name);
  // Appends `size` bytes. On failure the temporary is removed.
  WriteResult append(const std::uint8_t* data, std::size_t size);
  // Appends up to `size` bytes of the regular file open as `sourceFd` (a
  // POSIX descriptor, see CopySourceFile), from `offset`, copied by the
  // system without passing through this process where it can
  // (copy_file_range on Linux). Returns the bytes appended: it stops early
  // at the source's end or at any failure, which the caller finds by
  // reading and append(); 0 where the system has no such copy.
  std::uint64_t appendCopyOf(int sourceFd, std::int64_t offset, std::uint64_t size);
  // Gives the temporary the modification time `seconds` (since 1970-01-01
  // UTC), which the final name keeps: call it after the last append. The
  // file is still written when the system refuses (the errno is returned).
  int setModificationTime(std::int64_t seconds);
  // Closes the temporary and renames it to the final name. On failure the
  // final name is as it was and the temporary is removed. A device, FIFO
  // or socket that now stands under the final name is left in place.
  WriteResult commit();
  // Commits the `count` started files `files` as one: every final name
  // replaced, or, after a failure, none (each then holds what it held
  // before, and one that held nothing holds nothing again). Interrupts wait
  // until it is done, and runs committing into the same folders take turns,
  // where the system can lock a folder, so that no run's files stand beside
  // another's. On failure *failed is the index of the file that failed and
  // every temporary is removed; should an earlier file not go back (the
  // system refusing the rename back), the result names where it is.
  static WriteResult commitTogether(PendingFile* const* files, std::size_t count,
                                    std::size_t* failed);
  // Removes the temporary, if one is open; the final name is untouched.
  void discard();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Writes `size` bytes to the file `name` (UTF-8) through a temporary file of
// this run's own, created beside it, which replaces any file `name` only once
// complete and closed. An existing `name` that the user may not write is
// left as it is (EACCES), as cp would. On failure `name` is as it was and
// the temporary file is gone. Files the call did not create are never removed.
WriteResult writeFileWhole(const char* name, const std::uint8_t* data, std::size_t size);

// Makes SIGINT, SIGTERM and SIGHUP (those not ignored), and Ctrl-C or a closed
// console window on Windows, first remove every temporary file a PendingFile
// holds, then end the process as that signal would have.
void removeTemporaryOnInterrupt();

// The path of the output `name` in `folder` (UTF-8; nullptr or empty: the
// current one), with a slash between them unless the folder ends in one.
std::string pathInFolder(const char* folder, const std::string& name);

}  // namespace d88

#endif  // D88CUT_OUTPUT_OUTPUT_FILE_H_
