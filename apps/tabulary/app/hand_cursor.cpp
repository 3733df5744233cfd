#include "app/hand_cursor.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <cstdint>

#include "app/failure.h"

namespace tab::gui {

namespace {

// Far above any real cursor; a bigger file is refused before it is read whole.
constexpr qint64 kMaxFileBytes = 1024 * 1024;
constexpr qint64 kDirectoryBytes = 6;
constexpr qint64 kEntryBytes = 16;
constexpr qint64 kInfoHeaderBytes = 40;

// Little-endian reads, each checked against the buffer's end.
class Bytes {
public:
    explicit Bytes(const QByteArray& data) : m_data(data) {}
    qint64 size() const { return m_data.size(); }
    bool has(qint64 offset, qint64 count) const {
        return offset >= 0 && count >= 0 && offset <= size() && count <= size() - offset;
    }
    std::uint32_t u8(qint64 at) const { return static_cast<std::uint8_t>(m_data[at]); }
    std::uint32_t u16(qint64 at) const { return u8(at) | (u8(at + 1) << 8); }
    std::uint32_t u32(qint64 at) const { return u16(at) | (u16(at + 2) << 16); }

private:
    const QByteArray& m_data;
};

[[noreturn]] void damaged(const QString& path, const QString& why) {
    throw Failure(QStringLiteral("The cursor file %1 is damaged: %2.")
                      .arg(QDir::toNativeSeparators(path), why));
}

QByteArray readBounded(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw Failure(QStringLiteral("The cursor file %1 cannot be read: %2.")
                          .arg(QDir::toNativeSeparators(path), file.errorString()));
    }
    // One byte more than allowed tells a too-big file from one exactly at the
    // limit, also where size() cannot be trusted.
    const QByteArray data = file.read(kMaxFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        throw Failure(QStringLiteral("The cursor file %1 cannot be read: %2.")
                          .arg(QDir::toNativeSeparators(path), file.errorString()));
    }
    if (data.size() > kMaxFileBytes) {
        throw Failure(
            QStringLiteral("The file %1 is too big for a cursor file (more than %2 bytes).")
                .arg(QDir::toNativeSeparators(path))
                .arg(kMaxFileBytes));
    }
    return data;
}

// A picture stored as a device-independent bitmap must hold all the rows its
// header announces; Qt would otherwise read past the picture into whatever
// follows it in the file.
void checkBitmap(const QString& path, const Bytes& bytes, qint64 offset, qint64 size,
                 qint64 entryWidth, qint64 entryHeight) {
    if (size < kInfoHeaderBytes) damaged(path, QStringLiteral("the picture has no header"));
    const qint64 headerBytes = bytes.u32(offset);
    const qint64 width = static_cast<std::int32_t>(bytes.u32(offset + 4));
    const qint64 doubleHeight = static_cast<std::int32_t>(bytes.u32(offset + 8));
    const qint64 planes = bytes.u16(offset + 12);
    const qint64 bitCount = bytes.u16(offset + 14);
    const qint64 compression = bytes.u32(offset + 16);
    const qint64 coloursUsed = bytes.u32(offset + 32);
    if (headerBytes < kInfoHeaderBytes || headerBytes > size) {
        damaged(path, QStringLiteral("the picture's header has a wrong size"));
    }
    if (width < 1 || width > 256 || doubleHeight < 2 || doubleHeight > 512 || doubleHeight % 2) {
        damaged(path, QStringLiteral("the picture's size is impossible"));
    }
    // The directory says 0 for 256.
    if (width != (entryWidth == 0 ? 256 : entryWidth) ||
        doubleHeight / 2 != (entryHeight == 0 ? 256 : entryHeight)) {
        damaged(path, QStringLiteral("the picture's size differs from the directory's"));
    }
    if (planes != 1 || compression != 0) {
        damaged(path, QStringLiteral("the picture is stored in an unknown way"));
    }
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32) {
        damaged(path, QStringLiteral("the picture has an unknown colour depth"));
    }
    qint64 paletteEntries = 0;
    if (bitCount <= 8) {
        paletteEntries = coloursUsed != 0 ? coloursUsed : (qint64{1} << bitCount);
        if (paletteEntries > 256) damaged(path, QStringLiteral("the picture's palette is too big"));
    }
    const qint64 height = doubleHeight / 2;
    const qint64 colourRow = (width * bitCount + 31) / 32 * 4;
    const qint64 maskRow = (width + 31) / 32 * 4;
    const qint64 needed = headerBytes + paletteEntries * 4 + height * (colourRow + maskRow);
    if (needed > size) damaged(path, QStringLiteral("the picture is cut short"));
}

}  // namespace

