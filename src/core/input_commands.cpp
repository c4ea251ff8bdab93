#include "core/input_commands.h"

namespace korvex {

std::string brightness_command(bool up) {
    std::string text =
        "$b=(Get-CimInstance -Namespace root/WMI -ClassName WmiMonitorBrightness | Select-Object -First "
        "1).CurrentBrightness;$n=[Math]::Min(100,[Math]::Max(0,$b+(";
    text += up ? "10" : "-10";
    text +=
        ")));Get-CimInstance -Namespace root/WMI -ClassName WmiMonitorBrightnessMethods | ForEach-Object { $_ | "
        "Invoke-CimMethod -MethodName WmiSetBrightness -Arguments @{Timeout=1;Brightness=$n} | Out-Null }";
    return text;
}

std::array<std::string, 6> brightness_arguments(bool up) {
    return {"-NoProfile", "-NonInteractive", "-WindowStyle", "Hidden", "-Command", brightness_command(up)};
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
