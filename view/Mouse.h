// The mouse camera as plain rules: which camera angles a drag turns in each rotation
// mode, and how a wheel message zooms.
#pragma once

#include <cstdint>

struct CameraTurn {
    int x = 0, y = 0, z = 0;  // whole degrees added to rotX, rotY, rotZ
};

// One degree per pixel. Mode 0: dx turns about y, dy about x; mode 1: dx about z, dy
// about x; mode 2: dx about y, dy about z.
CameraTurn rotationFor(int mode, int dx, int dy);

// The zoom of one wheel message, from the high word of its wParam: a signed delta, so a
// word of 0x8000 or more is the wheel turned toward the user, which moves the camera back.
int wheelZoom(std::uint16_t word);

// Pick radius around the cursor, in normalised device units.
constexpr double pickRadius = 0.05;

// A cursor position in normalised device coordinates: -1 to 1 across the viewport, y up.
struct DeviceCursor {
    double x = 0.0, y = 0.0;
};

// The cursor at client pixel (x, y), rows growing downward, in normalised device
// coordinates of `viewport` (x0, y0, width, height, as GL reports it).
DeviceCursor cursorToDevice(int x, int y, const double viewport[4]);

// The GL window row, counted upward from the bottom, of client pixel row `y`, counted
// downward from the top, in a viewport `viewportHeight` rows high at the window's origin.
int windowRowFromCursor(int viewportHeight, int y);
