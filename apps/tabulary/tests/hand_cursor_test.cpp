// The hand cursor: the generator's file, read back byte by byte and through
// loadCursorFile, and damaged cursor files, which must fail cleanly.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdint>
#include <functional>

#include "app/failure.h"
#include "app/hand_cursor.h"

namespace {

using tab::gui::Failure;
using tab::gui::loadCursorFile;

struct GeneratorRun {
    int exitCode = -1;
    QByteArray errors;
};

GeneratorRun runGenerator(const QString& output) {
    QProcess process;
    process.start(QStringLiteral(TABULARY_MAKE_HAND_CURSOR), {output});
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit) {
        return {};
    }
    return {process.exitCode(), process.readAllStandardError()};
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

std::uint32_t le(const QByteArray& bytes, qsizetype at, int width) {
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = (value << 8) | static_cast<std::uint8_t>(bytes.at(at + i));
    }
    return value;
}

void putLe(QByteArray& bytes, qsizetype at, int width, std::uint32_t value) {
    for (int i = 0; i < width; ++i) {
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFFu);
    }
}

class HandCursorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_cursorPath = m_dir.filePath(QStringLiteral("HAND-M.CUR"));
        const GeneratorRun run = runGenerator(m_cursorPath);
        ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
        m_bytes = readAll(m_cursorPath);
        ASSERT_FALSE(m_bytes.isEmpty());
    }

    QTemporaryDir m_dir;
    QString m_cursorPath;
    QByteArray m_bytes;
};

// The drawing puts the fingertip here.
constexpr int kHotX = 11;
constexpr int kHotY = 1;

TEST_F(HandCursorTest, GeneratedHeaderFields) {
    struct Field {
        const char* name;
        qsizetype offset;
        int width;
        std::uint32_t expected;
    };
    const std::uint32_t pictureBytes = 40 + 32 * 32 * 4 + 32 * 4;
    const Field fields[] = {
        {"reserved", 0, 2, 0},
        {"type (cursor)", 2, 2, 2},
        {"count", 4, 2, 1},
        {"entry width", 6, 1, 32},
        {"entry height", 7, 1, 32},
        {"entry colour count", 8, 1, 0},
        {"entry reserved", 9, 1, 0},
        {"hot spot x", 10, 2, kHotX},
        {"hot spot y", 12, 2, kHotY},
        {"bytes in resource", 14, 4, pictureBytes},
        {"picture offset", 18, 4, 22},
        {"info header size", 22, 4, 40},
        {"bitmap width", 26, 4, 32},
        {"bitmap height (colour and mask)", 30, 4, 64},
        {"bitmap planes", 34, 2, 1},
        {"bits per pixel", 36, 2, 32},
        {"compression", 38, 4, 0},
    };
    ASSERT_EQ(m_bytes.size(), 22 + qsizetype{pictureBytes});
    for (const Field& field : fields) {
        EXPECT_EQ(le(m_bytes, field.offset, field.width), field.expected) << field.name;
    }
}

TEST_F(HandCursorTest, GeneratorWritesTheSameBytesEveryRun) {
    const QString second = m_dir.filePath(QStringLiteral("again.cur"));
    ASSERT_EQ(runGenerator(second).exitCode, 0);
    EXPECT_EQ(readAll(second), m_bytes);
}

TEST_F(HandCursorTest, GeneratorReportsAFileItCannotWrite) {
    const GeneratorRun run = runGenerator(m_dir.filePath(QStringLiteral("no-such-dir/HAND-M.CUR")));
    EXPECT_NE(run.exitCode, 0);
    EXPECT_FALSE(run.errors.isEmpty());
}

