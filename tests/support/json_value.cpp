#include "json_value.h"

#include <cstdlib>
#include <stdexcept>

namespace d88test {
namespace {

class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  JsonValue document() {
    JsonValue v = value();
    space();
    if (at_ != text_.size()) fail("text after the document");
    return v;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw std::runtime_error("JSON: " + what + " at " + std::to_string(at_));
  }
  void space() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\n' ||
                                  text_[at_] == '\r' || text_[at_] == '\t')) {
      ++at_;
    }
  }
  bool take(char c) {
    space();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  void expect(char c) {
    if (!take(c)) fail(std::string("expected '") + c + "'");
  }
  bool word(const char* w) {
    const std::string s(w);
    if (text_.compare(at_, s.size(), s) == 0) {
      at_ += s.size();
      return true;
    }
    return false;
  }

  JsonValue value() {
    space();
    if (at_ >= text_.size()) fail("unexpected end");
    JsonValue v;
    const char c = text_[at_];
    if (c == '{') {
      ++at_;
      v.kind = JsonValue::Kind::kObject;
      if (take('}')) return v;
      do {
        space();
        const std::string key = string();
        expect(':');
        v.object[key] = value();
      } while (take(','));
      expect('}');
    } else if (c == '[') {
      ++at_;
      v.kind = JsonValue::Kind::kArray;
      if (take(']')) return v;
      do {
        v.array.push_back(value());
      } while (take(','));
      expect(']');
    } else if (c == '"') {
      v.kind = JsonValue::Kind::kString;
      v.string = string();
    } else if (word("true") || word("false")) {
      v.kind = JsonValue::Kind::kBool;
      v.boolean = text_[at_ - 1] == 'e' && text_[at_ - 2] == 'u';
    } else if (word("null")) {
      v.kind = JsonValue::Kind::kNull;
    } else {
      const char* start = text_.c_str() + at_;
      char* end = nullptr;
      v.number = std::strtod(start, &end);
      if (end == start) fail("not a value");
      v.kind = JsonValue::Kind::kNumber;
      at_ += static_cast<std::size_t>(end - start);
    }
    return v;
  }

  std::string string() {
    if (at_ >= text_.size() || text_[at_] != '"') fail("expected a string");
    ++at_;
    std::string out;
    while (true) {
      if (at_ >= text_.size()) fail("unterminated string");
      const auto c = static_cast<unsigned char>(text_[at_]);
      if (c == '"') break;
      if (c < 0x20) fail("control character in a string");
      if (c == '\\') {
        ++at_;
        if (at_ >= text_.size()) fail("unterminated escape");
        const char e = text_[at_++];
        switch (e) {
          case '"': case '\\': case '/': out += e; break;
          case 'b': out += '\b'; break;
          case 'f': out += '\f'; break;
          case 'n': out += '\n'; break;
          case 'r': out += '\r'; break;
          case 't': out += '\t'; break;
          case 'u': {
            if (at_ + 4 > text_.size()) fail("short \\u escape");
            const unsigned long code = std::strtoul(text_.substr(at_, 4).c_str(), nullptr, 16);
            at_ += 4;
            // As UTF-8; surrogate pairs are not joined (no test needs them).
            if (code < 0x80) {
              out += static_cast<char>(code);
            } else if (code < 0x800) {
              out += static_cast<char>(0xC0 | (code >> 6));
              out += static_cast<char>(0x80 | (code & 0x3F));
            } else {
              out += static_cast<char>(0xE0 | (code >> 12));
              out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
              out += static_cast<char>(0x80 | (code & 0x3F));
            }
            break;
          }
          default: fail("bad escape");
        }
        continue;
      }
      // UTF-8 must be well formed.
      std::size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3
                         : (c & 0xF8) == 0xF0 ? 4 : 0;
      if (length == 0 || at_ + length > text_.size() || (length == 2 && c < 0xC2)) {
        fail("invalid UTF-8");
      }
      for (std::size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(text_[at_ + k]) & 0xC0) != 0x80) fail("invalid UTF-8");
      }
      out.append(text_, at_, length);
      at_ += length;
    }
    ++at_;
    return out;
  }

  const std::string& text_;
  std::size_t at_ = 0;
};

}  // namespace

const JsonValue& JsonValue::operator[](const std::string& key) const {
  if (kind != Kind::kObject) throw std::runtime_error("JSON: not an object, looking for " + key);
  const auto it = object.find(key);
  if (it == object.end()) throw std::runtime_error("JSON: no member " + key);
  return it->second;
}

const JsonValue& JsonValue::operator[](std::size_t i) const {
  if (kind != Kind::kArray || i >= array.size()) throw std::runtime_error("JSON: no element");
  return array[i];
}

JsonValue parseJson(const std::string& text) { return Parser(text).document(); }

}  // namespace d88test
