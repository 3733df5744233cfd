#include "crypto/office_encryption.h"

#include <openssl/rand.h>

#include "tabulary/base/byte_reader.h"

namespace tab::jet::crypto {

namespace {

constexpr size_t kInfoLength = 0x299;
constexpr size_t kInfoStart = 0x29B;

std::string aesName(uint32_t keyBits) {
    return "AES-" + std::to_string(keyBits);
}

}  // namespace

std::string EncryptionInfo::describe() const {
    switch (scheme) {
        case OfficeScheme::Rc4CryptoApi:
            return "Office RC4 CryptoAPI encryption (" + std::to_string(standard.keyBits) +
                   "-bit key)";
        case OfficeScheme::StandardAes:
            return "Office standard encryption (" + aesName(standard.keyBits) + ")";
        case OfficeScheme::NonStandardAes:
            return "Office non-standard AES encryption (" + aesName(standard.keyBits) + ")";
        case OfficeScheme::Agile:
            return "Office agile encryption (" + aesName(agile.data.keyBits) + ", " +
                   hashName(agile.key.hash) + ")";
    }
    return "Office encryption";
}

Result<std::span<const uint8_t>> encryptionInfoBlock(std::span<const uint8_t> page0) {
    auto len = readU16Le(page0, kInfoLength);
    if (!len) return corrupt("the header page is too short for the encryption information");
    if (!inBounds(page0.size(), kInfoStart, *len))
        return corrupt("the encryption information (" + std::to_string(*len) +
                       " bytes) runs past the header page");
    return page0.subspan(kInfoStart, *len);
}

Result<EncryptionInfo> parseEncryptionInfo(std::span<const uint8_t> block) {
    EncryptionInfo info;
    auto major = readU16Le(block, 0);
    auto minor = readU16Le(block, 2);
    if (!major || !minor) return corrupt("the encryption information is too short for its version");
    info.major = *major;
    info.minor = *minor;
    const std::string version = std::to_string(info.major) + "." + std::to_string(info.minor);
    if (info.major == 4 && info.minor == 4) {
        auto agile = parseAgileInfo(block);
        if (!agile.ok()) return agile.error();
        info.scheme = OfficeScheme::Agile;
        info.agile = std::move(*agile);
        return info;
    }
    if ((info.major == 3 || info.major == 4) && info.minor == 3)
        return unsupported("the database uses Office extensible encryption (version " + version +
                           ", a third-party provider), which this program cannot open");
    if (info.major >= 2 && info.major <= 4 && info.minor == 2) {
        auto standard = parseStandardInfo(block);
        if (!standard.ok()) return standard.error();
        info.standard = std::move(*standard);
        const StandardInfo& s = info.standard;
        if (s.algId == kAlgRc4)
            info.scheme = OfficeScheme::Rc4CryptoApi;
        else if (s.flags & kFlagAes)
            info.scheme = OfficeScheme::StandardAes;
        else
            info.scheme = OfficeScheme::NonStandardAes;
        return info;
    }
    if (info.major == 1 && info.minor == 1)
        return unsupported(
            "the database uses Office binary-document RC4 encryption (version 1.1), which this "
            "program cannot open");
    return unsupported("the database uses Office encryption version " + version +
                       ", which this program does not know");
}

Result<std::unique_ptr<PageCipher>> makeOfficeCipher(const EncryptionInfo& info,
                                                     uint32_t databaseKey,
                                                     std::string_view password) {
    Buffer pw = passwordBytes(password);
    Result<std::unique_ptr<PageCipher>> cipher =
        info.scheme == OfficeScheme::Agile
            ? makeAgileCipher(info.agile, databaseKey, pw, info.describe())
            : makeStandardCipher(info.standard, info.scheme, databaseKey, pw, info.describe());
    wipe(pw);
    if (!cipher.ok() && cipher.error().code() == Errc::WrongPassword)
        return Error(Errc::WrongPassword,
                     password.empty() ? "Not a valid password: the database is encrypted with " +
                                            info.describe() + " and needs its password."
                                      : "Not a valid password for a database encrypted with " +
                                            info.describe() + ".");
    return cipher;
}

Result<std::unique_ptr<PageCipher>> openOfficeEncryption(std::span<const uint8_t> page0,
                                                         uint32_t databaseKey,
                                                         std::string_view password) {
    auto block = encryptionInfoBlock(page0);
    if (!block.ok()) return block.error();
    auto info = parseEncryptionInfo(*block);
    if (!info.ok()) return info.error();
    return makeOfficeCipher(*info, databaseKey, password);
}

Result<Buffer> randomBytes(size_t n) {
    Buffer out(n);
    if (n > 0 && RAND_bytes(out.data(), static_cast<int>(n)) != 1)
        return Error(Errc::Internal, "OpenSSL's random generator failed");
    return out;
}

Result<Buffer> buildEncryptionInfo(EncryptionScheme scheme, std::string_view password) {
    Buffer pw = passwordBytes(password);
    Result<Buffer> block = Error(Errc::Internal, "unknown encryption scheme");
    switch (scheme) {
        case EncryptionScheme::Agile:
            block = buildAgileInfo(HashAlg::Sha512, 256, pw);
            break;
        case EncryptionScheme::AgileSha1:
            block = buildAgileInfo(HashAlg::Sha1, 128, pw);
            break;
        case EncryptionScheme::StandardAes:
            block = buildStandardInfo(OfficeScheme::StandardAes, pw);
            break;
        case EncryptionScheme::Rc4CryptoApi:
            block = buildStandardInfo(OfficeScheme::Rc4CryptoApi, pw);
            break;
    }
    wipe(pw);
    return block;
}

}  // namespace tab::jet::crypto
