#include "core/handshake.h"

#include <gtest/gtest.h>

#include "core/messages.h"
#include "support/fakes.h"

namespace korvex {
namespace {

using Kind = HandshakeOutcome::Kind;

// The client side of both handshakes, built from the same primitives.
struct TestClient {
    std::string client_id = "phone-1";
    Key32 seed{};
    X25519KeyPair ephemeral{};
    Nonce16 nonce{};
    Key32 ed_public{};

    explicit TestClient(RandomSource& rng, std::string id = "phone-1") : client_id(std::move(id)) {
        rng.fill(seed);
        ephemeral = x25519_keypair(rng);
        rng.fill(nonce);
        ed_public = ed25519_public_key(seed);
    }
    std::string pair_request(std::string name = "Phone A") const {
        return encode_json(PairRequest{client_id, std::move(name), "Model", ephemeral.public_key, ed_public, nonce});
    }
    Bytes pairing_x(const PairResponse& r) const {
        return pairing_transcript(client_id, r.host_id, ephemeral.public_key, r.host_x25519, ed_public, r.host_ed25519,
                                  nonce, r.host_nonce);
    }
    PairingKeys keys(const PairResponse& r, std::string_view code) const {
        return derive_pairing_keys(x25519_shared(ephemeral.private_key, r.host_x25519), code, pairing_x(r));
    }
    std::string pair_confirm(const PairResponse& r, std::string_view code) const {
        Bytes x = pairing_x(r);
        return encode_json(PairConfirm{client_confirm_mac(keys(r, code).confirm_key, x), ed25519_sign(seed, x)});
    }
    std::string auth_hello(std::string name = "") const {
        return encode_json(AuthHello{client_id, std::move(name), ephemeral.public_key, nonce});
    }
    Bytes auth_t(const AuthChallenge& c) const {
        return auth_transcript(client_id, c.host_id, ephemeral.public_key, c.host_x25519, nonce, c.host_nonce);
    }
    std::string auth_response(const AuthChallenge& c) const {
        return encode_json(AuthResponse{ed25519_sign(seed, auth_t(c))});
    }
};

class HandshakeTest : public ::testing::Test {
protected:
    void SetUp() override {
        crypto_init();
        identity.host_id = "host-uuid";
        identity.seed.fill(0x21);
        host_public = ed25519_public_key(identity.seed);
        core.store.dir = "/data";
        core.store.path = "/data/paired_devices.json";
        core.store.store_key = derive_store_key(identity.seed);
    }

    HandshakeOutcome step(HandshakeState& state, MessageType type, std::string_view body) {
        HandshakeContext ctx{identity, host_public, "Desk", 49182, lan, ts, "desktop", rng, saver, now};
        return handle_handshake_frame(state, static_cast<std::uint8_t>(type), as_bytes(body), core, ctx,
                                      "192.168.1.7");
    }

    // PairRequest then PairConfirm on a fresh connection.
    HandshakeOutcome pair(const TestClient& client, std::string_view code, PairResponse* response_out = nullptr) {
        HandshakeState state;
        auto first = step(state, MessageType::PairRequest, client.pair_request());
        if (first.kind != Kind::Continue) return first;
        auto response = decode_pair_response(first.plain.at(0).body);
        EXPECT_TRUE(response);
        if (response_out) *response_out = *response;
        return step(state, MessageType::PairConfirm, client.pair_confirm(*response, code));
    }

    void store_client(const TestClient& client, std::string name = "Phone A") {
        upsert_client(core.store, {client.client_id, std::move(name), "", hex_lower(client.ed_public), 100, 100, ""});
    }

