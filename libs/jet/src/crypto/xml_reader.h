// Just enough XML for the Agile encryption descriptor: elements with their
// attributes and parents, no text content, no DTDs, no entities beyond the
// predefined five. Untrusted input: every malformed piece is an error.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tabulary/base/error.h"

namespace tab::jet::crypto {

struct XmlElement {
    std::string name;                                             // local name, without its prefix
    std::vector<std::pair<std::string, std::string>> attributes;  // as written, values unescaped
    int parent = -1;  // index in the list; -1 for the root
    const std::string* attribute(std::string_view name) const;
};

// The elements in document order.
Result<std::vector<XmlElement>> readXmlElements(std::string_view xml);

}  // namespace tab::jet::crypto
