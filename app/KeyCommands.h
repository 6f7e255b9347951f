// The keyboard commands of the main loop, acted on once per idle pass in a fixed order.
// Keys are Windows virtual-key codes whichever window system reports them.
#pragma once

#include <cstdint>

class ImplicitSurface;
class Simulator;

namespace vk {
constexpr std::uint16_t escape = 0x1B;
constexpr std::uint16_t space = 0x20;
constexpr std::uint16_t home = 0x24;
constexpr std::uint16_t insert = 0x2D;
constexpr std::uint16_t del = 0x2E;
constexpr std::uint16_t numpad2 = 0x62;
constexpr std::uint16_t numpad6 = 0x66;
constexpr std::uint16_t add = 0x6B;       // numeric keypad plus
constexpr std::uint16_t subtract = 0x6D;  // numeric keypad minus
constexpr std::uint16_t decimal = 0x6E;
constexpr std::uint16_t divide = 0x6F;
constexpr std::uint16_t f1 = 0x70;
constexpr std::uint16_t f4 = 0x73;
constexpr std::uint16_t f5 = 0x74;
constexpr std::uint16_t oemPlus = 0xBB;   // the main-row key of = and +
constexpr std::uint16_t oemMinus = 0xBD;  // the main-row key of - and _
}  // namespace vk

// The step of one density key, and the least density the keys lower it to: at 0 and
// below the desired floater radius would be 0 or negative.
constexpr double densityStep = 0.05;
constexpr double minimumDensity = 0.05;

// Acts on every key that is down, in the table's order; Insert and Delete change
// `system`, the one the program made at start (or opened from a dropped file), after
// recording the model for undo. After the described keys: the main-row + and - with the
// keypad's, Ctrl+Z (undo), Ctrl+Y (redo), F1 or H (help), Home (frame the sample), E
// (write mesh.obj). False when Escape is down: then nothing else is done and no frame
// may run.
bool applyKeyCommands(Simulator& app, ImplicitSurface* system, double& density);

// `density` lowered by one step, or unchanged when that would go below the minimum.
double lowerDensity(double density);
