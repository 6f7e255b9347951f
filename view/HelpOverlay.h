// The help that F1 or H shows over the picture: every key and mouse gesture in two
// columns, in the program's bitmap font on a darkened panel. The text and its layout are
// plain functions; Visualize::drawHelp draws them with plain GL 1.x.
#pragma once

#include <vector>

struct HelpLine {
    const char* keys;    // the key or gesture; a heading when `action` is null
    const char* action;  // what it does
};

// The lines of the help, headings included, in the order they are shown.
const std::vector<HelpLine>& helpLines();

// Where the panel goes in a window, in window pixels from its top left corner.
struct HelpLayout {
    int scale = 1;          // window pixels per font pixel
    int left = 0, top = 0;  // the panel's top left corner
    int width = 0, height = 0;
    int padding = 0;       // between the panel's edge and the text
    int actionColumn = 0;  // x of the action column, from the panel's left edge
};

// Twice the font's size when the panel fits the window so, else the font's own size.
HelpLayout layoutHelp(int windowWidth, int windowHeight);
