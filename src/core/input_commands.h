#pragma once
// The arithmetic of the brightness action, and Windows command lines for
// the actions that run a child process.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace korvex {

// One brightness press moves the level by this many percentage points.
inline constexpr int kBrightnessStepPercent = 10;
// Presses merged into one change are capped at this many steps either way:
// far more than the whole range, and it keeps the sum bounded.
inline constexpr int kBrightnessMaxSteps = 100;

// The level after `steps` presses (negative: darker) from `current`, within
// 0..100, as one change.
std::uint8_t brightness_after(std::uint32_t current, int steps);

// Adds one press to a pending sum, within kBrightnessMaxSteps either way.
int add_brightness_step(int pending, bool up);

// One argument quoted so that the usual Windows command-line parsing gives it
// back unchanged.
std::string quote_windows_argument(std::string_view argument);

// Program and arguments joined into one Windows command line.
std::string windows_command_line(std::string_view program, std::span<const std::string> arguments);

}  // namespace korvex
