// The outcome of a reader operation that can fail: what failed, the system's
// errno value when the system said why, and a text for people. Every call of
// the reader that can fail returns one.
#ifndef D88_STATUS_H_
#define D88_STATUS_H_

#include <string>
#include <utility>

namespace d88 {

// Thread safety: a plain value, safe to copy and to hand to another thread.
class Status {
 public:
  enum class Code {
    kOk,
    kNotOpen,       // no image is open
    kCannotOpen,    // the file could not be opened at all; errnum() says why
    kNotFound,      // no such disk, track or sector
    kCorruption,    // the image says something that cannot be (data cut off, a short header)
    kIoError,       // the system could not read; errnum() says why
    kTooLarge,      // an input without a size grew past what is read of it
    kOutOfMemory,   // an allocation failed
    kNotD88Image,   // the file is no D88 image at all; message() says why
  };

  // Success.
  Status() = default;

  static Status notOpen() { return Status(Code::kNotOpen, 0, "no image is open"); }
  static Status cannotOpen(int errnum, std::string what) {
    return Status(Code::kCannotOpen, errnum, std::move(what));
  }
  static Status notFound(std::string what) { return Status(Code::kNotFound, 0, std::move(what)); }
  static Status corruption(std::string what) {
    return Status(Code::kCorruption, 0, std::move(what));
  }
  // `errnum` is the system's errno value; `what` says what was being done.
  static Status ioError(int errnum, std::string what) {
    return Status(Code::kIoError, errnum, std::move(what));
  }
  static Status tooLarge(std::string what) { return Status(Code::kTooLarge, 0, std::move(what)); }
  static Status outOfMemory(std::string what) {
    return Status(Code::kOutOfMemory, 0, std::move(what));
  }

  // `why` completes "IMAGE is not a D88 image: ".
  static Status notD88Image(std::string why) {
    return Status(Code::kNotD88Image, 0, std::move(why));
  }

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  // The errno value of a failed system call, 0 when the failure is not the system's.
  int errnum() const { return errnum_; }
  // What was being done or what is wrong, without the system's reason.
  const std::string& message() const { return message_; }
  // The reason as a message gives it after "cannot read IMAGE: ": the
  // system's words for errnum() when there is one, else message().
  std::string reason() const;
  // "OK", or message() and, for a system error, ": " and its words; for
  // kNotD88Image, "not a D88 image: " and message().
  std::string toString() const;

 private:
  Status(Code code, int errnum, std::string message)
      : code_(code), errnum_(errnum), message_(std::move(message)) {}

  Code code_ = Code::kOk;
  int errnum_ = 0;
  std::string message_;
};

}  // namespace d88

#endif  // D88_STATUS_H_
