#include "console.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform.h"
#include "standard_streams.h"

namespace d88 {
namespace {

// The first failed write to standard output, reported at the end.
int firstStandardOutputError = 0;

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

// `format` filled in with `args`; false, with errno set, when the C library
// cannot format it.
bool formatText(std::string* text, const char* format, std::va_list args) {
  std::va_list again;
  va_copy(again, args);
  errno = 0;
  const int size = std::vsnprintf(nullptr, 0, format, args);
  if (size > 0) {
    text->resize(static_cast<std::size_t>(size) + 1);
    std::vsnprintf(&(*text)[0], text->size(), format, again);
    text->pop_back();
  }
  va_end(again);
  if (size < 0) {
    errno = lastErrno();
    return false;
  }
  return true;
}

// Keeps the first failure of a write to standard output, for
// flushStandardOutput() to report.
void noteWriteFailure(std::FILE* stream, int error) {
  if (stream == stdout && firstStandardOutputError == 0) {
    firstStandardOutputError = error != 0 ? error : EIO;
  }
}

}  // namespace

void useUtf8Arguments(int* argc, char*** argv) {
  static std::vector<std::string> arguments;
  static std::vector<char*> pointers;
  std::vector<std::string> utf8;
  if (!commandLineArguments(&utf8)) return;
  arguments = std::move(utf8);
  pointers.clear();
  for (std::string& a : arguments) pointers.push_back(&a[0]);
  pointers.push_back(nullptr);
  *argc = static_cast<int>(arguments.size());
  *argv = pointers.data();
}

bool print(std::FILE* stream, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string text;
  const bool formatted = formatText(&text, format, args);
  va_end(args);
  const bool ok = formatted && writeStandardText(stream, text);
  if (!ok) noteWriteFailure(stream, errno);
  return ok;
}

bool writeText(std::FILE* stream, const std::string& text) {
  const bool ok = writeStandardText(stream, text);
  if (!ok) noteWriteFailure(stream, errno);
  return ok;
}

int flushStandardOutput() {
  const int error = flushStandardStream(stdout);
  if (firstStandardOutputError == 0) firstStandardOutputError = error;
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
  std::vector<std::string> names = wildcardMatches(argument);
  std::sort(names.begin(), names.end());
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

std::uint32_t hiddenControlAt(const std::string& text, std::size_t i, std::size_t length) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
  // U+0080 to U+009F: C2 80 to C2 9F.
  if (length == 2 && byte(0) == 0xC2 && byte(1) >= 0x80 && byte(1) <= 0x9F) {
    return 0x80u + (byte(1) & 0x3Fu);
  }
  // U+2028 and U+2029: E2 80 A8 and E2 80 A9.
  if (length == 3 && byte(0) == 0xE2 && byte(1) == 0x80 && (byte(2) == 0xA8 || byte(2) == 0xA9)) {
    return 0x2000u + (byte(2) & 0x3Fu);
  }
  return 0;
}

std::string escapedCodePoint(std::uint32_t codePoint) {
  char text[8];
  std::snprintf(text, sizeof text, "\\u%04X", static_cast<unsigned>(codePoint & 0xFFFFu));
  return text;
}

std::string safeUtf8(const std::string& bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = utf8Length(bytes, i);
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (length == 0 || isControlByte(byte)) {
      out += escapedByte(byte);
      ++i;
    } else if (const std::uint32_t hidden = hiddenControlAt(bytes, i, length)) {
      out += escapedCodePoint(hidden);
      i += length;
    } else {
      out.append(bytes, i, length);
      i += length;
    }
  }
  return out;
}

}  // namespace d88
