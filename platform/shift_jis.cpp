#include "shift_jis.h"

#if defined(_WIN32)
#include <windows.h>
#elif __has_include(<iconv.h>)
#include <iconv.h>
#define D88_HAVE_ICONV 1
#endif

namespace d88 {
namespace {

#ifdef D88_HAVE_ICONV
const auto kNoConverter = reinterpret_cast<iconv_t>(-1);
#endif

}  // namespace

std::size_t shiftJisLength(unsigned char lead) {
  return (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC) ? 2 : 1;
}

ShiftJisConverter::ShiftJisConverter() : converter_(nullptr) {
#ifdef D88_HAVE_ICONV
  converter_ = iconv_open("UTF-8", "CP932");
#endif
}

ShiftJisConverter::~ShiftJisConverter() {
#ifdef D88_HAVE_ICONV
  if (available()) iconv_close(static_cast<iconv_t>(converter_));
#endif
}

bool ShiftJisConverter::available() const {
#if defined(D88_HAVE_ICONV)
  return static_cast<iconv_t>(converter_) != kNoConverter;
#elif defined(_WIN32)
  return IsValidCodePage(932) != 0;
#else
  return false;
#endif
}

bool ShiftJisConverter::convert(const char* bytes, std::size_t length, std::string* out) {
#if defined(D88_HAVE_ICONV)
  if (!available()) return false;
  const auto cd = static_cast<iconv_t>(converter_);
  char converted[16];
  char* in = const_cast<char*>(bytes);
  std::size_t inLeft = length;
  char* outPtr = converted;
  std::size_t outLeft = sizeof converted;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0) {
    return false;
  }
  out->append(converted, static_cast<std::size_t>(outPtr - converted));
  return true;
#elif defined(_WIN32)
  wchar_t wide[4];
  const int units =
      MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(length), wide, 4);
  if (units <= 0) return false;
  char utf8[16];
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, wide, units, utf8, sizeof utf8, nullptr, nullptr);
  if (size <= 0) return false;
  out->append(utf8, static_cast<std::size_t>(size));
  return true;
#else
  (void)bytes;
  (void)length;
  (void)out;
  return false;
#endif
}

}  // namespace d88
