// Sealed input datagrams over loopback: acknowledgements, duplicates and
// every datagram the host must ignore.
#include "client/events.h"
#include "net/host_fixture.h"

namespace korvex::test {
namespace {

using Datagrams = HostFixture;

InputEvent key(std::uint16_t usage, client::KeyAction action, std::uint64_t seq, bool ack) {
    InputEvent event = numbered(client::key_event(usage, action), seq);
    if (ack) event.flags |= kDatagramAckRequested;
    return event;
}

client::DatagramSender sender_of(const client::Connection& c) {
    auto sender = client::DatagramSender::open(c);
    EXPECT_TRUE(sender) << (sender ? "" : sender.error().text);
    return std::move(*sender);
}

// Nothing comes back within a short wait (the host answers loopback at once).
bool no_reply(client::DatagramSender& sender) {
    auto got = sender.receive_raw(300ms);
    return got && !*got;
}

TEST_F(Datagrams, AcknowledgedOnlyWhenAsked) {
    Client client = paired_client();
    auto sender = sender_of(client.connection);
    const Key32 key32 = *client.connection.session_key();

    ASSERT_TRUE(sender.send_raw(seal_input_datagram(key32, key(0x04, client::KeyAction::Down, 7, false))));
    EXPECT_EQ(wait_for_sink(1), std::vector<std::string>{"a down"});
    EXPECT_TRUE(no_reply(sender));

    ASSERT_TRUE(sender.send_raw(seal_input_datagram(key32, key(0x04, client::KeyAction::Up, 8, true))));
    auto ack = sender.receive_raw(5s);
    ASSERT_TRUE(ack && *ack);
    const Bytes& bytes = **ack;
    ASSERT_EQ(bytes.size(), kDatagramAckSize);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 4), (Bytes{0x01, 0xFE, 0x00, 0x00}));
    EXPECT_EQ(get_u64_le(bytes.data() + 4), 8u);
    EXPECT_TRUE(verify_datagram_ack(key32, bytes, 8));
    EXPECT_EQ(sink_log(), (std::vector<std::string>{"a down", "a up"}));
}

TEST_F(Datagrams, DuplicateIsInjectedOnceButAcknowledgedTwice) {
    Client client = paired_client();
    auto sender = sender_of(client.connection);
    auto datagram = seal_input_datagram(*client.connection.session_key(), key(0x04, client::KeyAction::Down, 3, true));
    for (int copy = 0; copy < 2; ++copy) {
        ASSERT_TRUE(sender.send_raw(datagram));
        auto ack = sender.receive_raw(5s);
        ASSERT_TRUE(ack && *ack) << "copy " << copy;
        EXPECT_TRUE(verify_datagram_ack(*client.connection.session_key(), **ack, 3));
    }
    EXPECT_EQ(sink_log(), std::vector<std::string>{"a down"});
}

// Datagrams that must be ignored without a reply. A good datagram sent
// after them is acknowledged, which shows they were all looked at first.
TEST_F(Datagrams, ForgedOrMalformedDatagramsAreIgnored) {
    Client client = paired_client();
    auto sender = sender_of(client.connection);
    const Key32 good = *client.connection.session_key();
    Key32 other{};
    os_random().fill(other);
    auto sealed = [&](const Key32& k, InputEvent event) {
        auto d = seal_input_datagram(k, event);
        return Bytes(d.begin(), d.end());
    };
    InputEvent down = key(0x04, client::KeyAction::Down, 1, true);
    InputEvent version_two = down;
    version_two.version = 2;
    struct Case {
        const char* name;
        Bytes bytes;
    };
    std::vector<Case> cases = {
        {"35 bytes", sealed(good, down)},
        {"37 bytes", sealed(good, down)},
        {"version 2", sealed(good, version_two)},
        {"other key", sealed(other, down)},
        {"flipped tag", sealed(good, down)},
        {"flipped seq", sealed(good, down)},
        {"empty", {}},
        {"65 bytes", Bytes(65, 1)},
    };
    cases[0].bytes.pop_back();
    cases[1].bytes.push_back(0);
    cases[4].bytes.back() ^= 1;
    cases[5].bytes[4] ^= 1;
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        ASSERT_TRUE(sender.send_raw(test.bytes));
    }
    ASSERT_TRUE(sender.send(key(0x05, client::KeyAction::Down, 2, true)));
    EXPECT_EQ(sink_log(), std::vector<std::string>{"b down"});
    EXPECT_TRUE(no_reply(sender));
}

TEST_F(Datagrams, IgnoredAfterTheSessionEnded) {
    Client gone = paired_client("Phone A");
    auto stale = sender_of(gone.connection);
    const Key32 stale_key = *gone.connection.session_key();
    gone.connection.close();
    ASSERT_TRUE(eventually([&] { return sessions_of(gone.identity.client_id).empty(); }));

    ASSERT_TRUE(stale.send_raw(seal_input_datagram(stale_key, key(0x04, client::KeyAction::Down, 1, true))));
    // Another client's datagram behind it on the host's socket.
    Client live = paired_client("Phone B");
    auto sender = sender_of(live.connection);
    ASSERT_TRUE(sender.send(key(0x05, client::KeyAction::Down, 1, true)));
    EXPECT_EQ(sink_log(), std::vector<std::string>{"b down"});
    EXPECT_TRUE(no_reply(stale));
}

TEST_F(Datagrams, TwoClientsOnOneAddressAreToldApartByKey) {
    Client first = paired_client("Phone A");
    Client second = paired_client("Phone B");
    auto a = sender_of(first.connection);
    auto b = sender_of(second.connection);
    ASSERT_TRUE(a.send(key(0x04, client::KeyAction::Down, 1, true)));
    ASSERT_TRUE(b.send(key(0x05, client::KeyAction::Down, 1, true)));
    // The second owner takes over: the first one's key is released.
    EXPECT_EQ(sink_log(), (std::vector<std::string>{"a down", "a up", "b down"}));
}

}  // namespace
}  // namespace korvex::test
