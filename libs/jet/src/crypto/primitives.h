// The building blocks of the Office schemes over OpenSSL: hashes, AES without
// padding, base64, and the password as the schemes hash it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tab::jet::crypto {

using Buffer = std::vector<uint8_t>;

enum class HashAlg { Sha1, Sha256, Sha384, Sha512 };

size_t hashSize(HashAlg alg);
// Names as the Agile descriptor writes them, case-insensitive, '-' and '_'
// ignored ("SHA512", "sha-1").
std::optional<HashAlg> hashByName(std::string_view name);
const char* hashName(HashAlg alg);

// The hash of the parts, concatenated.
Buffer digest(HashAlg alg, std::initializer_list<std::span<const uint8_t>> parts);

enum class AesMode { Ecb, Cbc };
// In place over whole 16-byte blocks (a trailing partial block is left
// alone); key of 16, 24 or 32 bytes; iv of 16 bytes for CBC. False if
// OpenSSL refused.
bool aes(bool encrypt, AesMode mode, std::span<const uint8_t> key, std::span<const uint8_t> iv,
         std::span<uint8_t> data);

// Strict base64: the alphabet, '=' padding at the end only, whitespace
// skipped. Nothing for anything else.
std::optional<Buffer> base64Decode(std::string_view text);
std::string base64Encode(std::span<const uint8_t> bytes);

// UTF-16LE without terminator, at most 255 code units.
Buffer passwordBytes(std::string_view utf8);

// Truncated or padded with 0x36 to n bytes.
Buffer fitTo(std::span<const uint8_t> bytes, size_t n);

Buffer le32(uint32_t v);

// Overwrites key material before its memory is given back.
void wipe(Buffer& bytes);

}  // namespace tab::jet::crypto
