#include "client/connection.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "client/datagram_sender.h"
#include "client/events.h"
#include "client/fake_host.h"
#include "client/raw_server.h"
#include "core/input_sas.h"

namespace korvex::client {
namespace {

using namespace std::chrono_literals;
using test::FakeHost;
using test::RawServer;

// Whether `log` holds `expected` as a subsequence, in order.
bool in_order(const std::vector<std::string>& log, const std::vector<std::string>& expected) {
    auto it = log.begin();
    for (const auto& line : expected) {
        it = std::find(it, log.end(), line);
        if (it == log.end()) return false;
        ++it;
    }
    return true;
}

std::string joined(const std::vector<std::string>& log) {
    std::string out;
    for (const auto& l : log) out += l + "; ";
    return out;
}

class ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override { crypto_init(); }

    Connection connect() {
        Connection c(rng);
        auto ok = c.connect("127.0.0.1", host.port(), 5s);
        EXPECT_TRUE(ok) << ok.error().text;
        return c;
    }

    // Pairs `identity` and returns the connection, established.
    Connection paired(const std::string& code = "482913") {
        host.open_pairing(code);
        Connection c = connect();
        auto result = c.pair(identity, code, "Phone A", "Model X", host.host_public());
        EXPECT_TRUE(result) << result.error().text;
        return c;
    }

    Connection authenticated(std::string_view name = {}) {
        Connection c = connect();
        auto result = c.authenticate(identity, host.host_public(), name);
        EXPECT_TRUE(result) << result.error().text;
        return c;
    }

    FakeHost host;
    test::CountingRandom rng{0x10};
    ClientIdentity identity = new_client_identity(rng);
};

TEST_F(ConnectionTest, HostInfoQuery) {
    Connection c = connect();
    auto info = c.host_info();
    ASSERT_TRUE(info) << info.error().text;
    EXPECT_EQ(info->host_id, host.host_id());
    EXPECT_EQ(info->name, host.host_name);
    EXPECT_EQ(info->os, "windows");
    EXPECT_EQ(info->fp, host_fingerprint(host.host_public()));
    EXPECT_EQ(info->udp_port, host.udp_port());
    EXPECT_FALSE(c.is_open());
}

TEST_F(ConnectionTest, PairingEstablishesTheSessionOnTheSameConnection) {
    host.open_pairing("482913");
    Connection c = connect();
    auto result = c.pair(identity, "482913", "Phone A", "Model X", host.host_public());
    ASSERT_TRUE(result) << result.error().text;
    EXPECT_EQ(result->host_id, host.host_id());
    EXPECT_EQ(result->host_name, host.host_name);
    EXPECT_EQ(result->host_ed25519, host.host_public());
    EXPECT_EQ(result->lan_endpoints, host.lan);
    EXPECT_EQ(result->udp_port, host.udp_port());
    EXPECT_TRUE(c.established());
    EXPECT_EQ(c.udp_port(), host.udp_port());
    EXPECT_EQ(c.remote_address(), "127.0.0.1");

    auto records = host.paired();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].client_id, identity.client_id);
    EXPECT_EQ(records[0].device_name, "Phone A");
    EXPECT_EQ(records[0].device_model, "Model X");
    EXPECT_EQ(records[0].ed25519_public_key_hex, hex_lower(identity.public_key()));
    EXPECT_FALSE(host.active_code()) << "a successful pairing withdraws the code";

    for (std::uint64_t ts : {std::uint64_t{42}, std::uint64_t{18446744073709551615ULL}}) {
        auto pong = c.ping(ts);
        ASSERT_TRUE(pong) << pong.error().text;
        EXPECT_EQ(*pong, ts);
    }
}

TEST_F(ConnectionTest, PairingWithLeadingZeroCodeAndWithoutExpectedKey) {
    host.open_pairing("000123");
    Connection c = connect();
    auto result = c.pair(identity, "000123", "", "");
    ASSERT_TRUE(result) << result.error().text;
    EXPECT_TRUE(c.ping(1));
}

TEST_F(ConnectionTest, PairingRefusals) {
    struct Case {
        std::optional<std::string> host_code;
        std::string client_code;
        std::string reason;
    };
    const Case cases[] = {
        {"482913", "482914", "invalid_code"},
        {std::nullopt, "482913", "no_active_code"},
    };
    for (const auto& c : cases) {
        if (c.host_code)
            host.open_pairing(*c.host_code);
        else
            host.withdraw_pairing();
        Connection conn = connect();
        auto result = conn.pair(identity, c.client_code, "Phone A");
        ASSERT_FALSE(result) << c.reason;
        EXPECT_EQ(conn.last_failure(), Failure::Reason);
        EXPECT_EQ(conn.last_reason(), c.reason);
        EXPECT_NE(result.error().text.find(c.reason), std::string::npos) << result.error().text;
        EXPECT_FALSE(conn.is_open());
        if (c.host_code) {
            EXPECT_EQ(host.failed_attempts(), 1) << "the wrong code counted once";
        }
    }
}

