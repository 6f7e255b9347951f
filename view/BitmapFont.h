// The program's own small bitmap font for text drawn in the picture (the help overlay):
// printable ASCII in cells of 5 by 9 pixels, seven rows down to the baseline and two for
// descenders. Plain data, no GL; view/HelpOverlay.cpp turns lit pixels into quads.
#pragma once

#include <cstdint>

namespace font {

constexpr int glyphWidth = 5;
constexpr int glyphHeight = 9;
constexpr int advance = glyphWidth + 1;      // pixels from one character to the next
constexpr int lineHeight = glyphHeight + 1;  // pixels from one line to the next
constexpr char firstCharacter = ' ';
constexpr char lastCharacter = '~';

// The glyph's rows from the top; bit 4 is the leftmost column. A character outside
// printable ASCII is drawn as '?'.
const std::uint8_t* glyphRows(char c);

// Whether the pixel in `column` (0 left) of `row` (0 top) of the glyph of `c` is lit.
bool pixelLit(char c, int column, int row);

}  // namespace font
