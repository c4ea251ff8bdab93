#include "core/messages.h"

#include <gtest/gtest.h>

namespace korvex {
namespace {

template <std::size_t N>
ByteArray<N> filled(std::uint8_t v) {
    ByteArray<N> a{};
    a.fill(v);
    return a;
}

std::string hex_of(std::uint8_t v, std::size_t n) { return hex_lower(Bytes(n, v)); }

std::string pair_request_body(const std::string& extra_members) {
    return "{\"clientId\":\"phone-1\",\"deviceName\":\"Pixel\"," + extra_members + "\"clientX25519PubHex\":\"" +
           hex_of(1, 32) + "\",\"clientEd25519PubHex\":\"" + hex_of(2, 32) + "\",\"clientNonceHex\":\"" +
           hex_of(3, 16) + "\"}";
}

TEST(Messages, HostEncodersWriteFixedOrderCompactJson) {
    PairResponse pr{"host-id", "Desk \"PC\"", "windows", filled<32>(0xAA), filled<32>(0xBB), filled<16>(0xCC),
                    {"192.168.1.20:49182"}, {}, "desktop", std::nullopt};
    EXPECT_EQ(encode_json(pr), "{\"hostId\":\"host-id\",\"hostName\":\"Desk \\\"PC\\\"\",\"osType\":\"windows\","
                               "\"hostX25519PubHex\":\"" + hex_of(0xAA, 32) + "\",\"hostEd25519PubHex\":\"" +
                                   hex_of(0xBB, 32) + "\",\"hostNonceHex\":\"" + hex_of(0xCC, 16) +
                                   "\",\"lanEndpoints\":[\"192.168.1.20:49182\"],\"tailscaleEndpoints\":[],"
                                   "\"deviceType\":\"desktop\"}");
    HostInfo info{1, "id", "PC", "windows", "0123456789abcdef", 49182};
    EXPECT_EQ(encode_json(info),
              R"({"v":1,"hostId":"id","name":"PC","os":"windows","fp":"0123456789abcdef","udpPort":49182})");
    AuthChallenge ch{"id", "PC", "windows", filled<32>(1), filled<16>(2), filled<64>(3), 49183, {"a:1"}, {"b:2"},
                     "laptop"};
    EXPECT_EQ(encode_json(ch), "{\"hostId\":\"id\",\"hostName\":\"PC\",\"osType\":\"windows\",\"hostX25519PubHex\":\"" +
                                   hex_of(1, 32) + "\",\"hostNonceHex\":\"" + hex_of(2, 16) + "\",\"hostSigHex\":\"" +
                                   hex_of(3, 64) +
                                   "\",\"udpPort\":49183,\"lanEndpoints\":[\"a:1\"],\"tailscaleEndpoints\":[\"b:2\"],"
                                   "\"deviceType\":\"laptop\"}");
    EXPECT_EQ(encode_json(PairComplete{filled<32>(4), filled<64>(5), 65535}),
              "{\"hostMacHex\":\"" + hex_of(4, 32) + "\",\"hostSigHex\":\"" + hex_of(5, 64) + "\",\"udpPort\":65535}");
    EXPECT_EQ(encode_json(Pong{18446744073709551615ULL}), R"({"ts":18446744073709551615})");
    EXPECT_EQ(encode_reason("no_active_code"), R"({"reason":"no_active_code"})");
}

TEST(Messages, EveryMessageRoundTrips) {
    PairRequest pr{"c", "n", "m", filled<32>(1), filled<32>(2), filled<16>(3)};
    auto pr2 = decode_pair_request(encode_json(pr));
    ASSERT_TRUE(pr2);
    EXPECT_EQ(pr2->client_id, "c");
    EXPECT_EQ(pr2->device_model, "m");
    EXPECT_EQ(pr2->client_ed25519, pr.client_ed25519);
    EXPECT_EQ(pr2->client_nonce, pr.client_nonce);

    auto pc = decode_pair_confirm(encode_json(PairConfirm{filled<32>(7), filled<64>(8)}));
    ASSERT_TRUE(pc);
    EXPECT_EQ(pc->client_mac, filled<32>(7));
    EXPECT_EQ(pc->client_sig, filled<64>(8));

    auto ah = decode_auth_hello(encode_json(AuthHello{"c", "Tablet", filled<32>(1), filled<16>(2)}));
    ASSERT_TRUE(ah);
    EXPECT_EQ(ah->device_name, "Tablet");
    EXPECT_EQ(decode_auth_response(encode_json(AuthResponse{filled<64>(9)}))->client_sig, filled<64>(9));
    EXPECT_EQ(decode_ping(encode_json(Ping{42}))->ts, 42u);
    EXPECT_EQ(decode_text_utf8(encode_json(TextUtf8{"h\u00e9\n\""}))->text, "h\u00e9\n\"");
    EXPECT_TRUE(decode_clipboard_set(encode_json(ClipboardSet{"x", true}))->auto_paste);

    PairResponse resp{"h", "PC", "windows", filled<32>(1), filled<32>(2), filled<16>(3), {"a:1", "b:2"}, {"c:3"},
                      "laptop", std::nullopt};
    auto resp2 = decode_pair_response(encode_json(resp));
    ASSERT_TRUE(resp2);
    EXPECT_FALSE(resp2->host_sig) << "a host that predates hostSigHex";
    resp.host_sig = filled<64>(7);
    auto signed_resp = decode_pair_response(encode_json(resp));
    ASSERT_TRUE(signed_resp);
    EXPECT_EQ(signed_resp->host_sig, filled<64>(7));
    std::string bad_sig = encode_json(resp);
    bad_sig.replace(bad_sig.find(hex_of(7, 64)), 2, "zz");
    EXPECT_FALSE(decode_pair_response(bad_sig)) << "present but not 128 hex digits";
    EXPECT_EQ(resp2->lan_endpoints, resp.lan_endpoints);
    EXPECT_EQ(resp2->tailscale_endpoints, resp.tailscale_endpoints);
    EXPECT_EQ(resp2->host_ed25519, resp.host_ed25519);
    EXPECT_EQ(decode_pair_complete(encode_json(PairComplete{filled<32>(1), filled<64>(2), 49190}))->udp_port, 49190);
    EXPECT_EQ(decode_host_info(encode_json(HostInfo{1, "h", "PC", "windows", "fp", 7}))->fp, "fp");
    AuthChallenge ch{"h", "PC", "windows", filled<32>(1), filled<16>(2), filled<64>(3), 1, {}, {"t:1"}, "desktop"};
    auto ch2 = decode_auth_challenge(encode_json(ch));
    ASSERT_TRUE(ch2);
    EXPECT_EQ(ch2->host_sig, ch.host_sig);
    EXPECT_EQ(ch2->tailscale_endpoints, ch.tailscale_endpoints);
    EXPECT_EQ(decode_pong(encode_json(Pong{5}))->ts, 5u);
    EXPECT_EQ(decode_reason(encode_reason("unpaired"))->reason, "unpaired");
}

TEST(Messages, PairRequestRules) {
    struct Case {
        std::string body;
        bool ok;
    };
    const Case cases[] = {
        {pair_request_body(""), true},
        {"   " + pair_request_body("\"extra\":[1,[2],{\"x\":null}],"), true},
        {pair_request_body("\"deviceModel\":\"Pixel 8\","), true},
        {pair_request_body("\"clientId\":\"again\","), false},
        {pair_request_body("\"deviceModel\":5,"), false},
        {"{\"clientId\":\"c\",\"clientX25519PubHex\":\"" + hex_of(1, 32) + "\",\"clientEd25519PubHex\":\"" +
             hex_of(2, 32) + "\",\"clientNonceHex\":\"" + hex_of(3, 16) + "\"}",
         false},  // deviceName is required here
        {"[\"c\",\"n\",\"m\",\"" + hex_of(1, 32) + "\",\"" + hex_of(2, 32) + "\",\"" + hex_of(3, 16) + "\"]", true},
        {"[\"c\",\"n\",\"m\",\"" + hex_of(1, 32) + "\",\"" + hex_of(2, 32) + "\"]", false},
        {"[\"c\",\"n\"]", false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        EXPECT_EQ(decode_pair_request(c.body).has_value(), c.ok);
    }
    auto body_with_id = [](const std::string& id, const std::string& name) {
        return "{\"clientId\":\"" + id + "\",\"deviceName\":\"" + name + "\",\"clientX25519PubHex\":\"" +
               hex_of(1, 32) + "\",\"clientEd25519PubHex\":\"" + hex_of(2, 32) + "\",\"clientNonceHex\":\"" +
               hex_of(3, 16) + "\"}";
    };
    EXPECT_FALSE(decode_pair_request(body_with_id("", "n")));
    EXPECT_TRUE(decode_pair_request(body_with_id(std::string(128, 'a'), "")));
    EXPECT_FALSE(decode_pair_request(body_with_id(std::string(129, 'a'), "")));
    EXPECT_TRUE(decode_pair_request(body_with_id("c", std::string(256, 'n'))));
    EXPECT_FALSE(decode_pair_request(body_with_id("c", std::string(257, 'n'))));
}

TEST(Messages, HexFieldsAreExactAndEitherCase) {
    auto hello = [](const std::string& key_hex, const std::string& nonce_hex) {
        return decode_auth_hello("{\"clientId\":\"c\",\"clientX25519PubHex\":\"" + key_hex +
                                 "\",\"clientNonceHex\":\"" + nonce_hex + "\"}");
    };
    std::string key = hex_of(0xAB, 32);
    std::string upper = key;
    for (auto& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_TRUE(hello(key, hex_of(1, 16)));
    EXPECT_TRUE(hello(upper, hex_of(1, 16)));
    EXPECT_FALSE(hello(key.substr(1), hex_of(1, 16)));       // odd digit count
    EXPECT_FALSE(hello(key + "00", hex_of(1, 16)));          // 33 bytes
    EXPECT_FALSE(hello("g" + key.substr(1), hex_of(1, 16)));  // non-hex digit
    EXPECT_FALSE(hello(key, hex_of(1, 15)));
}

TEST(Messages, PairConfirmWithWrongLengthsIsNotAFormatError) {
    auto confirm = decode_pair_confirm("{\"clientMacHex\":\"" + hex_of(1, 32).substr(1) + "\",\"clientSigHex\":\"xyz\"}");
    ASSERT_TRUE(confirm);
    EXPECT_FALSE(confirm->client_mac);
    EXPECT_FALSE(confirm->client_sig);
    EXPECT_FALSE(decode_pair_confirm(R"({"clientMacHex":"00"})"));
    EXPECT_FALSE(decode_pair_confirm(R"({"clientMacHex":1,"clientSigHex":"00"})"));
}

TEST(Messages, SessionMessageRules) {
    EXPECT_EQ(decode_ping(R"({"ts":18446744073709551615})")->ts, 18446744073709551615ULL);
    for (const char* bad : {R"({"ts":-1})", R"({"ts":1.5})", R"({"ts":"1"})", R"({})", R"({"ts":1}x)"}) {
        EXPECT_FALSE(decode_ping(bad)) << bad;
    }
    EXPECT_FALSE(decode_clipboard_set(R"({"text":"x"})")->auto_paste);
    EXPECT_TRUE(decode_clipboard_set(R"({"text":"x","autoPaste":true})")->auto_paste);
    EXPECT_FALSE(decode_clipboard_set(R"({"text":"x","autoPaste":1})"));
    EXPECT_TRUE(decode_clipboard_set(R"(["x",true])")->auto_paste);
    EXPECT_FALSE(decode_text_utf8(R"({"text":null})"));
    EXPECT_FALSE(decode_auth_hello(""));
    EXPECT_FALSE(decode_host_info(R"({"v":1,"hostId":"h","name":"n","os":"windows","fp":"f","udpPort":65536})"));
}

}  // namespace
TEST(Messages, HandshakeBodyBoundHoldsTheLargestValidRequestsTwice) {
    // Every text at its limit and made of characters that are escaped as \u00XX.
    const std::string id(kMaxClientIdBytes, '\x01'), name(kMaxDeviceNameBytes, '\x01'),
        model(kMaxDeviceModelBytes, '\x01');
    const std::string request = encode_json(PairRequest{id, name, model, filled<32>(1), filled<32>(2), filled<16>(3)});
    ASSERT_TRUE(decode_pair_request(request));
    EXPECT_LE(2 * request.size(), kMaxHandshakeBody) << request.size();
    const std::string hello = encode_json(AuthHello{id, name, filled<32>(1), filled<16>(2)});
    EXPECT_LE(2 * hello.size(), kMaxHandshakeBody) << hello.size();
    // Still a few KiB.
    EXPECT_LE(kMaxHandshakeBody, 16u * 1024);
}

}  // namespace korvex
