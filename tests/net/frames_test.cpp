// Frames on an open connection: length limits, sealed frames that end the
// session, messages an established session drops, and how frames split
// across reads.
#include "client/events.h"
#include "core/messages.h"
#include "net/host_fixture.h"

namespace korvex::test {
namespace {

using Frames = HostFixture;

Bytes to_bytes(std::string_view text) {
    ByteView view = as_bytes(text);
    return Bytes(view.begin(), view.end());
}

Bytes sealed_frame(client::Connection& c, MessageType type, std::string_view body) {
    auto frame = encode_frame(type, as_bytes(body), c.crypto());
    EXPECT_TRUE(frame);
    return frame ? *frame : Bytes{};
}

Bytes sealed_ping(client::Connection& c, std::uint64_t ts) {
    return sealed_frame(c, MessageType::Ping, encode_json(Ping{ts}));
}

std::uint64_t pong_ts(client::Connection& c) {
    auto pong = c.receive(MessageType::Pong, 5s);
    EXPECT_TRUE(pong) << (pong ? "" : pong.error().text);
    if (!pong) return 0;
    auto decoded = decode_pong(pong->text());
    return decoded ? decoded->ts : 0;
}

// Length fields outside 1..65536 end the session from the header alone,
// before and after establishment.
TEST_F(Frames, LengthFieldOutOfRangeEndsTheSession) {
    for (std::uint32_t length : {0u, 65537u}) {
        for (bool established : {false, true}) {
            SCOPED_TRACE(testing::Message() << "length " << length << (established ? " established" : " handshake"));
            client::Connection c = established ? paired_client().connection : connect();
            ASSERT_TRUE(c.send_raw(raw_frame(length, 0x30, {})));
            EXPECT_TRUE(closes_silently(c));
        }
    }
    EXPECT_TRUE(eventually([&] { return count_events(HostEvent::Kind::DeviceDisconnected) == 2; }));
}

TEST_F(Frames, LargestFrameIsAccepted) {
    Client client = paired_client();
    // {"text":"..."} sealed: 65519 bytes of plaintext make a length field of
    // 65536.
    const std::string body = R"({"text":")" + std::string(65519 - 11, 'x') + "\"}";
    Bytes frame = sealed_frame(client.connection, MessageType::TextUtf8, body);
    ASSERT_EQ(get_u32_le(frame.data()), 65536u);
    ASSERT_TRUE(client.connection.send_raw(frame));
    EXPECT_EQ(wait_for_sink(1), std::vector<std::string>{"type 65508"});
    auto pong = client.connection.ping(9);
    ASSERT_TRUE(pong) << pong.error().text;
}

// Sealed frames that must end an established session without a reply.
TEST_F(Frames, BadSealedFramesEndTheSession) {
    struct Case {
        const char* name;
        std::function<void(client::Connection&)> send;
    };
    const Case cases[] = {
        {"corrupted tag",
         [](client::Connection& c) {
             Bytes frame = sealed_ping(c, 1);
             frame.back() ^= 0x01;
             ASSERT_TRUE(c.send_raw(frame));
         }},
        {"corrupted ciphertext",
         [](client::Connection& c) {
             Bytes frame = sealed_ping(c, 1);
             frame[5] ^= 0x80;
             ASSERT_TRUE(c.send_raw(frame));
         }},
        {"replayed frame",
         [](client::Connection& c) {
             Bytes frame = sealed_ping(c, 77);
             ASSERT_TRUE(c.send_raw(frame));
             EXPECT_EQ(pong_ts(c), 77u);
             ASSERT_TRUE(c.send_raw(frame));
         }},
        {"frame from the future",
         [](client::Connection& c) {
             (void)sealed_ping(c, 1);  // skipped: the host expects this counter
             ASSERT_TRUE(c.send_raw(sealed_ping(c, 2)));
         }},
        {"shorter than a tag",
         [](client::Connection& c) { ASSERT_TRUE(c.send_raw(raw_frame(16, 0x30, Bytes(15, 0)))); }},
        {"plain frame after establishment",
         [](client::Connection& c) {
             ASSERT_TRUE(c.send_raw(raw_frame(21, 0x30,
                                              as_bytes(R"({"ts":1})"
                                                       "            "))));
         }},
    };
    std::size_t disconnected = 0;
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Client client = paired_client();
        test.send(client.connection);
        EXPECT_TRUE(closes_silently(client.connection));
        ++disconnected;
        EXPECT_TRUE(eventually([&] { return count_events(HostEvent::Kind::DeviceDisconnected) == disconnected; }));
        EXPECT_TRUE(sessions_of(client.identity.client_id).empty());
    }
}

// Bodies an established session drops; the session goes on and the next
// Ping is answered.
TEST_F(Frames, DroppedMessagesLeaveTheSessionRunning) {
    struct Case {
        const char* name;
        std::uint8_t type;
        Bytes body;
    };
    const auto encoded = encode_input_event(numbered(client::key_event(0x04, client::KeyAction::Down), 1));
    Bytes event(encoded.begin(), encoded.end());
    Bytes short_event(event.begin(), event.end() - 1);
    Bytes long_event = event;
    long_event.push_back(0);
    Bytes version_two = event;
    version_two[0] = 2;
    const Case cases[] = {
        {"TextUtf8 not JSON", 0x32, to_bytes("not json")},
        {"TextUtf8 trailing data", 0x32, to_bytes(R"({"text":"a"} x)")},
        {"TextUtf8 member twice", 0x32, to_bytes(R"({"text":"a","text":"b"})")},
        {"ClipboardSet without text", 0x33, to_bytes(R"({"autoPaste":true})")},
        {"Ping with negative ts", 0x30, to_bytes(R"({"ts":-1})")},
        {"Ping with fractional ts", 0x30, to_bytes(R"({"ts":1.5})")},
        {"Pong from the client", 0x31, to_bytes(R"({"ts":1})")},
        {"unknown type", 0x40, to_bytes("{}")},
        {"InputEvent of 19 bytes", 0x34, short_event},
        {"InputEvent of 21 bytes", 0x34, long_event},
        {"InputEvent version 2", 0x34, version_two},
    };
    Client client = paired_client();
    std::uint64_t ts = 100;
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        ASSERT_TRUE(client.connection.send_frame(static_cast<MessageType>(test.type), test.body, true));
        auto pong = client.connection.ping(++ts);
        ASSERT_TRUE(pong) << pong.error().text;
        EXPECT_EQ(*pong, ts);
    }
    EXPECT_TRUE(sink_log().empty());
    EXPECT_EQ(count_events(HostEvent::Kind::DeviceDisconnected), 0u);
}

TEST_F(Frames, FramesSplitAcrossWritesAreHandledInOrder) {
    Client client = paired_client();
    Bytes stream;
    for (std::uint64_t ts : {11, 12, 13}) append(stream, sealed_ping(client.connection, ts));
    const std::size_t cut = stream.size() - 10;
    ASSERT_TRUE(client.connection.send_raw(ByteView(stream).first(cut)));
    EXPECT_EQ(pong_ts(client.connection), 11u);
    EXPECT_EQ(pong_ts(client.connection), 12u);
    ASSERT_TRUE(client.connection.send_raw(ByteView(stream).subspan(cut)));
    EXPECT_EQ(pong_ts(client.connection), 13u);
}

}  // namespace
}  // namespace korvex::test
