// UTF-8 decoding shared by the writers, bounds-checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tab::writers {

// The length of the well-formed sequence at `at` with its code point in
// `cp`; 0 when the bytes there are not one (stray, overlong, surrogate,
// beyond U+10FFFF or cut short).
inline size_t decodeUtf8(std::string_view text, size_t at, uint32_t& cp) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    size_t length;
    uint32_t min;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, min = 0x80, cp = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, min = 0x800, cp = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, min = 0x10000, cp = lead & 0x07u;
    } else {
        return 0;
    }
    if (text.size() - at < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(at + i) & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return length;
}

}  // namespace tab::writers
