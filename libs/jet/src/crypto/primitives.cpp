#include "crypto/primitives.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <memory>
#include <string>

#include "tabulary/base/text_codec.h"

namespace tab::jet::crypto {

namespace {

const EVP_MD* md(HashAlg alg) {
    switch (alg) {
        case HashAlg::Sha1:
            return EVP_sha1();
        case HashAlg::Sha256:
            return EVP_sha256();
        case HashAlg::Sha384:
            return EVP_sha384();
        case HashAlg::Sha512:
            return EVP_sha512();
    }
    return EVP_sha1();
}

const EVP_CIPHER* aesCipher(AesMode mode, size_t keyLen) {
    bool ecb = mode == AesMode::Ecb;
    switch (keyLen) {
        case 16:
            return ecb ? EVP_aes_128_ecb() : EVP_aes_128_cbc();
        case 24:
            return ecb ? EVP_aes_192_ecb() : EVP_aes_192_cbc();
        case 32:
            return ecb ? EVP_aes_256_ecb() : EVP_aes_256_cbc();
        default:
            return nullptr;
    }
}

struct CtxFree {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

size_t hashSize(HashAlg alg) {
    switch (alg) {
        case HashAlg::Sha1:
            return 20;
        case HashAlg::Sha256:
            return 32;
        case HashAlg::Sha384:
            return 48;
        case HashAlg::Sha512:
            return 64;
    }
    return 20;
}

std::optional<HashAlg> hashByName(std::string_view name) {
    std::string n;
    for (char c : name) {
        if (c == '-' || c == '_') continue;
        n += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    if (n == "SHA1") return HashAlg::Sha1;
    if (n == "SHA256") return HashAlg::Sha256;
    if (n == "SHA384") return HashAlg::Sha384;
    if (n == "SHA512") return HashAlg::Sha512;
    return std::nullopt;
}

const char* hashName(HashAlg alg) {
    switch (alg) {
        case HashAlg::Sha1:
            return "SHA-1";
        case HashAlg::Sha256:
            return "SHA-256";
        case HashAlg::Sha384:
            return "SHA-384";
        case HashAlg::Sha512:
            return "SHA-512";
    }
    return "?";
}

Buffer digest(HashAlg alg, std::initializer_list<std::span<const uint8_t>> parts) {
    Buffer out(EVP_MAX_MD_SIZE);
    unsigned int len = 0;
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    bool ok = ctx && EVP_DigestInit_ex(ctx.get(), md(alg), nullptr) == 1;
    for (auto p : parts) ok = ok && EVP_DigestUpdate(ctx.get(), p.data(), p.size()) == 1;
    ok = ok && EVP_DigestFinal_ex(ctx.get(), out.data(), &len) == 1;
    // A hash that cannot be computed yields zeros, which no verifier matches.
    if (!ok) return Buffer(hashSize(alg), 0);
    out.resize(len);
    return out;
}

bool aes(bool encrypt, AesMode mode, std::span<const uint8_t> key, std::span<const uint8_t> iv,
         std::span<uint8_t> data) {
    const EVP_CIPHER* cipher = aesCipher(mode, key.size());
    if (!cipher || (mode == AesMode::Cbc && iv.size() != 16)) return false;
    size_t whole = data.size() / 16 * 16;
    if (whole == 0) return true;
    std::unique_ptr<EVP_CIPHER_CTX, CtxFree> ctx(EVP_CIPHER_CTX_new());
    if (!ctx) return false;
    if (EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(),
                          mode == AesMode::Cbc ? iv.data() : nullptr, encrypt ? 1 : 0) != 1)
        return false;
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    int outLen = 0;
    // In place: OpenSSL allows the output to be the input exactly.
    if (EVP_CipherUpdate(ctx.get(), data.data(), &outLen, data.data(), static_cast<int>(whole)) !=
        1)
        return false;
    int tail = 0;
    return EVP_CipherFinal_ex(ctx.get(), data.data() + outLen, &tail) == 1 &&
           static_cast<size_t>(outLen + tail) == whole;
}

std::optional<Buffer> base64Decode(std::string_view text) {
    Buffer out;
    out.reserve(text.size() / 4 * 3);
    uint32_t acc = 0;
    int bits = 0, quads = 0, pads = 0;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (c == '=') {
            ++pads;
            ++quads;
            continue;
        }
        int v = base64Value(c);
        if (v < 0 || pads > 0) return std::nullopt;  // data after padding
        ++quads;
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<uint8_t>(acc >> bits));
            acc &= (1u << bits) - 1;
        }
    }
    if (quads % 4 != 0 || pads > 2) return std::nullopt;
    // The padding must stand for exactly the missing characters.
    if ((pads == 1 && bits != 2) || (pads == 2 && bits != 4) || (pads == 0 && bits != 0))
        return std::nullopt;
    return out;
}

std::string base64Encode(std::span<const uint8_t> bytes) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t v = uint32_t{bytes[i]} << 16;
        if (i + 1 < bytes.size()) v |= uint32_t{bytes[i + 1]} << 8;
        if (i + 2 < bytes.size()) v |= bytes[i + 2];
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kAlphabet[v & 63] : '=';
    }
    return out;
}

Buffer passwordBytes(std::string_view utf8) {
    std::u16string u = utf8ToUtf16(utf8);
    if (u.size() > 255) u.resize(255);
    Buffer out;
    out.reserve(u.size() * 2);
    for (char16_t c : u) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    return out;
}

Buffer fitTo(std::span<const uint8_t> bytes, size_t n) {
    Buffer out(bytes.begin(),
               bytes.begin() + static_cast<std::ptrdiff_t>(std::min(n, bytes.size())));
    out.resize(n, 0x36);
    return out;
}

Buffer le32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

void wipe(Buffer& bytes) {
    if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
    bytes.clear();
}

}  // namespace tab::jet::crypto
