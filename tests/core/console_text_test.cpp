// What the Linux console prints of peers: device names made safe for a
// terminal, and connect / disconnect lines limited per device.
#include <gtest/gtest.h>

#include "core/line_limiter.h"
#include "core/terminal_text.h"

namespace korvex {
namespace {

TEST(TerminalText, ControlCharactersBecomeQuestionMarks) {
    EXPECT_EQ(terminal_text("Phone A"), "Phone A");
    EXPECT_EQ(terminal_text("Evil\x1b[31m\nPairing code: 000 000\r\x7f"), "Evil?[31m?Pairing code: 000 000??");
    EXPECT_EQ(terminal_text("Caf\xC3\xA9 \xF0\x9F\x93\xB1"), "Caf\xC3\xA9 \xF0\x9F\x93\xB1");
}

TEST(LineLimiter, OneLinePerKeyPerPeriodAndTheHeldCountAfter) {
    using namespace std::chrono_literals;
    LineLimiter limiter(60s);
    const auto t0 = std::chrono::steady_clock::time_point{} + 1000s;
    EXPECT_EQ(limiter.admit("A", t0), 0u);
    EXPECT_EQ(limiter.admit("B", t0 + 1s), 0u);  // another device is not held back
    EXPECT_EQ(limiter.admit("A", t0 + 1s), std::nullopt);
    EXPECT_EQ(limiter.admit("A", t0 + 59s), std::nullopt);
    EXPECT_EQ(limiter.admit("A", t0 + 60s), 2u);
    EXPECT_EQ(limiter.admit("A", t0 + 61s), std::nullopt);
    EXPECT_EQ(limiter.admit("B", t0 + 200s), 0u);
    EXPECT_EQ(limiter.admit("A", t0 + 200s), 1u);
}

}  // namespace
}  // namespace korvex