    HostIdentity identity;
    Key32 host_public{};
    HostCore core;
    test::CountingRandom rng{3};
    test::MemoryFileSystem fs;
    DirectStoreSaver saver{fs};
    std::vector<std::string> lan{"192.168.1.20:49182"};
    std::vector<std::string> ts{"100.101.102.103:49182"};
    std::uint64_t now = 1700000000;
};

std::string reason_of(const HandshakeOutcome& out) {
    EXPECT_EQ(out.plain.size(), 1u);
    return out.plain.empty() ? "" : decode_reason(out.plain[0].body)->reason;
}

TEST_F(HandshakeTest, EmptyPairRequestAnswersHostInfoAndCloses) {
    HandshakeState state;
    auto out = step(state, MessageType::PairRequest, "");
    ASSERT_EQ(out.kind, Kind::ReplyAndClose);
    ASSERT_EQ(out.plain.size(), 1u);
    EXPECT_EQ(out.plain[0].type, MessageType::HostInfo);
    auto info = decode_host_info(out.plain[0].body);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->fp, host_fingerprint(host_public));
    EXPECT_EQ(info->fp.size(), 16u);
    EXPECT_EQ(info->udp_port, 49182);
    EXPECT_EQ(info->name, "Desk");
}

TEST_F(HandshakeTest, PairingSucceedsAndBothSidesHoldTheSameKey) {
    TestClient client(rng);
    std::string code = new_pairing_code(core, rng);
    PairResponse response;
    auto out = pair(client, code, &response);
    ASSERT_EQ(out.kind, Kind::Established);
    EXPECT_EQ(response.host_ed25519, host_public);
    EXPECT_EQ(response.lan_endpoints, lan);
    EXPECT_EQ(response.device_type, "desktop");
    ASSERT_EQ(out.plain.size(), 1u);
    EXPECT_TRUE(out.encrypted.empty());
    auto complete = decode_pair_complete(out.plain[0].body);
    ASSERT_TRUE(complete);
    Bytes x = client.pairing_x(response);
    PairingKeys keys = client.keys(response, code);
    EXPECT_EQ(complete->host_mac, host_confirm_mac(keys.confirm_key, x));
    EXPECT_TRUE(ed25519_verify(host_public, x, complete->host_sig));
    EXPECT_EQ(complete->udp_port, 49182);
    EXPECT_EQ(out.session_key, keys.session_key);
    EXPECT_EQ(out.client_id, "phone-1");
    EXPECT_EQ(out.display_name, "Phone A");

    EXPECT_FALSE(core.pairing.code);
    const PairedClientRecord* record = find_client(core.store, "phone-1");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->ed25519_public_key_hex, hex_lower(client.ed_public));
    EXPECT_EQ(record->device_model, "Model");
    EXPECT_EQ(record->paired_at_unix, now);
    EXPECT_EQ(record->last_remote_ip, "192.168.1.7");
    EXPECT_TRUE(fs.files.count("/data/paired_devices.json"));
    ASSERT_EQ(core.pending_events.size(), 2u);
    EXPECT_EQ(core.pending_events[0].kind, HostEvent::Kind::DevicePaired);
    EXPECT_EQ(core.pending_events[0].text, "Phone A");
    EXPECT_EQ(core.pending_events[1].kind, HostEvent::Kind::PairedListChanged);
}

TEST_F(HandshakeTest, CodeIsUsedAsItsSixDigitsIncludingLeadingZeros) {
    TestClient client(rng);
    core.pairing.code = "000123";
    EXPECT_EQ(pair(client, "123").kind, Kind::ReplyAndClose);
    core.pairing.code = "000123";
    core.pairing.failed_attempts = 0;
    EXPECT_EQ(pair(client, "000123").kind, Kind::Established);
}

TEST_F(HandshakeTest, FiveWrongCodesRetireTheCode) {
    TestClient client(rng);
    std::string code = new_pairing_code(core, rng);
    std::string wrong = code == "111111" ? "222222" : "111111";
    for (int attempt = 1; attempt <= 5; ++attempt) {
        SCOPED_TRACE(attempt);
        auto out = pair(client, wrong);
        ASSERT_EQ(out.kind, Kind::ReplyAndClose);
        EXPECT_EQ(reason_of(out), "invalid_code");
        EXPECT_EQ(core.pairing.code.has_value(), attempt < 5);
    }
    ASSERT_EQ(core.pending_events.size(), 1u);
    EXPECT_EQ(core.pending_events[0].kind, HostEvent::Kind::PairingCodeRetired);
    HandshakeState state;
    auto out = step(state, MessageType::PairRequest, client.pair_request());
    EXPECT_EQ(reason_of(out), "no_active_code");
    EXPECT_TRUE(fs.files.empty());
}

