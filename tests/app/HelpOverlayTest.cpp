// The help overlay's font and layout, without a window.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "view/BitmapFont.h"
#include "view/HelpOverlay.h"

// Each glyph is its own, and no row spills out of the cell: a line of the table dropped
// or doubled while editing would shift or repeat every glyph after it.
TEST(BitmapFont, EveryPrintableCharacterHasItsOwnGlyph) {
    std::set<std::string> seen;
    for (char c = font::firstCharacter; c <= font::lastCharacter; ++c) {
        const std::uint8_t* rows = font::glyphRows(c);
        std::string key(rows, rows + font::glyphHeight);
        int lit = 0;
        for (int row = 0; row < font::glyphHeight; ++row) {
            EXPECT_EQ(rows[row] >> font::glyphWidth, 0) << "'" << c << "' row " << row;
            for (int column = 0; column < font::glyphWidth; ++column)
                lit += font::pixelLit(c, column, row);
        }
        EXPECT_EQ(lit == 0, c == ' ') << "'" << c << "'";
        EXPECT_TRUE(seen.insert(key).second) << "'" << c << "' repeats another glyph";
    }
    // Outside printable ASCII: the question mark.
    EXPECT_EQ(font::glyphRows('\t'), font::glyphRows('?'));
    EXPECT_TRUE(font::pixelLit('|', 2, 0));  // bit 4 is the leftmost column
    EXPECT_FALSE(font::pixelLit('|', 0, 0));
}

// The program's own window (an 800 by 600 window whose client area is a little smaller on
// Windows) shows the help at twice the font's size, all of it; a small window at the
// font's own size.
TEST(HelpOverlay, PanelFitsTheProgramsWindowAtDoubleSize) {
    const HelpLayout layout = layoutHelp(784, 561);
    EXPECT_EQ(layout.scale, 2);
    EXPECT_LE(layout.left + layout.width, 784);
    EXPECT_LE(layout.top + layout.height, 561);
    EXPECT_EQ(layoutHelp(500, 400).scale, 1);
}