QCursor loadCursorFile(const QString& path) {
    const QByteArray data = readBounded(path);
    const Bytes bytes(data);
    if (!bytes.has(0, kDirectoryBytes + kEntryBytes)) {
        damaged(path, QStringLiteral("it is too short for a cursor file"));
    }
    const std::uint32_t reserved = bytes.u16(0);
    const std::uint32_t type = bytes.u16(2);
    const std::uint32_t count = bytes.u16(4);
    if (reserved != 0) damaged(path, QStringLiteral("its header does not start with zero"));
    if (type != 2) {
        throw Failure(QStringLiteral("The file %1 is not a cursor file (%2).")
                          .arg(QDir::toNativeSeparators(path),
                               type == 1
                                   ? QStringLiteral("it is an icon")
                                   : QStringLiteral("its header gives the type %1").arg(type)));
    }
    if (count == 0) damaged(path, QStringLiteral("it holds no picture"));
    const qint64 directoryEnd = kDirectoryBytes + kEntryBytes * count;
    if (!bytes.has(0, directoryEnd)) damaged(path, QStringLiteral("its directory is cut short"));

    // For cursors the entry's planes and bit-count fields hold the hot spot.
    const qint64 entry = kDirectoryBytes;
    const int hotX = static_cast<int>(bytes.u16(entry + 4));
    const int hotY = static_cast<int>(bytes.u16(entry + 6));
    const qint64 pictureBytes = bytes.u32(entry + 8);
    const qint64 pictureOffset = bytes.u32(entry + 12);
    if (pictureOffset < directoryEnd || !bytes.has(pictureOffset, pictureBytes)) {
        damaged(path, QStringLiteral("its picture lies outside the file"));
    }

    static constexpr char kPngMagic[] = "\x89PNG\r\n\x1a\n";
    const bool png = pictureBytes >= 8 && data.mid(pictureOffset, 8) == QByteArray(kPngMagic, 8);
    if (!png) {
        checkBitmap(path, bytes, pictureOffset, pictureBytes, bytes.u8(entry), bytes.u8(entry + 1));
    }

    // Qt's "cur" reader takes type-2 files as they are. It is given a copy
    // that holds only the first picture, so that it cannot wander into the
    // rest of the file.
    QByteArray single = data.left(kDirectoryBytes + kEntryBytes);
    single[4] = 1;
    single[5] = 0;
    const auto offset = static_cast<std::uint32_t>(kDirectoryBytes + kEntryBytes);
    for (int i = 0; i < 4; ++i) single[18 + i] = static_cast<char>((offset >> (8 * i)) & 0xFFu);
    single.append(data.constData() + pictureOffset, pictureBytes);

    const QImage image = QImage::fromData(single, "cur");
    if (image.isNull()) damaged(path, QStringLiteral("its picture cannot be read"));
    // A hot spot off the picture would point somewhere the user cannot see;
    // such a file is refused rather than guessed at.
    if (hotX >= image.width() || hotY >= image.height()) {
        damaged(path, QStringLiteral("its hot spot (%1, %2) lies outside the %3x%4 picture")
                          .arg(hotX)
                          .arg(hotY)
                          .arg(image.width())
                          .arg(image.height()));
    }
    return QCursor(QPixmap::fromImage(image), hotX, hotY);
}

}  // namespace tab::gui
