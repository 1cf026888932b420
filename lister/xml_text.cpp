#include "xml_text.h"

#include "console.h"

namespace d88 {

std::string xmlText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    switch (ch) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      case '\n':
        out += "&#10;";
        break;
      default:
        if (static_cast<unsigned char>(ch) == 0xEF && i + 2 < text.size() &&
            static_cast<unsigned char>(text[i + 1]) == 0xBF &&
            (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xBE) {
          for (std::size_t k = 0; k < 3; ++k) {
            out += escapedByte(static_cast<unsigned char>(text[i + k]));
          }
          i += 2;
        } else if (isControlByte(static_cast<unsigned char>(ch))) {
          out += escapedByte(static_cast<unsigned char>(ch));
        } else {
          out += ch;
        }
    }
  }
  return out;
}

}  // namespace d88
