// Standard output and standard error, and the program's arguments, as the
// system hands them over. Text is UTF-8 inside the programs: on Windows a
// console window is written UTF-16 so that names read correctly whatever its
// code page, and the arguments come from the wide command line; elsewhere
// text and arguments are the bytes themselves.
#ifndef D88CUT_PLATFORM_STANDARD_STREAMS_H_
#define D88CUT_PLATFORM_STANDARD_STREAMS_H_

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace d88 {

// Writes `text` (UTF-8) to `stream` (stdout or stderr): to a Windows console
// window as UTF-16, after what the stream still holds; anywhere else, and
// text that is not UTF-8, as the bytes themselves. True when it all got out;
// false with errno set (EPIPE for a pipe whose reader has gone).
bool writeStandardText(std::FILE* stream, const std::string& text);

// Writes `size` bytes to `stream` as they are, with no conversion and no
// allocation, so that it serves when memory has run out. True when they all
// got out; false with errno set as writeStandardText() sets it.
bool writeStandardBytes(std::FILE* stream, const char* bytes, std::size_t size);

// Flushes `stream`. 0 when the flush succeeded and no earlier write to the
// stream failed; else the errno value of the failed flush, or EIO when only
// an earlier failure shows (the stream's error flag).
int flushStandardStream(std::FILE* stream);

// On Windows, sets *arguments to the program's arguments in UTF-8, read from
// the wide command line (main's argv is in the ANSI code page): true. False,
// with *arguments untouched, elsewhere or when the system gives none.
bool commandLineArguments(std::vector<std::string>* arguments);

// On Windows, when the last part of `pattern` (UTF-8) holds * or ?, the
// names of the files it matches (. and .. never), each with the pattern's
// folder part, in the order the system finds them. Empty when it matches
// nothing, and on every other system, where the shell expands wildcards.
std::vector<std::string> wildcardMatches(const std::string& pattern);

}  // namespace d88

#endif  // D88CUT_PLATFORM_STANDARD_STREAMS_H_
