// File helpers: text decoding, reading, existence, quiet deletion, the
// owner-only work files and the work folder, each against a private
// temporary folder.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_paths.h"
#include "app/failure.h"
#include "app/file_helpers.h"
#include "posix_test_support.h"
#include "tabulary/base/text_codec.h"

// Readable paths in test failures.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

using tab::gui::Failure;

using tab::gui::testing::modeOf;
using tab::gui::testing::runningAsRoot;
using tab::gui::testing::UmaskGuard;

namespace {

std::vector<char32_t> codePoints(const QString& text) {
    std::vector<char32_t> out;
    for (const char32_t cp : text.toUcs4()) out.push_back(cp);
    return out;
}

QByteArray bytesOf(std::initializer_list<int> values) {
    QByteArray out;
    for (const int v : values) out.append(static_cast<char>(v));
    return out;
}

bool isSymlink(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISLNK(info.st_mode);
}

// A user no test runs as; giving a file to it needs root.
constexpr uid_t kOtherUser = 65534;

bool giveToOtherUser(const QString& path) {
    return ::chown(QFile::encodeName(path).constData(), kOtherUser, kOtherUser) == 0;
}

// Puts the named variables back as they were when the scope ends.
class EnvironmentGuard {
public:
    explicit EnvironmentGuard(std::initializer_list<const char*> names) {
        for (const char* name : names)
            m_saved.push_back({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
    }
    ~EnvironmentGuard() {
        for (const Saved& s : m_saved) {
            if (s.set)
                qputenv(s.name, s.value);
            else
                qunsetenv(s.name);
        }
    }
    EnvironmentGuard(const EnvironmentGuard&) = delete;
    EnvironmentGuard& operator=(const EnvironmentGuard&) = delete;

private:
    struct Saved {
        const char* name;
        bool set;
        QByteArray value;
    };
    std::vector<Saved> m_saved;
};

class FileHelpers : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    QString write(const QString& name, const QByteArray& bytes) const {
        const QString p = path(name);
        QFile file(p);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        EXPECT_EQ(file.write(bytes), bytes.size());
        return p;
    }

    static QByteArray read(const QString& p) {
        QFile file(p);
        if (!file.open(QIODevice::ReadOnly)) return "<unreadable>";
        return file.readAll();
    }

    static void link(const QString& target, const QString& linkPath) {
        ASSERT_EQ(::symlink(QFile::encodeName(target).constData(),
                            QFile::encodeName(linkPath).constData()),
                  0);
    }

    QTemporaryDir m_dir;
};

// --- decodeText / encodeText ------------------------------------------------

TEST(FileHelpersDecode, ByteStringsGiveTheirCodePoints) {
    struct Case {
        const char* name;
        QByteArray bytes;
        std::vector<char32_t> expected;
    };
    const Case cases[] = {
        {"empty", QByteArray(), {}},
        {"ascii", "Abc ~", {'A', 'b', 'c', ' ', '~'}},
        {"nul byte", bytesOf({'a', 0, 'b'}), {'a', 0, 'b'}},
        {"two bytes", bytesOf({0xC3, 0xA9}), {0xE9}},
        {"two bytes lowest", bytesOf({0xC2, 0x80}), {0x80}},
        {"two bytes highest", bytesOf({0xDF, 0xBF}), {0x7FF}},
        {"three bytes", bytesOf({0xE2, 0x82, 0xAC}), {0x20AC}},
        {"three bytes lowest", bytesOf({0xE0, 0xA0, 0x80}), {0x800}},
        {"below surrogates", bytesOf({0xED, 0x9F, 0xBF}), {0xD7FF}},
        {"above surrogates", bytesOf({0xEE, 0x80, 0x80}), {0xE000}},
        {"three bytes highest", bytesOf({0xEF, 0xBF, 0xBF}), {0xFFFF}},
        {"four bytes", bytesOf({0xF0, 0x9F, 0x98, 0x80}), {0x1F600}},
        {"four bytes lowest", bytesOf({0xF0, 0x90, 0x80, 0x80}), {0x10000}},
        {"four bytes highest", bytesOf({0xF4, 0x8F, 0xBF, 0xBF}), {0x10FFFF}},
        {"overlong nul", bytesOf({0xC0, 0x80}), {0xC0, 0x20AC}},
        {"overlong two bytes", bytesOf({0xC1, 0xBF}), {0xC1, 0xBF}},
        {"overlong three bytes", bytesOf({0xE0, 0x80, 0xAF}), {0xE0, 0x20AC, 0xAF}},
        {"overlong four bytes", bytesOf({0xF0, 0x8F, 0xBF, 0xBF}), {0xF0, 0x8F, 0xBF, 0xBF}},
        {"surrogate", bytesOf({0xED, 0xA0, 0x80}), {0xED, 0xA0, 0x20AC}},
        {"low surrogate", bytesOf({0xED, 0xBF, 0xBF}), {0xED, 0xBF, 0xBF}},
        {"above range", bytesOf({0xF4, 0x90, 0x80, 0x80}), {0xF4, 0x90, 0x20AC, 0x20AC}},
        {"lead F5", bytesOf({0xF5, 0x80, 0x80, 0x80}), {0xF5, 0x20AC, 0x20AC, 0x20AC}},
        {"truncated three", bytesOf({0xE2, 0x82}), {0xE2, 0x201A}},
        {"truncated then ascii", bytesOf({0xE2, 0x82, 'A'}), {0xE2, 0x201A, 'A'}},
        {"truncated four", bytesOf({0xF0, 0x9F, 0x98}), {0xF0, 0x0178, 0x02DC}},
        {"lone lead at end", bytesOf({'x', 0xC3}), {'x', 0xC3}},
        {"lone continuation", bytesOf({0x80}), {0x20AC}},
        {"continuation after valid", bytesOf({0xC3, 0xA9, 0xA9}), {0xE9, 0xA9}},
        {"bytes FE FF", bytesOf({0xFE, 0xFF}), {0xFE, 0xFF}},
        {"mixed",
         bytesOf({'a', 0xE9, 'b', 0xC3, 0xA9, 0x93, 'q', 0x94}),
         {'a', 0xE9, 'b', 0xE9, 0x201C, 'q', 0x201D}},
        {"ascii run then 1252",
         QByteArray("abcdefghijklmnop") + bytesOf({0x99}) + "0123456789",
         {'a', 'b', 'c',    'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n',
          'o', 'p', 0x2122, '0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}},
        {"ascii run then four bytes",
         QByteArray("12345678x") + bytesOf({0xF0, 0x9F, 0x98, 0x80}) + "y",
         {'1', '2', '3', '4', '5', '6', '7', '8', 'x', 0x1F600, 'y'}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(codePoints(tab::gui::decodeText(c.bytes)), c.expected);
    }
}

TEST(FileHelpersDecode, HighBytesAloneAreWindows1252) {
    struct Case {
        int byte;
        char32_t expected;
    };
    // 0x80..0x9F in full: 27 defined characters and 5 undefined bytes.
    const Case cases[] = {
        {0x80, 0x20AC}, {0x81, 0x0081}, {0x82, 0x201A}, {0x83, 0x0192}, {0x84, 0x201E},
        {0x85, 0x2026}, {0x86, 0x2020}, {0x87, 0x2021}, {0x88, 0x02C6}, {0x89, 0x2030},
        {0x8A, 0x0160}, {0x8B, 0x2039}, {0x8C, 0x0152}, {0x8D, 0x008D}, {0x8E, 0x017D},
        {0x8F, 0x008F}, {0x90, 0x0090}, {0x91, 0x2018}, {0x92, 0x2019}, {0x93, 0x201C},
        {0x94, 0x201D}, {0x95, 0x2022}, {0x96, 0x2013}, {0x97, 0x2014}, {0x98, 0x02DC},
        {0x99, 0x2122}, {0x9A, 0x0161}, {0x9B, 0x203A}, {0x9C, 0x0153}, {0x9D, 0x009D},
        {0x9E, 0x017E}, {0x9F, 0x0178}, {0xA0, 0x00A0}, {0xC0, 0x00C0}, {0xC3, 0x00C3},
        {0xE9, 0x00E9}, {0xF4, 0x00F4}, {0xFF, 0x00FF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.byte);
        // Alone, between ASCII letters, and at the end after a long ASCII run.
        EXPECT_EQ(codePoints(tab::gui::decodeText(bytesOf({c.byte}))),
                  std::vector<char32_t>{c.expected});
        EXPECT_EQ(codePoints(tab::gui::decodeText(bytesOf({'a', c.byte, 'b'}))),
                  (std::vector<char32_t>{'a', c.expected, 'b'}));
        EXPECT_EQ(tab::gui::decodeText(QByteArray("0123456789") + bytesOf({c.byte})).back(),
                  QChar(static_cast<char16_t>(c.expected)));
    }
}

TEST(FileHelpersDecode, AgreesWithTheEngineCodePageDecoderOnEveryHighByte) {
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        SCOPED_TRACE(byte);
        const uint8_t one[] = {static_cast<uint8_t>(byte)};
        const std::string utf8 = tab::codePageToUtf8(one, 1252);
        EXPECT_EQ(tab::gui::decodeText(bytesOf({byte})), QString::fromStdString(utf8));
    }
}

// A slow decoder made of the engine's own pieces: the well-formed sequence
// starting at each byte, else that byte as code page 1252.
QString referenceDecode(const QByteArray& bytes) {
    std::string utf8;
    for (qsizetype i = 0; i < bytes.size();) {
        qsizetype taken = 0;
        for (qsizetype length = 1; length <= 4 && i + length <= bytes.size(); ++length) {
            if (tab::isValidUtf8(std::string_view(bytes.constData() + i, length))) {
                taken = length;
                break;
            }
        }
        if (taken > 0) {
            utf8.append(bytes.constData() + i, taken);
            i += taken;
        } else {
            const uint8_t one[] = {static_cast<uint8_t>(bytes[i])};
            utf8 += tab::codePageToUtf8(one, 1252);
            ++i;
        }
    }
    return QString::fromStdString(utf8);
}

TEST(FileHelpersDecode, RandomBytesMatchTheSlowDecoder) {
    // Bytes from every class: ASCII, continuations, every kind of lead.
    const unsigned char alphabet[] = {'a',  0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF,
                                      0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xEC, 0xED, 0xEE,
                                      0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xFE, 0xFF};
    std::mt19937 random(7);
    for (int round = 0; round < 20000; ++round) {
        QByteArray bytes;
        const int length = static_cast<int>(random() % 24);
        for (int k = 0; k < length; ++k)
            bytes.append(static_cast<char>(alphabet[random() % std::size(alphabet)]));
        SCOPED_TRACE(bytes.toHex(' ').toStdString());
        const QString text = tab::gui::decodeText(bytes);
        ASSERT_EQ(text, referenceDecode(bytes));
        if (tab::isValidUtf8(std::string_view(bytes.constData(), bytes.size()))) {
            ASSERT_EQ(tab::gui::encodeText(text), bytes);
        }
    }
}

TEST(FileHelpersDecode, LargeTextIsExact) {
    // Mostly ASCII lines with one multi-byte character and one 1252 byte each.
    const QByteArray line = QByteArray(60, 'x') + "\xC3\xA9" + "\x80" + "\r\n";
    const int lines = 50'000'000 / line.size();
    QByteArray bytes;
    bytes.reserve(line.size() * lines);
    for (int i = 0; i < lines; ++i) bytes.append(line);

    const QString text = tab::gui::decodeText(bytes);

    const QString expectedLine =
        QString(60, QLatin1Char('x')) + QChar(0xE9) + QChar(0x20AC) + QStringLiteral("\r\n");
    ASSERT_EQ(text.size(), qsizetype{expectedLine.size()} * lines);
    EXPECT_EQ(text.first(expectedLine.size()), expectedLine);
    EXPECT_EQ(text.last(expectedLine.size()), expectedLine);
    EXPECT_EQ(text.count(QChar(0x20AC)), lines);
}

TEST(FileHelpersEncode, WritesUtf8WithoutByteOrderMark) {
    struct Case {
        QString text;
        QByteArray expected;
    };
    const Case cases[] = {
        {QString(), QByteArray()},
        {QStringLiteral("plain"), "plain"},
        {QString(QChar(0xE9)), bytesOf({0xC3, 0xA9})},
        {QString(QChar(0x20AC)), bytesOf({0xE2, 0x82, 0xAC})},
        {QString::fromUcs4(U"\U0001F600", 1), bytesOf({0xF0, 0x9F, 0x98, 0x80})},
        {QString(QChar(0xFEFF)) + QLatin1Char('a'), bytesOf({0xEF, 0xBB, 0xBF, 'a'})},
        {QStringLiteral("a\r\nb"), "a\r\nb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(tab::gui::encodeText(c.text), c.expected);
        EXPECT_EQ(tab::gui::decodeText(tab::gui::encodeText(c.text)), c.text);
    }
}

// --- ReadTextFile -------------------------------------------------------------

TEST_F(FileHelpers, ReadTextFileCases) {
    struct Case {
        const char* name;
        bool create;
        QByteArray bytes;
        QString expected;
    };
    const QString utf16 =
        QString(QChar(255)) + QChar(254) + QChar(97) + QChar(0) + QChar(98) + QChar(0);
    const Case cases[] = {
        {"missing", false, QByteArray(), QString()},
        {"zero length", true, QByteArray(), QStringLiteral("empty file")},
        {"one line without end", true, "SELECT * FROM T", QStringLiteral("SELECT * FROM T")},
        {"crlf kept", true, "a\r\nb\r\n", QStringLiteral("a\r\nb\r\n")},
        {"lf and cr kept", true, "a\nb\rc", QStringLiteral("a\nb\rc")},
        {"utf-16 with bom", true, bytesOf({0xFF, 0xFE, 0x61, 0x00, 0x62, 0x00}), utf16},
        {"utf-8", true, "caf\xC3\xA9", QStringLiteral("caf") + QChar(0xE9)},
        {"windows-1252", true, "caf\xE9 \x93q\x94",
         QStringLiteral("caf") + QChar(0xE9) + QLatin1Char(' ') + QChar(0x201C) + QLatin1Char('q') +
             QChar(0x201D)},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = QStringLiteral("read%1.txt").arg(index++);
        const QString p = c.create ? write(name, c.bytes) : path(name);
        const QString text = tab::gui::ReadTextFile(p);
        EXPECT_EQ(text, c.expected);
        EXPECT_EQ(text.size(), c.expected.size());
    }
}

TEST_F(FileHelpers, ReadTextFileReadsMoreThanOneBuffer) {
    QByteArray bytes;
    for (int i = 0; i < 30'000; ++i) bytes.append(QByteArray::number(i) + "\n");
    ASSERT_GT(bytes.size(), 100'000);
    EXPECT_EQ(tab::gui::ReadTextFile(write(QStringLiteral("big.txt"), bytes)),
              QString::fromLatin1(bytes));
}

TEST_F(FileHelpers, ReadTextFileOfAFolderThrows) {
    const QString folder = path(QStringLiteral("folder"));
    ASSERT_TRUE(QDir().mkdir(folder));
    try {
        tab::gui::ReadTextFile(folder);
        FAIL() << "no Failure";
    } catch (const Failure& failure) {
        EXPECT_TRUE(failure.description().contains(folder)) << failure.what();
    }
}

TEST_F(FileHelpers, ReadTextFileOfAnUnreadableFileThrows) {
    if (runningAsRoot()) GTEST_SKIP() << "root reads every file";
    const QString p = write(QStringLiteral("secret.txt"), "hidden");
    ASSERT_EQ(::chmod(QFile::encodeName(p).constData(), 0), 0);
    try {
        tab::gui::ReadTextFile(p);
        FAIL() << "no Failure";
    } catch (const Failure& failure) {
        EXPECT_TRUE(failure.description().contains(p)) << failure.what();
        EXPECT_TRUE(failure.description().contains(QString::fromLocal8Bit(std::strerror(EACCES))))
            << failure.what();
    }
}

// --- PathExists ---------------------------------------------------------------

TEST_F(FileHelpers, PathExistsCases) {
    const QString file = write(QStringLiteral("file.txt"), "x");
    const QString folder = path(QStringLiteral("folder"));
    ASSERT_TRUE(QDir().mkdir(folder));
    link(file, path(QStringLiteral("good-link")));
    link(path(QStringLiteral("nowhere")), path(QStringLiteral("dangling-link")));

    struct Case {
        const char* name;
        QString path;
        bool expected;
    };
    const Case cases[] = {
        {"empty", QString(), false},
        {"missing", path(QStringLiteral("missing.txt")), false},
        {"in a missing folder", path(QStringLiteral("missing/file.txt")), false},
        {"below a file", file + QStringLiteral("/x"), false},
        {"file", file, true},
        {"folder", folder, true},
        {"link to a file", path(QStringLiteral("good-link")), true},
        // A link to nothing has no modification time of its target.
        {"dangling link", path(QStringLiteral("dangling-link")), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(tab::gui::PathExists(c.path), c.expected);
    }
}

// --- DeleteFileQuietly --------------------------------------------------------

TEST_F(FileHelpers, DeleteFileQuietlyRemovesFiles) {
    struct Case {
        const char* name;
        mode_t mode;
    };
    const Case cases[] = {{"plain", 0644}, {"read-only", 0444}, {"no rights", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString p = write(QString::fromLatin1(c.name), "data");
        ASSERT_EQ(::chmod(QFile::encodeName(p).constData(), c.mode), 0);
        tab::gui::DeleteFileQuietly(p);
        EXPECT_FALSE(QFileInfo::exists(p));
    }
}

TEST_F(FileHelpers, DeleteFileQuietlyInAReadOnlyFolderRestoresTheFolder) {
    // As root the first way already succeeds; the outcome is the same.
    const QString folder = path(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString p = write(QStringLiteral("locked/file.txt"), "data");
    ASSERT_EQ(::chmod(QFile::encodeName(p).constData(), 0444), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
    tab::gui::DeleteFileQuietly(p);
    const bool gone = !QFileInfo::exists(p);
    EXPECT_EQ(modeOf(folder), mode_t{0555});
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    EXPECT_TRUE(gone);
}

TEST_F(FileHelpers, DeleteFileQuietlyNeverThrows) {
    const QString folder = path(QStringLiteral("kept"));
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString cases[] = {
        QString(),
        path(QStringLiteral("missing.txt")),
        path(QStringLiteral("missing/folder/file.txt")),
        folder,
    };
    for (const QString& p : cases) {
        SCOPED_TRACE(p.toStdString());
        EXPECT_NO_THROW(tab::gui::DeleteFileQuietly(p));
    }
    // It deletes files, not folders.
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

TEST_F(FileHelpers, DeleteFileQuietlyRemovesALinkNotItsTarget) {
    const QString target = write(QStringLiteral("target.txt"), "keep me");
    const QString folder = path(QStringLiteral("target-folder"));
    ASSERT_TRUE(QDir().mkdir(folder));
    struct Case {
        const char* name;
        QString target;
    };
    const Case cases[] = {{"to a file", target},
                          {"to a folder", folder},
                          {"dangling", path(QStringLiteral("nowhere"))}};
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString linkPath = path(QStringLiteral("link%1").arg(index++));
        link(c.target, linkPath);
        tab::gui::DeleteFileQuietly(linkPath);
        EXPECT_FALSE(isSymlink(linkPath));
    }
    EXPECT_EQ(read(target), "keep me");
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

TEST_F(FileHelpers, DeleteFileQuietlyLetsPendingMessagesRun) {
    bool ran = false;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&ran] { ran = true; }, Qt::QueuedConnection);
    tab::gui::DeleteFileQuietly(path(QStringLiteral("missing.txt")));
    EXPECT_TRUE(ran);
}

// --- Work files -----------------------------------------------------------------

using WorkWriter = std::function<void(const QString&, QByteArrayView)>;

struct Writer {
    const char* name;
    WorkWriter write;
};

const Writer kWriters[] = {{"append", tab::gui::appendToWorkFile},
                           {"replace", tab::gui::replaceWorkFile}};

TEST_F(FileHelpers, WorkFilesAreCreatedOwnerOnlyWhateverTheUmask) {
    const mode_t masks[] = {0, 022, 0277};
    int index = 0;
    for (const Writer& w : kWriters) {
        for (const mode_t mask : masks) {
            SCOPED_TRACE(std::string(w.name) + " umask " + std::to_string(mask));
            const QString p = path(QStringLiteral("work%1").arg(index++));
            {
                UmaskGuard guard(mask);
                w.write(p, "line\n");
            }
            EXPECT_EQ(modeOf(p), mode_t{0600});
            EXPECT_EQ(read(p), "line\n");
        }
    }
}

TEST_F(FileHelpers, WorkFilesKeepTheModeOfAnExistingFile) {
    int index = 0;
    for (const Writer& w : kWriters) {
        SCOPED_TRACE(w.name);
        const QString p = write(QStringLiteral("existing%1").arg(index++), "old\n");
        ASSERT_EQ(::chmod(QFile::encodeName(p).constData(), 0644), 0);
        w.write(p, "new\n");
        EXPECT_EQ(modeOf(p), mode_t{0644});
    }
}

TEST_F(FileHelpers, WorkFilesAreNeverWrittenThroughALink) {
    int index = 0;
    for (const Writer& w : kWriters) {
        SCOPED_TRACE(w.name);
        const QString target = write(QStringLiteral("target%1").arg(index), "untouched");
        const QString linkPath = path(QStringLiteral("link%1").arg(index));
        const QString missing = path(QStringLiteral("missing%1").arg(index));
        const QString danglingPath = path(QStringLiteral("dangling%1").arg(index));
        ++index;
        link(target, linkPath);
        link(missing, danglingPath);
        try {
            w.write(linkPath, "evil");
            ADD_FAILURE() << "no Failure";
        } catch (const Failure& failure) {
            EXPECT_TRUE(failure.description().contains(QStringLiteral("is a symbolic link")))
                << failure.what();
            EXPECT_TRUE(failure.description().contains(linkPath)) << failure.what();
        }
        EXPECT_THROW(w.write(danglingPath, "evil"), Failure);
        EXPECT_EQ(read(target), "untouched");
        EXPECT_FALSE(QFileInfo::exists(missing));
        EXPECT_TRUE(isSymlink(linkPath));
    }
}

TEST_F(FileHelpers, WorkFilesRefuseWhatIsNotARegularFile) {
    const QString folder = path(QStringLiteral("folder"));
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString fifo = path(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString cases[] = {folder, fifo, path(QStringLiteral("missing/file")), QString()};
    for (const Writer& w : kWriters) {
        for (const QString& p : cases) {
            SCOPED_TRACE(std::string(w.name) + " " + p.toStdString());
            // A FIFO without a reader must fail at once, not block.
            EXPECT_THROW(w.write(p, "x"), Failure);
        }
    }
}

TEST_F(FileHelpers, AppendingConcatenatesAndReplacingTruncates) {
    const QString p = path(QStringLiteral("history"));
    tab::gui::appendToWorkFile(p, "first\n");
    tab::gui::appendToWorkFile(p, "second\n");
    EXPECT_EQ(read(p), "first\nsecond\n");
    tab::gui::replaceWorkFile(p, "a much longer replacement line\n");
    EXPECT_EQ(read(p), "a much longer replacement line\n");
    tab::gui::replaceWorkFile(p, "short");
    EXPECT_EQ(read(p), "short");
    tab::gui::replaceWorkFile(p, QByteArrayView());
    EXPECT_EQ(read(p), QByteArray());
    tab::gui::appendToWorkFile(p, "after");
    EXPECT_EQ(read(p), "after");

    QByteArray big(5 << 20, '\0');
    for (qsizetype i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
    tab::gui::replaceWorkFile(p, big);
    EXPECT_EQ(read(p), big);
}

TEST_F(FileHelpers, WorkFilesInAReadOnlyFolderThrow) {
    if (runningAsRoot()) GTEST_SKIP() << "root writes in every folder";
    const QString folder = path(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkdir(folder));
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
    for (const Writer& w : kWriters) {
        SCOPED_TRACE(w.name);
        try {
            w.write(folder + QStringLiteral("/history"), "x");
            ADD_FAILURE() << "no Failure";
        } catch (const Failure& failure) {
            EXPECT_TRUE(
                failure.description().contains(QString::fromLocal8Bit(std::strerror(EACCES))))
                << failure.what();
        }
    }
    ::chmod(QFile::encodeName(folder).constData(), 0755);
}

// --- Work files of another user ---------------------------------------------

TEST_F(FileHelpers, WorkFilesOfAnotherUserAreNeitherReadNorWritten) {
    struct Operation {
        const char* name;
        bool checksOwner;
        std::function<QString(const QString&)> run;  // what it read, if anything
        QString result;                              // on our own file
        QByteArray after;                            // our own file afterwards
    };
    const Operation operations[] = {
        {"ReadWorkFile", true, [](const QString& p) { return tab::gui::ReadWorkFile(p); },
         QStringLiteral("one\r\n"), "one\r\n"},
        {"appendToWorkFile", true,
         [](const QString& p) {
             tab::gui::appendToWorkFile(p, "two\r\n");
             return QString();
         },
         QString(), "one\r\ntwo\r\n"},
        {"WorkFile::openForAppend", true,
         [](const QString& p) {
             tab::gui::WorkFile file;
             file.openForAppend(p);
             file.write("two\r\n");
             file.close();
             return QString();
         },
         QString(), "one\r\ntwo\r\n"},
        {"replaceWorkFile", true,
         [](const QString& p) {
             tab::gui::replaceWorkFile(p, "two\r\n");
             return QString();
         },
         QString(), "two\r\n"},
        // Fixed files beside the program belong to root and must stay readable.
        {"ReadTextFile", false, [](const QString& p) { return tab::gui::ReadTextFile(p); },
         QStringLiteral("one\r\n"), "one\r\n"},
    };
    int index = 0;
    for (const Operation& op : operations) {
        for (const bool foreign : {false, true}) {
            SCOPED_TRACE(std::string(op.name) + (foreign ? ", another user's file" : ", ours"));
            if (foreign && !runningAsRoot()) continue;
            const QString p = write(QStringLiteral("owned%1").arg(index++), "one\r\n");
            if (foreign) {
                ASSERT_TRUE(giveToOtherUser(p));
            }
            if (foreign && op.checksOwner) {
                try {
                    op.run(p);
                    ADD_FAILURE() << "no Failure";
                } catch (const Failure& failure) {
                    EXPECT_TRUE(failure.description().contains(p)) << failure.what();
                    EXPECT_TRUE(
                        failure.description().contains(QStringLiteral("belongs to another user")))
                        << failure.what();
                }
                EXPECT_EQ(read(p), "one\r\n");
            } else {
                QString result;
                EXPECT_NO_THROW(result = op.run(p));
                EXPECT_EQ(result, op.result);
                EXPECT_EQ(read(p), op.after);
            }
        }
    }
}

TEST_F(FileHelpers, ReadWorkFileCases) {
    const QString target = write(QStringLiteral("target"), "secret");
    link(target, path(QStringLiteral("link")));
    link(path(QStringLiteral("nowhere")), path(QStringLiteral("dangling")));
    ASSERT_TRUE(QDir().mkdir(path(QStringLiteral("folder"))));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path(QStringLiteral("fifo"))).constData(), 0600), 0);
    struct Case {
        const char* name;
        QString path;
        bool throws;
        QString expected;
    };
    const Case cases[] = {
        {"missing", path(QStringLiteral("missing")), false, QString()},
        {"in a missing folder", path(QStringLiteral("missing/LogFile.log")), false, QString()},
        {"empty path", QString(), false, QString()},
        {"zero length", write(QStringLiteral("zero"), QByteArray()), false,
         QStringLiteral("empty file")},
        {"text", write(QStringLiteral("text"), "a\r\ncaf\xE9"), false,
         QStringLiteral("a\r\ncaf") + QChar(0xE9)},
        {"link to our file", path(QStringLiteral("link")), true, QString()},
        {"dangling link", path(QStringLiteral("dangling")), true, QString()},
        {"folder", path(QStringLiteral("folder")), true, QString()},
        // Without a writer a FIFO must fail at once, not block.
        {"fifo", path(QStringLiteral("fifo")), true, QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.throws) {
            try {
                tab::gui::ReadWorkFile(c.path);
                ADD_FAILURE() << "no Failure";
            } catch (const Failure& failure) {
                EXPECT_TRUE(failure.description().contains(c.path)) << failure.what();
            }
        } else {
            EXPECT_EQ(tab::gui::ReadWorkFile(c.path), c.expected);
        }
    }
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("nowhere"))));
}

// --- The work folder ------------------------------------------------------------

TEST_F(FileHelpers, TempIsUsedOnlyWhenItNamesAPrivateFolderOfOurs) {
    const EnvironmentGuard environment({"TEMP", "XDG_STATE_HOME"});
    qputenv("XDG_STATE_HOME", QFile::encodeName(path(QStringLiteral("state"))));
    const QString privateFolder = path(QStringLiteral("state/tabulary"));
    const auto folder = [&](const char* name, mode_t mode) {
        const QString p = path(QString::fromLatin1(name));
        EXPECT_TRUE(QDir().mkdir(p));
        EXPECT_EQ(::chmod(QFile::encodeName(p).constData(), mode), 0);
        return p;
    };
    const QString ours = folder("ours", 0700);
    const QString readable = folder("readable", 0755);
    const QString shared = folder("shared", 0777);
    const QString group = folder("group", 0770);
    const QString others = folder("others", 0702);
    const QString sticky = folder("sticky", 01777);
    const QString foreign = folder("foreign", 0700);
    const bool gaveAway = runningAsRoot() && giveToOtherUser(foreign);
    link(ours, path(QStringLiteral("link")));
    const QString file = write(QStringLiteral("file"), "x");
    const QString missing = path(QStringLiteral("missing"));

    struct Case {
        const char* name;
        bool set;
        QString value;
        QString expected;
        bool needsOtherUser = false;
    };
    const Case cases[] = {
        {"unset", false, QString(), privateFolder},
        {"empty", true, QString(), privateFolder},
        {"private folder of ours", true, ours, ours},
        {"ours, readable by others", true, readable, readable},
        {"trailing separators left out", true, ours + QStringLiteral("//"), ours},
        {"writable by everyone", true, shared, privateFolder},
        {"writable by the group", true, group, privateFolder},
        {"writable by others", true, others, privateFolder},
        {"sticky and shared", true, sticky, privateFolder},
        {"owned by another user", true, foreign, privateFolder, true},
        {"link to a folder of ours", true, path(QStringLiteral("link")), privateFolder},
        {"link with a trailing separator", true, path(QStringLiteral("link/")), privateFolder},
        {"a file", true, file, privateFolder},
        {"missing", true, missing, privateFolder},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsOtherUser && !gaveAway) continue;
        if (c.set)
            qputenv("TEMP", QFile::encodeName(c.value));
        else
            qunsetenv("TEMP");
        EXPECT_EQ(tab::gui::tempFolder(), c.expected);
    }
    EXPECT_EQ(modeOf(privateFolder), mode_t{0700});
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_EQ(modeOf(shared), mode_t{0777});
}

}  // namespace
