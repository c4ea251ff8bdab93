#include "core/input_commands.h"

#include <gtest/gtest.h>

namespace korvex {
namespace {

TEST(InputCommands, BrightnessCommandCarriesTheSignedStep) {
    const std::string head =
        "$b=(Get-CimInstance -Namespace root/WMI -ClassName WmiMonitorBrightness | Select-Object -First "
        "1).CurrentBrightness;$n=[Math]::Min(100,[Math]::Max(0,$b+(";
    const std::string tail =
        ")));Get-CimInstance -Namespace root/WMI -ClassName WmiMonitorBrightnessMethods | ForEach-Object { $_ | "
        "Invoke-CimMethod -MethodName WmiSetBrightness -Arguments @{Timeout=1;Brightness=$n} | Out-Null }";
    EXPECT_EQ(brightness_command(true), head + "10" + tail);
    EXPECT_EQ(brightness_command(false), head + "-10" + tail);
    auto args = brightness_arguments(false);
    EXPECT_EQ(args[0], "-NoProfile");
    EXPECT_EQ(args[4], "-Command");
    EXPECT_EQ(args[5], brightness_command(false));
}

TEST(InputCommands, WindowsArgumentQuoting) {
    struct Case {
        std::string_view argument, quoted;
    };
    const Case cases[] = {
        {"-NoProfile", "-NoProfile"},
        {"", "\"\""},
        {"a b", "\"a b\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"C:\\dir\\", "C:\\dir\\"},
        {"C:\\my dir\\", "\"C:\\my dir\\\\\""},
        {"a\\\"b", "\"a\\\\\\\"b\""},
        {"$_ | Out-Null }", "\"$_ | Out-Null }\""},
    };
    for (const auto& c : cases) EXPECT_EQ(quote_windows_argument(c.argument), c.quoted) << c.argument;
    std::string args[] = {"-Command", "x y"};
    EXPECT_EQ(windows_command_line("powershell.exe", args), "powershell.exe -Command \"x y\"");
}

}  // namespace
}  // namespace korvex
