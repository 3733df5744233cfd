#include "crypto/xml_reader.h"

namespace tab::jet::crypto {

namespace {

constexpr size_t kMaxDepth = 32;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool isNameChar(char c) {
    return !isSpace(c) && c != '=' && c != '>' && c != '/' && c != '<' && c != '"' && c != '\'';
}

Error bad(const std::string& what) {
    return corrupt("the encryption descriptor is not well-formed XML: " + what);
}

Result<std::string> unescape(std::string_view v) {
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '<') return bad("'<' in an attribute value");
        if (v[i] != '&') {
            out += v[i];
            continue;
        }
        size_t end = v.find(';', i);
        if (end == std::string_view::npos) return bad("an unterminated entity");
        std::string_view e = v.substr(i + 1, end - i - 1);
        if (e == "amp")
            out += '&';
        else if (e == "lt")
            out += '<';
        else if (e == "gt")
            out += '>';
        else if (e == "quot")
            out += '"';
        else if (e == "apos")
            out += '\'';
        else
            return bad("unknown entity &" + std::string(e) + ";");
        i = end;
    }
    return out;
}

}  // namespace

const std::string* XmlElement::attribute(std::string_view n) const {
    for (const auto& a : attributes)
        if (a.first == n) return &a.second;
    return nullptr;
}

Result<std::vector<XmlElement>> readXmlElements(std::string_view xml) {
    std::vector<XmlElement> out;
    std::vector<int> open;
    size_t i = 0;
    auto skipTo = [&](std::string_view end) -> bool {
        size_t at = xml.find(end, i);
        if (at == std::string_view::npos) return false;
        i = at + end.size();
        return true;
    };
    while (i < xml.size()) {
        if (xml[i] != '<') {
            // Text between elements: the descriptor has none but whitespace.
            if (!isSpace(xml[i])) return bad("text outside the attributes");
            ++i;
            continue;
        }
        std::string_view rest = xml.substr(i);
        if (rest.starts_with("<?")) {
            if (!skipTo("?>")) return bad("an unterminated declaration");
            continue;
        }
        if (rest.starts_with("<!--")) {
            if (!skipTo("-->")) return bad("an unterminated comment");
            continue;
        }
        if (rest.starts_with("<!")) return bad("a DTD or CDATA section");
        if (rest.starts_with("</")) {
            i += 2;
            size_t start = i;
            while (i < xml.size() && isNameChar(xml[i])) ++i;
            std::string_view name = xml.substr(start, i - start);
            while (i < xml.size() && isSpace(xml[i])) ++i;
            if (i >= xml.size() || xml[i] != '>') return bad("an unterminated closing tag");
            ++i;
            if (open.empty()) return bad("a closing tag without its element");
            size_t colon = name.find(':');
            std::string_view local =
                colon == std::string_view::npos ? name : name.substr(colon + 1);
            if (local != out[static_cast<size_t>(open.back())].name)
                return bad("</" + std::string(name) + "> closes another element");
            open.pop_back();
            continue;
        }
        ++i;
        size_t start = i;
        while (i < xml.size() && isNameChar(xml[i])) ++i;
        if (i == start) return bad("an element without a name");
        if (open.empty() && !out.empty()) return bad("more than one root element");
        std::string_view name = xml.substr(start, i - start);
        size_t colon = name.find(':');
        XmlElement e;
        e.name = std::string(colon == std::string_view::npos ? name : name.substr(colon + 1));
        e.parent = open.empty() ? -1 : open.back();
        bool selfClosing = false;
        while (true) {
            while (i < xml.size() && isSpace(xml[i])) ++i;
            if (i >= xml.size()) return bad("an unterminated tag");
            if (xml[i] == '>') {
                ++i;
                break;
            }
            if (xml[i] == '/') {
                if (i + 1 >= xml.size() || xml[i + 1] != '>') return bad("a stray '/'");
                i += 2;
                selfClosing = true;
                break;
            }
            size_t an = i;
            while (i < xml.size() && isNameChar(xml[i])) ++i;
            if (i == an) return bad("an attribute without a name");
            std::string attr(xml.substr(an, i - an));
            while (i < xml.size() && isSpace(xml[i])) ++i;
            if (i >= xml.size() || xml[i] != '=') return bad("attribute " + attr + " has no value");
            ++i;
            while (i < xml.size() && isSpace(xml[i])) ++i;
            if (i >= xml.size() || (xml[i] != '"' && xml[i] != '\''))
                return bad("attribute " + attr + " is not quoted");
            char quote = xml[i++];
            size_t end = xml.find(quote, i);
            if (end == std::string_view::npos) return bad("attribute " + attr + " is unterminated");
            auto value = unescape(xml.substr(i, end - i));
            if (!value.ok()) return value.error();
            i = end + 1;
            if (e.attribute(attr)) return bad("attribute " + attr + " given twice");
            e.attributes.emplace_back(std::move(attr), std::move(*value));
        }
        out.push_back(std::move(e));
        if (!selfClosing) {
            if (open.size() >= kMaxDepth) return bad("elements nested too deeply");
            open.push_back(static_cast<int>(out.size() - 1));
        }
    }
    if (!open.empty())
        return bad("element <" + out[static_cast<size_t>(open.back())].name + "> is not closed");
    if (out.empty()) return bad("no element");
    return out;
}

}  // namespace tab::jet::crypto
