// Text made safe inside an XML document.
#ifndef D88CUT_LISTER_XML_TEXT_H_
#define D88CUT_LISTER_XML_TEXT_H_

#include <string>

namespace d88 {

// Text for XML character data and attribute values: markup characters as
// entities, a line break as a character reference (titles have several
// lines), any other control character, and U+FFFE and U+FFFF, which XML
// forbids, as \xNN. The text is valid UTF-8 (safeUtf8 and displayName make it so).
std::string xmlText(const std::string& text);

}  // namespace d88

#endif  // D88CUT_LISTER_XML_TEXT_H_
