// A small JSON reader for the maps the programs write: the whole text in,
// a tree of values out, or the reason it is not JSON. Bounded: nesting at
// most kMaxJsonDepth deep and at most kMaxJsonValues values, whatever the
// text, so that memory stays within a fixed bound.
#ifndef D88CUT_MAKE_JSON_READER_H_
#define D88CUT_MAKE_JSON_READER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace d88 {

// Arrays and objects nest at most this deep; a map nests three.
constexpr int kMaxJsonDepth = 32;
// Values one text holds at most: the map of the most sectors and records a
// disk can hold has about a million.
constexpr std::size_t kMaxJsonValues = std::size_t{1} << 21;

struct JsonNode {
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = Type::kNull;
  bool boolean = false;
  // A number that is a whole number within int64; isInteger false for any other.
  std::int64_t integer = 0;
  bool isInteger = false;
  std::string text;  // kString: its value, escapes undone, as UTF-8
  std::vector<JsonNode> items;                           // kArray
  std::vector<std::pair<std::string, JsonNode>> members;  // kObject, in text order

  // The member `key` of an object (the last of that name); null when there is none.
  const JsonNode* member(const char* key) const;
};

// Parses `text` whole into *root; false with the reason and the byte where
// it stands in *why when the text is not one JSON value.
bool parseJsonText(const std::string& text, JsonNode* root, std::string* why);

}  // namespace d88

#endif  // D88CUT_MAKE_JSON_READER_H_
