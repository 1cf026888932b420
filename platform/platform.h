// What the reader and the programs share about the system under them. Paths
// inside the programs are UTF-8; on Windows they become UTF-16 only where they
// meet the system, and the system's error codes become errno values.
// Private to this project; not installed.
#ifndef D88CUT_PLATFORM_PLATFORM_H_
#define D88CUT_PLATFORM_PLATFORM_H_

#include <string>

namespace d88 {

// errno after a failed call, never 0: some C libraries leave it unset.
int lastErrno();

#ifdef _WIN32
// The UTF-16 form of UTF-8 text; false (and `out` empty) when `utf8` is not
// valid UTF-8.
bool toUtf16(const char* utf8, std::wstring* out);
// The UTF-8 form of UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::string toUtf8(const wchar_t* utf16);
// The errno value that stands nearest to a Windows error code (EIO for any
// code without one), so that messages give the usual reasons.
int errnoFromWindows(unsigned long error);
#endif

}  // namespace d88

#endif  // D88CUT_PLATFORM_PLATFORM_H_
