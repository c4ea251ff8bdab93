#include "core/pairing_uri.h"

#include <gtest/gtest.h>

#include <vector>

namespace korvex {
namespace {

Key32 key_of(std::uint8_t first) {
    Key32 k{};
    for (std::size_t i = 0; i < k.size(); ++i) k[i] = static_cast<std::uint8_t>(first + i);
    return k;
}

const std::string kPkHex = hex_lower(key_of(0xA0));

TEST(PairingUri, PercentEncodeKeepsUnreservedAndEncodesEveryOtherByte) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"", ""},
        {"AZaz09-._~", "AZaz09-._~"},
        {"Desk PC", "Desk%20PC"},
        {"a&b=c?d#e/f:g", "a%26b%3Dc%3Fd%23e%2Ff%3Ag"},
        {"100%", "100%25"},
        {"+", "%2B"},
        {"\xC3\xA9", "%C3%A9"},                // é: each byte on its own
        {"\xE2\x82\xAC", "%E2%82%AC"},         // €
        {"\xF0\x9F\x98\x80", "%F0%9F%98%80"},  // a four-byte character
        {"[fe80::1]:49182", "%5Bfe80%3A%3A1%5D%3A49182"},
        {std::string("\x00\x7F", 2), "%00%7F"},
    };
    for (const auto& c : cases) EXPECT_EQ(percent_encode(c.in), c.out) << c.in;
}

TEST(PairingUri, PercentDecodeReversesEncodingAndRefusesBadEscapes) {
    EXPECT_EQ(percent_decode("Desk%20PC").value(), "Desk PC");
    EXPECT_EQ(percent_decode("%c3%a9").value(), "\xC3\xA9");  // lower-case digits too
    EXPECT_EQ(percent_decode("a+b").value(), "a+b");          // not form encoding
    for (std::string bad : {"%", "%2", "%G0", "%0G", "abc%", "%%20"}) EXPECT_FALSE(percent_decode(bad)) << bad;
}

TEST(PairingUri, ChosenEndpointPrefersTheFirstIpv4) {
    using List = std::vector<std::string>;
    EXPECT_EQ(choose_offer_endpoint(List{}), "");
    EXPECT_EQ(choose_offer_endpoint(List{"[fe80::1]:49182", "192.168.1.20:49182", "10.0.0.2:49182"}),
              "192.168.1.20:49182");
    EXPECT_EQ(choose_offer_endpoint(List{"[fd7a:115c::1]:49183", "[fe80::2]:49183"}), "[fd7a:115c::1]:49183");
    EXPECT_EQ(choose_offer_endpoint(List{"100.64.0.7:49182"}), "100.64.0.7:49182");
}

TEST(PairingUri, BuildsTheOfferInFixedOrder) {
    std::vector<std::string> lan = {"[fe80::1]:49182", "192.168.1.20:49182"};
    std::vector<std::string> ts = {};
    std::string uri = build_pairing_uri("0f8e-id", "Desk PC \xC3\xA9", lan, ts, key_of(0xA0), "012345");
    EXPECT_EQ(uri, "korvex://pair?v=1&id=0f8e-id&name=Desk%20PC%20%C3%A9&os=windows&lan=192.168.1.20%3A49182&ts=&pk=" +
                       kPkHex + "&code=012345");
}

TEST(PairingUri, EmptyEndpointsStillHaveTheirKeys) {
    std::vector<std::string> none;
    std::string uri = build_pairing_uri("id", "PC", none, none, key_of(0), "999999");
    EXPECT_NE(uri.find("&lan=&ts=&pk="), std::string::npos) << uri;
}

TEST(PairingUri, RoundTrips) {
    PairingUri offer;
    offer.id = "3f2b9c1e-7d4a-4e8b-9a61-0c5d2e7f8a90";
    offer.name = "Büro-PC #2 & more";
    offer.os = "windows";
    offer.lan = "192.168.1.20:49182";
    offer.ts = "[fd7a:115c:a1e0::1]:49182";
    offer.pk = key_of(7);
    offer.code = "000123";
    auto parsed = parse_pairing_uri(build_pairing_uri(offer));
    ASSERT_TRUE(parsed) << parsed.error().text;
    EXPECT_EQ(*parsed, offer);
}

TEST(PairingUri, ReaderIsLenientWhereItCanBe) {
    // Any key order, unknown keys, an upper-case scheme, upper-case pk digits,
    // surrounding white space, absent optional keys.
    std::string upper_pk = kPkHex;
    for (auto& c : upper_pk) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    auto parsed = parse_pairing_uri("  KORVEX://pair?code=000001&future=x&pk=" + upper_pk + "&id=h%201&v=1\n");
    ASSERT_TRUE(parsed) << parsed.error().text;
    EXPECT_EQ(parsed->id, "h 1");
    EXPECT_EQ(parsed->code, "000001");
    EXPECT_EQ(parsed->pk, key_of(0xA0));
    EXPECT_EQ(parsed->name, "");
    EXPECT_EQ(parsed->lan, "");
}

TEST(PairingUri, RefusalsSayWhatIsWrong) {
    const std::string good_tail = "&pk=" + kPkHex + "&code=123456";
    struct Case {
        std::string uri;
        std::string expected_text;
    };
    const Case cases[] = {
        {"https://pair?v=1&id=a" + good_tail, "must start with korvex://pair?"},
        {"korvex://offer?v=1&id=a" + good_tail, "expected korvex://pair?"},
        {"korvex://pair?id=a" + good_tail, "missing the key v"},
        {"korvex://pair?v=2&id=a" + good_tail, "version 2 is not supported"},
        {"korvex://pair?v=1" + good_tail, "missing the key id"},
        {"korvex://pair?v=1&id=&pk=" + kPkHex + "&code=123456", "empty host id"},
        {"korvex://pair?v=1&id=a&code=123456", "missing the key pk"},
        {"korvex://pair?v=1&id=a&pk=" + kPkHex, "missing the key code"},
        {"korvex://pair?v=1&id=a&pk=" + kPkHex.substr(2) + "&code=123456", "pk is not 64 hex digits"},
        {"korvex://pair?v=1&id=a&pk=" + kPkHex.substr(2) + "zz&code=123456", "pk is not 64 hex digits"},
        {"korvex://pair?v=1&id=a&pk=" + kPkHex + "&code=12345", "code is not six digits"},
        {"korvex://pair?v=1&id=a&pk=" + kPkHex + "&code=1234567", "code is not six digits"},
        {"korvex://pair?v=1&id=a&pk=" + kPkHex + "&code=12345a", "code is not six digits"},
        {"korvex://pair?v=1&id=a%2" + good_tail, "bad percent escape"},
        {"korvex://pair?v=1&id=a&name=%ZZ" + good_tail, "bad percent escape"},
        {"korvex://pair?v=1&id=%FF%FE" + good_tail, "not UTF-8"},
        {"korvex://pair?v=1&id=a&id=b" + good_tail, "key id twice"},
    };
    for (const auto& c : cases) {
        auto parsed = parse_pairing_uri(c.uri);
        ASSERT_FALSE(parsed) << c.uri;
        EXPECT_NE(parsed.error().text.find(c.expected_text), std::string::npos)
            << c.uri << " -> " << parsed.error().text;
    }
}

}  // namespace
}  // namespace korvex
