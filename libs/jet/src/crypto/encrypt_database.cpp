// Adding and removing Office encryption of an ACE file: a page-by-page copy.
// Page 0 gets (or loses) the database key and the encryption information;
// the new page 0 is read back through the header decoder and the verifier
// before any page is enciphered, so the output opens the way it is read.
#include <openssl/rand.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "crypto/office_encryption.h"
#include "tabulary/base/byte_reader.h"
#include "tabulary/base/text_codec.h"
#include "tabulary/jet/encrypt.h"
#include "tabulary/jet/header.h"
#include "write/page_file.h"

namespace tab::jet {

namespace {

using crypto::Buffer;

constexpr size_t kPage = write::kPageSize;
constexpr size_t kKeyAt = 0x3E;
constexpr size_t kPasswordAt = 0x42;
constexpr size_t kPasswordLen = 40;
constexpr size_t kInfoLenAt = 0x299;
constexpr size_t kInfoAt = 0x29B;
// Access keeps further header data from 0xE00 on.
constexpr size_t kInfoEnd = 0xE00;

struct Input {
    std::ifstream in;
    std::string path;
    uint64_t pages = 0;
    Header header;
    Buffer page0;  // as stored
};

Result<Input> openInput(const std::string& path) {
    Input input;
    input.path = path;
    std::error_code ec;
    uint64_t size = std::filesystem::file_size(path, ec);
    if (ec) return Error(Errc::Io, "cannot read \"" + path + "\": " + ec.message());
    input.in.open(path, std::ios::binary);
    if (!input.in) return Error(Errc::Io, "cannot open \"" + path + "\"");
    if (size < kPage) return corrupt("\"" + path + "\" is too small to be an Access database");
    input.page0.resize(kPage);
    if (!input.in.read(reinterpret_cast<char*>(input.page0.data()), kPage))
        return Error(Errc::Io, "cannot read the header page of \"" + path + "\"");
    auto header = decodeHeader(input.page0);
    if (!header.ok()) return header.error().withContext("\"" + path + "\"");
    input.header = std::move(*header);
    if (input.header.version == JetVersion::Jet3 || input.header.version == JetVersion::Jet4)
        return unsupported("\"" + path +
                           "\" is a Jet (.mdb) database; only ACE (.accdb) files take Office "
                           "encryption");
    if (size % kPage != 0)
        return corrupt("\"" + path + "\" is not a whole number of 4096-byte pages (" +
                       std::to_string(size) + " bytes)");
    input.pages = size / kPage;
    return input;
}

Status refuseExisting(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(path, ec)))
        return Error(Errc::Io, "\"" + path + "\" already exists; choose a new output file");
    return {};
}

// Writes the header region of page 0: the key, and the Jet4 password field,
// which ACE files fill with the creation date's mask XOR the key's low byte
// (as observed in Access's encrypted files; a plain file holds the bare mask).
void setKey(Buffer& page0, uint32_t key) {
    unmaskHeader(page0, false);
    write::put32(page0.data() + kKeyAt, key);
    double date = 0;
    std::memcpy(&date, page0.data() + 0x72, sizeof date);
    uint32_t mask = 0;
    if (std::isfinite(date) && date > -2147483648.0 && date < 2147483648.0)
        mask = static_cast<uint32_t>(static_cast<int32_t>(std::trunc(date)));
    const auto fill = static_cast<uint8_t>(key);
    for (size_t i = 0; i < kPasswordLen; ++i)
        page0[kPasswordAt + i] = static_cast<uint8_t>(mask >> (8 * (i % 4))) ^ fill;
    unmaskHeader(page0, false);
}

// Every page p >= 1 through `transform`, into a temporary file renamed onto
// the output.
template <typename Transform>
Status copyPages(Input& input, const Buffer& page0, const std::string& outputPath,
                 Transform transform) {
    auto out = write::PageFile::create(outputPath);
    if (!out.ok()) return out.error();
    write::PageFile& file = **out;
    file.allocate();
    if (auto st = file.write(0, page0.data()); !st.ok()) return st;
    Buffer page(kPage);
    for (uint64_t p = 1; p < input.pages; ++p) {
        if (!input.in.read(reinterpret_cast<char*>(page.data()), kPage))
            return Error(Errc::Io,
                         "cannot read page " + std::to_string(p) + " of \"" + input.path + "\"");
        transform(static_cast<uint32_t>(p), std::span<uint8_t>(page));
        if (auto st = file.write(file.allocate(), page.data()); !st.ok()) return st;
    }
    crypto::wipe(page);
    return file.commit(true);
}

}  // namespace

