#include "core/input_commands.h"

#include <algorithm>

namespace korvex {

std::uint8_t brightness_after(std::uint32_t current, int steps) {
    const std::int64_t level =
        static_cast<std::int64_t>(std::min<std::uint32_t>(current, 100)) + std::int64_t{steps} * kBrightnessStepPercent;
    return static_cast<std::uint8_t>(std::clamp<std::int64_t>(level, 0, 100));
}

int add_brightness_step(int pending, bool up) {
    return std::clamp(pending + (up ? 1 : -1), -kBrightnessMaxSteps, kBrightnessMaxSteps);
}

std::string quote_windows_argument(std::string_view argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos) {
        return std::string(argument);
    }
    // Backslashes are literal unless they precede a quote; those before a
    // quote (or the closing quote) are doubled.
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
        } else if (c == '"') {
            out.append(backslashes + 1, '\\');  // n already written, 2n+1 in all
            out.push_back('"');
            backslashes = 0;
            continue;
        } else {
            backslashes = 0;
        }
        out.push_back(c);
    }
    out.append(backslashes, '\\');
    out.push_back('"');
    return out;
}

std::string windows_command_line(std::string_view program, std::span<const std::string> arguments) {
    std::string line = quote_windows_argument(program);
    for (const auto& argument : arguments) {
        line.push_back(' ');
        line += quote_windows_argument(argument);
    }
    return line;
}

}  // namespace korvex
