// The whole host on loopback, driven by the client library.
#include "net/host_fixture.h"

#include "client/events.h"
#include "core/messages.h"

namespace korvex::test {
namespace {

InputEvent numbered(InputEvent event, std::uint64_t seq) {
    event.seq = seq;
    return event;
}

TEST_F(HostFixture, PairsThenPingsOnTheSameConnectionAndAuthenticatesLater) {
    auto c = connect();
    client::ClientIdentity identity = pair(c);
    auto pong = c.ping(42);
    ASSERT_TRUE(pong) << pong.error().text;
    EXPECT_EQ(*pong, 42u);
    c.close();

    auto again = connect();
    auto auth = again.authenticate(identity, shared().host_public(), "Tablet");
    ASSERT_TRUE(auth) << auth.error().text;
    ASSERT_TRUE(again.send_event(numbered(client::key_event(0x04, client::KeyAction::Down), 1)));
    ASSERT_TRUE(again.send_event(numbered(client::key_event(0x04, client::KeyAction::Up), 2)));
    EXPECT_EQ(wait_for_sink(2), (std::vector<std::string>{"a down", "a up"}));
}

}  // namespace
}  // namespace korvex::test
