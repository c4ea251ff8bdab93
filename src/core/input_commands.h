#pragma once
// Command lines of the system actions that run a child process.
#include <array>
#include <span>
#include <string>
#include <string_view>

namespace korvex {

// The PowerShell script that moves the brightness of every monitor with WMI
// brightness support by +10 or -10 from that of the first one, within 0..100.
std::string brightness_command(bool up);

// The arguments after the program name for the brightness child.
std::array<std::string, 6> brightness_arguments(bool up);

// One argument quoted so that the usual Windows command-line parsing gives it
// back unchanged.
std::string quote_windows_argument(std::string_view argument);

// Program and arguments joined into one Windows command line.
std::string windows_command_line(std::string_view program, std::span<const std::string> arguments);

}  // namespace korvex