TEST_F(HandshakeTest, FailedConfirmationsThatCountAsAttempts) {
    TestClient client(rng);
    TestClient impostor(rng, "phone-1");
    struct Case {
        const char* name;
        std::function<std::string(const PairResponse&, const std::string&)> confirm;
    };
    const Case cases[] = {
        {"signature by another key",
         [&](const PairResponse& r, const std::string& code) {
             Bytes x = client.pairing_x(r);
             return encode_json(PairConfirm{client_confirm_mac(client.keys(r, code).confirm_key, x), ed25519_sign(impostor.seed, x)});
         }},
        {"host MAC prefix instead of the client's",
         [&](const PairResponse& r, const std::string& code) {
             Bytes x = client.pairing_x(r);
             return encode_json(PairConfirm{host_confirm_mac(client.keys(r, code).confirm_key, x), ed25519_sign(client.seed, x)});
         }},
        {"MAC of 63 digits",
         [&](const PairResponse& r, const std::string& code) {
             std::string body = client.pair_confirm(r, code);
             return body.erase(body.find("clientMacHex") + 15, 1);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string code = new_pairing_code(core, rng);
        HandshakeState state;
        auto first = step(state, MessageType::PairRequest, client.pair_request());
        auto response = decode_pair_response(first.plain.at(0).body);
        auto out = step(state, MessageType::PairConfirm, c.confirm(*response, code));
        ASSERT_EQ(out.kind, Kind::ReplyAndClose);
        EXPECT_EQ(reason_of(out), "invalid_code");
        EXPECT_EQ(core.pairing.failed_attempts, 1);
        EXPECT_EQ(find_client(core.store, "phone-1"), nullptr);
    }
}

TEST_F(HandshakeTest, SmallOrderClientKeyCountsAsWrongCode) {
    TestClient client(rng);
    client.ephemeral.public_key = Key32{};  // an all-zero shared secret
    new_pairing_code(core, rng);
    HandshakeState state;
    auto first = step(state, MessageType::PairRequest, client.pair_request());
    ASSERT_EQ(first.kind, Kind::Continue);
    auto out = step(state, MessageType::PairConfirm, encode_json(PairConfirm{Key32{}, Signature{}}));
    EXPECT_EQ(reason_of(out), "invalid_code");
    EXPECT_EQ(core.pairing.failed_attempts, 1);
}

TEST_F(HandshakeTest, TwoConnectionsOnOneCodeAndACodeWithdrawnMidway) {
    TestClient a(rng, "a"), b(rng, "b");
    std::string code = new_pairing_code(core, rng);
    HandshakeState sa, sb;
    auto ra = decode_pair_response(step(sa, MessageType::PairRequest, a.pair_request()).plain.at(0).body);
    auto rb = decode_pair_response(step(sb, MessageType::PairRequest, b.pair_request()).plain.at(0).body);
    EXPECT_EQ(step(sa, MessageType::PairConfirm, a.pair_confirm(*ra, code)).kind, Kind::Established);
    EXPECT_EQ(reason_of(step(sb, MessageType::PairConfirm, b.pair_confirm(*rb, code))), "no_active_code");
}

TEST_F(HandshakeTest, SaveFailureAnswersInternalError) {
    TestClient client(rng);
    std::string code = new_pairing_code(core, rng);
    fs.fail_write = true;
    auto out = pair(client, code);
    EXPECT_EQ(reason_of(out), "internal_error");
    EXPECT_NE(find_client(core.store, "phone-1"), nullptr);
    EXPECT_FALSE(core.pairing.code);
    EXPECT_TRUE(core.pending_events.empty());
}

TEST_F(HandshakeTest, PairingAgainReplacesTheRecordInPlace) {
    TestClient other(rng, "first");
    store_client(other);
    TestClient client(rng);
    store_client(client, "Old name");
    TestClient fresh(rng);  // same id, new keys
    std::string code = new_pairing_code(core, rng);
    ASSERT_EQ(pair(fresh, code).kind, Kind::Established);
    ASSERT_EQ(core.store.clients.size(), 2u);
    EXPECT_EQ(core.store.clients[1].client_id, "phone-1");
    EXPECT_EQ(core.store.clients[1].ed25519_public_key_hex, hex_lower(fresh.ed_public));
    EXPECT_EQ(core.store.clients[1].paired_at_unix, now);
}

TEST_F(HandshakeTest, PairResponseIsSignedOverTheTranscriptBeforeTheCodeIsUsed) {
    TestClient client(rng);
    new_pairing_code(core, rng);
    HandshakeState state;
    auto first = step(state, MessageType::PairRequest, client.pair_request());
    ASSERT_EQ(first.kind, Kind::Continue);
    auto response = decode_pair_response(first.plain.at(0).body);
    ASSERT_TRUE(response);
    ASSERT_TRUE(response->host_sig);
    // The same X that PairComplete is signed over, by the host identity key.
    EXPECT_TRUE(ed25519_verify(host_public, client.pairing_x(*response), *response->host_sig));
    // A swapped X25519 key no longer matches the signature.
    PairResponse swapped = *response;
    swapped.host_x25519[0] ^= 1;
    EXPECT_FALSE(ed25519_verify(host_public, client.pairing_x(swapped), *response->host_sig));
    // The member comes last, after everything older clients read.
    EXPECT_TRUE(first.plain[0].body.ends_with(R"(,"hostSigHex":")" + hex_lower(*response->host_sig) + R"("})"));
}

TEST_F(HandshakeTest, RepairingWithANewKeyIsReportedAndTheSameKeyIsNot) {
    TestClient client(rng);
    store_client(client);
    std::string code = new_pairing_code(core, rng);
    EXPECT_FALSE(pair(client, code).replaced_key) << "same key again";
    TestClient fresh(rng);  // same id, new keys
    code = new_pairing_code(core, rng);
    auto out = pair(fresh, code);
    ASSERT_EQ(out.kind, Kind::Established);
    EXPECT_TRUE(out.replaced_key);
    EXPECT_EQ(out.client_id, "phone-1");
    TestClient newcomer(rng, "phone-2");
    code = new_pairing_code(core, rng);
    EXPECT_FALSE(pair(newcomer, code).replaced_key) << "nothing stored before";
}

TEST_F(HandshakeTest, RepairingWhoseSaveFailsStillReportsTheReplacedKey) {
    TestClient client(rng);
    store_client(client);
    TestClient fresh(rng);
    std::string code = new_pairing_code(core, rng);
    fs.fail_write = true;
    auto out = pair(fresh, code);
    EXPECT_EQ(reason_of(out), "internal_error");
    EXPECT_TRUE(out.replaced_key);
    EXPECT_EQ(out.client_id, "phone-1");
}

TEST_F(HandshakeTest, AuthenticationBegunBeforeARepairingFails) {
    TestClient client(rng);
    store_client(client);
    HandshakeState state;
    auto challenge = decode_auth_challenge(step(state, MessageType::AuthHello, client.auth_hello()).plain.at(0).body);
    ASSERT_TRUE(challenge);
    // The same id is paired again with another key meanwhile.
    TestClient fresh(rng);
    ASSERT_EQ(pair(fresh, new_pairing_code(core, rng)).kind, Kind::Established);
    // A valid signature by the old key no longer opens a session.
    EXPECT_EQ(reason_of(step(state, MessageType::AuthResponse, client.auth_response(*challenge))), "unpaired");
}

TEST_F(HandshakeTest, DecodingApartFromTheStepGivesTheSameOutcomes) {
    // What the session decodes before taking the lock.
    EXPECT_TRUE(std::holds_alternative<HostInfoQuery>(decode_handshake_frame(0x10, {})));
    TestClient client(rng);
    EXPECT_TRUE(std::holds_alternative<PairRequest>(decode_handshake_frame(0x10, as_bytes(client.pair_request()))));
    EXPECT_TRUE(std::holds_alternative<AuthHello>(decode_handshake_frame(0x20, as_bytes(client.auth_hello()))));
    EXPECT_TRUE(std::holds_alternative<UndecodableFrame>(decode_handshake_frame(0x20, as_bytes("{"))));
    EXPECT_TRUE(std::holds_alternative<UndecodableFrame>(decode_handshake_frame(0x34, as_bytes("{}"))));
    store_client(client);
    HandshakeState state;
    HandshakeContext ctx{identity, host_public, "Desk", 49182, lan, ts, "desktop", rng, saver, now};
    auto out = handle_handshake_frame(state, decode_handshake_frame(0x20, as_bytes(client.auth_hello())), core, ctx,
                                      "192.168.1.7");
    EXPECT_EQ(out.kind, Kind::Continue);
    EXPECT_EQ(handle_handshake_frame(state, UndecodableFrame{}, core, ctx, "192.168.1.7").kind, Kind::Close);
}

TEST_F(HandshakeTest, BadFramesCloseSilently) {
    TestClient client(rng);
    new_pairing_code(core, rng);
    auto with_id = [&](std::string id) { TestClient c(rng, std::move(id)); return c.pair_request(); };
    struct Case {
        const char* name;
        MessageType type;
        std::string body;
    };
    const Case cases[] = {
        {"client id of 129 bytes", MessageType::PairRequest, with_id(std::string(129, 'x'))},
        {"device name of 257 bytes", MessageType::PairRequest, client.pair_request(std::string(257, 'n'))},
        {"not JSON", MessageType::PairRequest, "{"},
        {"empty AuthHello", MessageType::AuthHello, ""},
        {"PairConfirm first", MessageType::PairConfirm, "{}"},
        {"AuthResponse first", MessageType::AuthResponse, "{}"},
        {"Ping before establishment", MessageType::Ping, R"({"ts":1})"},
        {"unknown type", static_cast<MessageType>(0x40), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HandshakeState state;
        auto out = step(state, c.type, c.body);
        EXPECT_EQ(out.kind, Kind::Close);
        EXPECT_TRUE(out.plain.empty());
        EXPECT_TRUE(std::holds_alternative<std::monostate>(state));
    }
    EXPECT_EQ(core.pairing.failed_attempts, 0);
}

TEST_F(HandshakeTest, AuthenticationSucceedsAndRefreshesTheRecord) {
    TestClient client(rng);
    store_client(client);
    now = 1800000000;
    HandshakeState state;
    auto first = step(state, MessageType::AuthHello, client.auth_hello());
    ASSERT_EQ(first.kind, Kind::Continue);
    ASSERT_EQ(first.plain.at(0).type, MessageType::AuthChallenge);
    auto challenge = decode_auth_challenge(first.plain[0].body);
    ASSERT_TRUE(challenge);
    Bytes t = client.auth_t(*challenge);
    EXPECT_TRUE(ed25519_verify(host_public, t, challenge->host_sig));
    EXPECT_EQ(challenge->tailscale_endpoints, ts);

    auto out = step(state, MessageType::AuthResponse, client.auth_response(*challenge));
    ASSERT_EQ(out.kind, Kind::Established);
    EXPECT_TRUE(out.plain.empty());
    ASSERT_EQ(out.encrypted.size(), 1u);
    EXPECT_EQ(out.encrypted[0].type, MessageType::AuthOk);
    EXPECT_EQ(out.encrypted[0].body, "{}");
    Key32 shared = x25519_shared(client.ephemeral.private_key, challenge->host_x25519);
    EXPECT_EQ(out.session_key, derive_auth_session_key(shared, client.nonce, challenge->host_nonce, t));
    EXPECT_EQ(out.display_name, "Phone A");
    const PairedClientRecord* record = find_client(core.store, "phone-1");
    EXPECT_EQ(record->last_seen_unix, 1800000000u);
    EXPECT_EQ(record->paired_at_unix, 100u);
    EXPECT_EQ(record->last_remote_ip, "192.168.1.7");
    EXPECT_TRUE(fs.files.count("/data/paired_devices.json"));
}

TEST_F(HandshakeTest, DisplayNameFromHelloDoesNotChangeTheStoredName) {
    TestClient client(rng);
    store_client(client);
    HandshakeState state;
    auto challenge = decode_auth_challenge(step(state, MessageType::AuthHello, client.auth_hello("Tablet")).plain.at(0).body);
    auto out = step(state, MessageType::AuthResponse, client.auth_response(*challenge));
    EXPECT_EQ(out.display_name, "Tablet");
    EXPECT_EQ(find_client(core.store, "phone-1")->device_name, "Phone A");
}

TEST_F(HandshakeTest, AuthenticationRefusals) {
    TestClient client(rng);
    {
        SCOPED_TRACE("unknown client: exactly one AuthError");
        HandshakeState state;
        auto out = step(state, MessageType::AuthHello, client.auth_hello());
        ASSERT_EQ(out.kind, Kind::ReplyAndClose);
        EXPECT_EQ(out.plain.at(0).type, MessageType::AuthError);
        EXPECT_EQ(out.plain[0].body, R"({"reason":"unpaired"})");
    }
    {
        SCOPED_TRACE("stored key unreadable");
        upsert_client(core.store, {client.client_id, "n", "", "zz", 1, 1, ""});
        HandshakeState state;
        EXPECT_EQ(reason_of(step(state, MessageType::AuthHello, client.auth_hello())), "unpaired");
    }
    store_client(client);
    {
        SCOPED_TRACE("signature over swapped nonces");
        HandshakeState state;
        auto challenge = decode_auth_challenge(step(state, MessageType::AuthHello, client.auth_hello()).plain.at(0).body);
        Bytes swapped = auth_transcript(client.client_id, challenge->host_id, client.ephemeral.public_key,
                                        challenge->host_x25519, challenge->host_nonce, client.nonce);
        auto out = step(state, MessageType::AuthResponse, encode_json(AuthResponse{ed25519_sign(client.seed, swapped)}));
        EXPECT_EQ(out.kind, Kind::Close);
        EXPECT_TRUE(out.plain.empty());
    }
    {
        SCOPED_TRACE("second AuthHello");
        HandshakeState state;
        step(state, MessageType::AuthHello, client.auth_hello());
        EXPECT_EQ(step(state, MessageType::AuthHello, client.auth_hello()).kind, Kind::Close);
    }
    {
        SCOPED_TRACE("removed between hello and response");
        HandshakeState state;
        auto challenge = decode_auth_challenge(step(state, MessageType::AuthHello, client.auth_hello()).plain.at(0).body);
        erase_client_records(core.store, client.client_id);
        EXPECT_EQ(reason_of(step(state, MessageType::AuthResponse, client.auth_response(*challenge))), "unpaired");
    }
}

TEST(PairingCode, DrawingAndRetirement) {
    test::CountingRandom rng(0);
    HostCore core;
    std::string code = draw_pairing_code(rng);
    EXPECT_EQ(code.size(), 6u);
    EXPECT_EQ(code.find_first_not_of("0123456789"), std::string::npos);
    // 0x03020100 = 50462976 -> "462976"
    test::CountingRandom fixed(0);
    EXPECT_EQ(draw_pairing_code(fixed), "462976");

    record_pairing_failure(core);  // no code: nothing happens
    EXPECT_EQ(core.pairing.failed_attempts, 0);
    new_pairing_code(core, rng);
    for (int i = 0; i < 4; ++i) record_pairing_failure(core);
    EXPECT_TRUE(core.pairing.code);
    new_pairing_code(core, rng);  // a new code starts counting afresh
    EXPECT_EQ(core.pairing.failed_attempts, 0);
    clear_pairing_code(core);
    EXPECT_FALSE(core.pairing.code);
}

// Values above 4293999999 are drawn again rather than folded onto low codes.
class HighThenLow final : public RandomSource {
public:
    int calls = 0;
    void fill(std::span<std::uint8_t> out) override {
        std::uint32_t v = calls++ == 0 ? 4294000000u : 7u;
        for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
};

TEST(PairingCode, RejectionSampling) {
    HighThenLow rng;
    EXPECT_EQ(draw_pairing_code(rng), "000007");
    EXPECT_EQ(rng.calls, 2);
}

}  // namespace
}  // namespace korvex
