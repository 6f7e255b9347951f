// GLFW's input codes turned into what the Windows window procedure would report, so the
// application sees the same virtual-key codes and wheel words on every platform.
#pragma once

#include <cstdint>

// The Windows virtual-key code of a GLFW key, or 0 for a key the program has no use for.
std::uint16_t virtualKeyFromGlfw(int glfwKey);

// The high word of a WM_MOUSEWHEEL wParam for a vertical scroll offset: one notch of 120,
// forward (away from the user) positive, as a 16-bit two's complement word.
std::uint16_t wheelWordFromScroll(double yOffset);
