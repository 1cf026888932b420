// Text that several programs write the same way: JSON strings and members,
// disk names made readable, bytes and media bytes in words, and the sink a
// long report goes to in pieces.
#ifndef D88CUT_CONSOLE_TEXT_FORMAT_H_
#define D88CUT_CONSOLE_TEXT_FORMAT_H_

#include <functional>
#include <string>
#include <vector>

#include <d88/format.h>

namespace d88 {

// Takes a listing or a report piece by piece, as it is made; false when it
// cannot (the writer then stops).
using ListingSink = std::function<bool(const std::string&)>;

// `utf8` as a quoted JSON string: quote, backslash and control characters escaped.
std::string jsonString(const std::string& utf8);

// A JSON member naming a file: "KEY":NAME when the name is valid UTF-8; else
// NAME made readable with \xNN and its exact bytes in hex as "KEYHex", so
// that a script can open the file again.
std::string jsonPathMember(const std::string& key, const std::string& path);

// A disk name made readable as UTF-8: Shift_JIS (CP932) converted where the
// platform has a converter; a byte that does not convert, a control
// character and a byte above 0x7F without a converter as \xNN; a backslash
// as \\. The result is always valid UTF-8 and safe to print on a terminal.
std::string displayName(const std::string& raw);

// "2D", "2DD", "2HD", "1D" or "1DD" for the known media bytes, nullptr for any other.
const char* mediaName(int mediaType);
// mediaName(), or "media 0xNN" for a media byte it does not know.
std::string mediaText(int mediaType);

// The items as text, each through `each`, with `separator` between them.
template <typename T, typename F>
std::string joined(const std::vector<T>& items, const char* separator, F&& each) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i != 0) out += separator;
    out += each(items[i]);
  }
  return out;
}

}  // namespace d88

#endif  // D88CUT_CONSOLE_TEXT_FORMAT_H_