TEST_F(ConnectionTest, HostKeyNotMatchingThePairingUriStopsBeforeTheCodeIsUsed) {
    host.open_pairing("482913");
    Connection c = connect();
    Key32 other = host.host_public();
    other[0] ^= 1;
    auto result = c.pair(identity, "482913", "Phone A", "", other);
    ASSERT_FALSE(result);
    EXPECT_EQ(c.last_failure(), Failure::Trust);
    EXPECT_NE(result.error().text.find("does not match the pairing URI"), std::string::npos);
    // No PairConfirm reached the host: no attempt used, the code still open, nothing stored.
    EXPECT_EQ(host.failed_attempts(), 0);
    EXPECT_EQ(host.active_code(), "482913");
    EXPECT_TRUE(host.paired().empty());
}

TEST_F(ConnectionTest, ClientRefusesBadCodesAndNamesBeforeSending) {
    Connection c = connect();
    for (std::string code : {"12345", "1234567", "12a456", ""}) {
        EXPECT_FALSE(c.pair(identity, code, "x"));
        EXPECT_EQ(c.last_failure(), Failure::Usage) << code;
    }
    EXPECT_FALSE(c.pair(identity, "123456", std::string(257, 'n')));
    EXPECT_EQ(c.last_failure(), Failure::Usage);
    EXPECT_FALSE(c.send_event(key_event(4, KeyAction::Down)));
    EXPECT_EQ(c.last_failure(), Failure::Usage) << "sealed frames need a session";
    EXPECT_TRUE(c.is_open());
}

TEST_F(ConnectionTest, AuthenticationAfterPairingWithDisplayNameRules) {
    paired().close();
    {
        Connection c = authenticated();
        EXPECT_TRUE(c.established());
        EXPECT_EQ(c.udp_port(), host.udp_port());
        EXPECT_TRUE(c.ping(7));
    }
    Connection tablet = authenticated("Tablet");
    ASSERT_TRUE(tablet.ping(8));
    std::vector<std::string> names;
    for (const auto& [id, name] : host.display_names()) names.push_back(name);
    EXPECT_TRUE(in_order(names, {"Phone A", "Phone A", "Tablet"})) << joined(names);
    EXPECT_EQ(host.paired().at(0).device_name, "Phone A") << "the stored name stays";
}

TEST_F(ConnectionTest, AuthenticationRefusals) {
    paired().close();
    {
        ClientIdentity stranger = new_client_identity(rng);
        Connection c = connect();
        auto result = c.authenticate(stranger, host.host_public());
        ASSERT_FALSE(result);
        EXPECT_EQ(c.last_failure(), Failure::Reason);
        EXPECT_EQ(c.last_reason(), "unpaired");
    }
    {
        Key32 wrong = host.host_public();
        wrong[5] ^= 0x10;
        Connection c = connect();
        auto result = c.authenticate(identity, wrong);
        ASSERT_FALSE(result);
        EXPECT_EQ(c.last_failure(), Failure::Trust);
    }
    {
        Connection c = connect();
        auto result = c.authenticate(identity, HostKeyLookup([](std::string_view) { return std::optional<Key32>{}; }));
        ASSERT_FALSE(result);
        EXPECT_EQ(c.last_failure(), Failure::Trust);
        EXPECT_NE(result.error().text.find(host.host_id()), std::string::npos) << result.error().text;
    }
    {
        // A client whose seed changed since pairing: its signature is refused with a silent close.
        ClientIdentity changed = identity;
        changed.seed[0] ^= 1;
        Connection c = connect();
        auto result = c.authenticate(changed, host.host_public());
        ASSERT_FALSE(result);
        EXPECT_EQ(c.last_failure(), Failure::Closed);
    }
}

TEST_F(ConnectionTest, EventsTextAndClipboardReachTheHost) {
    Connection c = paired();
    std::uint64_t seq = 100;
    for (InputEvent e : {key_event(0x04, KeyAction::Down), key_event(0x04, KeyAction::Up),
                         mouse_button_event(MouseButton::Right, true), mouse_button_event(MouseButton::Right, false),
                         scroll_event(0.0f, 1.0f), pointer_move_event(3.0f, -2.0f)}) {
        e.seq = seq++;
        ASSERT_TRUE(c.send_event(e));
    }
    ASSERT_TRUE(c.send_text("hello"));
    ASSERT_TRUE(c.send_clipboard("clip", true));
    ASSERT_TRUE(c.ping(1)) << "the host answers after it handled everything before";
    auto log = host.sink_log();
    EXPECT_TRUE(in_order(log, {"a down", "a up", "button 2 down", "button 2 up", "wheel 5", "move 3 -2", "type 5",
                               "clipboard clip", "leftCtrl down", "v down", "v up", "leftCtrl up"}))
        << joined(log);
}

