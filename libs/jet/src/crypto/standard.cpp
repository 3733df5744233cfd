// Versions x.2 of the Office encryption information: RC4 CryptoAPI, the
// ECMA-376 standard AES scheme and its non-standard variant. All three hash
// with SHA-1 and take their keys from a per-page block value.
#include <openssl/crypto.h>

#include <algorithm>
#include <cctype>

#include "crypto/office_encryption.h"
#include "tabulary/base/byte_reader.h"
#include "tabulary/base/rc4.h"
#include "tabulary/base/text_codec.h"

namespace tab::jet::crypto {

namespace {

constexpr size_t kHeaderAt = 0x0C;
constexpr size_t kHeaderFixed = 0x20;  // before the provider name
constexpr uint32_t kStandardIterations = 50'000;

bool isAes(uint32_t algId) {
    return algId == kAlgAes128 || algId == kAlgAes192 || algId == kAlgAes256;
}

uint32_t aesBits(uint32_t algId) {
    return algId == kAlgAes128 ? 128 : algId == kAlgAes192 ? 192 : 256;
}

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string hex(uint32_t v) {
    static const char* digits = "0123456789ABCDEF";
    std::string s = "0x";
    for (int shift = 12; shift >= 0; shift -= 4) s += digits[(v >> shift) & 15];
    return s;
}

bool sameBytes(std::span<const uint8_t> a, std::span<const uint8_t> b, size_t n) {
    return a.size() >= n && b.size() >= n && CRYPTO_memcmp(a.data(), b.data(), n) == 0;
}

class CryptoApiRc4 final : public PageCipher {
public:
    CryptoApiRc4(Buffer baseHash, uint32_t keyBits, uint32_t databaseKey, std::string name)
        : m_base(std::move(baseHash)),
          m_keyBits(keyBits),
          m_key(databaseKey),
          m_name(std::move(name)) {}
    ~CryptoApiRc4() override { wipe(m_base); }
    const std::string& scheme() const override { return m_name; }
    void decrypt(uint32_t number, std::span<uint8_t> page) const override { apply(number, page); }
    void encrypt(uint32_t number, std::span<uint8_t> page) const override { apply(number, page); }

private:
    void apply(uint32_t number, std::span<uint8_t> page) const {
        Buffer k = cryptoApiRc4Key(m_base, blockValue(m_key, number), m_keyBits);
        Rc4 rc4(k);
        rc4.apply(page);
        wipe(k);
    }
    Buffer m_base;
    uint32_t m_keyBits, m_key;
    std::string m_name;
};

class StandardAes final : public PageCipher {
public:
    StandardAes(Buffer baseHash, uint32_t keyBits, uint32_t databaseKey, std::string name)
        : m_base(std::move(baseHash)),
          m_keyBits(keyBits),
          m_key(databaseKey),
          m_name(std::move(name)) {}
    ~StandardAes() override { wipe(m_base); }
    const std::string& scheme() const override { return m_name; }
    void decrypt(uint32_t number, std::span<uint8_t> page) const override {
        apply(false, number, page);
    }
    void encrypt(uint32_t number, std::span<uint8_t> page) const override {
        apply(true, number, page);
    }

private:
    void apply(bool enc, uint32_t number, std::span<uint8_t> page) const {
        Buffer k = standardAesKey(m_base, blockValue(m_key, number), m_keyBits);
        // A page OpenSSL cannot process reads as zeros: damaged, not half-decrypted.
        if (!aes(enc, AesMode::Ecb, k, {}, page)) std::fill(page.begin(), page.end(), 0);
        wipe(k);
    }
    Buffer m_base;
    uint32_t m_keyBits, m_key;
    std::string m_name;
};

}  // namespace

Buffer cryptoApiBaseHash(std::span<const uint8_t> salt, const Buffer& password) {
    return digest(HashAlg::Sha1, {salt, password});
}

Buffer cryptoApiRc4Key(const Buffer& baseHash, uint32_t block, uint32_t keyBits) {
    Buffer b = le32(block);
    Buffer k = digest(HashAlg::Sha1, {baseHash, b});
    k.resize(std::min<size_t>(keyBits / 8, k.size()));
    // 40-bit keys are used as 128-bit keys with 11 zero bytes.
    if (keyBits == 40) k.resize(16, 0);
    return k;
}

Buffer standardBaseHash(std::span<const uint8_t> salt, const Buffer& password,
                        uint32_t iterations) {
    Buffer h = digest(HashAlg::Sha1, {salt, password});
    for (uint32_t i = 0; i < iterations; ++i) {
        Buffer counter = le32(i);
        h = digest(HashAlg::Sha1, {counter, h});
    }
    return h;
}

Buffer standardAesKey(const Buffer& baseHash, uint32_t block, uint32_t keyBits) {
    Buffer b = le32(block);
    Buffer f = digest(HashAlg::Sha1, {baseHash, b});
    Buffer inner(64, 0x36), outer(64, 0x5C);
    for (size_t i = 0; i < f.size() && i < 64; ++i) {
        inner[i] ^= f[i];
        outer[i] ^= f[i];
    }
    Buffer k = digest(HashAlg::Sha1, {inner});
    Buffer x2 = digest(HashAlg::Sha1, {outer});
    k.insert(k.end(), x2.begin(), x2.end());
    k.resize(keyBits / 8);
    wipe(f);
    wipe(x2);
    return k;
}

Result<StandardInfo> parseStandardInfo(std::span<const uint8_t> block) {
    StandardInfo s;
    auto flags = readU32Le(block, 4);
    auto headerSize = readU32Le(block, 8);
    if (!flags || !headerSize) return corrupt("the encryption information is truncated");
    s.flags = *flags;
    if (!(s.flags & kFlagCryptoApi))
        return unsupported("the database uses Office encryption without CryptoAPI (flags " +
                           hex(s.flags) + "), which this program cannot open");
    if (s.flags & kFlagExternal)
        return unsupported(
            "the database uses an external Office encryption provider, which this "
            "program cannot open");
    if (*headerSize < kHeaderFixed || !inBounds(block.size(), kHeaderAt, *headerSize))
        return corrupt("the encryption header size (" + std::to_string(*headerSize) +
                       ") does not fit the encryption information (" +
                       std::to_string(block.size()) + " bytes)");
    std::span<const uint8_t> header = block.subspan(kHeaderAt, *headerSize);
    s.algId = *readU32Le(header, 0x08);
    uint32_t algIdHash = *readU32Le(header, 0x0C);
    s.keyBits = *readU32Le(header, 0x10);
    s.providerType = *readU32Le(header, 0x14);
    std::span<const uint8_t> name = header.subspan(kHeaderFixed);
    size_t nameLen = 0;
    while (nameLen + 1 < name.size() && (name[nameLen] | name[nameLen + 1]) != 0) nameLen += 2;
    s.csp = utf16LeToUtf8(name.first(nameLen));

    if (algIdHash != 0 && algIdHash != kAlgSha1)
        return unsupported("the database's Office encryption hashes with algorithm " +
                           hex(algIdHash) + ", which this program does not know");
    if (s.algId == 0) s.algId = (s.flags & kFlagAes) ? kAlgAes128 : kAlgRc4;
    if (s.algId != kAlgRc4 && !isAes(s.algId))
        return unsupported("the database's Office encryption uses algorithm " + hex(s.algId) +
                           ", which this program does not know");
    if (s.algId == kAlgRc4 && (s.flags & kFlagAes))
        return corrupt("the encryption header names RC4 but is flagged as AES");
    if (s.algId == kAlgRc4) {
        if (s.keyBits == 0) {
            std::string n = lower(s.csp);
            s.keyBits = (n.empty() || n.find(" base ") != std::string::npos) ? 40 : 128;
        }
        // The key is a truncated SHA-1 hash: 160 bits at most.
        if (s.keyBits < 40 || s.keyBits > 160 || s.keyBits % 8 != 0)
            return unsupported("the database's RC4 CryptoAPI key size (" +
                               std::to_string(s.keyBits) + " bits) is not supported");
    } else {
        if (s.keyBits == 0) s.keyBits = aesBits(s.algId);
        if (s.keyBits != aesBits(s.algId))
            return corrupt("the encryption header's key size (" + std::to_string(s.keyBits) +
                           " bits) does not match its AES algorithm");
    }

    const size_t v = kHeaderAt + *headerSize;
    auto saltSize = readU32Le(block, v);
    if (!saltSize) return corrupt("the encryption verifier is missing");
    if (*saltSize != 16)
        return corrupt("the encryption verifier's salt has " + std::to_string(*saltSize) +
                       " bytes instead of 16");
    const size_t hashLen = s.algId == kAlgRc4 ? 20 : 32;
    if (!inBounds(block.size(), v, 0x28 + hashLen))
        return corrupt("the encryption verifier is truncated");
    std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(v + 0x04), 16, s.salt.begin());
    std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(v + 0x14), 16,
                s.encryptedVerifier.begin());
    s.verifierHashSize = *readU32Le(block, v + 0x24);
    if (s.verifierHashSize == 0 || s.verifierHashSize > 20)
        return corrupt("the encryption verifier's hash size (" +
                       std::to_string(s.verifierHashSize) + ") is not that of SHA-1");
    auto hashAt = block.begin() + static_cast<std::ptrdiff_t>(v + 0x28);
    s.encryptedVerifierHash.assign(hashAt, hashAt + static_cast<std::ptrdiff_t>(hashLen));
    return s;
}

