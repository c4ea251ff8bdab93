// What a stranger can do before authenticating: handshakes that trickle,
// a flood of unestablished connections, oversize frames; and re-pairing an
// id with a new key, which ends what the old key opened.
#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/write.hpp>
#include <atomic>
#include <memory>

#include "client/events.h"
#include "core/messages.h"
#include "net/host_fixture.h"

namespace korvex::test {
namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

// A plain TCP connection from a chosen loopback source address, for peers
// that never finish a handshake.
class RawPeer {
public:
    RawPeer(asio::io_context& io, std::uint16_t port, const std::string& source) : socket_(io) {
        std::error_code ec;
        socket_.open(tcp::v4(), ec);
        if (!ec) socket_.bind(tcp::endpoint(asio::ip::make_address(source), 0), ec);
        if (!ec) socket_.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port), ec);
        if (!ec) socket_.non_blocking(true, ec);
        ok_ = !ec;
    }
    bool ok() const { return ok_; }

    bool send(ByteView bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            std::error_code ec;
            done += socket_.write_some(asio::buffer(bytes.data() + done, bytes.size() - done), ec);
            if (ec == asio::error::would_block) std::this_thread::sleep_for(1ms);
            else if (ec) return false;
        }
        return true;
    }

    // True when the host ends the connection within `limit` without sending anything.
    bool closed_within(std::chrono::milliseconds limit) {
        auto until = Clock::now() + limit;
        std::array<std::uint8_t, 64> buffer{};
        while (Clock::now() < until) {
            std::error_code ec;
            std::size_t n = socket_.read_some(asio::buffer(buffer), ec);
            if (ec == asio::error::would_block) {
                std::this_thread::sleep_for(5ms);
                continue;
            }
            return ec && n == 0;  // end of stream or reset, no data
        }
        return false;
    }

    void close() {
        std::error_code ec;
        socket_.close(ec);
    }

private:
    tcp::socket socket_;
    bool ok_ = false;
};

class Strangers : public HostFixture {
protected:
    std::size_t unestablished() { return shared().handshake_gate().unestablished(); }

    // Types a key and waits until the sink has it.
    bool input_flows(client::Connection& c, std::uint64_t seq) {
        std::size_t before = sink_log().size();
        if (!c.send_event(numbered(client::key_event(0x04, client::KeyAction::Down), seq))) return false;
        if (!c.send_event(numbered(client::key_event(0x04, client::KeyAction::Up), seq + 1))) return false;
        return wait_for_sink(before + 2).size() >= before + 2;
    }

    asio::io_context io;
};

TEST_F(Strangers, HandshakesTricklingOneByteEveryTwoSecondsEndTenSecondsAfterAccept) {
    // Three connections that each send one byte of a PairRequest every 2 s:
    // each byte used to restart the read time-out, keeping them open for ever.
    const Bytes frame = raw_frame(2000, 0x10, Bytes(1999, ' '));
    std::vector<std::unique_ptr<RawPeer>> peers;
    for (int i = 0; i < 3; ++i) {
        peers.push_back(std::make_unique<RawPeer>(io, port(), "127.0.0.1"));
        ASSERT_TRUE(peers.back()->ok());
    }
    const auto accepted = Clock::now();
    std::atomic<bool> stop{false};
    std::thread trickle([&] {
        for (std::size_t i = 0; !stop && i < frame.size(); ++i) {
            for (auto& peer : peers) peer->send(ByteView(frame).subspan(i, 1));
            for (int slice = 0; slice < 40 && !stop; ++slice) std::this_thread::sleep_for(50ms);
        }
    });
    // Reads only; a byte a writer sends after the close is lost.
    for (auto& peer : peers) EXPECT_TRUE(peer->closed_within(16s));
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - accepted);
    stop = true;
    trickle.join();
    EXPECT_GE(elapsed.count(), 9000) << "closed before the deadline";
    EXPECT_LE(elapsed.count(), 13000) << "closed long after the deadline";
    EXPECT_TRUE(eventually([&] { return unestablished() == 0; }));
}

