// Writing Office encryption: new encryption information of every scheme read
// back through the parser and verifier, and whole files encrypted and
// decrypted, compared with their plain originals row by row and page by page.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../src/crypto/office_encryption.h"
#include "tabulary/jet/check.h"
#include "tabulary/jet/database.h"
#include "tabulary/jet/encrypt.h"
#include "tabulary/jet/table_cursor.h"
#include "tabulary/jet/value_text.h"
#include "tabulary/jet/writer.h"
#include "test_corpus.h"

namespace tab::jet {
namespace {

namespace fs = std::filesystem;
using crypto::Buffer;

constexpr size_t kPage = 4096;

struct NewScheme {
    EncryptionScheme scheme;
    crypto::OfficeScheme parsed;
    uint16_t major, minor;
    uint32_t keyBits;
    const char* describes;  // what the reader calls it
};

const NewScheme kSchemes[] = {
    {EncryptionScheme::Agile, crypto::OfficeScheme::Agile, 4, 4, 256,
     "Office agile encryption (AES-256, SHA-512)"},
    {EncryptionScheme::AgileSha1, crypto::OfficeScheme::Agile, 4, 4, 128,
     "Office agile encryption (AES-128, SHA-1)"},
    {EncryptionScheme::StandardAes, crypto::OfficeScheme::StandardAes, 4, 2, 128,
     "Office standard encryption (AES-128)"},
    {EncryptionScheme::Rc4CryptoApi, crypto::OfficeScheme::Rc4CryptoApi, 4, 2, 128,
     "Office RC4 CryptoAPI encryption (128-bit key)"},
};

Buffer saltOf(const crypto::EncryptionInfo& info) {
    if (info.scheme == crypto::OfficeScheme::Agile) {
        Buffer s = info.agile.key.salt;
        s.insert(s.end(), info.agile.data.salt.begin(), info.agile.data.salt.end());
        return s;
    }
    return Buffer(info.standard.salt.begin(), info.standard.salt.end());
}

TEST(NewEncryption, EverySchemeReadsBackThroughTheVerifier) {
    const char* passwords[] = {"secret", "p\xC3\xA4sswort \xE2\x9C\x93"};
    for (const NewScheme& c : kSchemes) {
        SCOPED_TRACE(schemeName(c.scheme));
        EXPECT_EQ(c.scheme, schemeByName(schemeName(c.scheme)));
        for (const char* pw : passwords) {
            auto a = crypto::buildEncryptionInfo(c.scheme, pw);
            auto b = crypto::buildEncryptionInfo(c.scheme, pw);
            ASSERT_TRUE(a.ok() && b.ok());
            auto ia = crypto::parseEncryptionInfo(*a);
            auto ib = crypto::parseEncryptionInfo(*b);
            ASSERT_TRUE(ia.ok()) << ia.error().message();
            ASSERT_TRUE(ib.ok()) << ib.error().message();
            EXPECT_EQ(c.parsed, ia->scheme);
            EXPECT_EQ(c.major, ia->major);
            EXPECT_EQ(c.minor, ia->minor);
            EXPECT_EQ(c.describes, ia->describe());
            if (c.parsed == crypto::OfficeScheme::Agile) {
                EXPECT_EQ(c.keyBits, ia->agile.data.keyBits);
                EXPECT_EQ(crypto::kNewSpinCount, ia->agile.spinCount);
            } else {
                EXPECT_EQ(c.keyBits, ia->standard.keyBits);
            }
            // Fresh salts every time.
            EXPECT_NE(saltOf(*ia), saltOf(*ib));
            EXPECT_NE(*a, *b);

            const uint32_t key = 0xA0B368CF;
            auto enc = crypto::makeOfficeCipher(*ia, key, pw);
            auto dec = crypto::makeOfficeCipher(*ia, key, pw);
            auto other = crypto::makeOfficeCipher(*ib, key, pw);
            ASSERT_TRUE(enc.ok()) << enc.error().message();
            ASSERT_TRUE(dec.ok() && other.ok());
            for (const char* wrong : {"", "Secret", "secret ", "p\xC3\xA4sswort"}) {
                auto refused = crypto::makeOfficeCipher(*ia, key, wrong);
                ASSERT_FALSE(refused.ok()) << "opened with \"" << wrong << "\"";
                EXPECT_EQ(Errc::WrongPassword, refused.error().code());
            }
            for (uint32_t number : {1u, 2u, 77u}) {
                Buffer plain(kPage);
                for (size_t i = 0; i < plain.size(); ++i)
                    plain[i] = static_cast<uint8_t>(i * 13 + number);
                Buffer page = plain, elsewhere = plain;
                (*enc)->encrypt(number, page);
                (*other)->encrypt(number, elsewhere);
                EXPECT_NE(plain, page);
                EXPECT_NE(page, elsewhere);  // other salts (and data key): other pages
                (*dec)->decrypt(number, page);
                EXPECT_EQ(plain, page) << "page " << number;
            }
        }
    }
}

class TempDir {
public:
    TempDir() {
        static int n = 0;
        m_path = fs::temp_directory_path() /
                 ("tabulary-encrypt-" + std::to_string(::getpid()) + "-" + std::to_string(n++));
        fs::create_directories(m_path);
    }
    ~TempDir() { fs::remove_all(m_path); }
    std::string file(const std::string& name) const { return (m_path / name).string(); }
    size_t entries() const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(m_path), {}));
    }

