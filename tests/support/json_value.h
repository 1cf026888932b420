// A small JSON reader for tests: parses a whole document strictly, so that
// tests can both validate output and look into its structure.
#ifndef D88CUT_TESTS_SUPPORT_JSON_VALUE_H_
#define D88CUT_TESTS_SUPPORT_JSON_VALUE_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace d88test {

struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = Kind::kNull;
  bool boolean = false;
  double number = 0;
  std::string string;
  std::vector<JsonValue> array;
  std::map<std::string, JsonValue> object;

  // Member `key` of an object; throws when absent or not an object.
  const JsonValue& operator[](const std::string& key) const;
  // Element i of an array; throws when out of range or not an array.
  const JsonValue& operator[](std::size_t i) const;
  int asInt() const { return static_cast<int>(number); }
};

// Parses text as one JSON document; throws std::runtime_error when it is not
// valid JSON (including invalid UTF-8 in strings).
JsonValue parseJson(const std::string& text);

}  // namespace d88test

#endif  // D88CUT_TESTS_SUPPORT_JSON_VALUE_H_
