// A small XML reader for tests: checks that a document is well-formed (one
// root, tags that match, quoted attributes met once, known entities only,
// valid UTF-8 and no character XML forbids) and gives its elements, so that
// tests can read a picture back by its attributes. No DTD, no namespaces
// beyond keeping prefixed names as they are.
#ifndef D88CUT_TESTS_SUPPORT_XML_READER_H_
#define D88CUT_TESTS_SUPPORT_XML_READER_H_

#include <map>
#include <string>
#include <vector>

namespace d88test {

struct XmlElement {
  std::string name;
  std::map<std::string, std::string> attributes;  // values with entities decoded
  std::vector<XmlElement> children;
  std::string text;  // the character data directly inside, decoded, joined

  // The value of attribute `key`, or "" when it has none.
  std::string attribute(const std::string& key) const;
  bool has(const std::string& key) const { return attributes.count(key) != 0; }
};

// Parses a whole document; throws std::runtime_error, naming the offset,
// when it is not well-formed.
XmlElement parseXml(const std::string& document);

// Every element under `root` (itself included) named `name`, in document order.
std::vector<const XmlElement*> elementsNamed(const XmlElement& root, const std::string& name);

}  // namespace d88test

#endif  // D88CUT_TESTS_SUPPORT_XML_READER_H_