private:
    fs::path m_path;
};

// Every value of every user table, as text, per table.
std::string allRows(Database& db) {
    std::string out;
    for (const auto* o : db.catalog().ofKind(ObjectKind::UserTable)) {
        auto t = db.table(o->name);
        if (!t.ok()) return "error: " + t.error().message();
        out += "[" + o->name + "]\n";
        TableCursor c(db, *t);
        while (true) {
            auto more = c.next();
            if (!more.ok()) return out + "error: " + more.error().message();
            if (!*more) break;
            for (const auto& v : c.values()) out += valueToText(v) + "|";
            out += "\n";
        }
    }
    return out;
}

// The project's own ACE file: every page kind (data, long values, index
// leaves and nodes of text, decimal and currency keys), checked clean.
void writeAceFixture(const std::string& path) {
    CreateOptions options;
    options.format = FileFormat::Ace12;
    auto w = DatabaseWriter::create(path, options);
    ASSERT_TRUE(w.ok()) << w.error().message();
    auto col = [](const char* name, ColumnType type) {
        ColumnSpec c;
        c.name = name;
        c.type = type;
        return c;
    };
    ColumnSpec amount = col("Amount", ColumnType::Decimal);
    amount.precision = 12;
    amount.scale = 3;
    TableSpec spec{"Ledger",
                   {col("Id", ColumnType::Long), col("Name", ColumnType::Text), amount,
                    col("Price", ColumnType::Currency), col("Notes", ColumnType::Memo)},
                   {}};
    for (const char* c : {"Id", "Name", "Amount", "Price"}) {
        IndexSpec ix;
        ix.name = std::string("ix") + c;
        ix.columns = {{c, true}};
        ix.primaryKey = std::string(c) == "Id";
        spec.indexes.push_back(ix);
    }
    auto t = (*w)->addTable(spec);
    ASSERT_TRUE(t.ok()) << t.error().message();
    for (int64_t i = 0; i < 3000; ++i) {
        Decimal d;
        d.negative = i % 3 == 0;
        d.lo = static_cast<uint64_t>(i * 7919 % 100000);
        d.scale = 3;
        std::vector<Value> row = {
            Value::integer(i), Value::text("n\xC3\xA4me " + std::to_string(i * 37 % 1000)),
            Value::decimal(d), Value::currency(i * 1234 - 500000),
            i % 50 == 0 ? Value::text(std::string(5000, static_cast<char>('a' + i % 26)))
                        : Value::null()};
        ASSERT_TRUE((*w)->appendRow(*t, row).ok());
    }
    Status st = (*w)->finish();
    ASSERT_TRUE(st.ok()) << st.error().message();
    auto db = Database::open(path);
    ASSERT_TRUE(db.ok()) << db.error().message();
    EXPECT_EQ(JetVersion::Ace12, (*db)->header().version);
    CheckReport report = checkDatabase(**db);
    for (const auto& p : report.problems) ADD_FAILURE() << path << ": " << p.message;
    EXPECT_GE(report.indexesChecked, spec.indexes.size());
    EXPECT_GE(report.rowsRead, 3000u);
}

// Unencrypted ACE files of the corpus, of several versions.
const char* kPlainFiles[] = {
    "files/jackcess/V2007/testV2007.accdb",
    "files/jackcess/V2010/testV2010.accdb",
    "files/jackcess/V2010/bigIndexTestV2010.accdb",
    "files/mdb-reader/V2016/longtext.accdb",
};

