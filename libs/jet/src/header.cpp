#include "tabulary/jet/header.h"

#include <cmath>
#include <cstring>

#include "tabulary/base/byte_reader.h"
#include "tabulary/base/rc4.h"
#include "tabulary/base/text_codec.h"

namespace tab::jet {

namespace {
constexpr uint8_t kHeaderMaskKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr size_t kMaskStart = 0x18;
}  // namespace

void unmaskHeader(std::span<uint8_t> page0, bool jet3) {
    size_t len = jet3 ? 126 : 128;
    if (page0.size() < kMaskStart + len) return;
    Rc4 rc4(kHeaderMaskKey);
    rc4.apply(page0.subspan(kMaskStart, len));
}

Result<Header> decodeHeader(std::span<const uint8_t> raw) {
    if (raw.size() < 2048) return corrupt("file is too small to be an Access database");
    if (raw[0] != 0x00 || raw[1] != 0x01) return Error(Errc::Unsupported, "not an Access database");
    Header h;
    h.engineName.assign(reinterpret_cast<const char*>(raw.data() + 4), 15);
    if (h.engineName != "Standard Jet DB" && h.engineName != "Standard ACE DB") {
        if (h.engineName.rfind("MSISAM", 0) == 0)
            return unsupported("Microsoft Money (MSISAM) files are not supported");
        return unsupported("not an Access database");
    }
    h.versionByte = raw[0x14];
    switch (h.versionByte) {
        case 0x00: h.version = JetVersion::Jet3; break;
        case 0x01: h.version = JetVersion::Jet4; break;
        case 0x02: h.version = JetVersion::Ace12; break;
        case 0x03: h.version = JetVersion::Ace14; break;
        case 0x04: h.version = JetVersion::Ace15; break;
        case 0x05: h.version = JetVersion::Ace16; break;
        case 0x06: h.version = JetVersion::Ace17; break;
        default:
            return unsupported("unsupported Access file version (version byte " +
                               std::to_string(h.versionByte) + ")");
    }
    bool jet3 = h.version == JetVersion::Jet3;
    h.pageSize = jet3 ? 2048 : 4096;
    if (raw.size() < h.pageSize) return corrupt("file is shorter than its header page");

    std::vector<uint8_t> page(raw.begin(), raw.begin() + h.pageSize);
    unmaskHeader(page, jet3);
    Bytes p(page);
    h.codePage = *readU16Le(p, 0x3C);
    h.databaseKey = *readU32Le(p, 0x3E);
    if (jet3) {
        h.sortOrder = *readU16Le(p, 0x3A);
    } else {
        h.sortOrder = *readU16Le(p, 0x6E);
        h.sortVersion = page[0x71];
        h.creationDate = *readF64Le(p, 0x72);
    }

    if (jet3) {
        std::vector<uint8_t> pw;
        for (size_t i = 0; i < 20 && page[0x42 + i] != 0; ++i) pw.push_back(page[0x42 + i]);
        h.storedPassword = codePageToUtf8(pw, h.codePage);
    } else if (h.version == JetVersion::Jet4) {
        uint8_t mask[4] = {0, 0, 0, 0};
        double cd = h.creationDate;
        if (std::isfinite(cd) && cd > -2147483648.0 && cd < 2147483648.0) {
            auto day = static_cast<int32_t>(std::trunc(cd));
            auto u = static_cast<uint32_t>(day);
            for (int i = 0; i < 4; ++i) mask[i] = static_cast<uint8_t>(u >> (8 * i));
        }
        std::vector<uint8_t> pw(40);
        for (size_t i = 0; i < 40; ++i) pw[i] = page[0x42 + i] ^ mask[i % 4];
        size_t len = 0;
        while (len + 1 < pw.size() && (pw[len] | pw[len + 1]) != 0) len += 2;
        h.storedPassword = utf16LeToUtf8(std::span<const uint8_t>(pw.data(), len));
    }

    if (h.databaseKey != 0) {
        if (h.version == JetVersion::Jet3 || h.version == JetVersion::Jet4) {
            h.encoding = PageEncoding::JetRc4;
        } else {
            h.encoding = PageEncoding::Office;
            auto len = readU16Le(Bytes(raw), 0x299);
            auto major = readU16Le(Bytes(raw), 0x29B);
            auto minor = readU16Le(Bytes(raw), 0x29D);
            if (len && major && minor && *len >= 4) {
                if (*major == 4 && *minor == 4)
                    h.officeEncryption = "Office agile encryption";
                else if ((*major == 2 || *major == 3 || *major == 4) && *minor == 2)
                    h.officeEncryption = "Office standard/RC4 CryptoAPI encryption";
                else
                    h.officeEncryption = "Office encryption version " + std::to_string(*major) +
                                         "." + std::to_string(*minor);
            } else {
                h.officeEncryption = "Office encryption";
            }
        }
    }
    return h;
}

}  // namespace tab::jet
