#include "text_format.h"

#include <algorithm>
#include <cstdio>

#include "console.h"
#include "shift_jis.h"

namespace d88 {

std::string jsonString(const std::string& utf8) {
  std::string out = "\"";
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const char ch = utf8[i];
    const auto byte = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (byte < 0x20) {
      char text[8];
      std::snprintf(text, sizeof text, "\\u%04X", byte);
      out += text;
    } else if (byte >= 0xC2 && i + 2 <= utf8.size()) {
      // C1 controls and the line and paragraph separators are valid JSON,
      // but readers that split lines on them would break the line: they go
      // as escapes, which every JSON reader turns back into the character.
      const std::size_t length = byte == 0xC2 ? 2 : (byte == 0xE2 ? 3 : 0);
      const std::uint32_t hidden =
          length != 0 && i + length <= utf8.size() ? hiddenControlAt(utf8, i, length) : 0;
      if (hidden != 0) {
        out += escapedCodePoint(hidden);
        i += length - 1;
      } else {
        out += ch;
      }
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::string jsonPathMember(const std::string& key, const std::string& path) {
  if (isValidUtf8(path)) return jsonString(key) + ":" + jsonString(path);
  std::string hex;
  for (char ch : path) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned>(static_cast<unsigned char>(ch)));
    hex += digits;
  }
  return jsonString(key) + ":" + jsonString(safeUtf8(path)) + "," + jsonString(key + "Hex") +
         ":\"" + hex + "\"";
}

std::string displayName(const std::string& raw) {
  ShiftJisConverter converter;
  const bool converting = converter.available();
  std::string out;
  for (std::size_t i = 0; i < raw.size();) {
    const auto byte = static_cast<unsigned char>(raw[i]);
    if (byte == '\\') {
      out += "\\\\";
      ++i;
      continue;
    }
    // 0x80, 0xA0 and 0xFD-0xFF are no Shift_JIS characters; some converters
    // turn them into C1 controls or private-use code points.
    const bool noCharacter = byte == 0x80 || byte == 0xA0 || byte >= 0xFD;
    if (isControlByte(byte) || (byte >= 0x80 && (!converting || noCharacter))) {
      out += escapedByte(byte);
      ++i;
      continue;
    }
    if (byte < 0x80) {
      out += static_cast<char>(byte);
      ++i;
      continue;
    }
    // A character that does not convert shows its first byte; the next byte
    // starts afresh, so a stray lead byte does not swallow a good character.
    const std::size_t length = std::min(shiftJisLength(byte), raw.size() - i);
    if (converter.convert(raw.data() + i, length, &out)) {
      i += length;
    } else {
      out += escapedByte(byte);
      ++i;
    }
  }
  // Whatever a converter gave back, what leaves here is valid UTF-8.
  return safeUtf8(out);
}

const char* mediaName(int mediaType) {
  switch (mediaType) {
    case kMedia2D:
      return "2D";
    case kMedia2DD:
      return "2DD";
    case kMedia2HD:
      return "2HD";
    case kMedia1D:
      return "1D";
    case kMedia1DD:
      return "1DD";
    default:
      return nullptr;
  }
}

std::string mediaText(int mediaType) {
  if (const char* name = mediaName(mediaType)) return name;
  return "media " + hexByte(static_cast<unsigned>(mediaType));
}

}  // namespace d88
