// RC4 stream cipher: the Jet header mask, Jet page encoding and the Office
// RC4 CryptoAPI scheme all use it. Small enough to keep our own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tab {

class Rc4 {
public:
    explicit Rc4(std::span<const uint8_t> key);
    void apply(std::span<uint8_t> data);  // XOR the keystream over data in place

private:
    uint8_t m_s[256];
    uint8_t m_i = 0, m_j = 0;
};

}  // namespace tab
