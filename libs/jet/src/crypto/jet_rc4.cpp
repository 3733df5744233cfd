#include "crypto/page_cipher.h"
#include "tabulary/base/rc4.h"

namespace tab::jet::crypto {

namespace {

class JetRc4 final : public PageCipher {
public:
    explicit JetRc4(uint32_t key) : m_key(key) {}
    const std::string& scheme() const override { return m_scheme; }
    void decrypt(uint32_t number, std::span<uint8_t> page) const override { apply(number, page); }
    void encrypt(uint32_t number, std::span<uint8_t> page) const override { apply(number, page); }

private:
    void apply(uint32_t number, std::span<uint8_t> page) const {
        uint32_t block = blockValue(m_key, number);
        uint8_t k[4] = {static_cast<uint8_t>(block), static_cast<uint8_t>(block >> 8),
                        static_cast<uint8_t>(block >> 16), static_cast<uint8_t>(block >> 24)};
        Rc4 rc4(k);
        rc4.apply(page);
    }
    uint32_t m_key;
    std::string m_scheme = "Jet RC4 page encoding";
};

}  // namespace

std::unique_ptr<PageCipher> jetRc4Cipher(uint32_t databaseKey) {
    return std::make_unique<JetRc4>(databaseKey);
}

}  // namespace tab::jet::crypto
