// Property blobs (the LvProp column of MSysObjects): named, typed values for
// a table and for each of its columns.
#include <cstring>

#include "internal.h"
#include "tabulary/base/case_fold.h"
#include "tabulary/base/text_codec.h"

namespace tab::jet {

std::string asciiLowered(std::string_view s) {
    std::string out(s);
    for (auto& ch : out)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
    return out;
}

const Value* PropertyMap::find(const std::string& name) const {
    auto it = values.find(name);
    return it == values.end() ? nullptr : &it->second;
}

namespace {

std::string decodeName(Bytes b, const Format& f, uint16_t codePage) {
    return f.jet3 ? codePageToUtf8(b, codePage) : decodeJetText(b);
}

Value decodePropertyValue(uint8_t type, Bytes v, const Format& f, uint16_t codePage) {
    auto u = [&](size_t n) {
        uint64_t x = 0;
        for (size_t i = 0; i < n && i < v.size(); ++i) x |= uint64_t{v[i]} << (8 * i);
        return x;
    };
    switch (type) {
        case 0x01:
            return Value::boolean(!v.empty() && v[0] != 0);
        case 0x02:
            return Value::integer(static_cast<int64_t>(u(1)));
        case 0x03:
            return Value::integer(static_cast<int16_t>(u(2)));
        case 0x04:
            return Value::integer(static_cast<int32_t>(u(4)));
        case 0x0A:
        case 0x0C:
            return Value::text(decodeName(v, f, codePage));
        default:
            return Value::binary(std::string(reinterpret_cast<const char*>(v.data()), v.size()));
    }
}

}  // namespace

Result<Properties> parseProperties(Bytes blob, const Format& f, uint16_t codePage) {
    Properties props;
    if (blob.size() < 4) return props;
    if (std::memcmp(blob.data(), f.jet3 ? "KKD\0" : "MR2\0", 4) != 0)
        return corrupt("property blob has an unknown signature");
    std::vector<std::string> names;
    size_t pos = 4;
    while (pos + 6 <= blob.size()) {
        uint32_t len = u32At(blob.data() + pos);
        uint16_t kind = u16At(blob.data() + pos + 4);
        if (len < 6 || len > blob.size() - pos)
            return corrupt("property chunk length out of range");
        Bytes chunk = blob.subspan(pos + 6, len - 6);
        pos += len;
        if (kind == 0x0080) {
            size_t q = 0;
            while (q + 2 <= chunk.size()) {
                uint16_t n = u16At(chunk.data() + q);
                auto s = subspan(chunk, q + 2, n);
                if (!s) return corrupt("property name outside its chunk");
                names.push_back(decodeName(*s, f, codePage));
                q += 2 + n;
            }
            continue;
        }
        if (kind != 0x0000 && kind != 0x0001 && kind != 0x0002) continue;
        if (chunk.size() < 6) return corrupt("property chunk too short");
        uint32_t nameBlock = u32At(chunk.data());
        uint16_t targetLen = u16At(chunk.data() + 4);
        if (nameBlock < 6 || nameBlock > chunk.size() || targetLen > nameBlock - 6)
            return corrupt("property name block out of range");
        std::string target = decodeName(chunk.subspan(6, targetLen), f, codePage);
        PropertyMap& map =
            target.empty() && kind == 0 ? props.object : props.columns[foldedCase(target)];
        size_t q = nameBlock;
        while (q + 8 <= chunk.size()) {
            uint16_t elen = u16At(chunk.data() + q);
            if (elen < 8 || elen > chunk.size() - q)
                return corrupt("property entry length out of range");
            uint8_t type = chunk[q + 3];
            uint16_t nameIndex = u16At(chunk.data() + q + 4);
            uint16_t vlen = u16At(chunk.data() + q + 6);
            if (vlen > elen - 8u) return corrupt("property value longer than its entry");
            if (nameIndex < names.size())
                map.values[names[nameIndex]] =
                    decodePropertyValue(type, chunk.subspan(q + 8, vlen), f, codePage);
            q += elen;
        }
    }
    return props;
}

}  // namespace tab::jet