TEST(NewEncryption, AceFilesEncryptWithEverySchemeAndDecryptToTheirBytes) {
    TempDir fixtures;
    const std::string written = fixtures.file("written.accdb");
    writeAceFixture(written);
    std::vector<fs::path> sources = {written};
    for (const char* f : kPlainFiles) sources.push_back(corpusRoot() / f);
    size_t done = 0;
    for (const fs::path& source : sources) {
        const std::string f = source.filename().string();
        const std::vector<uint8_t> plain = readCorpusBytes(source);
        if (plain.empty()) continue;  // corpus absent
        auto plainDb = Database::openMemory(plain);
        ASSERT_TRUE(plainDb.ok()) << f << ": " << plainDb.error().message();
        const std::string expected = allRows(**plainDb);
        ASSERT_EQ(std::string::npos, expected.find("error:")) << f;
        for (const NewScheme& c : kSchemes) {
            SCOPED_TRACE(f + " " + schemeName(c.scheme));
            TempDir dir;
            const std::string enc = dir.file("enc.accdb"), back = dir.file("back.accdb");
            Status st = encryptDatabase(source.string(), enc, "Fixture-pw", c.scheme);
            ASSERT_TRUE(st.ok()) << st.error().message();
            const std::vector<uint8_t> bytes = readCorpusBytes(enc);
            ASSERT_EQ(plain.size(), bytes.size());
            EXPECT_EQ(0, std::memcmp(plain.data(), bytes.data(), 0x18));  // type, engine, version
            for (size_t p = 1; p < plain.size() / kPage; ++p)
                ASSERT_NE(0, std::memcmp(plain.data() + p * kPage, bytes.data() + p * kPage, kPage))
                    << "page " << p << " is stored in plain text";

            OpenOptions o;
            o.password = "Fixture-pw";
            auto db = Database::openMemory(bytes, o);
            ASSERT_TRUE(db.ok()) << db.error().message();
            EXPECT_EQ(c.describes, (*db)->header().officeEncryption);
            EXPECT_EQ(expected, allRows(**db));
            for (const char* wrong : {"", "fixture-pw"}) {
                o.password = wrong;
                auto refused = Database::openMemory(bytes, o);
                ASSERT_FALSE(refused.ok());
                EXPECT_EQ(Errc::WrongPassword, refused.error().code());
            }

            // Removing the password gives the original file back, byte for byte.
            st = decryptDatabase(enc, back, "fixture-pw");
            ASSERT_FALSE(st.ok());
            EXPECT_EQ(Errc::WrongPassword, st.error().code());
            EXPECT_FALSE(fs::exists(back));
            st = decryptDatabase(enc, back, "Fixture-pw");
            ASSERT_TRUE(st.ok()) << st.error().message();
            EXPECT_TRUE(readCorpusBytes(back) == plain);
            EXPECT_EQ(2u, dir.entries());  // no temporary file left
            ++done;
        }
    }
    // The written file always; the corpus's when it is there.
    EXPECT_GE(done, std::size(kSchemes));
}

TEST(NewEncryption, RefusesWhatItCannotOrShouldNotDo) {
    TempDir dir;
    const fs::path plain = corpusRoot() / "files/jackcess/V2010/testV2010.accdb";
    const fs::path jet4 = corpusRoot() / "files/jackcess-encrypt/db-enc.mdb";
    const fs::path agile = corpusRoot() / "files/mdb-reader/encryption/office-agile-4.4.accdb";
    if (!fs::exists(plain) || !fs::exists(jet4) || !fs::exists(agile))
        GTEST_SKIP() << "corpus not found at " << corpusRoot();
    const std::string out = dir.file("out.accdb");
    {
        std::ofstream(dir.file("exists.accdb")) << "x";
        std::ofstream(dir.file("short.accdb")) << std::string(5000, '\0');
    }
    struct Case {
        bool encrypt;
        std::string input, output, password;
        Errc code;
        const char* says;
    } cases[] = {
        {true, jet4.string(), out, "pw", Errc::Unsupported, "only ACE"},
        {true, agile.string(), out, "pw", Errc::InvalidArgument, "already encrypted"},
        {true, plain.string(), dir.file("exists.accdb"), "pw", Errc::Io, "already exists"},
        {true, plain.string(), out, "", Errc::InvalidArgument, "needs a password"},
        {true, plain.string(), out, std::string(256, 'x'), Errc::InvalidArgument, "255"},
        {true, dir.file("missing.accdb"), out, "pw", Errc::Io, "missing.accdb"},
        {true, dir.file("short.accdb"), out, "pw", Errc::Unsupported, "short.accdb"},
        {false, plain.string(), out, "pw", Errc::InvalidArgument, "is not encrypted"},
        {false, agile.string(), out, "wrong", Errc::WrongPassword, "Not a valid password"},
        {false, agile.string(), dir.file("exists.accdb"), "password", Errc::Io, "already exists"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input + " -> " + c.output);
        Status st = c.encrypt ? encryptDatabase(c.input, c.output, c.password)
                              : decryptDatabase(c.input, c.output, c.password);
        ASSERT_FALSE(st.ok());
        EXPECT_EQ(c.code, st.error().code()) << st.error().message();
        EXPECT_NE(std::string::npos, st.error().message().find(c.says)) << st.error().message();
        EXPECT_FALSE(fs::exists(out));
    }
    EXPECT_EQ(2u, dir.entries());
    // The corpus's agile file loses its password and reads as before.
    ASSERT_TRUE(decryptDatabase(agile.string(), out, "password").ok());
    auto db = Database::open(out);
    ASSERT_TRUE(db.ok()) << db.error().message();
    EXPECT_EQ(PageEncoding::None, (*db)->header().encoding);
    OpenOptions o;
    o.password = "password";
    auto original = Database::open(agile.string(), o);
    ASSERT_TRUE(original.ok());
    EXPECT_EQ(allRows(**original), allRows(**db));
    EXPECT_NE(std::string::npos, allRows(**db).find("[Table1]"));
}

}  // namespace
}  // namespace tab::jet
