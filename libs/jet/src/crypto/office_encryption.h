// Office encryption of password-protected .accdb files: the encryption
// information on page 0 (untrusted: every length is checked), the key
// derivation for a password, and the page ciphers it yields.
//
// Versions x.2 carry binary structures and select RC4 CryptoAPI, the
// ECMA-376 "standard" AES scheme or its "non-standard" variant; version 4.4
// carries the Agile XML descriptor; x.3 (extensible, third-party providers)
// is refused.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "page_cipher.h"
#include "primitives.h"
#include "tabulary/base/error.h"
#include "tabulary/jet/encrypt.h"

namespace tab::jet::crypto {

enum class OfficeScheme {
    Rc4CryptoApi,    // x.2, fCryptoAPI
    StandardAes,     // x.2, fCryptoAPI | fAES: SHA-1 iterated 50,000 times, AES-ECB
    NonStandardAes,  // x.2, fCryptoAPI without fAES but an AES algorithm: no iterations
    Agile,           // 4.4
};

// Flags of the x.2 header.
constexpr uint32_t kFlagCryptoApi = 0x04;
constexpr uint32_t kFlagExternal = 0x10;
constexpr uint32_t kFlagAes = 0x20;
// Algorithm ids.
constexpr uint32_t kAlgRc4 = 0x6801;
constexpr uint32_t kAlgAes128 = 0x660E;
constexpr uint32_t kAlgAes192 = 0x660F;
constexpr uint32_t kAlgAes256 = 0x6610;
constexpr uint32_t kAlgSha1 = 0x8004;

// Versions x.2: EncryptionHeader and EncryptionVerifier.
struct StandardInfo {
    uint32_t flags = 0;
    uint32_t algId = 0;    // resolved: never 0
    uint32_t keyBits = 0;  // resolved: never 0
    uint32_t providerType = 0;
    std::string csp;  // provider name, UTF-8
    std::array<uint8_t, 16> salt{};
    std::array<uint8_t, 16> encryptedVerifier{};
    uint32_t verifierHashSize = 0;
    Buffer encryptedVerifierHash;  // 20 bytes (RC4) or 32 (AES)
};

// Version 4.4: the Agile descriptor's keyData and password key encryptor.
struct AgileParams {
    HashAlg hash = HashAlg::Sha1;
    uint32_t keyBits = 0;
    uint32_t blockSize = 0;
    uint32_t hashSize = 0;
    Buffer salt;
};
struct AgileInfo {
    AgileParams data;  // keyData: pages
    AgileParams key;   // p:encryptedKey: the password
    uint32_t spinCount = 0;
    Buffer encryptedVerifierHashInput, encryptedVerifierHashValue, encryptedKeyValue;
};

struct EncryptionInfo {
    uint16_t major = 0, minor = 0;
    OfficeScheme scheme = OfficeScheme::Rc4CryptoApi;
    StandardInfo standard;  // x.2
    AgileInfo agile;        // 4.4
    // "Office agile encryption (AES-256, SHA-512)" and the like.
    std::string describe() const;
};

// Most spins a file may ask for: more would let a hostile file hang the open.
constexpr uint32_t kMaxSpinCount = 10'000'000;

// The information block: the u16 length at 0x299 of page 0, then that many
// bytes (page 0 as stored; the block is not masked).
Result<std::span<const uint8_t>> encryptionInfoBlock(std::span<const uint8_t> page0);

// Parses the block; Unsupported for schemes this program cannot open (naming
// them), Corrupt for damaged structures.
Result<EncryptionInfo> parseEncryptionInfo(std::span<const uint8_t> block);

// Derives the keys for the password (UTF-8) once and checks them against the
// verifier; WrongPassword if it does not match.
Result<std::unique_ptr<PageCipher>> makeOfficeCipher(const EncryptionInfo& info,
                                                     uint32_t databaseKey,
                                                     std::string_view password);

// Both steps from page 0.
Result<std::unique_ptr<PageCipher>> openOfficeEncryption(std::span<const uint8_t> page0,
                                                         uint32_t databaseKey,
                                                         std::string_view password);

// Versions x.2 and 4.4, for the dispatcher.
Result<StandardInfo> parseStandardInfo(std::span<const uint8_t> block);
Result<AgileInfo> parseAgileInfo(std::span<const uint8_t> block);
Result<std::unique_ptr<PageCipher>> makeStandardCipher(const StandardInfo& info,
                                                       OfficeScheme scheme, uint32_t databaseKey,
                                                       const Buffer& password, std::string name);
Result<std::unique_ptr<PageCipher>> makeAgileCipher(const AgileInfo& info, uint32_t databaseKey,
                                                    const Buffer& password, std::string name);

// Spins of the Agile descriptors this program writes, as Access does.
constexpr uint32_t kNewSpinCount = 100'000;

// A new encryption information block (the bytes from 0x29B of page 0) for
// `password`: fresh salts, verifier and, for Agile, data key from OpenSSL's
// generator. Internal if the generator or AES fails.
Result<Buffer> buildEncryptionInfo(EncryptionScheme scheme, std::string_view password);

// n bytes from OpenSSL's generator.
Result<Buffer> randomBytes(size_t n);

// The builders behind buildEncryptionInfo; `password` as passwordBytes gives it.
Result<Buffer> buildStandardInfo(OfficeScheme scheme, const Buffer& password);
Result<Buffer> buildAgileInfo(HashAlg hash, uint32_t keyBits, const Buffer& password);

// Key derivations, exposed for known-answer tests.
// RC4 CryptoAPI: H0 = SHA1(salt || password).
Buffer cryptoApiBaseHash(std::span<const uint8_t> salt, const Buffer& password);
// The RC4 key of a block value (40-bit keys padded to 16 bytes).
Buffer cryptoApiRc4Key(const Buffer& baseHash, uint32_t block, uint32_t keyBits);
// Standard AES: the iterated hash (50,000 or, non-standard, 0 iterations).
Buffer standardBaseHash(std::span<const uint8_t> salt, const Buffer& password, uint32_t iterations);
// The AES key of a block value.
Buffer standardAesKey(const Buffer& baseHash, uint32_t block, uint32_t keyBits);
// Agile: the spun password hash H_n.
Buffer agileSpunHash(HashAlg alg, std::span<const uint8_t> salt, const Buffer& password,
                     uint32_t spinCount);

}  // namespace tab::jet::crypto
