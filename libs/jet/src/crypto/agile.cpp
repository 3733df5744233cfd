// Version 4.4 of the Office encryption information: the Agile XML descriptor.
// The password key encryptor wraps a random data key; pages are AES-CBC with
// that key and an IV hashed from the page's block value.
#include <openssl/crypto.h>

#include <algorithm>
#include <charconv>

#include "crypto/office_encryption.h"
#include "crypto/xml_reader.h"
#include "tabulary/base/byte_reader.h"

namespace tab::jet::crypto {

namespace {

constexpr std::string_view kPasswordUri =
    "http://schemas.microsoft.com/office/2006/keyEncryptor/password";
constexpr uint8_t kVerifierInputBlock[8] = {0xFE, 0xA7, 0xD2, 0x76, 0x3B, 0x4B, 0x9E, 0x79};
constexpr uint8_t kVerifierHashBlock[8] = {0xD7, 0xAA, 0x0F, 0x6D, 0x30, 0x61, 0x34, 0x4E};
constexpr uint8_t kKeyValueBlock[8] = {0x14, 0x6E, 0x0B, 0xE7, 0xAB, 0xAC, 0xD0, 0xD6};

std::string normalized(std::string_view s) {
    std::string n;
    for (char c : s) {
        if (c == '-' || c == '_') continue;
        n += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    return n;
}

Error badDescriptor(const std::string& what) {
    return corrupt("the agile encryption descriptor " + what);
}

Result<const std::string*> need(const XmlElement& e, const char* attr) {
    const std::string* v = e.attribute(attr);
    if (!v) return badDescriptor("lacks " + e.name + "/@" + attr);
    return v;
}

Result<uint32_t> number(const XmlElement& e, const char* attr) {
    auto v = need(e, attr);
    if (!v.ok()) return v.error();
    const std::string& s = **v;
    uint32_t n = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty())
        return badDescriptor("has " + e.name + "/@" + attr + "=\"" + s + "\", not a number");
    return n;
}

Result<Buffer> binary(const XmlElement& e, const char* attr) {
    auto v = need(e, attr);
    if (!v.ok()) return v.error();
    auto b = base64Decode(**v);
    if (!b) return badDescriptor("has " + e.name + "/@" + attr + " that is not base64");
    return std::move(*b);
}

Result<AgileParams> params(const XmlElement& e) {
    AgileParams p;
    auto cipher = need(e, "cipherAlgorithm");
    auto chaining = need(e, "cipherChaining");
    auto hash = need(e, "hashAlgorithm");
    if (!cipher.ok()) return cipher.error();
    if (!chaining.ok()) return chaining.error();
    if (!hash.ok()) return hash.error();
    if (normalized(**cipher) != "AES")
        return unsupported("the database's agile encryption uses cipher " + **cipher +
                           ", which this program does not know");
    if (normalized(**chaining) != "CHAININGMODECBC")
        return unsupported("the database's agile encryption uses chaining " + **chaining +
                           ", which this program does not know");
    auto alg = hashByName(**hash);
    if (!alg)
        return unsupported("the database's agile encryption uses hash " + **hash +
                           ", which this program does not know");
    p.hash = *alg;
    auto keyBits = number(e, "keyBits");
    auto blockSize = number(e, "blockSize");
    auto hashSz = number(e, "hashSize");
    auto saltSize = number(e, "saltSize");
    auto salt = binary(e, "saltValue");
    for (const auto* r : {&keyBits, &blockSize, &hashSz, &saltSize})
        if (!r->ok()) return r->error();
    if (!salt.ok()) return salt.error();
    p.keyBits = *keyBits;
    p.blockSize = *blockSize;
    p.hashSize = *hashSz;
    p.salt = std::move(*salt);
    if (p.keyBits != 128 && p.keyBits != 192 && p.keyBits != 256)
        return badDescriptor("gives AES " + std::to_string(p.keyBits) + "-bit keys");
    if (p.blockSize != 16)
        return badDescriptor("gives a block size of " + std::to_string(p.blockSize) + " for AES");
    if (p.hashSize != hashSize(p.hash))
        return badDescriptor("gives a hash size of " + std::to_string(p.hashSize) + " for " +
                             hashName(p.hash));
    if (*saltSize == 0 || *saltSize > 65536 || p.salt.size() != *saltSize)
        return badDescriptor("has a salt of " + std::to_string(p.salt.size()) +
                             " bytes where it says " + std::to_string(*saltSize));
    return p;
}

// AES-CBC of a password-encryptor value under the key of its block constant.
Result<Buffer> keyEncryptorCbc(bool encrypt, const AgileParams& k, const Buffer& spun,
                               const uint8_t (&block)[8], const Buffer& in) {
    Buffer hk = digest(k.hash, {spun, std::span<const uint8_t>(block, 8)});
    Buffer key = fitTo(hk, k.keyBits / 8);
    Buffer iv = fitTo(k.salt, k.blockSize);
    Buffer out = in;
    bool ok = aes(encrypt, AesMode::Cbc, key, iv, out);
    wipe(hk);
    wipe(key);
    if (!ok) return Error(Errc::Internal, "OpenSSL could not run AES");
    return out;
}

Result<Buffer> unwrap(const AgileInfo& info, const Buffer& spun, const uint8_t (&block)[8],
                      const Buffer& encrypted) {
    return keyEncryptorCbc(false, info.key, spun, block, encrypted);
}

std::string xmlName(HashAlg alg) {
    std::string n;
    for (const char* c = hashName(alg); *c; ++c)
        if (*c != '-') n += *c;
    return n;
}

std::string paramsXml(const AgileParams& p) {
    return "saltSize=\"" + std::to_string(p.salt.size()) + "\" blockSize=\"" +
           std::to_string(p.blockSize) + "\" keyBits=\"" + std::to_string(p.keyBits) +
           "\" hashSize=\"" + std::to_string(p.hashSize) +
           "\" cipherAlgorithm=\"AES\" cipherChaining=\"ChainingModeCBC\" hashAlgorithm=\"" +
           xmlName(p.hash) + "\" saltValue=\"" + base64Encode(p.salt) + "\"";
}

class AgileCipher final : public PageCipher {
public:
    AgileCipher(Buffer dataKey, AgileParams data, uint32_t databaseKey, std::string name)
        : m_dataKey(std::move(dataKey)),
          m_data(std::move(data)),
          m_key(databaseKey),
          m_name(std::move(name)) {}
    ~AgileCipher() override { wipe(m_dataKey); }
    const std::string& scheme() const override { return m_name; }
    void decrypt(uint32_t number, std::span<uint8_t> page) const override {
        apply(false, number, page);
    }
    void encrypt(uint32_t number, std::span<uint8_t> page) const override {
        apply(true, number, page);
    }

private:
    void apply(bool enc, uint32_t number, std::span<uint8_t> page) const {
        Buffer b = le32(blockValue(m_key, number));
        Buffer iv = fitTo(digest(m_data.hash, {m_data.salt, b}), m_data.blockSize);
        // A page OpenSSL cannot process reads as zeros: damaged, not half-decrypted.
        if (!aes(enc, AesMode::Cbc, m_dataKey, iv, page)) std::fill(page.begin(), page.end(), 0);
    }
    Buffer m_dataKey;
    AgileParams m_data;
    uint32_t m_key;
    std::string m_name;
};

}  // namespace

Buffer agileSpunHash(HashAlg alg, std::span<const uint8_t> salt, const Buffer& password,
                     uint32_t spinCount) {
    Buffer h = digest(alg, {salt, password});
    for (uint32_t i = 0; i < spinCount; ++i) {
        Buffer counter = le32(i);
        h = digest(alg, {counter, h});
    }
    return h;
}

Result<AgileInfo> parseAgileInfo(std::span<const uint8_t> block) {
    auto reserved = readU32Le(block, 4);
    if (!reserved) return corrupt("the agile encryption information is truncated");
    if (*reserved != 0x40)
        return corrupt("the agile encryption information has reserved value " +
                       std::to_string(*reserved) + " instead of 64");
    std::string_view xml(reinterpret_cast<const char*>(block.data()) + 8, block.size() - 8);
    while (!xml.empty() && xml.back() == '\0') xml.remove_suffix(1);
    auto elements = readXmlElements(xml);
    if (!elements.ok()) return elements.error();
    const std::vector<XmlElement>& el = *elements;
    if (el[0].name != "encryption") return badDescriptor("has root <" + el[0].name + ">");

    const XmlElement* keyData = nullptr;
    int keyEncryptors = -1;
    for (size_t i = 0; i < el.size(); ++i) {
        if (el[i].parent != 0) continue;
        if (el[i].name == "keyData") {
            if (keyData) return badDescriptor("has more than one keyData");
            keyData = &el[i];
        } else if (el[i].name == "keyEncryptors") {
            if (keyEncryptors >= 0) return badDescriptor("has more than one keyEncryptors");
            keyEncryptors = static_cast<int>(i);
        }
    }
    if (!keyData) return badDescriptor("lacks keyData");
    if (keyEncryptors < 0) return badDescriptor("lacks keyEncryptors");
    int passwordEncryptor = -1;
    for (size_t i = 0; i < el.size(); ++i) {
        if (el[i].parent != keyEncryptors || el[i].name != "keyEncryptor") continue;
        const std::string* uri = el[i].attribute("uri");
        if (!uri || *uri != kPasswordUri) continue;  // certificates: not ours to open
        if (passwordEncryptor >= 0) return badDescriptor("has more than one password encryptor");
        passwordEncryptor = static_cast<int>(i);
    }
    if (passwordEncryptor < 0)
        return unsupported(
            "the database's agile encryption has no password key encryptor "
            "(certificates only), which this program cannot open");
    const XmlElement* encryptedKey = nullptr;
    for (const auto& e : el) {
        if (e.parent != passwordEncryptor || e.name != "encryptedKey") continue;
        if (encryptedKey) return badDescriptor("has more than one encryptedKey");
        encryptedKey = &e;
    }
    if (!encryptedKey) return badDescriptor("lacks the password's encryptedKey");

    AgileInfo info;
    auto data = params(*keyData);
    if (!data.ok()) return data.error();
    auto key = params(*encryptedKey);
    if (!key.ok()) return key.error();
    info.data = std::move(*data);
    info.key = std::move(*key);
    auto spin = number(*encryptedKey, "spinCount");
    if (!spin.ok()) return spin.error();
    if (*spin > kMaxSpinCount)
        return corrupt("the agile encryption asks for " + std::to_string(*spin) +
                       " hash rounds, more than " + std::to_string(kMaxSpinCount));
    info.spinCount = *spin;
    struct Field {
        const char* attr;
        Buffer* out;
        size_t atLeast;
    } fields[] = {
        {"encryptedVerifierHashInput", &info.encryptedVerifierHashInput, info.key.salt.size()},
        {"encryptedVerifierHashValue", &info.encryptedVerifierHashValue, info.key.hashSize},
        {"encryptedKeyValue", &info.encryptedKeyValue, info.data.keyBits / 8},
    };
    for (const Field& f : fields) {
        auto v = binary(*encryptedKey, f.attr);
        if (!v.ok()) return v.error();
        if (v->size() < f.atLeast || v->size() % info.key.blockSize != 0)
            return badDescriptor(std::string("has ") + f.attr + " of " + std::to_string(v->size()) +
                                 " bytes");
        *f.out = std::move(*v);
    }
    return info;
}

Result<std::unique_ptr<PageCipher>> makeAgileCipher(const AgileInfo& info, uint32_t databaseKey,
                                                    const Buffer& password, std::string name) {
    Buffer spun = agileSpunHash(info.key.hash, info.key.salt, password, info.spinCount);
    auto vin = unwrap(info, spun, kVerifierInputBlock, info.encryptedVerifierHashInput);
    auto vhash = unwrap(info, spun, kVerifierHashBlock, info.encryptedVerifierHashValue);
    auto kval = unwrap(info, spun, kKeyValueBlock, info.encryptedKeyValue);
    wipe(spun);
    if (!vin.ok()) return vin.error();
    if (!vhash.ok()) return vhash.error();
    if (!kval.ok()) return kval.error();
    Buffer t = digest(info.key.hash, {std::span<const uint8_t>(*vin).first(info.key.salt.size())});
    const size_t n = info.key.hashSize;
    if (t.size() < n || vhash->size() < n || CRYPTO_memcmp(t.data(), vhash->data(), n) != 0) {
        wipe(*kval);
        return Error(Errc::WrongPassword, "Not a valid password.");
    }
    Buffer dataKey(kval->begin(), kval->begin() + info.data.keyBits / 8);
    wipe(*kval);
    return std::unique_ptr<PageCipher>(
        new AgileCipher(std::move(dataKey), info.data, databaseKey, std::move(name)));
}

}  // namespace tab::jet::crypto

