// The icon at every size the theme gets: the drawn shapes match the 32-pixel
// bitmap of the window icon, and larger sizes keep the design's parts in
// place: transparent around, white sheets and pointer, black outlines.
#include "view/icon.h"

#include <gtest/gtest.h>

#include <QImage>

#include "view/window_fixture.h"

namespace {

enum class Ink { None, White, Black, Grey };

Ink ink(const QImage& image, int x, int y) {
    const QColor c = image.pixelColor(x, y);
    if (c.alpha() < 64) return Ink::None;
    if (c.alpha() > 192 && c.lightness() > 192) return Ink::White;
    if (c.alpha() > 192 && c.lightness() < 64) return Ink::Black;
    return Ink::Grey;
}

// The point at (X, Y) of the 32-unit design, in a SIZE-pixel image.
Ink ink_at(const QImage& image, double x, double y) {
    const double unit = image.width() / 32.0;
    return ink(image, static_cast<int>(x * unit), static_cast<int>(y * unit));
}

TEST(Icon, DrawnAt32MatchesTheBitmapOfTheWindowIcon) {
    qm::test::qt_app();
    const QImage bitmap = qm::view::icon_pixmap(32).toImage();
    const QImage drawn = qm::view::drawn_icon(32).toImage();
    ASSERT_EQ(bitmap.size(), QSize(32, 32));
    ASSERT_EQ(drawn.size(), QSize(32, 32));
    int differ = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) differ += ink(bitmap, x, y) != ink(drawn, x, y);
    // Only the pointer's slanted edges, smoothed in the drawing, may differ.
    EXPECT_LE(differ, 30);
}

TEST(Icon, EveryThemeSizeHasTheDesignsParts) {
    qm::test::qt_app();
    for (int size : {16, 32, 48, 64, 128, 256}) {
        SCOPED_TRACE(size);
        const QImage image = qm::view::icon_pixmap(size).toImage();
        ASSERT_EQ(image.size(), QSize(size, size));
        EXPECT_EQ(ink_at(image, 31.5, 0.5), Ink::None);  // around the sheets
        EXPECT_EQ(ink_at(image, 0.2, 31.5), Ink::None);
        if (size < 48) continue;                           // the bitmaps' own layout
        EXPECT_EQ(ink_at(image, 8.5, 1.5), Ink::Black);    // back sheet's top edge
        EXPECT_EQ(ink_at(image, 3.5, 10.5), Ink::White);   // back sheet
        EXPECT_EQ(ink_at(image, 14.5, 16.5), Ink::White);  // front sheet
        EXPECT_EQ(ink_at(image, 23.5, 11.5), Ink::Black);  // front sheet's right edge
        EXPECT_EQ(ink_at(image, 21.0, 20.5), Ink::White);  // the pointer
        EXPECT_EQ(ink_at(image, 19.5, 20.5), Ink::Black);  // the pointer's left edge
        EXPECT_EQ(ink_at(image, 28.5, 25.5), Ink::None);   // beside the pointer's tail
    }
}

TEST(Icon, TheWindowIconHoldsEverySize) {
    qm::test::qt_app();
    const QIcon icon = qm::view::app_icon();
    for (int size : {16, 32, 48, 64, 128, 256})
        EXPECT_EQ(icon.pixmap(size, size).size(), QSize(size, size)) << size;
}

}  // namespace
