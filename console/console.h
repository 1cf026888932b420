// The programs' arguments and messages as UTF-8 text on every system. On
// Windows the arguments come from the wide command line, and text for a
// console window is written as UTF-16 so that names read correctly whatever
// the console's code page; elsewhere these are plain pass-throughs.
#ifndef D88CUT_CONSOLE_CONSOLE_H_
#define D88CUT_CONSOLE_CONSOLE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#if defined(__GNUC__) || defined(__clang__)
#define D88_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define D88_PRINTF_FORMAT(f, a)
#endif

namespace d88 {

// On Windows, points *argc and *argv at the program's arguments in UTF-8,
// kept until exit; elsewhere leaves them as they are. Call first in main.
void useUtf8Arguments(int* argc, char*** argv);

// Writes printf-formatted UTF-8 text to `stream` (stdout or stderr): to a
// Windows console as UTF-16, anywhere else as the bytes themselves. False,
// with errno set, when the text could not be written.
bool print(std::FILE* stream, const char* format, ...) D88_PRINTF_FORMAT(2, 3);

// Writes `text` (UTF-8) to `stream` as print() does, in one piece however
// long it is.
bool writeText(std::FILE* stream, const std::string& text);

// Flushes standard output. 0 when everything written to it so far got out,
// else the errno value of the first write to it that failed; may be called
// any number of times.
int flushStandardOutput();

// flushStandardOutput(), and when it fails "Error: cannot write to standard
// output: REASON" on standard error: true when everything got out. The last
// word of a program that writes files and progress lines.
bool standardOutputWritten();

// The names an argument stands for. On Windows, where the shell leaves
// wildcards to the program, an argument with * or ? in its last part gives
// the names of the files it matches, in order, with its folder part kept;
// one that matches nothing, and any argument elsewhere, gives itself.
std::vector<std::string> expandWildcard(const char* argument);

// How an argument stands to an option that takes a value.
enum class OptionMatch {
  kNone,          // it is not that option
  kValue,         // it is, and the value is set
  kMissingValue,  // it is, and no value follows, or the value is empty
};

// Matches argv[*i] against an option that takes a value: "--long VALUE" or
// "--long=VALUE", and with a shortName "-s VALUE" or "-sVALUE". A value
// given as the next argument moves *i past it.
OptionMatch matchValueOption(int argc, char** argv, int* i, const char* shortName,
                             const char* longName, const char** value);

// expandWildcard() of an argument that names one image: true with `path` the
// one name; false, after "PROGRAM: ARGUMENT matches N images; name one" on
// standard error, when it matches several.
bool expandToOneImage(const char* program, const char* argument, std::string* path);

// True when `bytes` is valid UTF-8.
bool isValidUtf8(const std::string& bytes);

// A byte as messages show one they cannot print: "\xNN".
std::string escapedByte(unsigned char byte);
// True for the control characters a message never prints raw (C0 and DEL).
bool isControlByte(unsigned char byte);

// The characters a message never prints raw although they are valid UTF-8:
// the C1 controls U+0080 to U+009F (U+009B starts a terminal's control
// sequence, U+0085 ends a line) and the separators U+2028 and U+2029, which
// line-splitting readers take as line ends. Returns the code point of the
// sequence of `length` valid bytes at text[i] when it is one of them, else 0.
std::uint32_t hiddenControlAt(const std::string& text, std::size_t i, std::size_t length);
// Such a character as messages show it: "\u0085", "\u009B", "\u2028".
std::string escapedCodePoint(std::uint32_t codePoint);

// Any bytes as valid UTF-8 that is safe on a terminal: an invalid sequence,
// a C0 control or DEL becomes \xNN, a C1 control or a line or paragraph
// separator \uNNNN. Every name a message shows goes through it, so that no
// name can forge a line of output or steer a terminal.
std::string safeUtf8(const std::string& bytes);

}  // namespace d88

#endif  // D88CUT_CONSOLE_CONSOLE_H_
