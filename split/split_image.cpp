#include "split_image.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <cstring>
#include <new>

#ifdef __linux__
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace d88 {

std::vector<DiskPart> diskParts(D88Image& image) {
  std::vector<DiskPart> parts;
  const std::int32_t count = image.diskCount();
  for (std::int32_t disk = 0; disk < count; ++disk) {
    if (!image.selectDisk(disk)) break;
    DiskPart part;
    part.disk = disk;
    part.offset = image.diskOffset();
    part.sizeField = image.diskSize();
    parts.push_back(part);
  }
  // Disks stand back to back: each ends where the next starts, and the last
  // takes the rest of the file, whatever its size field says (bytes after it
  // that hold no further disk, or disks past the 64th the reader looks at).
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) parts[i].end = parts[i + 1].offset;
  return parts;
}

std::string imageStem(const std::string& path) {
  if (path == "-") return kStandardInputStem;
  std::size_t start = path.find_last_of('/');
#ifdef _WIN32
  const std::size_t backslash = path.find_last_of("\\:");
  if (backslash != std::string::npos && (start == std::string::npos || backslash > start)) {
    start = backslash;
  }
#endif
  std::string name = start == std::string::npos ? path : path.substr(start + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

std::string partFileName(const std::string& stem, int disk) {
  return stem + ".disk" + std::to_string(disk) + ".d88";
}

CopySource::CopySource(const char* path, const D88Image& image) {
#ifdef __linux__
  if (image.fileSize() < 0) return;
  owned_ = std::strcmp(path, "-") != 0;
  fd_ = owned_ ? ::open(path, O_RDONLY | O_CLOEXEC) : STDIN_FILENO;
  struct stat st {};
  if (fd_ >= 0 && (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != image.fileSize())) {
    if (owned_) ::close(fd_);
    fd_ = -1;
  }
#else
  (void)path;
  (void)image;
#endif
}

CopySource::~CopySource() {
#ifdef __linux__
  if (owned_ && fd_ >= 0) ::close(fd_);
#endif
}

PartResult writePart(D88Image& image, const DiskPart& part, const char* path,
                     const CopySource* source) {
  PartResult result;
  static std::unique_ptr<std::uint8_t[]> buffer;
  if (!buffer) {
    buffer.reset(new (std::nothrow) std::uint8_t[kSplitBufferBytes]);
    if (!buffer) {
      result.written.error = ENOMEM;
      return result;
    }
  }
  PendingFile file;
  result.written = file.start(path);
  if (result.written.error != 0) return result;
  std::int64_t at = part.offset;
  // What the system copies needs no buffer; what it leaves (the source's
  // end, or a failure) is read through the reader, which says why.
  if (source != nullptr && source->fd() >= 0) {
    const std::uint64_t size = part.end >= 0 ? static_cast<std::uint64_t>(part.end - at)
                                             : static_cast<std::uint64_t>(INT64_MAX - at);
    at += static_cast<std::int64_t>(file.appendCopyOf(source->fd(), at, size));
  }
  for (;;) {
    std::size_t want = kSplitBufferBytes;
    if (part.end >= 0) {
      want = static_cast<std::size_t>(
          std::min<std::int64_t>(static_cast<std::int64_t>(want), part.end - at));
    }
    if (want == 0) break;
    const std::size_t got = image.readBytes(at, buffer.get(), want);
    if (got < want && !image.readFailure().ok()) {
      result.readFailure = image.readFailure();
      return result;  // the file discards its temporary
    }
    if (got == 0) break;
    result.written = file.append(buffer.get(), got);
    if (result.written.error != 0) return result;
    at += static_cast<std::int64_t>(got);
    if (got < want) break;  // the end of the file
  }
  result.written = file.commit();
  if (result.written.error == 0) result.bytes = at - part.offset;
  return result;
}

}  // namespace d88
