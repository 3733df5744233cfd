// The drawn application icon: its sizes, and a glyph in each of them.
#include <gtest/gtest.h>

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPixmap>

#include "app/app_icon.h"

namespace {

TEST(AppIcon, HasTheFourSizes) {
    const QIcon icon = tab::gui::applicationIcon();
    ASSERT_FALSE(icon.isNull());
    const QList<QSize> expected = {QSize(16, 16), QSize(32, 32), QSize(48, 48), QSize(64, 64)};
    EXPECT_EQ(icon.availableSizes(), expected);
}

void expectTableGlyph(const QImage& drawn, int size) {
    const QImage image = drawn.convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(image.size(), QSize(size, size));
    // Corners are left transparent by the rounded card.
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(image.pixel(size - 1, size - 1)), 0);
    // The header band is blue; the body's middle cell is white.
    const QColor band = image.pixelColor(size / 2, size / 4);
    EXPECT_GT(band.blue(), band.red() + 40) << band.name().toStdString();
    const QColor cell = image.pixelColor(size / 2, size * 5 / 8);
    EXPECT_GE(cell.lightness(), 230) << cell.name().toStdString();
}

TEST(AppIcon, EachSizeIsATableGlyph) {
    const QIcon icon = tab::gui::applicationIcon();
    for (const int size : {16, 32, 48, 64}) {
        SCOPED_TRACE(size);
        expectTableGlyph(icon.pixmap(QSize(size, size)).toImage(), size);
    }
}

// The sizes the build renders for the desktop's icon theme.
TEST(AppIcon, ThemeSizesAreTableGlyphs) {
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        SCOPED_TRACE(size);
        expectTableGlyph(tab::gui::applicationIconImage(size), size);
    }
}

TEST(AppIcon, SameImageEveryTime) {
    const QImage first = tab::gui::applicationIcon().pixmap(QSize(32, 32)).toImage();
    const QImage second = tab::gui::applicationIcon().pixmap(QSize(32, 32)).toImage();
    EXPECT_EQ(first, second);
}

}  // namespace
