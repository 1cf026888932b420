#include "json_reader.h"

#include <cstring>

namespace d88 {
namespace {

class Parser {
 public:
  explicit Parser(const std::string& text) : s_(text) {}

  bool parse(JsonNode* root, std::string* why) {
    const bool ok = value(root, 0) && (space(), at_ == s_.size() || fail("text after the value"));
    if (!ok) *why = why_ + " at byte " + std::to_string(at_);
    return ok;
  }

 private:
  bool fail(const char* what) {
    if (why_.empty()) why_ = what;
    return false;
  }

  void space() {
    while (at_ < s_.size() && std::strchr(" \t\r\n", s_[at_]) != nullptr && s_[at_] != '\0') ++at_;
  }

  bool literal(const char* word) {
    const std::size_t n = std::strlen(word);
    if (s_.compare(at_, n, word) != 0) return fail("not a JSON value");
    at_ += n;
    return true;
  }

  static void appendUtf8(std::uint32_t cp, std::string* out) {
    if (cp < 0x80) {
      *out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      *out += static_cast<char>(0xC0 | (cp >> 6));
      *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      *out += static_cast<char>(0xE0 | (cp >> 12));
      *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | (cp >> 18));
      *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  bool hex4(std::uint32_t* cp) {
    if (at_ + 4 > s_.size()) return fail("a \\u escape cut short");
    *cp = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = s_[at_++];
      std::uint32_t digit = 0;
      if (c >= '0' && c <= '9') {
        digit = static_cast<std::uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        digit = static_cast<std::uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        digit = static_cast<std::uint32_t>(c - 'A' + 10);
      } else {
        return fail("a \\u escape that is not hex");
      }
      *cp = *cp * 16 + digit;
    }
    return true;
  }

  bool string(std::string* out) {
    ++at_;  // the opening quote
    while (at_ < s_.size()) {
      const char c = s_[at_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return fail("a control character in a string");
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (at_ >= s_.size()) break;
      const char e = s_[at_++];
      const char* plain = std::strchr("\"\\/bfnrt", e);
      if (plain != nullptr && e != '\0') {
        *out += "\"\\/\b\f\n\r\t"[plain - "\"\\/bfnrt"];
        continue;
      }
      if (e != 'u') return fail("an unknown escape");
      std::uint32_t cp = 0;
      if (!hex4(&cp)) return false;
      if (cp >= 0xD800 && cp < 0xDC00 && s_.compare(at_, 2, "\\u") == 0) {
        at_ += 2;
        std::uint32_t low = 0;
        if (!hex4(&low)) return false;
        if (low < 0xDC00 || low > 0xDFFF) return fail("a lone surrogate");
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      } else if (cp >= 0xD800 && cp < 0xE000) {
        return fail("a lone surrogate");
      }
      appendUtf8(cp, out);
    }
    return fail("a string without its closing quote");
  }

  bool number(JsonNode* node) {
    const std::size_t start = at_;
    if (s_[at_] == '-') ++at_;
    const std::size_t digits = at_;
    while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9') ++at_;
    if (at_ == digits) return fail("not a JSON value");
    bool whole = true;
    if (at_ < s_.size() && s_[at_] == '.') {
      whole = false;
      const std::size_t fraction = ++at_;
      while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9') ++at_;
      if (at_ == fraction) return fail("a number without digits after its point");
    }
    if (at_ < s_.size() && (s_[at_] == 'e' || s_[at_] == 'E')) {
      whole = false;
      ++at_;
      if (at_ < s_.size() && (s_[at_] == '+' || s_[at_] == '-')) ++at_;
      const std::size_t exponent = at_;
      while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9') ++at_;
      if (at_ == exponent) return fail("a number without digits in its exponent");
    }
    node->type = JsonNode::Type::kNumber;
    if (!whole || at_ - digits > 18) return true;  // kept as a number that is no integer here
    std::int64_t v = 0;
    for (std::size_t i = digits; i < at_; ++i) v = v * 10 + (s_[i] - '0');
    node->integer = s_[start] == '-' ? -v : v;
    node->isInteger = true;
    return true;
  }

  bool value(JsonNode* node, int depth) {
    if (++values_ > kMaxJsonValues) return fail("more values than any map holds");
    space();
    if (at_ >= s_.size()) return fail("the text ends where a value should be");
    const char c = s_[at_];
    if (c == '{' || c == '[') {
      if (depth >= kMaxJsonDepth) return fail("nested too deep");
      const bool isObject = c == '{';
      node->type = isObject ? JsonNode::Type::kObject : JsonNode::Type::kArray;
      ++at_;
      space();
      if (at_ < s_.size() && s_[at_] == (isObject ? '}' : ']')) {
        ++at_;
        return true;
      }
      for (;;) {
        space();
        if (isObject) {
          if (at_ >= s_.size() || s_[at_] != '"') return fail("an object member without its name");
          node->members.emplace_back();
          if (!string(&node->members.back().first)) return false;
          space();
          if (at_ >= s_.size() || s_[at_] != ':') return fail("a member name without a colon");
          ++at_;
          if (!value(&node->members.back().second, depth + 1)) return false;
        } else {
          node->items.emplace_back();
          if (!value(&node->items.back(), depth + 1)) return false;
        }
        space();
        if (at_ < s_.size() && s_[at_] == ',') {
          ++at_;
          continue;
        }
        if (at_ < s_.size() && s_[at_] == (isObject ? '}' : ']')) {
          ++at_;
          return true;
        }
        return fail(isObject ? "an object without its closing brace" : "an array without its closing bracket");
      }
    }
    if (c == '"') {
      node->type = JsonNode::Type::kString;
      return string(&node->text);
    }
    if (c == 't' || c == 'f') {
      node->type = JsonNode::Type::kBool;
      node->boolean = c == 't';
      return literal(c == 't' ? "true" : "false");
    }
    if (c == 'n') return literal("null");
    return number(node);
  }

  const std::string& s_;
  std::size_t at_ = 0;
  std::size_t values_ = 0;
  std::string why_;
};

}  // namespace

const JsonNode* JsonNode::member(const char* key) const {
  const JsonNode* found = nullptr;
  for (const auto& [name, value] : members) {
    if (name == key) found = &value;
  }
  return found;
}

bool parseJsonText(const std::string& text, JsonNode* root, std::string* why) {
  *root = JsonNode();
  return Parser(text).parse(root, why);
}

}  // namespace d88
