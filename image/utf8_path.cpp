#include "image/utf8_path.h"

#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#endif

namespace d88 {

#ifdef _WIN32
bool toUtf16(const char* utf8, std::wstring* out) {
  out->clear();
  if (*utf8 == '\0') return true;
  const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
  if (size <= 0) return false;
  out->resize(static_cast<std::size_t>(size));
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, &(*out)[0], size) != size) {
    out->clear();
    return false;
  }
  out->pop_back();  // the terminating zero the conversion counted
  return true;
}

std::string toUtf8(const wchar_t* utf16) {
  std::string out;
  if (*utf16 == L'\0') return out;
  const int size = WideCharToMultiByte(CP_UTF8, 0, utf16, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return out;
  out.resize(static_cast<std::size_t>(size));
  if (WideCharToMultiByte(CP_UTF8, 0, utf16, -1, &out[0], size, nullptr, nullptr) != size) {
    out.clear();
    return out;
  }
  out.pop_back();
  return out;
}
#endif

std::FILE* openForReading(const char* path) {
#ifdef _WIN32
  std::wstring wide;
  if (!toUtf16(path, &wide)) {
    errno = EINVAL;
    return nullptr;
  }
  return _wfopen(wide.c_str(), L"rb");
#else
  return std::fopen(path, "rb");
#endif
}

}  // namespace d88