TEST_F(Strangers, FloodOfUnestablishedConnectionsIsCappedWhilePairedClientsGoOn) {
    Client paired = paired_client();
    const Bytes partial_header = {0x10, 0x00};  // a frame that never completes

    std::vector<std::unique_ptr<RawPeer>> flood;
    auto open_from = [&](const std::string& source) {
        flood.push_back(std::make_unique<RawPeer>(io, port(), source));
        EXPECT_TRUE(flood.back()->ok()) << source;
        EXPECT_TRUE(flood.back()->send(partial_header));
    };
    // One address up to its own cap; the next from it is closed at once.
    for (std::size_t i = 0; i < kMaxUnestablishedPerPeer; ++i) open_from("127.0.0.2");
    ASSERT_TRUE(eventually([&] { return unestablished() == kMaxUnestablishedPerPeer; }));
    {
        RawPeer over(io, port(), "127.0.0.2");
        ASSERT_TRUE(over.ok());
        EXPECT_TRUE(over.closed_within(2s)) << "the per-address cap";
    }
    // More addresses up to the total cap; then any new one is closed at once.
    for (int source = 3; flood.size() < kMaxUnestablished; ++source)
        for (std::size_t i = 0; i < kMaxUnestablishedPerPeer && flood.size() < kMaxUnestablished; ++i)
            open_from("127.0.0." + std::to_string(source));
    ASSERT_TRUE(eventually([&] { return unestablished() == kMaxUnestablished; }));
    {
        RawPeer over(io, port(), "127.0.0.200");
        ASSERT_TRUE(over.ok());
        EXPECT_TRUE(over.closed_within(2s)) << "the total cap";
    }
    EXPECT_EQ(unestablished(), kMaxUnestablished) << "the held connections stay";

    // Established sessions do not count: the paired client's input flows.
    EXPECT_TRUE(input_flows(paired.connection, 1));
    auto pong = paired.connection.ping(5);
    ASSERT_TRUE(pong) << pong.error().text;

    // Once a few of the flood are gone, a paired device connects again and
    // authenticates while the rest still hang.
    for (std::size_t i = 0; i < kMaxUnestablishedPerPeer; ++i) {
        flood.back()->close();
        flood.pop_back();
    }
    ASSERT_TRUE(eventually([&] { return unestablished() == kMaxUnestablished - kMaxUnestablishedPerPeer; }));
    client::Connection again = authenticated(paired.identity);
    EXPECT_TRUE(again.established());
    EXPECT_TRUE(input_flows(again, 1));
    EXPECT_EQ(unestablished(), kMaxUnestablished - kMaxUnestablishedPerPeer);
}

TEST_F(Strangers, OversizeFramesBeforeEstablishmentCloseAtOnce) {
    {
        SCOPED_TRACE("one byte over the handshake bound, body never sent");
        RawPeer peer(io, port(), "127.0.0.1");
        ASSERT_TRUE(peer.ok());
        Bytes header;
        put_u32_le(header, kMaxHandshakeFrameLength + 1);
        header.push_back(0x10);
        ASSERT_TRUE(peer.send(header));
        EXPECT_TRUE(peer.closed_within(2s));
    }
    {
        SCOPED_TRACE("at the bound: waits for the body");
        RawPeer peer(io, port(), "127.0.0.1");
        ASSERT_TRUE(peer.ok());
        Bytes header;
        put_u32_le(header, kMaxHandshakeFrameLength);
        header.push_back(0x10);
        ASSERT_TRUE(peer.send(header));
        EXPECT_FALSE(peer.closed_within(1s));
    }
    // After establishment the full frame size stays available.
    Client client = paired_client();
    ASSERT_TRUE(client.connection.send_text(std::string(20000, 'x')));
    EXPECT_EQ(wait_for_sink(1), std::vector<std::string>{"type 20000"});
}

