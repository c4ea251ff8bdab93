// Authentication of paired clients over loopback, and the handshake's
// refusals: the reason frames and the silent closes.
#include "client/events.h"
#include "core/messages.h"
#include "net/host_fixture.h"

namespace korvex::test {
namespace {

using Auth = HostFixture;

TEST_F(Auth, PairedClientAuthenticatesOnANewConnectionAndTypes) {
    auto first = connect();
    client::ClientIdentity identity = pair(first);
    first.close();

    auto again = authenticated(identity, "Tablet");
    ASSERT_TRUE(again.send_event(numbered(client::key_event(0x04, client::KeyAction::Down), 1)));
    ASSERT_TRUE(again.send_event(numbered(client::key_event(0x04, client::KeyAction::Up), 2)));
    EXPECT_EQ(wait_for_sink(2), (std::vector<std::string>{"a down", "a up"}));
}

TEST_F(Auth, DisplayNameComesFromHelloOrFromTheStore) {
    struct Case {
        std::string hello_name;
        std::string display_name;
    };
    for (const Case& test : {Case{"", "Phone A"}, Case{"Tablet", "Tablet"}}) {
        SCOPED_TRACE(test.hello_name);
        Client paired = paired_client("Phone A");
        paired.connection.close();
        // The host ends the pairing session on its own time.
        ASSERT_TRUE(eventually([&] { return sessions_of(paired.identity.client_id).empty(); }));
        auto c = authenticated(paired.identity, test.hello_name);
        EXPECT_EQ(sessions_of(paired.identity.client_id), std::vector<std::string>{test.display_name});
        auto record = stored(paired.identity.client_id);
        ASSERT_TRUE(record);
        EXPECT_EQ(record->device_name, "Phone A") << "the stored name never changes at authentication";
    }
}

TEST_F(Auth, TwoSessionsOfOneClientLiveSideBySide) {
    Client paired = paired_client("Phone A");
    auto second = authenticated(paired.identity, "Phone B");
    EXPECT_EQ(sessions_of(paired.identity.client_id).size(), 2u);
    EXPECT_TRUE(paired.connection.ping(3));
    EXPECT_TRUE(second.ping(4));
}

TEST_F(Auth, UnknownClientGetsExactlyOneAuthErrorThenTheConnectionCloses) {
    auto c = connect();
    AuthHello hello{"never-paired", "", x25519_keypair(os_random()).public_key, {}};
    ASSERT_TRUE(c.send_frame(MessageType::AuthHello, as_bytes(encode_json(hello)), false));
    auto frame = c.receive_frame(5s);
    ASSERT_TRUE(frame) << frame.error().text;
    EXPECT_EQ(frame->type, 0x2F);
    EXPECT_EQ(frame->length_field(), 22u);
    EXPECT_EQ(as_text(frame->body), R"({"reason":"unpaired"})");
    EXPECT_TRUE(closes_silently(c));
}

TEST_F(Auth, ClientLibraryReportsUnpaired) {
    auto c = connect();
    auto auth = c.authenticate(client::new_client_identity(os_random()), shared().host_public());
    ASSERT_FALSE(auth);
    EXPECT_EQ(c.last_failure(), client::Failure::Reason);
    EXPECT_EQ(c.last_reason(), "unpaired");
}

// The handshake by hand, so the client's signature can be made over a
// transcript of our choosing.
TEST_F(Auth, SignatureOverSwappedNoncesIsRefusedSilently) {
    Client paired = paired_client();
    paired.connection.close();
    for (bool swapped : {false, true}) {
        SCOPED_TRACE(swapped);
        auto c = connect();
        X25519KeyPair ephemeral = x25519_keypair(os_random());
        Nonce16 client_nonce{};
        os_random().fill(client_nonce);
        AuthHello hello{paired.identity.client_id, "", ephemeral.public_key, client_nonce};
        ASSERT_TRUE(c.send_frame(MessageType::AuthHello, as_bytes(encode_json(hello)), false));
        auto frame = c.receive_frame(5s);
        ASSERT_TRUE(frame) << frame.error().text;
        ASSERT_EQ(frame->type, static_cast<std::uint8_t>(MessageType::AuthChallenge));
        auto challenge = decode_auth_challenge(as_text(frame->body));
        ASSERT_TRUE(challenge) << challenge.error().text;

        const Nonce16& first = swapped ? challenge->host_nonce : client_nonce;
        const Nonce16& second = swapped ? client_nonce : challenge->host_nonce;
        Bytes transcript = auth_transcript(paired.identity.client_id, challenge->host_id, ephemeral.public_key,
                                           challenge->host_x25519, first, second);
        AuthResponse response{ed25519_sign(paired.identity.seed, transcript)};
        ASSERT_TRUE(c.send_frame(MessageType::AuthResponse, as_bytes(encode_json(response)), false));
        if (swapped) {
            EXPECT_TRUE(closes_silently(c));
        } else {
            auto ok = c.receive_frame(5s);
            ASSERT_TRUE(ok) << ok.error().text;
            EXPECT_EQ(ok->type, static_cast<std::uint8_t>(MessageType::AuthOk));
            EXPECT_EQ(ok->length_field(), 19u);
        }
    }
}

// Frames the handshake cannot take: the host closes without a word.
TEST_F(Auth, HandshakeViolationsCloseSilently) {
    struct Case {
        const char* name;
        MessageType type;
        std::string body;
    };
    const Case cases[] = {
        {"AuthResponse first", MessageType::AuthResponse, R"({"clientSigHex":")" + std::string(128, '0') + "\"}"},
        {"PairConfirm first", MessageType::PairConfirm, R"({"clientMacHex":"","clientSigHex":""})"},
        {"Ping before establishment", MessageType::Ping, R"({"ts":1})"},
        {"empty AuthHello", MessageType::AuthHello, ""},
        {"AuthHello not JSON", MessageType::AuthHello, "{clientId"},
        {"PairRequest with bad hex", MessageType::PairRequest,
         R"({"clientId":"x","deviceName":"","clientX25519PubHex":"zz","clientEd25519PubHex":"zz","clientNonceHex":"zz"})"},
        {"host's own type", MessageType::PairComplete, "{}"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        auto c = connect();
        ASSERT_TRUE(c.send_frame(test.type, as_bytes(test.body), false));
        EXPECT_TRUE(closes_silently(c));
    }
}

TEST_F(Auth, HostInfoQueryIsAnsweredThenClosed) {
    auto c = connect();
    auto info = c.host_info();
    ASSERT_TRUE(info) << info.error().text;
    EXPECT_EQ(info->name, "TEST-PC");
    EXPECT_EQ(info->fp.size(), 16u);
    EXPECT_EQ(info->udp_port, shared().udp_port());
    EXPECT_TRUE(closes_silently(c));
}

}  // namespace
}  // namespace korvex::test