Result<std::unique_ptr<PageCipher>> makeStandardCipher(const StandardInfo& info,
                                                       OfficeScheme scheme, uint32_t databaseKey,
                                                       const Buffer& password, std::string name) {
    Buffer verifier(info.encryptedVerifier.begin(), info.encryptedVerifier.end());
    Buffer hash = info.encryptedVerifierHash;
    if (scheme == OfficeScheme::Rc4CryptoApi) {
        Buffer base = cryptoApiBaseHash(info.salt, password);
        Buffer k = cryptoApiRc4Key(base, 0, info.keyBits);
        Rc4 rc4(k);
        rc4.apply(verifier);
        rc4.apply(hash);  // the same stream goes on
        wipe(k);
        Buffer expected = digest(HashAlg::Sha1, {verifier});
        if (!sameBytes(expected, hash, info.verifierHashSize)) {
            wipe(base);
            return Error(Errc::WrongPassword, "Not a valid password.");
        }
        return std::unique_ptr<PageCipher>(
            new CryptoApiRc4(std::move(base), info.keyBits, databaseKey, std::move(name)));
    }
    uint32_t iterations = scheme == OfficeScheme::StandardAes ? kStandardIterations : 0;
    Buffer base = standardBaseHash(info.salt, password, iterations);
    Buffer k = standardAesKey(base, 0, info.keyBits);
    bool ok = aes(false, AesMode::Ecb, k, {}, verifier) && aes(false, AesMode::Ecb, k, {}, hash);
    wipe(k);
    if (!ok) {
        wipe(base);
        return Error(Errc::Internal, "OpenSSL could not run AES");
    }
    Buffer expected = digest(HashAlg::Sha1, {verifier});
    if (!sameBytes(expected, hash, info.verifierHashSize)) {
        wipe(base);
        return Error(Errc::WrongPassword, "Not a valid password.");
    }
    return std::unique_ptr<PageCipher>(
        new StandardAes(std::move(base), info.keyBits, databaseKey, std::move(name)));
}

}  // namespace tab::jet::crypto

