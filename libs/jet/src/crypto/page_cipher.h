// How the pages p >= 1 of a file are enciphered: Jet RC4 for .mdb files, one
// of the Office schemes for password-protected .accdb files. Page 0 never is.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace tab::jet::crypto {

class PageCipher {
public:
    virtual ~PageCipher() = default;
    // What the file uses, for messages ("Office agile encryption, AES-256/SHA-512").
    virtual const std::string& scheme() const = 0;
    // In place, on one whole page (number >= 1). Block ciphers work on whole
    // 16-byte blocks; ACE pages are 4096 bytes.
    virtual void decrypt(uint32_t number, std::span<uint8_t> page) const = 0;
    // The inverse of decrypt, for writing pages back.
    virtual void encrypt(uint32_t number, std::span<uint8_t> page) const = 0;
};

// Jet3/Jet4 page encoding with the header's database key.
std::unique_ptr<PageCipher> jetRc4Cipher(uint32_t databaseKey);

// The 4-byte block value of page `number`: the key bytes XOR the page number.
inline uint32_t blockValue(uint32_t databaseKey, uint32_t number) {
    return databaseKey ^ number;
}

}  // namespace tab::jet::crypto
