// The Office page ciphers: key derivation against published intermediate
// values, each scheme against vectors from an independent implementation of
// the format (Python's hashlib and cryptography, not this code), the inverse
// property of encrypt, wrong passwords, and damaged encryption information.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../src/crypto/office_encryption.h"
#include "../src/crypto/xml_reader.h"
#include "tabulary/jet/database.h"
#include "test_corpus.h"

namespace tab::jet::crypto {
namespace {

Buffer fromHex(std::string_view hex) {
    Buffer out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

std::string toHex(std::span<const uint8_t> b) {
    static const char* d = "0123456789abcdef";
    std::string s;
    for (uint8_t c : b) {
        s += d[c >> 4];
        s += d[c & 15];
    }
    return s;
}

Buffer patternPage(uint32_t number) {
    Buffer p(4096);
    for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(i * 7 + number);
    return p;
}

// Intermediate values of RC4 CryptoAPI for the Access 2007-style sample
// (password "password") as the format notes give them.
TEST(OfficeCrypto, Rc4CryptoApiDerivationMatchesTheWorkedExample) {
    const Buffer salt = fromHex("2b8b7c7f07187dc12d2137d3d408eec6");
    const Buffer h0 = cryptoApiBaseHash(salt, passwordBytes("password"));
    EXPECT_EQ("f955874885689182b9710c6d1006ec330e083dd5", toHex(h0));
    EXPECT_EQ("3244eddf2493d7b599c706f0f6b4bdbd", toHex(cryptoApiRc4Key(h0, 0, 128)));
    EXPECT_EQ("be8980ecb9a98375ed49a432fb1a0fa0",
              toHex(cryptoApiRc4Key(h0, blockValue(0xA0B368CF, 2), 128)));
    // 40-bit keys: five key bytes, then eleven zeros.
    const Buffer k40 = cryptoApiRc4Key(h0, 0, 40);
    EXPECT_EQ("3244eddf24" + std::string(22, '0'), toHex(k40));
}

struct SchemeCase {
    const char* name;
    const char* block;  // the encryption information, hex
    uint32_t databaseKey;
    const char* password;
    OfficeScheme scheme;
    uint32_t page;
    const char* encrypted;  // first 32 bytes of the enciphered pattern page
};

// std128: standard AES-128; nonstd256: the non-standard AES-256 variant;
// rc4real and agilereal: the blocks of the corpus's Access files;
// rc440: a 40-bit "Base" provider block; agile128: AES-128/SHA-1, 1000 spins.
const SchemeCase kSchemes[] = {
    {"std128",
     "04000200240000008c00000024000000000000000e6600000480000080000000180000000000000000000000"
     "4d006900630072006f0073006f0066007400200045006e00680061006e006300650064002000520053004100"
     "200061006e00640020004100450053002000430072007900700074006f006700720061007000680069006300"
     "2000500072006f0076006900640065007200000010000000101112131415161718191a1b1c1d1e1f90b5f2e3"
     "9fb5ea0c81e4e0f55270fccf14000000a3c492195928e54351ac9fa2170ff9c4df6e94ed7ef21c2691b88523"
     "bde16d73",
     0x12345678, "Sécret 1", OfficeScheme::StandardAes, 5,
     "f12d870187b5d7fb1d7b579e2055521f23f33f35e9c134b4eb7c79169d5f2206"},
    {"nonstd256",
     "04000200040000008c0000000400000000000000106600000480000000010000180000000000000000000000"
     "4d006900630072006f0073006f0066007400200045006e00680061006e006300650064002000520053004100"
     "200061006e00640020004100450053002000430072007900700074006f006700720061007000680069006300"
     "2000500072006f0076006900640065007200000010000000303132333435363738393a3b3c3d3e3f1783cc7a"
     "88248ea17e74dfabb8eaf09f14000000cab8368298d7a1c876a0c8abe8617f3b4eaaa90a62c453b243cf6175"
     "ee6be6b2",
     0xcafebabe, "pass word", OfficeScheme::NonStandardAes, 3,
     "14a1de2f83cca272ffe25c653afbb73d4d57e00f6795b339f1779dbcdaed1e9b"},
    {"rc4real",
     "040002000c0000007e0000000c00000000000000016800000480000080000000010000000000000000000000"
     "4d006900630072006f0073006f0066007400200045006e00680061006e006300650064002000430072007900"
     "700074006f0067007200610070006800690063002000500072006f0076006900640065007200200076003100"
     "2e0030000000100000002b8b7c7f07187dc12d2137d3d408eec67c27a2d002eb4cf3e9e64135773012341400"
     "00009ba13ebf4261d1f775e8b6c3522dfe04b4fc5fef",
     0xa0b368cf, "password", OfficeScheme::Rc4CryptoApi, 2,
     "0d04bf467488c9f3832b31b3f806eda2c9bedb148262c7718cd76a5d3132739d"},
    {"rc440",
     "0300020004000000760000000400000000000000016800000480000000000000010000000000000000000000"
     "4d006900630072006f0073006f0066007400200042006100730065002000430072007900700074006f006700"
     "7200610070006800690063002000500072006f00760069006400650072002000760031002e00300000001000"
     "0000606162636465666768696a6b6c6d6e6f1aaa79e7dd7494e74d006cfb881ce4fe140000008f0081ea21ad"
     "d687914b6388043b68a305aeab4c",
     0x1020304, "abc", OfficeScheme::Rc4CryptoApi, 7,
     "b3c175522b6bc18b7b54844b2bd2fd0c6d5f2885137871b22c8730117ec314a0"},
    {"agilereal",
     "04000400400000003c3f786d6c2076657273696f6e3d22312e302220656e636f64696e673d225554462d3822"
     "207374616e64616c6f6e653d22796573223f3e0d0a3c656e6372797074696f6e20786d6c6e733d2268747470"
     "3a2f2f736368656d61732e6d6963726f736f66742e636f6d2f6f66666963652f323030362f656e6372797074"
     "696f6e2220786d6c6e733a703d22687474703a2f2f736368656d61732e6d6963726f736f66742e636f6d2f6f"
     "66666963652f323030362f6b6579456e63727970746f722f70617373776f72642220786d6c6e733a633d2268"
     "7474703a2f2f736368656d61732e6d6963726f736f66742e636f6d2f6f66666963652f323030362f6b657945"
     "6e63727970746f722f6365727469666963617465223e3c6b6579446174612073616c7453697a653d22313622"
     "20626c6f636b53697a653d22313622206b6579426974733d2232353622206861736853697a653d2236342220"
     "636970686572416c676f726974686d3d224145532220636970686572436861696e696e673d22436861696e69"
     "6e674d6f6465434243222068617368416c676f726974686d3d22534841353132222073616c7456616c75653d"
     "22444179633343324f7878652b536e57675254594251513d3d222f3e3c6b6579456e63727970746f72733e3c"
     "6b6579456e63727970746f72207572693d22687474703a2f2f736368656d61732e6d6963726f736f66742e63"
     "6f6d2f6f66666963652f323030362f6b6579456e63727970746f722f70617373776f7264223e3c703a656e63"
     "7279707465644b6579207370696e436f756e743d22313030303030222073616c7453697a653d223136222062"
     "6c6f636b53697a653d22313622206b6579426974733d2232353622206861736853697a653d22363422206369"
     "70686572416c676f726974686d3d224145532220636970686572436861696e696e673d22436861696e696e67"
     "4d6f6465434243222068617368416c676f726974686d3d22534841353132222073616c7456616c75653d226c"
     "664c7a446f5370366d32466b4d797650695a6176413d3d2220656e6372797074656456657269666965724861"
     "7368496e7075743d2250706f474764646148574e7331387a7248354d4e36773d3d2220656e63727970746564"
     "56657269666965724861736856616c75653d22433637565a6157466c76642b456d596267415a44777866416c"
     "4d4a38452b375766465872386978465676776336784a4f494174596735375044674973636b6e38676f766455"
     "464b416f624767554c454a563574564d773d3d2220656e637279707465644b657956616c75653d2273534569"
     "30644861654958687737625443624f6274774c4d686a697369544f6f3678744d4c43467974634d3d222f3e3c"
     "2f6b6579456e63727970746f723e3c2f6b6579456e63727970746f72733e3c2f656e6372797074696f6e3e",
     0xa0be38a3, "password", OfficeScheme::Agile, 2,
     "1af33063aa04329972e0a7c3fa50831ec6d2e59e532c03ea208c79931ff1e39a"},
    {"agile128",
     "04000400400000003c3f786d6c2076657273696f6e3d22312e302220656e636f64696e673d225554462d3822"
     "207374616e64616c6f6e653d22796573223f3e0d0a3c656e6372797074696f6e20786d6c6e733d2268747470"
     "3a2f2f736368656d61732e6d6963726f736f66742e636f6d2f6f66666963652f323030362f656e6372797074"
     "696f6e2220786d6c6e733a703d22687474703a2f2f736368656d61732e6d6963726f736f66742e636f6d2f6f"
     "66666963652f323030362f6b6579456e63727970746f722f70617373776f7264223e3c6b6579446174612073"
     "616c7453697a653d2231362220626c6f636b53697a653d22313622206b6579426974733d2231323822206861"
     "736853697a653d2232302220636970686572416c676f726974686d3d22414553222063697068657243686169"
     "6e696e673d22436861696e696e674d6f6465434243222068617368416c676f726974686d3d22534841312220"
     "73616c7456616c75653d226b4a47536b3553566c7065596d5a71626e4a32656e773d3d222f3e3c6b6579456e"
     "63727970746f72733e3c6b6579456e63727970746f72207572693d22687474703a2f2f736368656d61732e6d"
     "6963726f736f66742e636f6d2f6f66666963652f323030362f6b6579456e63727970746f722f70617373776f"
     "7264223e3c703a656e637279707465644b6579207370696e436f756e743d2231303030222073616c7453697a"
     "653d2231362220626c6f636b53697a653d22313622206b6579426974733d2231323822206861736853697a65"
     "3d2232302220636970686572416c676f726974686d3d224145532220636970686572436861696e696e673d22"
     "436861696e696e674d6f6465434243222068617368416c676f726974686d3d2253484131222073616c745661"
     "6c75653d226749474367345346686f65496959714c6a49324f6a773d3d2220656e6372797074656456657269"
     "6669657248617368496e7075743d22376b723172543143447a7134596c623943386a7648773d3d2220656e63"
     "72797074656456657269666965724861736856616c75653d22436e523531737049446379322f794432346167"
     "634832654d4132727847715769496c432f69706e2b2f4d303d2220656e637279707465644b657956616c7565"
     "3d227238472b2f30594f433968306f6c7a437579634465673d3d222f3e3c2f6b6579456e63727970746f723e"
     "3c2f6b6579456e63727970746f72733e3c2f656e6372797074696f6e3e",
     0xbadf00d, "Zugang ü", OfficeScheme::Agile, 9,
     "5da3dc5c8d169cd162d19ce64d5f18d790c04b22a579b409f95c1d739051c368"},
};

TEST(OfficeCrypto, EverySchemeMatchesIndependentVectorsAndInverts) {
    for (const SchemeCase& c : kSchemes) {
        SCOPED_TRACE(c.name);
        const Buffer block = fromHex(c.block);
        auto info = parseEncryptionInfo(block);
        ASSERT_TRUE(info.ok()) << info.error().message();
        EXPECT_EQ(int(c.scheme), int(info->scheme));
        auto cipher = makeOfficeCipher(*info, c.databaseKey, c.password);
        ASSERT_TRUE(cipher.ok()) << cipher.error().message();
        EXPECT_EQ(info->describe(), (*cipher)->scheme());

        const Buffer plain = patternPage(c.page);
        Buffer page = plain;
        (*cipher)->encrypt(c.page, page);
        EXPECT_EQ(c.encrypted, toHex(std::span<const uint8_t>(page).first(32)));
        Buffer other = plain;
        (*cipher)->encrypt(c.page + 1, other);
        EXPECT_NE(page, other) << "pages must not share a key";
        (*cipher)->decrypt(c.page, page);
        EXPECT_EQ(plain, page);

        for (std::string wrong :
             {std::string(), std::string(c.password) + "x", std::string("Password")}) {
            auto refused = makeOfficeCipher(*info, c.databaseKey, wrong);
            ASSERT_FALSE(refused.ok()) << "accepted \"" << wrong << "\"";
            EXPECT_EQ(int(Errc::WrongPassword), int(refused.error().code()));
            EXPECT_NE(std::string::npos, refused.error().message().find(info->describe()))
                << refused.error().message();
        }
    }
}

TEST(OfficeCrypto, JetRc4CipherIsItsOwnInverseAndMatchesTheWorkedExample) {
    auto c = jetRc4Cipher(0xA7B773E0);
    Buffer page = fromHex("F01887B1F2A0430D52CEDE8F4D4F0585");
    c->decrypt(2, page);
    EXPECT_EQ("0201de0b000000001a04000059060000", toHex(page));
    c->encrypt(2, page);
    EXPECT_EQ("f01887b1f2a0430d52cede8f4d4f0585", toHex(page));
}

const SchemeCase& schemeCase(std::string_view name) {
    for (const auto& c : kSchemes)
        if (name == c.name) return c;
    return kSchemes[0];
}

std::string agileXml(const char* caseName) {
    Buffer b = fromHex(schemeCase(caseName).block);
    return std::string(b.begin() + 8, b.end());
}

Buffer agileBlock(const std::string& xml) {
    Buffer b(8 + xml.size(), 0);
    b[0] = 4;
    b[2] = 4;
    b[4] = 0x40;
    std::copy(xml.begin(), xml.end(), b.begin() + 8);
    return b;
}

std::string replaced(std::string s, const std::string& from, const std::string& to) {
    size_t at = s.find(from);
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
}

TEST(OfficeCrypto, DamagedOrUnknownEncryptionInformationIsRefusedCleanly) {
    const Buffer std128 = fromHex(schemeCase("std128").block);
    const Buffer rc4 = fromHex(schemeCase("rc4real").block);
    const std::string xml = agileXml("agile128");
    auto patched = [](Buffer b, size_t at, std::initializer_list<uint8_t> bytes) {
        for (uint8_t v : bytes) b.at(at++) = v;
        return b;
    };
    struct Case {
        const char* what;
        Buffer block;
        Errc code;
        const char* mentions;
    } cases[] = {
        {"extensible 4.3", patched(std128, 0, {4, 0, 3, 0}), Errc::Unsupported, "extensible"},
        {"extensible 3.3", patched(std128, 0, {3, 0, 3, 0}), Errc::Unsupported, "extensible"},
        {"unknown version", patched(std128, 0, {9, 0, 9, 0}), Errc::Unsupported, "9.9"},
        {"binary RC4 1.1", patched(std128, 0, {1, 0, 1, 0}), Errc::Unsupported, "1.1"},
        {"no CryptoAPI flag", patched(std128, 4, {0x20}), Errc::Unsupported, "CryptoAPI"},
        {"external provider", patched(std128, 4, {0x34}), Errc::Unsupported, "external"},
        {"header size past the end", patched(std128, 8, {0xFF, 0xFF}), Errc::Corrupt,
         "header size"},
        {"header size too small", patched(std128, 8, {0x10, 0}), Errc::Corrupt, "header size"},
        {"unknown algorithm", patched(std128, 0x14, {0x02, 0x66}), Errc::Unsupported, "algorithm"},
        {"unknown hash", patched(std128, 0x18, {0x03, 0x80}), Errc::Unsupported, "hashes"},
        {"AES key size mismatch", patched(std128, 0x1C, {0x00, 0x01}), Errc::Corrupt, "key size"},
        {"RC4 key too long", patched(rc4, 0x1C, {0x00, 0x01}), Errc::Unsupported, "key size"},
        {"RC4 flagged as AES", patched(rc4, 4, {0x2C}), Errc::Corrupt, "RC4"},
        {"salt size 15", patched(rc4, 0x0C + 0x7E, {15}), Errc::Corrupt, "salt"},
        {"verifier hash size 0", patched(rc4, 0x0C + 0x7E + 0x24, {0}), Errc::Corrupt, "hash size"},
        {"agile reserved", patched(agileBlock(xml), 4, {0x41}), Errc::Corrupt, "reserved"},
        {"agile not closed", agileBlock(replaced(xml, "</encryption>", "")), Errc::Corrupt,
         "not closed"},
        {"agile DTD", agileBlock("<!DOCTYPE x [<!ENTITY a 'b'>]>" + xml), Errc::Corrupt, "DTD"},
        {"agile bad entity", agileBlock(replaced(xml, "uri=\"", "uri=\"&bogus;")), Errc::Corrupt,
         "entity"},
        {"agile bad base64", agileBlock(replaced(xml, "saltValue=\"", "saltValue=\"!")),
         Errc::Corrupt, "base64"},
        {"agile salt size", agileBlock(replaced(xml, "saltSize=\"16\"", "saltSize=\"17\"")),
         Errc::Corrupt, "salt"},
        {"agile spin count",
         agileBlock(replaced(xml, "spinCount=\"1000\"", "spinCount=\"20000000\"")), Errc::Corrupt,
         "hash rounds"},
        {"agile spin not a number",
         agileBlock(replaced(xml, "spinCount=\"1000\"", "spinCount=\"1e3\"")), Errc::Corrupt,
         "not a number"},
        {"agile hash size", agileBlock(replaced(xml, "hashSize=\"20\"", "hashSize=\"64\"")),
         Errc::Corrupt, "hash size"},
        {"agile unknown hash",
         agileBlock(replaced(xml, "hashAlgorithm=\"SHA1\"", "hashAlgorithm=\"MD5\"")),
         Errc::Unsupported, "MD5"},
        {"agile unknown cipher",
         agileBlock(replaced(xml, "cipherAlgorithm=\"AES\"", "cipherAlgorithm=\"RC2\"")),
         Errc::Unsupported, "RC2"},
        {"agile ECB chaining", agileBlock(replaced(xml, "ChainingModeCBC", "ChainingModeCFB")),
         Errc::Unsupported, "chaining"},
        {"agile 512-bit key", agileBlock(replaced(xml, "keyBits=\"128\"", "keyBits=\"512\"")),
         Errc::Corrupt, "512"},
        {"agile no password encryptor",
         agileBlock(
             replaced(xml, "uri=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\"",
                      "uri=\"http://schemas.microsoft.com/office/2006/keyEncryptor/certificate\"")),
         Errc::Unsupported, "password key encryptor"},
        {"agile two keyData",
         agileBlock(replaced(xml, "<keyEncryptors>", "<keyData/><keyEncryptors>")), Errc::Corrupt,
         "keyData"},
        {"agile short key value",
         agileBlock(replaced(xml, "encryptedKeyValue=\"",
                             "encryptedKeyValue=\"AAAAAAAAAAAAAAAAAAAA\" x=\"")),
         Errc::Corrupt, "encryptedKeyValue"},
        {"agile wrong root", agileBlock("<other/>"), Errc::Corrupt, "root"},
        {"agile empty", agileBlock(""), Errc::Corrupt, "no element"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto r = parseEncryptionInfo(c.block);
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(int(c.code), int(r.error().code())) << r.error().message();
        EXPECT_NE(std::string::npos, r.error().message().find(c.mentions)) << r.error().message();
    }
    // Every truncation of every valid block: an error, never a crash or a
    // success on missing bytes (the agile XML is cut inside its last element).
    for (const SchemeCase& s : kSchemes) {
        const Buffer full = fromHex(s.block);
        for (size_t n = 0; n < full.size(); ++n) {
            auto r = parseEncryptionInfo(std::span<const uint8_t>(full).first(n));
            EXPECT_FALSE(r.ok()) << s.name << " cut to " << n;
        }
    }
}

TEST(OfficeCrypto, TheBlockIsFoundWithinPageZeroOnly) {
    Buffer page0(4096, 0);
    page0[0x299] = 0x10;
    page0[0x29A] = 0x00;
    auto ok = encryptionInfoBlock(page0);
    ASSERT_TRUE(ok.ok());
    EXPECT_EQ(16u, ok->size());
    page0[0x29A] = 0x0E;  // 0x0E10 bytes from 0x29B: past 4096
    auto bad = encryptionInfoBlock(page0);
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(int(Errc::Corrupt), int(bad.error().code()));
    auto tiny = encryptionInfoBlock(std::span<const uint8_t>(page0).first(0x29A));
    EXPECT_FALSE(tiny.ok());
}

TEST(OfficeCrypto, Base64IsStrict) {
    struct Case {
        const char* text;
        const char* hex;  // nullptr: refused
    } cases[] = {
        {"", ""},           {"QQ==", "41"},        {"QUI=", "4142"},
        {"QUJD", "414243"}, {"QU JD\n", "414243"}, {"QQ=", nullptr},
        {"QQ=A", nullptr},  {"Q===", nullptr},     {"QUJ", nullptr},
        {"QU*D", nullptr},  {"QUJD=", nullptr},    {"QQ==QQ==", nullptr},
    };
    for (const Case& c : cases) {
        auto r = base64Decode(c.text);
        if (!c.hex) {
            EXPECT_FALSE(r.has_value()) << c.text;
            continue;
        }
        ASSERT_TRUE(r.has_value()) << c.text;
        EXPECT_EQ(c.hex, toHex(*r)) << c.text;
        EXPECT_EQ(*r, *base64Decode(base64Encode(*r))) << c.text;
    }
}

// The corpus's Office-encrypted files open with their password only; the
// per-file row comparison is the corpus test's.
TEST(OfficeCrypto, CorpusFilesOpenWithTheirPasswordOnly) {
    const char* files[] = {"files/mdb-reader/encryption/office-agile-4.2.accdb",
                           "files/mdb-reader/encryption/office-agile-4.4.accdb"};
    size_t opened = 0;
    for (const char* f : files) {
        std::vector<uint8_t> bytes = readCorpusBytes(corpusRoot() / f);
        if (bytes.empty()) continue;
        for (const char* pw : {"", "Password", "password"}) {
            OpenOptions o;
            o.password = pw;
            auto db = Database::openMemory(bytes, o);
            if (std::string(pw) != "password") {
                ASSERT_FALSE(db.ok()) << f << " opened with \"" << pw << "\"";
                EXPECT_EQ(int(Errc::WrongPassword), int(db.error().code())) << db.error().message();
                continue;
            }
            ASSERT_TRUE(db.ok()) << f << ": " << db.error().message();
            EXPECT_NE(nullptr, (*db)->pages().cipher());
            EXPECT_FALSE((*db)->catalog().objects.empty()) << f;
            ++opened;
        }
    }
    if (opened == 0) GTEST_SKIP() << "corpus not found at " << corpusRoot();
}

}  // namespace
}  // namespace tab::jet::crypto