// ---- re-pairing ----

class Repairing : public HostFixture {
protected:
    // The same client id with another key, as a reinstalled app would have.
    client::ClientIdentity new_key_for(const client::ClientIdentity& old) {
        client::ClientIdentity fresh = client::new_client_identity(os_random());
        fresh.client_id = old.client_id;
        return fresh;
    }
    void pair_as(client::Connection& c, const client::ClientIdentity& identity) {
        std::string code = net::start_pairing(shared());
        auto paired = c.pair(identity, code, "Phone A", "Model", shared().host_public());
        ASSERT_TRUE(paired) << paired.error().text;
    }
};

TEST_F(Repairing, ANewKeyEndsTheSessionsOfTheOldOne) {
    Client old = paired_client();
    client::Connection second = authenticated(old.identity);
    ASSERT_EQ(sessions_of(old.identity.client_id).size(), 2u);

    client::Connection repaired = connect();
    pair_as(repaired, new_key_for(old.identity));
    for (client::Connection* c : {&old.connection, &second}) {
        auto message = c->receive(5s);
        ASSERT_FALSE(message) << "unexpected frame of type " << int(message->type);
        EXPECT_EQ(c->last_failure(), client::Failure::Reason);
        EXPECT_EQ(c->last_reason(), "removed_by_user");
    }
    auto pong = repaired.ping(3);
    ASSERT_TRUE(pong) << pong.error().text;
    EXPECT_EQ(sessions_of(old.identity.client_id).size(), 1u);
    // The old key no longer authenticates: its signature does not verify
    // with the stored key, which closes the connection silently.
    client::Connection stale = connect();
    EXPECT_FALSE(stale.authenticate(old.identity, shared().host_public()));
    EXPECT_EQ(stale.last_failure(), client::Failure::Closed);
}

TEST_F(Repairing, TheSameKeyAgainLeavesTheOpenSessions) {
    Client old = paired_client();
    client::Connection again = connect();
    pair_as(again, old.identity);
    auto pong = old.connection.ping(4);
    ASSERT_TRUE(pong) << pong.error().text;
    EXPECT_EQ(sessions_of(old.identity.client_id).size(), 2u);
}

TEST_F(Repairing, AnAuthenticationBegunBeforeTheRepairingFails) {
    Client old = paired_client();
    // AuthHello and AuthChallenge by hand, so the re-pairing falls between
    // the challenge and the response.
    client::Connection c = connect();
    X25519KeyPair ephemeral = x25519_keypair(os_random());
    AuthHello hello{old.identity.client_id, "", ephemeral.public_key, {}};
    os_random().fill(hello.client_nonce);
    ASSERT_TRUE(c.send_frame(MessageType::AuthHello, as_bytes(encode_json(hello)), false));
    auto frame = c.receive_frame(5s);
    ASSERT_TRUE(frame);
    ASSERT_EQ(frame->type, static_cast<std::uint8_t>(MessageType::AuthChallenge));
    auto challenge = decode_auth_challenge(as_text(frame->body));
    ASSERT_TRUE(challenge);

    client::Connection repaired = connect();
    pair_as(repaired, new_key_for(old.identity));

    Bytes t = auth_transcript(hello.client_id, challenge->host_id, ephemeral.public_key, challenge->host_x25519,
                              hello.client_nonce, challenge->host_nonce);
    AuthResponse response{ed25519_sign(old.identity.seed, t)};
    ASSERT_TRUE(c.send_frame(MessageType::AuthResponse, as_bytes(encode_json(response)), false));
    auto answer = c.receive_frame(5s);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->type, static_cast<std::uint8_t>(MessageType::AuthError));
    EXPECT_EQ(as_text(answer->body), R"({"reason":"unpaired"})");
    EXPECT_EQ(sessions_of(old.identity.client_id).size(), 1u) << "only the re-paired session";
}

}  // namespace
}  // namespace korvex::test
