// Text decoding for the encodings found in Access files: UTF-16LE, the Jet4
// "compressed unicode" form, and single/double-byte Windows code pages.
// All output is UTF-8; malformed input becomes U+FFFD, never an error.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tab {

// Appends the UTF-8 form of UTF-16LE bytes; an odd final byte is dropped,
// unpaired surrogates become U+FFFD.
void appendUtf16Le(std::string& out, std::span<const uint8_t> bytes);
std::string utf16LeToUtf8(std::span<const uint8_t> bytes);

// Jet4 text value: compressed when it starts with FF FE, else UTF-16LE.
// The append form reuses the caller's buffer.
std::string decodeJetText(std::span<const uint8_t> bytes);
void appendJetText(std::string& out, std::span<const uint8_t> bytes);
bool isCompressedJetText(std::span<const uint8_t> bytes);

// Bytes in a Windows code page (1252 when codePage is 0). Code page 1252 is
// decoded as Windows does, its five undefined bytes as the C1 controls.
std::string codePageToUtf8(std::span<const uint8_t> bytes, int codePage);

// Well-formed UTF-8: no stray or missing continuation bytes, no overlong
// forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view utf8);

// UTF-8 to UTF-16 code units (for password comparison and collation).
std::u16string utf8ToUtf16(std::string_view utf8);

void appendUtf8(std::string& out, char32_t cp);

}  // namespace tab
