#include "xml_reader.h"

#include <cstdint>
#include <stdexcept>

namespace d88test {
namespace {

bool isXmlChar(std::uint32_t cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
         (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

void appendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

class Parser {
 public:
  explicit Parser(const std::string& text) : s_(text) {}

  XmlElement document() {
    checkCharacters();
    if (s_.compare(0, 5, "<?xml") == 0) {
      const std::size_t end = s_.find("?>");
      if (end == std::string::npos) fail("unterminated XML declaration");
      i_ = end + 2;
    }
    misc();
    if (!at('<')) fail("no root element");
    XmlElement root = element();
    misc();
    if (i_ != s_.size()) fail("content after the root element");
    return root;
  }

 private:
  [[noreturn]] void fail(const std::string& why) const {
    throw std::runtime_error("XML at offset " + std::to_string(i_) + ": " + why);
  }
  bool at(char ch) const { return i_ < s_.size() && s_[i_] == ch; }
  bool startsWith(const char* text) const { return s_.compare(i_, std::char_traits<char>::length(text), text) == 0; }
  void expect(char ch) {
    if (!at(ch)) fail(std::string("expected '") + ch + "'");
    ++i_;
  }
  void spaces() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r')) ++i_;
  }

  // Whitespace and comments between elements.
  void misc() {
    for (;;) {
      spaces();
      if (startsWith("<!--")) {
        comment();
      } else {
        return;
      }
    }
  }
  void comment() {
    const std::size_t end = s_.find("-->", i_ + 4);
    if (end == std::string::npos) fail("unterminated comment");
    if (s_.find("--", i_ + 4) < end) fail("-- inside a comment");
    i_ = end + 3;
  }

  // Every character valid UTF-8 and allowed by XML.
  void checkCharacters() {
    for (std::size_t k = 0; k < s_.size();) {
      const auto b = static_cast<unsigned char>(s_[k]);
      std::uint32_t cp = 0;
      std::size_t length = 0;
      if (b < 0x80) {
        cp = b;
        length = 1;
      } else if ((b & 0xE0) == 0xC0 && b >= 0xC2) {
        cp = b & 0x1Fu;
        length = 2;
      } else if ((b & 0xF0) == 0xE0) {
        cp = b & 0x0Fu;
        length = 3;
      } else if ((b & 0xF8) == 0xF0 && b <= 0xF4) {
        cp = b & 0x07u;
        length = 4;
      } else {
        i_ = k;
        fail("invalid UTF-8");
      }
      if (k + length > s_.size()) {
        i_ = k;
        fail("UTF-8 cut off");
      }
      for (std::size_t j = 1; j < length; ++j) {
        const auto c = static_cast<unsigned char>(s_[k + j]);
        if ((c & 0xC0) != 0x80) {
          i_ = k;
          fail("invalid UTF-8");
        }
        cp = (cp << 6) | (c & 0x3Fu);
      }
      const bool overlong = (length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000);
      if (overlong || (cp >= 0xD800 && cp <= 0xDFFF) || !isXmlChar(cp)) {
        i_ = k;
        fail("a character XML does not allow");
      }
      k += length;
    }
  }

  std::string name() {
    const std::size_t start = i_;
    const auto nameStart = [](char ch) {
      return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || ch == '_' || ch == ':' ||
             static_cast<unsigned char>(ch) >= 0x80;
    };
    if (i_ >= s_.size() || !nameStart(s_[i_])) fail("expected a name");
    while (i_ < s_.size() && (nameStart(s_[i_]) || (s_[i_] >= '0' && s_[i_] <= '9') ||
                              s_[i_] == '-' || s_[i_] == '.')) {
      ++i_;
    }
    return s_.substr(start, i_ - start);
  }

  void reference(std::string& out) {
    const std::size_t end = s_.find(';', i_);
    if (end == std::string::npos || end - i_ > 12) fail("unterminated entity");
    const std::string ref = s_.substr(i_ + 1, end - i_ - 1);
    if (ref == "amp") {
      out += '&';
    } else if (ref == "lt") {
      out += '<';
    } else if (ref == "gt") {
      out += '>';
    } else if (ref == "quot") {
      out += '"';
    } else if (ref == "apos") {
      out += '\'';
    } else if (ref.size() > 1 && ref[0] == '#') {
      const bool isHex = ref[1] == 'x';
      const std::string digits = ref.substr(isHex ? 2 : 1);
      if (digits.empty() ||
          digits.find_first_not_of(isHex ? "0123456789abcdefABCDEF" : "0123456789") !=
              std::string::npos) {
        fail("bad character reference");
      }
      const unsigned long cp = std::stoul(digits, nullptr, isHex ? 16 : 10);
      if (cp > 0x10FFFF || !isXmlChar(static_cast<std::uint32_t>(cp))) {
        fail("character reference to a character XML does not allow");
      }
      appendUtf8(out, static_cast<std::uint32_t>(cp));
    } else {
      fail("unknown entity &" + ref + ";");
    }
    i_ = end + 1;
  }

  std::string attributeValue() {
    if (!at('"') && !at('\'')) fail("attribute value not quoted");
    const char quote = s_[i_++];
    std::string value;
    while (i_ < s_.size() && s_[i_] != quote) {
      if (s_[i_] == '<') fail("'<' in an attribute value");
      if (s_[i_] == '&') {
        reference(value);
      } else {
        value += s_[i_++];
      }
    }
    expect(quote);
    return value;
  }

  XmlElement element() {
    expect('<');
    XmlElement e;
    e.name = name();
    for (;;) {
      const std::size_t before = i_;
      spaces();
      if (at('/')) {
        ++i_;
        expect('>');
        return e;
      }
      if (at('>')) {
        ++i_;
        break;
      }
      if (i_ == before) fail("expected a space before an attribute");
      const std::string key = name();
      spaces();
      expect('=');
      spaces();
      if (!e.attributes.emplace(key, attributeValue()).second) fail("attribute " + key + " twice");
    }
    for (;;) {
      if (i_ >= s_.size()) fail("element <" + e.name + "> not closed");
      if (startsWith("</")) {
        i_ += 2;
        if (name() != e.name) fail("end tag does not match <" + e.name + ">");
        spaces();
        expect('>');
        return e;
      }
      if (startsWith("<!--")) {
        comment();
      } else if (startsWith("<![CDATA[")) {
        const std::size_t end = s_.find("]]>", i_);
        if (end == std::string::npos) fail("unterminated CDATA");
        e.text += s_.substr(i_ + 9, end - i_ - 9);
        i_ = end + 3;
      } else if (at('<')) {
        e.children.push_back(element());
      } else if (at('&')) {
        reference(e.text);
      } else {
        if (startsWith("]]>")) fail("]]> in text");
        e.text += s_[i_++];
      }
    }
  }

  const std::string& s_;
  std::size_t i_ = 0;
};

void collect(const XmlElement& e, const std::string& name, std::vector<const XmlElement*>& out) {
  if (e.name == name) out.push_back(&e);
  for (const XmlElement& child : e.children) collect(child, name, out);
}

}  // namespace

std::string XmlElement::attribute(const std::string& key) const {
  const auto it = attributes.find(key);
  return it == attributes.end() ? "" : it->second;
}

XmlElement parseXml(const std::string& document) { return Parser(document).document(); }

std::vector<const XmlElement*> elementsNamed(const XmlElement& root, const std::string& name) {
  std::vector<const XmlElement*> out;
  collect(root, name, out);
  return out;
}

}  // namespace d88test