TEST_F(HandCursorTest, LoadsTheGeneratedCursor) {
    const QCursor cursor = loadCursorFile(m_cursorPath);
    EXPECT_EQ(cursor.hotSpot(), QPoint(kHotX, kHotY));
    const QImage image = cursor.pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(image.size(), QSize(32, 32));

    struct Probe {
        const char* name;
        int x;
        int y;
        QRgb expected;
    };
    const Probe probes[] = {
        {"fingertip outline", kHotX, kHotY, qRgba(0, 0, 0, 255)},
        {"finger fill", kHotX, kHotY + 4, qRgba(255, 255, 255, 255)},
        {"left of the finger", kHotX - 3, kHotY + 4, qRgba(0, 0, 0, 0)},
        {"top left corner", 0, 0, qRgba(0, 0, 0, 0)},
        {"top right corner", 31, 0, qRgba(0, 0, 0, 0)},
        {"bottom left corner", 0, 31, qRgba(0, 0, 0, 0)},
        {"bottom right corner", 31, 31, qRgba(0, 0, 0, 0)},
    };
    for (const Probe& probe : probes) {
        const QRgb pixel = image.pixel(probe.x, probe.y);
        EXPECT_EQ(qAlpha(pixel), qAlpha(probe.expected)) << probe.name;
        if (qAlpha(probe.expected) != 0) {
            EXPECT_EQ(pixel, probe.expected) << probe.name;
        }
    }
}

TEST_F(HandCursorTest, DamagedFilesFail) {
    using Damage = std::function<void(QByteArray&)>;
    struct Case {
        const char* name;
        const char* reason;
        Damage damage;
    };
    constexpr qsizetype picture = 22;
    const Case cases[] = {
        {"empty", "too short", [](QByteArray& b) { b.clear(); }},
        {"5 bytes", "too short", [](QByteArray& b) { b.truncate(5); }},
        {"directory without its entry", "too short", [](QByteArray& b) { b.truncate(21); }},
        {"only the directory and entry", "outside the file", [](QByteArray& b) { b.truncate(22); }},
        {"icon (type 1)", "is an icon", [](QByteArray& b) { putLe(b, 2, 2, 1); }},
        {"type 3", "type 3", [](QByteArray& b) { putLe(b, 2, 2, 3); }},
        {"reserved not zero", "start with zero", [](QByteArray& b) { putLe(b, 0, 2, 1); }},
        {"count 0", "no picture", [](QByteArray& b) { putLe(b, 4, 2, 0); }},
        {"directory past the end", "directory is cut short",
         [](QByteArray& b) { putLe(b, 4, 2, 0xFFFF); }},
        {"offset past the end", "outside the file",
         [](QByteArray& b) { putLe(b, 18, 4, 0x10000); }},
        {"offset inside the directory", "outside the file",
         [](QByteArray& b) { putLe(b, 18, 4, 6); }},
        {"offset overflowing", "outside the file",
         [](QByteArray& b) { putLe(b, 18, 4, 0xFFFFFFFF); }},
        {"size past the end", "outside the file",
         [](QByteArray& b) { putLe(b, 14, 4, le(b, 14, 4) + 1); }},
        {"size overflowing", "outside the file",
         [](QByteArray& b) { putLe(b, 14, 4, 0xFFFFFFFF); }},
        {"file cut inside the picture", "outside the file", [](QByteArray& b) { b.chop(100); }},
        {"truncated picture, sizes agreeing", "cut short",
         [](QByteArray& b) {
             putLe(b, 14, 4, 40 + 100);
             b.truncate(picture + 40 + 100);
         }},
        {"picture smaller than its header", "no header",
         [](QByteArray& b) {
             putLe(b, 14, 4, 39);
             b.truncate(picture + 39);
         }},
        {"garbage picture", "header has a wrong size",
         [](QByteArray& b) {
             b.replace(picture, b.size() - picture, QByteArray(b.size() - picture, '\xA5'));
         }},
        {"garbage after a PNG signature", "cannot be read",
         [](QByteArray& b) { b.replace(picture, 8, QByteArray("\x89PNG\r\n\x1a\n", 8)); }},
        {"header size wrong", "header has a wrong size",
         [](QByteArray& b) { putLe(b, picture, 4, 12); }},
        {"bitmap narrower than the entry", "differs from the directory",
         [](QByteArray& b) { putLe(b, picture + 4, 4, 16); }},
        {"bitmap height odd", "size is impossible",
         [](QByteArray& b) { putLe(b, picture + 8, 4, 63); }},
        {"bitmap height negative", "size is impossible",
         [](QByteArray& b) { putLe(b, picture + 8, 4, 0xFFFFFFC0); }},
        {"unknown colour depth", "colour depth",
         [](QByteArray& b) { putLe(b, picture + 14, 2, 7); }},
        {"compressed bitmap", "unknown way", [](QByteArray& b) { putLe(b, picture + 16, 4, 1); }},
        {"huge palette", "palette is too big",
         [](QByteArray& b) {
             putLe(b, picture + 14, 2, 8);
             putLe(b, picture + 32, 4, 0x10000);
         }},
        {"hot spot x outside", "hot spot (32, 1)", [](QByteArray& b) { putLe(b, 10, 2, 32); }},
        {"hot spot y outside", "hot spot (11, 65535)",
         [](QByteArray& b) { putLe(b, 12, 2, 0xFFFF); }},
        {"more than 1 MiB", "too big",
         [](QByteArray& b) { b.append(1024 * 1024 + 1 - b.size(), '\0'); }},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        QByteArray bytes = m_bytes;
        test.damage(bytes);
        const QString path = m_dir.filePath(QStringLiteral("damaged.cur"));
        writeAll(path, bytes);
        try {
            loadCursorFile(path);
            ADD_FAILURE() << "no failure";
        } catch (const Failure& failure) {
            EXPECT_TRUE(failure.description().contains(QStringLiteral("damaged.cur")))
                << failure.description().toStdString();
            EXPECT_TRUE(failure.description().contains(QLatin1String(test.reason)))
                << failure.description().toStdString();
        }
    }
}

