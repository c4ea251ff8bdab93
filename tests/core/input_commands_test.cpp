#include "core/input_commands.h"

#include <gtest/gtest.h>

namespace korvex {
namespace {

TEST(InputCommands, BrightnessAfterMergedSteps) {
    struct Case {
        std::uint32_t current;
        int steps;
        int level;
    };
    const Case cases[] = {
        {50, 1, 60},  {50, -1, 40}, {0, 10, 100},  {95, 1, 100},  {5, -1, 0},
        {40, 0, 40},  {100, -3, 70}, {250, -1, 90}, {0, -100, 0}, {7, 100, 100},
    };
    for (const auto& c : cases) EXPECT_EQ(brightness_after(c.current, c.steps), c.level) << c.current << " " << c.steps;
}

TEST(InputCommands, PressesAddUpWithinTheCap) {
    int pending = 0;
    for (int i = 0; i < 10; ++i) pending = add_brightness_step(pending, true);
    EXPECT_EQ(pending, 10);
    pending = add_brightness_step(pending, false);
    EXPECT_EQ(pending, 9);
    for (int i = 0; i < 500; ++i) pending = add_brightness_step(pending, false);
    EXPECT_EQ(pending, -kBrightnessMaxSteps);
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
