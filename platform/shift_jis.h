// Shift_JIS (CP932) converted to UTF-8 by the system's converter: iconv, or
// the code page 932 tables on Windows.
#ifndef D88CUT_PLATFORM_SHIFT_JIS_H_
#define D88CUT_PLATFORM_SHIFT_JIS_H_

#include <cstddef>
#include <string>

namespace d88 {

// Bytes of the Shift_JIS character that starts with `lead`: 2 after a lead
// byte of a double-byte character, else 1.
std::size_t shiftJisLength(unsigned char lead);

// Converts Shift_JIS one character at a time; holds the system's converter
// while it lives.
class ShiftJisConverter {
 public:
  ShiftJisConverter();
  ~ShiftJisConverter();
  ShiftJisConverter(const ShiftJisConverter&) = delete;
  ShiftJisConverter& operator=(const ShiftJisConverter&) = delete;

  // False when the system has no converter: convert() then always fails.
  bool available() const;
  // Appends the UTF-8 form of the one character bytes[0, length) to `out`;
  // false, with `out` as it was, when it does not convert.
  bool convert(const char* bytes, std::size_t length, std::string* out);

 private:
  void* converter_;  // an iconv_t where there is iconv
};

}  // namespace d88

#endif  // D88CUT_PLATFORM_SHIFT_JIS_H_
