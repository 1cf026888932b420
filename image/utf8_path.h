// Paths inside the programs are UTF-8. On Windows they become UTF-16 only where
// they meet the system, here; elsewhere they are passed on unchanged.
#ifndef D88CUT_IMAGE_UTF8_PATH_H_
#define D88CUT_IMAGE_UTF8_PATH_H_

#include <cstdio>
#include <string>

namespace d88 {

#ifdef _WIN32
// The UTF-16 form of UTF-8 text; false (and `out` empty) when `utf8` is not
// valid UTF-8.
bool toUtf16(const char* utf8, std::wstring* out);
// The UTF-8 form of UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::string toUtf8(const wchar_t* utf16);
#endif

// Opens the file at UTF-8 `path` for binary reading, as std::fopen(path, "rb")
// does; nullptr with errno set when it cannot (EINVAL for a path that is not UTF-8).
std::FILE* openForReading(const char* path);

}  // namespace d88

#endif  // D88CUT_IMAGE_UTF8_PATH_H_
