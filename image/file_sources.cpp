#include "file_sources.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "system_image_file.h"

namespace d88 {

Status SystemImageFile::read(std::int64_t offset, std::uint8_t* buffer, std::size_t count,
                             std::size_t* got) {
  *got = 0;
  int error = 0;
  const std::int64_t n = file.read(offset, buffer, count, &error);
  if (n < 0) return Status::ioError(error, "read at offset " + std::to_string(offset));
  *got = static_cast<std::size_t>(n);
  return Status();
}

namespace {

class MemoryFile : public File {
 public:
  MemoryFile(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::int64_t size() const override { return static_cast<std::int64_t>(size_); }

  Status read(std::int64_t offset, std::uint8_t* buffer, std::size_t count,
              std::size_t* got) override {
    *got = 0;
    if (offset < 0 || static_cast<std::uint64_t>(offset) >= size_) return Status();
    const auto at = static_cast<std::size_t>(offset);
    *got = std::min(count, size_ - at);
    std::memcpy(buffer, data_ + at, *got);
    return Status();
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

}  // namespace

Status openSystemFile(const char* path, std::unique_ptr<File>* file) {
  auto opened = std::make_unique<SystemImageFile>();
  if (const int error = opened->file.open(path)) {
    return Status::cannotOpen(error, "cannot open the image");
  }
  *file = std::move(opened);
  return Status();
}

std::unique_ptr<File> memoryFile(const std::uint8_t* data, std::size_t size) {
  return std::make_unique<MemoryFile>(data, size);
}

}  // namespace d88
