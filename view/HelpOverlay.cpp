#include "view/HelpOverlay.h"

#include <algorithm>
#include <cstring>

#include "view/BitmapFont.h"
#include "view/GL.h"
#include "view/Visualize.h"

namespace {

constexpr int margin = 8;          // window pixels between the window's edge and the panel
constexpr int paddingPixels = 6;   // font pixels between the panel's edge and the text
constexpr int keyIndentChars = 1;  // keys stand one character in from their heading
constexpr int columnGapChars = 2;  // characters between the two columns

// The panel, the headings, the keys and the actions.
constexpr float panelColour[4] = {0.0f, 0.0f, 0.0f, 0.65f};
constexpr float headingColour[3] = {0.55f, 0.85f, 1.0f};
constexpr float keyColour[3] = {1.0f, 0.85f, 0.35f};
constexpr float actionColour[3] = {0.92f, 0.92f, 0.92f};

struct TextWidths {
    int keys = 0, actions = 0;  // characters
};

TextWidths widths() {
    TextWidths w;
    for (const HelpLine& line : helpLines()) {
        if (line.action == nullptr) continue;  // a heading is shorter than the columns
        w.keys = std::max(w.keys, static_cast<int>(std::strlen(line.keys)));
        w.actions = std::max(w.actions, static_cast<int>(std::strlen(line.action)));
    }
    return w;
}

HelpLayout layoutAt(int scale) {
    const TextWidths w = widths();
    HelpLayout layout;
    layout.scale = scale;
    layout.left = margin;
    layout.top = margin;
    layout.padding = paddingPixels * scale;
    layout.actionColumn =
        layout.padding + (keyIndentChars + w.keys + columnGapChars) * font::advance * scale;
    layout.width = layout.actionColumn + w.actions * font::advance * scale + layout.padding;
    layout.height =
        2 * layout.padding + static_cast<int>(helpLines().size()) * font::lineHeight * scale;
    return layout;
}

// One quad per lit font pixel; the caller has begun GL_QUADS.
void text(const char* line, int x, int y, int scale) {
    for (; *line != '\0'; ++line, x += font::advance * scale) {
        for (int row = 0; row < font::glyphHeight; ++row) {
            for (int column = 0; column < font::glyphWidth; ++column) {
                if (!font::pixelLit(*line, column, row)) continue;
                const GLint px = x + column * scale, py = y + row * scale;
                glVertex2i(px, py);
                glVertex2i(px, py + scale);
                glVertex2i(px + scale, py + scale);
                glVertex2i(px + scale, py);
            }
        }
    }
}

}  // namespace

const std::vector<HelpLine>& helpLines() {
    static const std::vector<HelpLine> lines = {
        {"Keys", nullptr},
        {"F1 or H", "this help, on/off"},
        {"Escape", "quit, writing the files unless O is off"},
        {"Space", "cycle which mouse axes turn which angles"},
        {"F or keypad 6", "floaters as disks, on/off"},
        {"N or keypad .", "floater normals, on/off"},
        {"B or keypad 2", "blobs as wire spheres, on/off"},
        {"T or F5", "mesh as filled triangles, on/off"},
        {"M or keypad -", "mesh edges, on/off"},
        {"S or F4", "reveal the mesh triangle by triangle"},
        {"O or keypad /", "write the files at exit, on/off"},
        {"+ (=) or keypad +", "density + 0.05: fewer, larger floaters"},
        {"- or keypad -", "density - 0.05 (keypad -: also edges)"},
        {"Insert", "add a blob of radius 50 at the origin"},
        {"Delete", "remove the oldest blob"},
        {"Ctrl+Z / Ctrl+Y", "undo / redo a drag, Insert or Delete"},
        {"Home", "frame the whole sample"},
        {"E", "write the mesh to mesh.obj now"},
        {"Mouse", nullptr},
        {"left drag", "rotate the view"},
        {"right drag", "pan the view"},
        {"wheel", "zoom"},
        {"Ctrl + move", "pick the floater under the cursor"},
        {"Ctrl + left drag", "pull the surface with the picked floater"},
        {"drop a blob file", "open it (files written first, as at exit)"},
    };
    return lines;
}

HelpLayout layoutHelp(int windowWidth, int windowHeight) {
    const HelpLayout large = layoutAt(2);
    if (large.left + large.width <= windowWidth && large.top + large.height <= windowHeight)
        return large;
    return layoutAt(1);
}

void Visualize::drawHelp() {
    if (!hasContext()) return;
    const HelpLayout layout = layoutHelp(width, height);
    // Flat colours over the picture in window pixels, y downward; everything is put back.
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_COLOR_BUFFER_BIT | GL_TRANSFORM_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0.0, width, height, 0.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();

    glColor4fv(panelColour);
    glBegin(GL_QUADS);
    glVertex2i(layout.left, layout.top);
    glVertex2i(layout.left, layout.top + layout.height);
    glVertex2i(layout.left + layout.width, layout.top + layout.height);
    glVertex2i(layout.left + layout.width, layout.top);
    glEnd();

    glBegin(GL_QUADS);
    int y = layout.top + layout.padding;
    const int x = layout.left + layout.padding;
    for (const HelpLine& line : helpLines()) {
        if (line.action == nullptr) {
            glColor3fv(headingColour);
            text(line.keys, x, y, layout.scale);
        } else {
            glColor3fv(keyColour);
            text(line.keys, x + keyIndentChars * font::advance * layout.scale, y, layout.scale);
            glColor3fv(actionColour);
            text(line.action, layout.left + layout.actionColumn, y, layout.scale);
        }
        y += font::lineHeight * layout.scale;
    }
    glEnd();

    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glPopAttrib();
}
