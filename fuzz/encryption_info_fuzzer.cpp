// Fuzz target: the input is an Office encryption information block (what
// follows the length at 0x299 of page 0). Parsing must end in a result or a
// message; a parsed block is then tried with a password, which must fail or
// yield a cipher whose encrypt() undoes its decrypt().
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "../libs/jet/src/crypto/office_encryption.h"

using namespace tab::jet::crypto;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto info = parseEncryptionInfo(std::span<const uint8_t>(data, size));
    if (!info.ok()) {
        if (info.error().message().empty()) {
            std::fprintf(stderr, "parse error without a message\n");
            std::abort();
        }
        return 0;
    }
    // Spinning a hostile count is bounded but slow; the parser is the target.
    if (info->scheme == OfficeScheme::Agile && info->agile.spinCount > 1000) return 0;
    auto cipher = makeOfficeCipher(*info, 0x12345678, "password");
    if (!cipher.ok()) {
        if (cipher.error().message().empty()) std::abort();
        return 0;
    }
    std::vector<uint8_t> page(4096), copy;
    for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<uint8_t>(i);
    copy = page;
    (*cipher)->encrypt(3, page);
    (*cipher)->decrypt(3, page);
    if (page != copy) {
        std::fprintf(stderr, "decrypt does not undo encrypt\n");
        std::abort();
    }
    return 0;
}