TEST_F(HandCursorTest, SizeLimitIsOneMebibyte) {
    // Bytes after the picture are allowed, up to the limit.
    QByteArray padded = m_bytes;
    padded.append(1024 * 1024 - padded.size(), '\0');
    const QString path = m_dir.filePath(QStringLiteral("padded.cur"));
    writeAll(path, padded);
    EXPECT_EQ(loadCursorFile(path).hotSpot(), QPoint(kHotX, kHotY));
    padded.append('\0');
    writeAll(path, padded);
    EXPECT_THROW(loadCursorFile(path), Failure);
}

TEST_F(HandCursorTest, EveryTruncationFails) {
    const QString path = m_dir.filePath(QStringLiteral("cut.cur"));
    for (qsizetype length = 0; length < m_bytes.size(); length += 7) {
        SCOPED_TRACE(length);
        writeAll(path, m_bytes.left(length));
        EXPECT_THROW(loadCursorFile(path), Failure);
    }
}

TEST_F(HandCursorTest, HeaderBytesFlippedNeverCrash) {
    // Any outcome but a crash or a cursor with its hot spot off the picture.
    const QString path = m_dir.filePath(QStringLiteral("flipped.cur"));
    for (qsizetype at = 0; at < 22 + 40; ++at) {
        for (const char value : {'\x00', '\x01', '\x7F', '\xFF'}) {
            SCOPED_TRACE(testing::Message() << "byte " << at << " = " << int(value));
            QByteArray bytes = m_bytes;
            bytes[at] = value;
            writeAll(path, bytes);
            try {
                const QCursor cursor = loadCursorFile(path);
                const QSize size = cursor.pixmap().size();
                EXPECT_LT(cursor.hotSpot().x(), size.width());
                EXPECT_LT(cursor.hotSpot().y(), size.height());
            } catch (const Failure& failure) {
                EXPECT_FALSE(failure.description().isEmpty());
            }
        }
    }
}

TEST(HandCursorFile, MissingFileFailsWithTheReason) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("absent.cur"));
    try {
        loadCursorFile(path);
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_TRUE(failure.description().contains(QStringLiteral("absent.cur")));
        EXPECT_TRUE(failure.description().contains(QStringLiteral("cannot be read")))
            << failure.description().toStdString();
    }
}

}  // namespace
