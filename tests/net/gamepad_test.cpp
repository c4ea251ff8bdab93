// The gamepad through the whole host: pad events of the controlling client
// drive the keyboard/mouse mapping (no virtual controller in the tests), the
// stick moves the pointer through the motion task, and a pad left pressed by
// a client that went quiet is set to neutral by the watchdog.
#include "client/events.h"
#include "net/host_fixture.h"

namespace korvex::test {
namespace {

class Gamepad : public HostFixture {
protected:
    static std::size_t count(const std::vector<std::string>& log, std::string_view suffix) {
        std::size_t n = 0;
        for (const auto& line : log) n += line.ends_with(suffix);
        return n;
    }
};

TEST_F(Gamepad, ButtonsPressAndReleaseThroughTheMapping) {
    EXPECT_TRUE(host.vigem_missing);
    Client client = paired_client();
    ASSERT_TRUE(client.connection.send_event(numbered(client::pad_buttons_event(0x001, 0, 0, 0), 1)));
    auto pressed = wait_for_sink(1);
    ASSERT_FALSE(pressed.empty()) << "button A is bound in the default preset";
    EXPECT_EQ(count(pressed, " up"), 0u);

    ASSERT_TRUE(client.connection.send_event(numbered(client::pad_buttons_event(0, 0, 0, 0), 2)));
    auto log = wait_for_sink(2 * pressed.size());
    EXPECT_EQ(count(log, " down"), count(log, " up")) << "every press released";
}

TEST_F(Gamepad, RightStickMovesThePointerUntilCentred) {
    Client client = paired_client();
    ASSERT_TRUE(client.connection.send_event(numbered(client::pad_sticks_event(0, 0, 32767, 0), 1)));
    ASSERT_TRUE(eventually([&] { return count(sink_log(), "") > 3; })) << "motion ticks move the pointer";
    ASSERT_TRUE(client.connection.send_event(numbered(client::pad_sticks_event(0, 0, 0, 0), 2)));
    std::this_thread::sleep_for(100ms);
    const auto settled = sink_log().size();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(sink_log().size(), settled) << "a centred stick stops the motion";
    for (const auto& line : sink_log()) EXPECT_TRUE(line.starts_with("move ") || line == "keep_awake") << line;
}

TEST_F(Gamepad, WatchdogReleasesAPadLeftPressed) {
    Client client = paired_client();
    ASSERT_TRUE(client.connection.send_event(numbered(client::pad_buttons_event(0x001, 0, 0, 0), 1)));
    auto pressed = wait_for_sink(1);
    ASSERT_FALSE(pressed.empty());
    // No pad event for 1.5 s: the pad goes neutral and the mapping lets go.
    EXPECT_TRUE(eventually([&] {
        auto log = sink_log();
        return count(log, " up") == count(log, " down");
    }, 5s));
    EXPECT_TRUE(client.connection.ping(1)) << "the session itself stays";
}

}  // namespace
}  // namespace korvex::test
