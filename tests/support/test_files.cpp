#include "test_files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

namespace d88test {

std::unique_ptr<TestFile> TestFile::over(const d88build::Bytes& bytes, FileKind kind) {
  return std::make_unique<TestFile>(bytes, kind);
}

TestFile::TestFile(d88build::Bytes bytes, FileKind kind)
    : bytes_(std::move(bytes)), kind_(kind), log_(std::make_shared<FileLog>()) {}

TestFile::~TestFile() { log_->destroyed = true; }

std::int64_t TestFile::size() const {
  return kind_ == kStream ? -1 : static_cast<std::int64_t>(bytes_.size());
}

d88::Status TestFile::read(std::int64_t offset, std::uint8_t* buffer, std::size_t count,
                           std::size_t* got) {
  *got = 0;
  FileLog& log = *log_;
  const std::uint64_t n = ++log.reads;
  log.largestRead = std::max<std::uint64_t>(log.largestRead, count);
  if (offset >= 0) {
    log.furthestEnd = std::max<std::uint64_t>(log.furthestEnd, static_cast<std::uint64_t>(offset) + count);
  }
  const std::string where = "read at offset " + std::to_string(offset);
  if (log.fails(n)) return d88::Status::ioError(EIO, where);
  if (offset < 0) return d88::Status::ioError(EINVAL, where);
  const auto at = static_cast<std::uint64_t>(offset);
  if (kind_ == kStream && at != streamAt_) {
    log.outOfTurn = true;
    return d88::Status::ioError(ESPIPE, where);
  }
  if (at < bytes_.size()) {
    *got = static_cast<std::size_t>(std::min<std::uint64_t>(count, bytes_.size() - at));
    if (log.mostPerRead != 0) *got = std::min(*got, log.mostPerRead);
    std::memcpy(buffer, bytes_.data() + at, *got);
  }
  streamAt_ = at + *got;
  log.bytes += *got;
  return d88::Status();
}

}  // namespace d88test
