#include "platform.h"

#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#endif

namespace d88 {

int lastErrno() { return errno != 0 ? errno : EIO; }

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

int errnoFromWindows(unsigned long error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
      return EINVAL;
    default:
      return EIO;
  }
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

}  // namespace d88
