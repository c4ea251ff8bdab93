// The session's 10-second read time-out.
#include "net/host_fixture.h"

namespace korvex::test {
namespace {

using Idle = HostFixture;

TEST_F(Idle, ConnectionThatSendsNothingIsClosed) {
    auto c = connect();
    EXPECT_TRUE(closes_silently(c, 30s));
}

TEST_F(Idle, ClientPingingEveryFiveSecondsStays) {
    Client client = paired_client();
    // Three pauses of 5 s: half a time-out each, a time-out and a half in all.
    for (std::uint64_t round = 1; round <= 3; ++round) {
        std::this_thread::sleep_for(5s);
        auto pong = client.connection.ping(round);
        ASSERT_TRUE(pong) << "round " << round << ": " << pong.error().text;
        EXPECT_EQ(*pong, round);
    }
    EXPECT_EQ(count_events(HostEvent::Kind::DeviceDisconnected), 0u);
}

}  // namespace
}  // namespace korvex::test
