#include "tabulary/base/rc4.h"

#include <cstring>
#include <utility>

namespace tab {

Rc4::Rc4(std::span<const uint8_t> key) {
    for (int i = 0; i < 256; ++i) m_s[i] = static_cast<uint8_t>(i);
    if (key.empty()) return;
    uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
        j = static_cast<uint8_t>(j + m_s[i] + key[static_cast<size_t>(i) % key.size()]);
        std::swap(m_s[i], m_s[j]);
    }
}

void Rc4::apply(std::span<uint8_t> data) {
    // The state in locals: stores through the data bytes could otherwise
    // alias it, and every step would reload it.
    uint8_t s[256];
    std::memcpy(s, m_s, sizeof s);
    uint8_t i = m_i, j = m_j;
    for (auto& byte : data) {
        i = static_cast<uint8_t>(i + 1);
        const uint8_t si = s[i];
        j = static_cast<uint8_t>(j + si);
        s[i] = s[j];
        s[j] = si;
        byte ^= s[static_cast<uint8_t>(s[i] + si)];
    }
    std::memcpy(m_s, s, sizeof s);
    m_i = i;
    m_j = j;
}

}  // namespace tab
