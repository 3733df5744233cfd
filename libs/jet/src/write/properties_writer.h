// Property blobs (the LvProp column of MSysObjects): database, table and
// column properties such as AccessVersion, Required and DefaultValue.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tab::jet::write {

struct Property {
    std::string name;
    uint8_t type = 0x0A;  // column type code of the value: 0x01 Yes/No, 0x04 Long, 0x0A Text
    std::string data;     // stored bytes (text: UTF-16LE)
    bool ddl = false;
};

Property textProperty(const std::string& name, const std::string& utf8, bool ddl = false);
Property longProperty(const std::string& name, int32_t value, bool ddl = false);
Property boolProperty(const std::string& name, bool value, bool ddl = false);

// An "MR2" blob: the object's own properties, then those of named columns.
// Empty when there are no properties at all.
std::string buildPropertyBlob(
    const std::vector<Property>& object,
    const std::vector<std::pair<std::string, std::vector<Property>>>& columns);

}  // namespace tab::jet::write