namespace tab::jet::crypto {

namespace {

void add32(Buffer& b, uint32_t v) {
    Buffer le = le32(v);
    b.insert(b.end(), le.begin(), le.end());
}

}  // namespace

Result<Buffer> buildStandardInfo(OfficeScheme scheme, const Buffer& password) {
    const bool rc4 = scheme == OfficeScheme::Rc4CryptoApi;
    if (!rc4 && scheme != OfficeScheme::StandardAes)
        return Error(Errc::Internal, "no new encryption information for this scheme");
    // What Access writes: fDocProps with RC4, fAES with the AES provider.
    const uint32_t flags = rc4 ? kFlagCryptoApi | 0x08 : kFlagCryptoApi | kFlagAes;
    const uint32_t keyBits = 128;
    const std::string csp = rc4 ? "Microsoft Enhanced Cryptographic Provider v1.0"
                                : "Microsoft Enhanced RSA and AES Cryptographic Provider";
    auto salt = randomBytes(16);
    auto verifier = randomBytes(16);
    if (!salt.ok()) return salt.error();
    if (!verifier.ok()) return verifier.error();

    Buffer header;
    add32(header, flags);
    add32(header, 0);  // sizeExtra
    add32(header, rc4 ? kAlgRc4 : kAlgAes128);
    add32(header, kAlgSha1);
    add32(header, keyBits);
    add32(header, rc4 ? 1 : 0x18);  // PROV_RSA_FULL, PROV_RSA_AES
    add32(header, 0);
    add32(header, 0);
    Buffer name = passwordBytes(csp);  // UTF-16LE, as the password
    header.insert(header.end(), name.begin(), name.end());
    header.push_back(0);
    header.push_back(0);

    // SHA-1 of the verifier; AES pads it with zeros to two blocks.
    Buffer encVerifier = *verifier;
    Buffer encHash = digest(HashAlg::Sha1, {*verifier});
    bool ok = true;
    if (rc4) {
        Buffer base = cryptoApiBaseHash(*salt, password);
        Buffer k = cryptoApiRc4Key(base, 0, keyBits);
        Rc4 stream(k);
        stream.apply(encVerifier);
        stream.apply(encHash);
        wipe(k);
        wipe(base);
    } else {
        encHash.resize(32, 0);
        Buffer base = standardBaseHash(*salt, password, kStandardIterations);
        Buffer k = standardAesKey(base, 0, keyBits);
        ok = aes(true, AesMode::Ecb, k, {}, encVerifier) && aes(true, AesMode::Ecb, k, {}, encHash);
        wipe(k);
        wipe(base);
    }
    wipe(*verifier);
    if (!ok) return Error(Errc::Internal, "OpenSSL could not run AES");

    Buffer block = {4, 0, 2, 0};
    add32(block, flags);
    add32(block, static_cast<uint32_t>(header.size()));
    block.insert(block.end(), header.begin(), header.end());
    add32(block, 16);
    block.insert(block.end(), salt->begin(), salt->end());
    block.insert(block.end(), encVerifier.begin(), encVerifier.end());
    add32(block, 20);
    block.insert(block.end(), encHash.begin(), encHash.end());
    return block;
}

}  // namespace tab::jet::crypto