namespace tab::jet::crypto {

Result<Buffer> buildAgileInfo(HashAlg hash, uint32_t keyBits, const Buffer& password) {
    AgileParams p;
    p.hash = hash;
    p.keyBits = keyBits;
    p.blockSize = 16;
    p.hashSize = static_cast<uint32_t>(hashSize(hash));
    auto dataSalt = randomBytes(16);
    auto keySalt = randomBytes(16);
    auto verifier = randomBytes(16);
    auto dataKey = randomBytes(keyBits / 8);
    for (const auto* r : {&dataSalt, &keySalt, &verifier, &dataKey})
        if (!r->ok()) return r->error();
    AgileParams data = p, key = p;
    data.salt = std::move(*dataSalt);
    key.salt = std::move(*keySalt);

    Buffer spun = agileSpunHash(hash, key.salt, password, kNewSpinCount);
    // The verifier's hash, zero-padded to whole AES blocks.
    Buffer verifierHash = digest(hash, {*verifier});
    verifierHash.resize((verifierHash.size() + 15) / 16 * 16, 0);
    auto encInput = keyEncryptorCbc(true, key, spun, kVerifierInputBlock, *verifier);
    auto encHash = keyEncryptorCbc(true, key, spun, kVerifierHashBlock, verifierHash);
    auto encKey = keyEncryptorCbc(true, key, spun, kKeyValueBlock, *dataKey);
    wipe(spun);
    wipe(*verifier);
    wipe(*dataKey);
    for (const auto* r : {&encInput, &encHash, &encKey})
        if (!r->ok()) return r->error();

    // The descriptor as Access writes it: declaration, CRLF, one line of XML.
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<encryption xmlns=\"http://schemas.microsoft.com/office/2006/encryption\" "
        "xmlns:p=\"" +
        std::string(kPasswordUri) +
        "\" "
        "xmlns:c=\"http://schemas.microsoft.com/office/2006/keyEncryptor/certificate\">"
        "<keyData " +
        paramsXml(data) + "/><keyEncryptors><keyEncryptor uri=\"" + std::string(kPasswordUri) +
        "\"><p:encryptedKey spinCount=\"" + std::to_string(kNewSpinCount) + "\" " + paramsXml(key) +
        " encryptedVerifierHashInput=\"" + base64Encode(*encInput) +
        "\" encryptedVerifierHashValue=\"" + base64Encode(*encHash) + "\" encryptedKeyValue=\"" +
        base64Encode(*encKey) + "\"/></keyEncryptor></keyEncryptors></encryption>";
    Buffer block = {4, 0, 4, 0, 0x40, 0, 0, 0};
    block.insert(block.end(), xml.begin(), xml.end());
    return block;
}

}  // namespace tab::jet::crypto