TEST_F(ConnectionTest, CtrlAltDelReplyIsKeptWhilePingWaits) {
    host.set_sas_outcome(SasOutcome::NeedsAdmin);
    Connection c = paired();
    InputEvent cad = edit_command_event(kEditCtrlAltDel);
    cad.seq = 5;
    ASSERT_TRUE(c.send_event(cad));
    ASSERT_TRUE(c.ping(9)) << "the SasResult that came first is kept";
    auto reply = c.receive(1s);
    ASSERT_TRUE(reply) << reply.error().text;
    EXPECT_EQ(reply->message_type(), MessageType::SasResult);
    EXPECT_EQ(reply->text(), encode_sas_result(SasOutcome::NeedsAdmin));
}

TEST_F(ConnectionTest, RemovalEndsTheSessionWithItsReason) {
    Connection c = paired();
    host.remove_client(identity.client_id);
    auto message = c.receive(5s);
    ASSERT_FALSE(message);
    EXPECT_EQ(c.last_failure(), Failure::Reason);
    EXPECT_EQ(c.last_reason(), "removed_by_user");
    EXPECT_FALSE(c.is_open());
}

TEST_F(ConnectionTest, ReplayedFrameBytesEndTheSession) {
    Connection c = paired();
    auto frame = encode_frame(MessageType::Ping, as_bytes(encode_json(Ping{77})), c.crypto());
    ASSERT_TRUE(frame);
    ASSERT_TRUE(c.send_raw(*frame));
    auto pong = c.receive(MessageType::Pong, 5s);
    ASSERT_TRUE(pong) << pong.error().text;
    ASSERT_TRUE(c.send_raw(*frame));  // the same bytes again: the host's counter has moved on
    auto after = c.receive(5s);
    ASSERT_FALSE(after);
    EXPECT_EQ(c.last_failure(), Failure::Closed);
}

TEST_F(ConnectionTest, SendFrameSealsWithTheSessionCounter) {
    Connection c = paired();
    ASSERT_TRUE(c.send_frame(MessageType::Ping, as_bytes(encode_json(Ping{3})), true));
    auto pong = c.receive(MessageType::Pong, 5s);
    ASSERT_TRUE(pong) << pong.error().text;
    EXPECT_EQ(pong->text(), R"({"ts":3})");
    EXPECT_EQ(c.crypto()->send_counter(), 1u);
    EXPECT_EQ(c.crypto()->receive_counter(), 1u);
}

TEST_F(ConnectionTest, OversizeMessageIsRefusedWithoutUsingACounterValue) {
    Connection c = paired();
    auto sent = c.send_text(std::string(70000, 'x'));
    ASSERT_FALSE(sent);
    EXPECT_EQ(c.last_failure(), Failure::Usage);
    EXPECT_EQ(c.crypto()->send_counter(), 0u);
    EXPECT_TRUE(c.ping(5)) << "the host still opens the next frame";
    EXPECT_TRUE(c.send_text(std::string(65000, 'y')));
    EXPECT_TRUE(c.ping(6));
}

TEST_F(ConnectionTest, DatagramsWithAcknowledgement) {
    Connection c = paired();
    auto sender = DatagramSender::open(c);
    ASSERT_TRUE(sender) << sender.error().text;
    InputEvent move = pointer_move_event(10.0f, 0.0f);
    move.seq = 1000;
    move.flags = kDatagramAckRequested;
    ASSERT_TRUE(sender->send(move));
    InputEvent quiet = pointer_move_event(0.0f, 4.0f);
    quiet.seq = 1001;
    ASSERT_TRUE(sender->send(quiet)) << "no flag: sent without waiting";
    InputEvent last = key_event(0x05, KeyAction::Down);
    last.seq = 1002;
    last.flags = kDatagramAckRequested;
    ASSERT_TRUE(sender->send(last));
    EXPECT_EQ(host.datagrams_dispatched(), 3);
    EXPECT_TRUE(in_order(host.sink_log(), {"move 10 0", "move 0 4", "b down"})) << joined(host.sink_log());
}

