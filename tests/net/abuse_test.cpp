// Abuse from several sides at once, while a paired client keeps working:
// wrong pairing codes from many connections together, connections dropped in
// every handshake state, and a flood of datagrams from an address with no
// session and from the client's own address under the wrong key.
#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>

#include <atomic>
#include <cstdio>
#include <random>
#include <thread>

#include "client/events.h"
#include "core/messages.h"
#include "net/host_fixture.h"

namespace korvex::test {
namespace {

class Abuse : public HostFixture {
protected:
    std::size_t session_count() {
        return shared().with_core([](net::LockedCore& locked) { return locked.sessions.size(); });
    }
};

std::string other_code(const std::string& code) {
    char text[8];
    std::snprintf(text, sizeof text, "%06d", (std::stoi(code) + 1) % 1'000'000);
    return text;
}

// Many connections guess at once: exactly five are told "invalid_code", the
// code is then retired once, and every later guess hears "no_active_code".
TEST_F(Abuse, ConcurrentWrongCodesRetireTheCodeAfterExactlyFive) {
    const std::string code = net::start_pairing(shared());
    const std::string wrong = other_code(code);
    constexpr int kThreads = 8, kTriesEach = 3;
    std::atomic<int> invalid{0}, no_code{0}, other{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kTriesEach; ++i) {
                client::Connection c;
                if (!c.connect("127.0.0.1", port(), 10s)) {
                    ++other;
                    continue;
                }
                auto paired = c.pair(client::new_client_identity(os_random()), wrong, "Guesser", "", std::nullopt);
                if (paired)
                    ++other;
                else if (c.last_reason() == reason::kInvalidCode)
                    ++invalid;
                else if (c.last_reason() == reason::kNoActiveCode)
                    ++no_code;
                else
                    ++other;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(invalid.load(), 5);
    EXPECT_EQ(no_code.load(), kThreads * kTriesEach - 5);
    EXPECT_EQ(other.load(), 0);
    EXPECT_EQ(count_events(HostEvent::Kind::PairingCodeRetired), 1u);

    // The retired code itself no longer pairs.
    client::Connection late = connect();
    EXPECT_FALSE(late.pair(client::new_client_identity(os_random()), code, "Late", "", std::nullopt));
    EXPECT_EQ(late.last_reason(), reason::kNoActiveCode);
}

// Connections that go away at every point of the handshakes leave nothing in
// the client table, the controller or the store, and the code stays usable.
TEST_F(Abuse, ConnectionsDroppedInEveryHandshakeStateLeaveNothingBehind) {
    Client keeper = paired_client("Keeper");
    Client known = paired_client("Known");
    known.connection.close();
    ASSERT_TRUE(eventually([&] { return session_count() == 1; }));
    const std::string code = net::start_pairing(shared());

    using Step = std::function<void(client::Connection&)>;
    auto send_plain = [](client::Connection& c, MessageType type, const std::string& body) {
        (void)c.send_frame(type, as_bytes(body), false);
    };
    const std::vector<std::pair<const char*, Step>> states = {
        {"connected only", [](client::Connection&) {}},
        {"half a header", [](client::Connection& c) { (void)c.send_raw(Bytes{0x10, 0x00}); }},
        {"half a frame",
         [](client::Connection& c) { (void)c.send_raw(raw_frame(100, 0x10, as_bytes(std::string_view("{\"cl")))); }},
        {"after PairResponse",
         [&](client::Connection& c) {
             PairRequest request;
             request.client_id = client::new_client_identity(os_random()).client_id;
             request.device_name = "Dropper";
             send_plain(c, MessageType::PairRequest, encode_json(request));
             (void)c.receive_frame(5s);
         }},
        {"after AuthChallenge",
         [&](client::Connection& c) {
             AuthHello hello;
             hello.client_id = known.identity.client_id;
             send_plain(c, MessageType::AuthHello, encode_json(hello));
             (void)c.receive_frame(5s);
         }},
        {"after the host information", [&](client::Connection& c) { (void)c.host_info(); }},
        {"unknown client", [&](client::Connection& c) {
             AuthHello hello;
             hello.client_id = "nobody";
             send_plain(c, MessageType::AuthHello, encode_json(hello));
             (void)c.receive_frame(5s);
         }},
        {"established, then gone", [&](client::Connection& c) {
             (void)c.authenticate(known.identity, shared().host_public(), "Brief");
         }},
    };

    constexpr int kRounds = 6;
    std::vector<std::thread> threads;
    for (const auto& [what, step] : states) {
        threads.emplace_back([&, step = step] {
            for (int i = 0; i < kRounds; ++i) {
                client::Connection c;
                if (!c.connect("127.0.0.1", port(), 10s)) continue;
                step(c);
                c.close();
            }
        });
    }
    // The keeper goes on typing throughout.
    for (std::uint64_t seq = 1; seq <= 40; ++seq) {
        ASSERT_TRUE(keeper.connection.send_event(
            numbered(client::key_event(0x04, seq % 2 ? client::KeyAction::Down : client::KeyAction::Up), seq)));
        ASSERT_TRUE(keeper.connection.ping(seq));
    }
    for (auto& t : threads) t.join();

    EXPECT_TRUE(eventually([&] { return input_knows(1); })) << "only the keeper remains";
    EXPECT_EQ(wait_for_sink(40).size(), 40u);
    shared().with_core([&](net::LockedCore& locked) {
        EXPECT_EQ(locked.core.store.clients.size(), 2u) << "the keeper and the known client, nobody else";
        EXPECT_TRUE(locked.core.pairing.code.has_value()) << "dropped handshakes cost no code attempts";
    });
    Client after = Client{connect(), client::new_client_identity(os_random())};
    EXPECT_TRUE(after.connection.pair(after.identity, code, "After", "", shared().host_public()));
}

// Datagrams nobody may send: random bytes from an address without a session,
// and well-formed datagrams from the client's own address under a key that is
// not its session's. The client's acknowledged events all get through.
TEST_F(Abuse, DatagramFloodDoesNotStopAPairedClient) {
    Client keeper = paired_client("Keeper");
    auto sender = client::DatagramSender::open(keeper.connection);
    ASSERT_TRUE(sender) << sender.error().text;

    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> flooded{0};
    std::thread flood([&] {
        asio::io_context io;
        const asio::ip::udp::endpoint host_end(asio::ip::make_address("127.0.0.1"), shared().udp_port());
        asio::ip::udp::socket stranger(io), impostor(io);
        std::error_code ec;
        stranger.open(asio::ip::udp::v4(), ec);
        // Another loopback address where the system has one; else the same
        // address, which still has no session under the random keys below.
        stranger.bind(asio::ip::udp::endpoint(asio::ip::make_address("127.0.0.2"), 0), ec);
        if (ec) stranger.bind(asio::ip::udp::endpoint(asio::ip::udp::v4(), 0), ec);
        impostor.open(asio::ip::udp::v4(), ec);
        std::mt19937 gen(7);
        Key32 wrong_key{};
        for (auto& b : wrong_key) b = static_cast<std::uint8_t>(gen());
        std::array<std::uint8_t, kInputDatagramSize> noise{};
        std::uint64_t seq = 1;
        while (!stop) {
            for (auto& b : noise) b = static_cast<std::uint8_t>(gen());
            stranger.send_to(asio::buffer(noise), host_end, 0, ec);
            InputEvent forged = numbered(client::key_event(0x05, client::KeyAction::Down), seq++);
            forged.flags |= kDatagramAckRequested;
            impostor.send_to(asio::buffer(seal_input_datagram(wrong_key, forged)), host_end, 0, ec);
            flooded += 2;
            // Paced (32 datagrams a millisecond at most) so that a slow
            // machine, or Wine, still gives the client a share.
            if (seq % 16 == 0) std::this_thread::sleep_for(1ms);
        }
    });

    // The flood is under way before the client starts, and goes on past its end.
    ASSERT_TRUE(eventually([&] { return flooded.load() >= 5000; }));
    // A host that cannot keep up with the flood (a slow or loaded machine)
    // loses datagrams in the system's queue, the client's too; the client
    // sends again, as a real one does, and the replay window keeps a resent
    // event from being injected twice.
    constexpr std::uint64_t kEvents = 100;
    int acknowledged = 0;
    const auto give_up = std::chrono::steady_clock::now() + 90s;
    auto last_ping = std::chrono::steady_clock::now();
    std::uint64_t pings = 0;
    bool session_alive = true;
    for (std::uint64_t seq = 1; seq <= kEvents && session_alive; ++seq) {
        InputEvent e = numbered(client::key_event(0x04, seq % 2 ? client::KeyAction::Down : client::KeyAction::Up), seq);
        e.flags |= kDatagramAckRequested;
        for (;;) {
            const bool acked = sender->send(e).has_value();
            // The TCP session must not reach its idle limit meanwhile.
            if (std::chrono::steady_clock::now() - last_ping > 2s) {
                session_alive = keeper.connection.ping(++pings).has_value();
                EXPECT_TRUE(session_alive) << "the session ended during the flood";
                last_ping = std::chrono::steady_clock::now();
            }
            if (acked) {
                ++acknowledged;
                break;
            }
            if (!session_alive || std::chrono::steady_clock::now() > give_up) break;
        }
    }
    EXPECT_TRUE(eventually([&] { return flooded.load() >= 20000; }));
    stop = true;
    flood.join();

    EXPECT_EQ(acknowledged, static_cast<int>(kEvents));
    auto log = wait_for_sink(kEvents);
    EXPECT_EQ(log.size(), kEvents);
    for (const auto& line : log) EXPECT_TRUE(line == "a down" || line == "a up") << line;
    EXPECT_TRUE(keeper.connection.ping(5)) << "the session survives the flood";
}

}  // namespace
}  // namespace korvex::test
