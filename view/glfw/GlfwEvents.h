// What the GLFW callbacks do with one event, apart from the calls that need the window
// itself: the Simulator calls, made with the Windows virtual-key codes and wheel words that
// the Win32 window procedure reports, so the application sees the same input on every
// platform. The callbacks only gather an event and hand it over.
#pragma once

#include <cstdint>

class Simulator;

// The Windows virtual-key code of a GLFW key, or 0 for a key the program has no use for.
std::uint16_t virtualKeyFromGlfw(int glfwKey);

// The high word of a WM_MOUSEWHEEL wParam for a vertical scroll offset: one notch of 120,
// forward (away from the user) positive, as a 16-bit two's complement word.
std::uint16_t wheelWordFromScroll(double yOffset);

// One GLFW callback's arguments; only the fields of its type are read.
struct GlfwEvent {
    enum Type { Key, Iconify, FramebufferSize, CursorPos, MouseButton, Scroll, Refresh, Drop };
    Type type;
    int code = 0;            // Key: the GLFW key; MouseButton: the GLFW button
    int action = 0;          // Key, MouseButton: GLFW_PRESS, GLFW_REPEAT or GLFW_RELEASE
    bool iconified = false;  // Iconify
    // FramebufferSize: the drawable size in pixels; CursorPos: the window's size in screen
    // coordinates, which the cursor position is in.
    int width = 0, height = 0;
    double x = 0.0, y = 0.0;  // CursorPos: the cursor; Scroll: the offsets
    int count = 0;            // Drop: the paths dropped
    const char* const* paths = nullptr;
};

// Keys: a press and every auto-repeat set the key, a release clears it; keys of no use are
// ignored. Cursor positions outside the window (X11 reports them during a drag) are ignored,
// as Windows never reports them without capture. Left and right buttons only; a scroll of
// zero is no wheel message. A drop hands over the first path and the count.
void handleGlfwEvent(Simulator& app, const GlfwEvent& event);
