#include "write/properties_writer.h"

#include <algorithm>

#include "tabulary/base/text_codec.h"
#include "write/page_file.h"

namespace tab::jet::write {

namespace {

std::string utf16(const std::string& utf8) {
    std::string s;
    for (char16_t ch : utf8ToUtf16(utf8)) append16(s, ch);
    return s;
}

std::string block(uint16_t kind, const std::string& target, const std::vector<Property>& props,
                  const std::vector<std::string>& names) {
    std::string name = utf16(target);
    std::string b;
    append32(b, static_cast<uint32_t>(6 + name.size()));
    append16(b, static_cast<uint32_t>(name.size()));
    b += name;
    for (const Property& p : props) {
        auto index = std::find(names.begin(), names.end(), p.name) - names.begin();
        append16(b, static_cast<uint32_t>(8 + p.data.size()));
        b.push_back(static_cast<char>(p.ddl ? 1 : 0));
        b.push_back(static_cast<char>(p.type));
        append16(b, static_cast<uint32_t>(index));
        append16(b, static_cast<uint32_t>(p.data.size()));
        b += p.data;
    }
    std::string out;
    append32(out, static_cast<uint32_t>(6 + b.size()));
    append16(out, kind);
    return out + b;
}

}  // namespace

Property textProperty(const std::string& name, const std::string& utf8, bool ddl) {
    return {name, 0x0A, utf16(utf8), ddl};
}

Property longProperty(const std::string& name, int32_t value, bool ddl) {
    std::string d;
    append32(d, static_cast<uint32_t>(value));
    return {name, 0x04, d, ddl};
}

Property boolProperty(const std::string& name, bool value, bool ddl) {
    return {name, 0x01, std::string(1, static_cast<char>(value ? 0xFF : 0x00)), ddl};
}

std::string buildPropertyBlob(
    const std::vector<Property>& object,
    const std::vector<std::pair<std::string, std::vector<Property>>>& columns) {
    std::vector<std::string> names;
    auto collect = [&](const std::vector<Property>& props) {
        for (const Property& p : props)
            if (std::find(names.begin(), names.end(), p.name) == names.end())
                names.push_back(p.name);
    };
    collect(object);
    for (const auto& [column, props] : columns) collect(props);
    if (names.empty()) return {};
    std::string nameBlock;
    for (const std::string& n : names) {
        std::string u = utf16(n);
        append16(nameBlock, static_cast<uint32_t>(u.size()));
        nameBlock += u;
    }
    std::string blob("MR2\0", 4);
    append32(blob, static_cast<uint32_t>(6 + nameBlock.size()));
    append16(blob, 0x0080);
    blob += nameBlock;
    blob += block(0x0000, "", object, names);
    for (const auto& [column, props] : columns)
        if (!props.empty()) blob += block(0x0001, column, props, names);
    return blob;
}

}  // namespace tab::jet::write