const char* schemeName(EncryptionScheme scheme) {
    switch (scheme) {
        case EncryptionScheme::Agile:
            return "agile";
        case EncryptionScheme::AgileSha1:
            return "agile-sha1";
        case EncryptionScheme::StandardAes:
            return "standard";
        case EncryptionScheme::Rc4CryptoApi:
            return "rc4";
    }
    return "?";
}

std::optional<EncryptionScheme> schemeByName(std::string_view name) {
    for (auto s : {EncryptionScheme::Agile, EncryptionScheme::AgileSha1,
                   EncryptionScheme::StandardAes, EncryptionScheme::Rc4CryptoApi})
        if (name == schemeName(s)) return s;
    return std::nullopt;
}

Status encryptDatabase(const std::string& inputPath, const std::string& outputPath,
                       std::string_view password, EncryptionScheme scheme) {
    if (password.empty()) return Error(Errc::InvalidArgument, "encryption needs a password");
    if (utf8ToUtf16(password).size() > 255)
        return Error(Errc::InvalidArgument, "the password is longer than 255 characters");
    auto input = openInput(inputPath);
    if (!input.ok()) return input.error();
    if (input->header.encoding != PageEncoding::None)
        return Error(Errc::InvalidArgument, "\"" + inputPath + "\" is already encrypted (" +
                                                input->header.officeEncryption +
                                                "); remove its password first");
    if (auto st = refuseExisting(outputPath); !st.ok()) return st;

    auto block = crypto::buildEncryptionInfo(scheme, password);
    if (!block.ok()) return block.error();
    if (kInfoAt + block->size() > kInfoEnd)
        return Error(Errc::Internal, "the encryption information does not fit the header page");
    Buffer page0 = input->page0;
    for (size_t i = kInfoLenAt; i < kInfoAt + block->size(); ++i)
        if (page0[i] != 0)
            return unsupported("\"" + inputPath +
                               "\" holds data where the encryption information goes");
    uint32_t key = 0;
    while (key == 0)
        if (RAND_bytes(reinterpret_cast<unsigned char*>(&key), sizeof key) != 1)
            return Error(Errc::Internal, "OpenSSL's random generator failed");
    setKey(page0, key);
    write::put16(page0.data() + kInfoLenAt, static_cast<uint32_t>(block->size()));
    std::memcpy(page0.data() + kInfoAt, block->data(), block->size());

    // The cipher comes from the new page 0 as a reader sees it.
    auto header = decodeHeader(page0);
    if (!header.ok()) return header.error();
    if (header->encoding != PageEncoding::Office || header->databaseKey != key)
        return Error(Errc::Internal, "the new header page does not read as encrypted");
    auto cipher = crypto::openOfficeEncryption(page0, header->databaseKey, password);
    if (!cipher.ok()) return cipher.error().withContext("the new encryption information");
    const crypto::PageCipher& c = **cipher;
    return copyPages(*input, page0, outputPath,
                     [&](uint32_t p, std::span<uint8_t> page) { c.encrypt(p, page); });
}

Status decryptDatabase(const std::string& inputPath, const std::string& outputPath,
                       std::string_view password) {
    auto input = openInput(inputPath);
    if (!input.ok()) return input.error();
    if (input->header.encoding != PageEncoding::Office)
        return Error(Errc::InvalidArgument, "\"" + inputPath + "\" is not encrypted");
    if (auto st = refuseExisting(outputPath); !st.ok()) return st;
    auto cipher = crypto::openOfficeEncryption(input->page0, input->header.databaseKey, password);
    if (!cipher.ok()) return cipher.error().withContext("\"" + inputPath + "\"");
    auto block = crypto::encryptionInfoBlock(input->page0);
    if (!block.ok()) return block.error();
    Buffer page0 = input->page0;
    std::fill(page0.begin() + kInfoLenAt,
              page0.begin() + static_cast<std::ptrdiff_t>(kInfoAt + block->size()), 0);
    setKey(page0, 0);
    const crypto::PageCipher& c = **cipher;
    return copyPages(*input, page0, outputPath,
                     [&](uint32_t p, std::span<uint8_t> page) { c.decrypt(p, page); });
}

}  // namespace tab::jet
