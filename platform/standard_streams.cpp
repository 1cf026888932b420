#include "standard_streams.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

#include "file_system.h"
#include "platform.h"

namespace d88 {
namespace {

// errno after a failed write. On Windows a pipe whose reader has gone fails
// with a code the C library reports as EINVAL; it is a closed pipe, as on
// every other system.
int writeErrno() {
#ifdef _WIN32
  const DWORD error = GetLastError();
  if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE) return EPIPE;
#endif
  return lastErrno();
}

#ifdef _WIN32
// The console behind `stream`, or nullptr when it goes to a file or a pipe.
HANDLE consoleOf(std::FILE* stream) {
  const intptr_t osHandle = _get_osfhandle(_fileno(stream));
  if (osHandle == -1) return nullptr;
  HANDLE handle = reinterpret_cast<HANDLE>(osHandle);
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) ? handle : nullptr;
}

// Writes all of `wide` to the console in pieces it takes at once.
bool writeToConsole(HANDLE console, const std::wstring& wide) {
  std::size_t done = 0;
  while (done < wide.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 8192));
    DWORD written = 0;
    if (!WriteConsoleW(console, wide.data() + done, chunk, &written, nullptr) || written == 0) {
      errno = EIO;
      return false;
    }
    done += written;
  }
  return true;
}
#endif

}  // namespace

bool writeStandardText(std::FILE* stream, const std::string& text) {
#ifdef _WIN32
  std::wstring wide;
  HANDLE console = consoleOf(stream);
  if (console != nullptr && toUtf16(text.c_str(), &wide)) {
    // What the stream still holds goes first, so the order stays.
    std::fflush(stream);
    return writeToConsole(console, wide);
  }
#endif
  return writeStandardBytes(stream, text.data(), text.size());
}

bool writeStandardBytes(std::FILE* stream, const char* bytes, std::size_t size) {
  errno = 0;
  if (std::fwrite(bytes, 1, size, stream) != size) {
    errno = writeErrno();
    return false;
  }
  return true;
}

int flushStandardStream(std::FILE* stream) {
  errno = 0;
  if (std::fflush(stream) != 0) return writeErrno();
  // A failure through some other path leaves only the stream's error flag.
  return std::ferror(stream) ? EIO : 0;
}

bool commandLineArguments(std::vector<std::string>* arguments) {
#ifdef _WIN32
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return false;
  arguments->clear();
  for (int i = 0; i < count; ++i) arguments->push_back(toUtf8(wide[i]));
  LocalFree(wide);
  return true;
#else
  (void)arguments;
  return false;
#endif
}

std::vector<std::string> wildcardMatches(const std::string& pattern) {
  std::vector<std::string> names;
#ifdef _WIN32
  const std::size_t nameStart = nameOffset(pattern);
  std::wstring wide;
  if (pattern.find_first_of("*?", nameStart) == std::string::npos ||
      !toUtf16(pattern.c_str(), &wide)) {
    return names;
  }
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(wide.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = toUtf8(found.cFileName);
    if (name == "." || name == "..") continue;
    names.push_back(pattern.substr(0, nameStart) + name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
#else
  (void)pattern;
#endif
  return names;
}

}  // namespace d88
