#include "image_file.h"

#include <cstring>

namespace d88 {

WriteResult PendingImageFile::start(const char* name) {
  buffer_.clear();
  buffer_.reserve(kImageWriteBytes);
  failure_ = file_.start(name);
  return failure_;
}

bool PendingImageFile::flush() {
  if (buffer_.empty() || failure_.error != 0) return failure_.error == 0;
  failure_ = file_.append(buffer_.data(), buffer_.size());
  buffer_.clear();
  return failure_.error == 0;
}

Status PendingImageFile::write(const std::uint8_t* data, std::size_t size) {
  if (failure_.error == 0 && buffer_.size() + size > kImageWriteBytes) flush();
  if (failure_.error == 0) {
    if (size >= kImageWriteBytes) {
      failure_ = file_.append(data, size);
    } else {
      buffer_.insert(buffer_.end(), data, data + size);
    }
  }
  if (failure_.error != 0) return Status::ioError(failure_.error, "cannot write the image");
  return Status();
}

WriteResult PendingImageFile::finish() {
  flush();
  return failure_;
}

WriteResult PendingImageFile::commit() {
  if (!flush()) return failure_;
  failure_ = file_.commit();
  return failure_;
}

}  // namespace d88
