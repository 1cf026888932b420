#include "console.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

#include "platform.h"

namespace d88 {
namespace {

// The first failed write to standard output, reported at the end.
int firstStandardOutputError = 0;

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

// Length of the valid UTF-8 sequence at text[i], 0 when it is not one.
std::size_t utf8Length(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b0 = byte(i);
  if (b0 < 0x80) return 1;
  std::size_t length = 0;
  unsigned int min = 0;
  unsigned int code = 0;
  if ((b0 & 0xE0) == 0xC0) {
    length = 2, code = b0 & 0x1Fu, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    length = 3, code = b0 & 0x0Fu, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    length = 4, code = b0 & 0x07u, min = 0x10000;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i + k) & 0x3Fu);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
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

// Formats the text, then writes it to a console as UTF-16, or as the bytes
// themselves anywhere else (text that is not UTF-8 too).
bool printOnWindows(std::FILE* stream, const char* format, std::va_list args) {
  std::va_list again;
  va_copy(again, args);
  const int size = std::vsnprintf(nullptr, 0, format, args);
  std::string text;
  if (size > 0) {
    text.resize(static_cast<std::size_t>(size) + 1);
    std::vsnprintf(&text[0], text.size(), format, again);
    text.pop_back();
  }
  va_end(again);
  if (size < 0) {
    errno = EINVAL;
    return false;
  }
  std::wstring wide;
  HANDLE console = consoleOf(stream);
  if (console != nullptr && toUtf16(text.c_str(), &wide)) {
    // What the stream still holds goes first, so the order stays.
    std::fflush(stream);
    return writeToConsole(console, wide);
  }
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stream) != text.size()) {
    errno = writeErrno();
    return false;
  }
  return true;
}
#endif

}  // namespace

void useUtf8Arguments(int* argc, char*** argv) {
#ifdef _WIN32
  static std::vector<std::string> arguments;
  static std::vector<char*> pointers;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return;
  arguments.clear();
  for (int i = 0; i < count; ++i) arguments.push_back(toUtf8(wide[i]));
  LocalFree(wide);
  pointers.clear();
  for (std::string& a : arguments) pointers.push_back(&a[0]);
  pointers.push_back(nullptr);
  *argc = count;
  *argv = pointers.data();
#else
  (void)argc;
  (void)argv;
#endif
}

// Keeps the first failure of a write to standard output, for
// flushStandardOutput() to report.
void noteWriteFailure(std::FILE* stream, int error) {
  if (stream == stdout && firstStandardOutputError == 0) {
    firstStandardOutputError = error != 0 ? error : EIO;
  }
}

bool print(std::FILE* stream, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
#ifdef _WIN32
  const bool ok = printOnWindows(stream, format, args);
#else
  errno = 0;
  const bool ok = std::vfprintf(stream, format, args) >= 0;
  if (!ok) errno = writeErrno();
#endif
  va_end(args);
  if (!ok) noteWriteFailure(stream, errno);
  return ok;
}

bool writeText(std::FILE* stream, const std::string& text) {
#ifdef _WIN32
  return print(stream, "%s", text.c_str());
#else
  errno = 0;
  const bool ok = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  if (!ok) noteWriteFailure(stream, writeErrno());
  return ok;
#endif
}

int flushStandardOutput() {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  if (firstStandardOutputError == 0 && !flushed) firstStandardOutputError = writeErrno();
  // A failure through some other path leaves only the stream's error flag.
  if (firstStandardOutputError == 0 && std::ferror(stdout)) firstStandardOutputError = EIO;
  return firstStandardOutputError;
}

bool standardOutputWritten() {
  const int error = flushStandardOutput();
  if (error != 0) {
    print(stderr, "Error: cannot write to standard output: %s\n", std::strerror(error));
  }
  return error == 0;
}

std::vector<std::string> expandWildcard(const char* argument) {
  std::vector<std::string> names;
#ifdef _WIN32
  const std::string pattern = argument;
  const std::size_t slash = pattern.find_last_of("\\/:");
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  std::wstring wide;
  if (pattern.find_first_of("*?", nameStart) != std::string::npos &&
      toUtf16(pattern.c_str(), &wide)) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wide.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = toUtf8(found.cFileName);
        if (name == "." || name == "..") continue;
        names.push_back(pattern.substr(0, nameStart) + name);
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    std::sort(names.begin(), names.end());
  }
#endif
  if (names.empty()) names.emplace_back(argument);
  return names;
}

OptionMatch matchValueOption(int argc, char** argv, int* i, const char* shortName,
                             const char* longName, const char** value) {
  const char* arg = argv[*i];
  const std::size_t longLength = std::strlen(longName);
  const std::size_t shortLength = shortName != nullptr ? std::strlen(shortName) : 0;
  const char* found = nullptr;
  if (std::strncmp(arg, longName, longLength) == 0 && arg[longLength] == '=') {
    found = arg + longLength + 1;
  } else if (shortName != nullptr && std::strncmp(arg, shortName, shortLength) == 0 &&
             arg[shortLength] != '\0') {
    found = arg + shortLength;
  } else if (std::strcmp(arg, longName) == 0 ||
             (shortName != nullptr && std::strcmp(arg, shortName) == 0)) {
    if (*i + 1 == argc) return OptionMatch::kMissingValue;
    found = argv[++*i];
  } else {
    return OptionMatch::kNone;
  }
  if (found[0] == '\0') return OptionMatch::kMissingValue;
  *value = found;
  return OptionMatch::kValue;
}

bool expandToOneImage(const char* program, const char* argument, std::string* path) {
  const std::vector<std::string> matches = expandWildcard(argument);
  if (matches.size() > 1) {
    print(stderr, "%s: %s matches %d images; name one\n", program, safeUtf8(argument).c_str(),
          static_cast<int>(matches.size()));
    return false;
  }
  *path = matches.empty() ? std::string(argument) : matches.front();
  return true;
}

bool isValidUtf8(const std::string& bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = utf8Length(bytes, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string escapedByte(unsigned char byte) {
  char text[5];
  std::snprintf(text, sizeof text, "\\x%02X", byte);
  return text;
}

bool isControlByte(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

std::string safeUtf8(const std::string& bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = utf8Length(bytes, i);
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (length == 0 || isControlByte(byte)) {
      out += escapedByte(byte);
      ++i;
    } else {
      out.append(bytes, i, length);
      i += length;
    }
  }
  return out;
}

}  // namespace d88
