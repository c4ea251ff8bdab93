// Bad input in bulk: many silent connections, and seeded random bytes on the
// TCP and UDP ports. The host must survive, free what it took, and still
// serve a well-behaved client afterwards.
#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <random>

#include "client/events.h"
#include "net/host_fixture.h"
#include "net/process_limits.h"

namespace korvex::test {
namespace {

Bytes random_bytes(std::mt19937& gen, std::size_t n) {
    Bytes out(n);
    std::uniform_int_distribution<int> byte(0, 255);
    for (auto& b : out) b = static_cast<std::uint8_t>(byte(gen));
    return out;
}

class Robustness : public HostFixture {
protected:
    // A fresh client pairs, types one key and gets its datagram acknowledged.
    void expect_host_still_serves() {
        Client client = paired_client("After");
        ASSERT_TRUE(client.connection.send_event(numbered(client::key_event(0x04, client::KeyAction::Down), 1)));
        ASSERT_EQ(wait_for_sink(1), std::vector<std::string>{"a down"});
        auto sender = client::DatagramSender::open(client.connection);
        ASSERT_TRUE(sender) << sender.error().text;
        InputEvent up = numbered(client::key_event(0x04, client::KeyAction::Up), 2);
        up.flags |= kDatagramAckRequested;
        ASSERT_TRUE(sender->send(up));
        EXPECT_EQ(sink_log(), (std::vector<std::string>{"a down", "a up"}));
    }
    std::size_t session_count() {
        return shared().with_core([](net::LockedCore& locked) { return locked.sessions.size(); });
    }
};

TEST_F(Robustness, ThousandSilentConnectionsAreAllClosed) {
    constexpr std::size_t kWanted = 1000;
    // Each connection takes a descriptor on both ends, in this one process.
    DescriptorLimit limit = raise_descriptor_limit(2 * kWanted + 200);
    std::size_t count = kWanted;
    if (!limit.note.empty()) {
        count = limit.limit > 300 ? (limit.limit - 200) / 2 : 50;
        std::printf("note: %s; using %zu connections\n", limit.note.c_str(), count);
    }
    const auto baseline = open_descriptor_count();

    asio::io_context io;
    const asio::ip::tcp::endpoint target(asio::ip::make_address("127.0.0.1"), port());
    std::vector<asio::ip::tcp::socket> sockets;
    sockets.reserve(count);
    bool pace = baseline.has_value();
    for (std::size_t i = 0; i < count; ++i) {
        sockets.emplace_back(io);
        std::error_code ec;
        sockets.back().connect(target, ec);
        ASSERT_FALSE(ec) << "connection " << i << ": " << ec.message();
        // Connecting faster than the host accepts overflows the listen
        // backlog, and the refused connects are retried only a second
        // later; every 64 connections the host's ends are waited for, as
        // long as the descriptor count shows them (Wine's leaves sockets out).
        if (pace && (i + 1) % 64 == 0) {
            const std::size_t expected = *baseline + 2 * (i + 1);
            pace = eventually([&] { return *open_descriptor_count() >= expected; }, 2s);
        }
    }
    // Each socket waits for the host to end it; data would be a fault.
    std::size_t closed = 0, with_data = 0;
    std::vector<std::array<std::uint8_t, 16>> buffers(count);
    for (std::size_t i = 0; i < count; ++i) {
        sockets[i].async_read_some(asio::buffer(buffers[i]), [&](std::error_code ec, std::size_t n) {
            if (ec && n == 0)
                ++closed;
            else
                ++with_data;
        });
    }
    io.run_for(std::chrono::seconds(60));
    EXPECT_EQ(closed, count);
    EXPECT_EQ(with_data, 0u);
    for (auto& socket : sockets) socket.close();
    sockets.clear();

    EXPECT_TRUE(eventually([&] { return session_count() == 0; }));
    if (baseline) {
        // The host's ends are released too: the process holds what it held before.
        EXPECT_TRUE(eventually([&] { return *open_descriptor_count() <= *baseline + 8; }))
            << "descriptors before: " << *baseline << ", now: " << *open_descriptor_count();
    }
    expect_host_still_serves();
}

// Frames of the handshake's types with random bodies, and random streams.
TEST_F(Robustness, RandomBytesOnTheTcpPortAreSurvived) {
    std::mt19937 gen(20240611u);
    const std::uint8_t types[] = {0x10, 0x12, 0x20, 0x22, 0x30, 0x34, 0x00, 0xFF};
    std::uniform_int_distribution<std::size_t> length(0, 600);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(types) - 1);
    for (int i = 0; i < 300; ++i) {
        SCOPED_TRACE(i);
        auto c = connect();
        Bytes body = random_bytes(gen, length(gen));
        Bytes stream =
            i % 3 == 0 ? body : raw_frame(static_cast<std::uint32_t>(body.size() + 1), types[pick(gen)], body);
        ASSERT_TRUE(c.send_raw(stream));
        // Half the time end the stream at once, otherwise let the host answer or
        // close.
        if (i % 2 == 0) (void)c.receive_frame(200ms);
        c.close();
    }
    // Established sessions fed random bytes in place of sealed frames.
    for (int i = 0; i < 20; ++i) {
        Client client = paired_client("Noisy");
        Bytes body = random_bytes(gen, length(gen) + 17);
        ASSERT_TRUE(
            client.connection.send_raw(raw_frame(static_cast<std::uint32_t>(body.size() + 1), types[pick(gen)], body)));
        EXPECT_TRUE(closes_silently(client.connection));
    }
    EXPECT_TRUE(eventually([&] { return session_count() == 0; }));
    EXPECT_TRUE(sink_log().empty());
    expect_host_still_serves();
}

TEST_F(Robustness, RandomDatagramsAreSurvived) {
    Client victim = paired_client("Victim");
    const Key32 key = *victim.connection.session_key();
    std::mt19937 gen(77u);
    auto sender = client::DatagramSender::open("127.0.0.1", shared().udp_port(), key);
    ASSERT_TRUE(sender) << sender.error().text;
    std::uniform_int_distribution<std::size_t> length(0, 200);
    for (int i = 0; i < 3000; ++i) {
        // A third look like datagrams of the right size and version, so they reach
        // the decryption.
        Bytes datagram = random_bytes(gen, i % 3 == 0 ? kInputDatagramSize : length(gen));
        if (i % 3 == 0) datagram[0] = 1;
        ASSERT_TRUE(sender->send_raw(datagram));
        if (i % 100 == 99) std::this_thread::sleep_for(1ms);  // lets the host drain its buffer
    }
    EXPECT_TRUE(victim.connection.ping(5)) << "the session under the same address goes on";
    expect_host_still_serves();
}

}  // namespace
}  // namespace korvex::test
