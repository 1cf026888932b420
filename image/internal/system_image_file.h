// The image file as the system gives it, read as a d88::File: what
// Image::open reads, and what a program of this project opens itself when it
// needs the open handle (its identity, say) while the reader reads it. Part
// of the build tree only; not installed with the library.
#ifndef D88CUT_IMAGE_INTERNAL_SYSTEM_IMAGE_FILE_H_
#define D88CUT_IMAGE_INTERNAL_SYSTEM_IMAGE_FILE_H_

#include <cstddef>
#include <cstdint>

#include <d88/file.h>
#include <d88/status.h>

#include "system_file.h"

namespace d88 {

class SystemImageFile : public File {
 public:
  // The system's file: open it (SystemFile::open) before the reader reads.
  SystemFile file;

  std::int64_t size() const override { return file.size(); }
  // Reads at `offset` from a regular file, the next bytes of a stream; a
  // failure is Status::ioError with the system's errno.
  Status read(std::int64_t offset, std::uint8_t* buffer, std::size_t count,
              std::size_t* got) override;
};

}  // namespace d88

#endif  // D88CUT_IMAGE_INTERNAL_SYSTEM_IMAGE_FILE_H_