TEST_F(ConnectionTest, LostAcknowledgementsAreRetriedAndTheHostDispatchesOnce) {
    Connection c = paired();
    auto sender = DatagramSender::open(c);
    ASSERT_TRUE(sender);
    sender->set_ack_policy(200ms, 4);
    host.drop_acks(2);
    InputEvent move = pointer_move_event(7.0f, 0.0f);
    move.seq = 50;
    move.flags = kDatagramAckRequested;
    ASSERT_TRUE(sender->send(move));
    EXPECT_EQ(host.datagrams_dispatched(), 3) << "sent three times";
    auto log = host.sink_log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "move 7 0"), 1) << "the replay window let one through";

    host.drop_acks(100);
    sender->set_ack_policy(20ms, 3);
    move.seq = 51;
    auto result = sender->send(move);
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().text.find("no acknowledgement"), std::string::npos) << result.error().text;
}

TEST_F(ConnectionTest, DatagramsUnderAnotherKeyAreNotAcknowledged) {
    Connection c = paired();
    Key32 wrong = *c.session_key();
    wrong[0] ^= 1;
    auto sender = DatagramSender::open(c.remote_address(), c.udp_port(), wrong);
    ASSERT_TRUE(sender);
    sender->set_ack_policy(20ms, 2);
    InputEvent e = key_event(0x04, KeyAction::Down);
    e.seq = 9;
    e.flags = kDatagramAckRequested;
    EXPECT_FALSE(sender->send(e));
    EXPECT_EQ(host.datagrams_dispatched(), 0);
}

TEST_F(ConnectionTest, RawDatagramHooks) {
    Connection c = paired();
    auto sender = DatagramSender::open(c);
    ASSERT_TRUE(sender);
    InputEvent e = key_event(0x06, KeyAction::Down);
    e.seq = 70;
    e.flags = kDatagramAckRequested;
    InputDatagram d = seal_input_datagram(*c.session_key(), e);
    ASSERT_TRUE(sender->send_raw(ByteView(d.data(), 35)));  // ignored by the host
    ASSERT_TRUE(sender->send_raw(d));
    auto ack = sender->receive_raw(5s);
    ASSERT_TRUE(ack && *ack);
    EXPECT_TRUE(verify_datagram_ack(*c.session_key(), **ack, 70));
    EXPECT_NE(sender->local_port(), 0);
}

TEST(ConnectionFailures, ConnectionRefused) {
    Connection c;
    auto ok = c.connect("127.0.0.1", test::closed_port(), 5s);
    ASSERT_FALSE(ok);
    EXPECT_EQ(c.last_failure(), Failure::Refused);
    EXPECT_NE(ok.error().text.find("connection refused"), std::string::npos) << ok.error().text;
}

TEST(ConnectionFailures, SilentHostTimesOutAndTheConnectionStaysUsable) {
    RawServer server({}, RawServer::Then::WaitForClient);
    Connection c;
    ASSERT_TRUE(c.connect("127.0.0.1", server.port(), 100ms));
    auto info = c.host_info();
    ASSERT_FALSE(info);
    EXPECT_EQ(c.last_failure(), Failure::TimedOut);
    EXPECT_NE(info.error().text.find("timed out"), std::string::npos) << info.error().text;
    EXPECT_TRUE(c.is_open());
    auto again = c.receive_frame(50ms);
    ASSERT_FALSE(again);
    EXPECT_EQ(c.last_failure(), Failure::TimedOut);
}

TEST(ConnectionFailures, HostThatClosesOrSendsBadFrames) {
    struct Case {
        Bytes greeting;
        Failure failure;
        std::string text;
    };
    const Case cases[] = {
        {{}, Failure::Closed, "closed the connection"},
        {{0x00, 0x00, 0x00, 0x00}, Failure::Protocol, "invalid length"},
        {{0x01, 0x00, 0x01, 0x00}, Failure::Protocol, "invalid length"},  // 65537
        {{0x01, 0x00, 0x00, 0x00, 0x31}, Failure::Protocol, "unexpected message 0x31"},
        {{0x16, 0x00, 0x00, 0x00, 0x2F, '{', '"', 'r', 'e', 'a', 's', 'o', 'n',
          '"',  ':',  '"',  'u',  'n',  'p', 'a', 'i', 'r', 'e', 'd', '"', '}'},
         Failure::Reason,
         "unpaired"},
    };
    test::CountingRandom rng(3);
    ClientIdentity identity = new_client_identity(rng);
    for (const auto& c : cases) {
        RawServer server(c.greeting, RawServer::Then::Close);
        Connection conn(rng);
        ASSERT_TRUE(conn.connect("127.0.0.1", server.port(), 5s));
        auto result = conn.authenticate(identity, Key32{});
        ASSERT_FALSE(result) << c.text;
        EXPECT_EQ(conn.last_failure(), c.failure) << result.error().text;
        EXPECT_NE(result.error().text.find(c.text), std::string::npos) << result.error().text;
    }
}

}  // namespace
}  // namespace korvex::client
