// A D88 image written whole or not at all: the writer's bytes gathered into
// large pieces and appended to a PendingFile, which the caller commits.
#ifndef D88CUT_OUTPUT_IMAGE_FILE_H_
#define D88CUT_OUTPUT_IMAGE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include <d88/writer.h>

#include "output_file.h"

namespace d88 {

// Bytes gathered before each append to the temporary.
constexpr std::size_t kImageWriteBytes = 64 * 1024;

// Thread safety: one thread at a time.
class PendingImageFile : public ByteSink {
 public:
  // Creates the temporary for `name` (UTF-8), as PendingFile::start does.
  WriteResult start(const char* name);
  // Gathers the bytes; a failed append is kept (failure()) and returned as
  // Status::ioError with its errno value.
  Status write(const std::uint8_t* data, std::size_t size) override;
  // Appends what is gathered, for a caller that commits the file with
  // others (PendingFile::commitTogether on pending()).
  WriteResult finish();
  // Appends what is gathered and renames the temporary into place.
  WriteResult commit();
  PendingFile& pending() { return file_; }
  // Removes the temporary; the final name is untouched.
  void discard() { file_.discard(); }
  // The write that failed; error 0 when none did.
  const WriteResult& failure() const { return failure_; }

 private:
  bool flush();

  PendingFile file_;
  std::vector<std::uint8_t> buffer_;
  WriteResult failure_;
};

}  // namespace d88

#endif  // D88CUT_OUTPUT_IMAGE_FILE_H_
