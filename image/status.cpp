#include <d88/status.h>

#include <cstring>

namespace d88 {

std::string Status::reason() const {
  if (errnum_ != 0) return std::strerror(errnum_);
  return message_;
}

std::string Status::toString() const {
  if (ok()) return "OK";
  if (errnum_ != 0) return message_ + ": " + std::strerror(errnum_);
  if (code_ == Code::kNotD88Image) return "not a D88 image: " + message_;
  return message_;
}

}  // namespace d88
