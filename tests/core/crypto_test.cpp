#include "core/crypto.h"

#include <gtest/gtest.h>

#include "support/fakes.h"

namespace korvex {
namespace {

Bytes hex(std::string_view text) { return *hex_decode(text); }

template <std::size_t N>
ByteArray<N> arr(std::string_view text) {
    return *hex_decode_exact<N>(text);
}

Bytes range_bytes(int from, int to_inclusive) {
    Bytes out;
    for (int i = from; i <= to_inclusive; ++i) out.push_back(static_cast<std::uint8_t>(i));
    return out;
}

class CryptoTest : public ::testing::Test {
protected:
    void SetUp() override { crypto_init(); }
};

TEST_F(CryptoTest, X25519MatchesRfc7748DiffieHellman) {
    auto alice = arr<32>("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    auto bob = arr<32>("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");
    EXPECT_EQ(hex_lower(x25519_public(alice)), "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
    EXPECT_EQ(hex_lower(x25519_public(bob)), "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
    const char* shared = "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742";
    EXPECT_EQ(hex_lower(x25519_shared(alice, x25519_public(bob))), shared);
    EXPECT_EQ(hex_lower(x25519_shared(bob, x25519_public(alice))), shared);
}

TEST_F(CryptoTest, X25519WithSmallOrderPeerGivesAllZero) {
    auto priv = arr<32>("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    Key32 zero_point{};
    Key32 one_point{};
    one_point[0] = 1;
    EXPECT_EQ(x25519_shared(priv, zero_point), Key32{});
    EXPECT_EQ(x25519_shared(priv, one_point), Key32{});
}

TEST_F(CryptoTest, KeypairUsesTheRandomSource) {
    test::CountingRandom rng(7);
    auto pair = x25519_keypair(rng);
    EXPECT_EQ(pair.private_key[0], 7);
    EXPECT_EQ(pair.private_key[31], 38);
    EXPECT_EQ(pair.public_key, x25519_public(pair.private_key));
}

struct Ed25519Case {
    const char* secret;
    const char* public_key;
    const char* message;
    const char* signature;
};

TEST_F(CryptoTest, Ed25519MatchesRfc8032Tests1To3) {
    const Ed25519Case cases[] = {
        {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
         "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
         "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"},
        {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
         "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
         "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
        {"c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
         "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
         "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f760984dc6594a7c15e9716ed28dc027beceea1ec40a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.public_key);
        auto seed = arr<32>(c.secret);
        Bytes message = hex(c.message);
        EXPECT_EQ(hex_lower(ed25519_public_key(seed)), c.public_key);
        Signature sig = ed25519_sign(seed, message);
        EXPECT_EQ(hex_lower(sig), c.signature);
        EXPECT_TRUE(ed25519_verify(arr<32>(c.public_key), message, sig));
        sig[5] ^= 1;
        EXPECT_FALSE(ed25519_verify(arr<32>(c.public_key), message, sig));
        Bytes longer = message;
        longer.push_back(0);
        EXPECT_FALSE(ed25519_verify(arr<32>(c.public_key), longer, arr<64>(c.signature)));
    }
}

struct HkdfCase {
    Bytes ikm, salt, info;
    std::size_t length;
    const char* okm;
};

TEST_F(CryptoTest, HkdfMatchesRfc5869A1ToA3) {
    const HkdfCase cases[] = {
        {Bytes(22, 0x0b), range_bytes(0x00, 0x0c), range_bytes(0xf0, 0xf9), 42,
         "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865"},
        {range_bytes(0x00, 0x4f), range_bytes(0x60, 0xaf), range_bytes(0xb0, 0xff), 82,
         "b11e398dc80327a1c8e7f78c596a49344f012eda2d4efad8a050cc4c19afa97c59045a99cac7827271cb41c65e590e09da3275600c2f09b8"
         "367793a9aca3db71cc30c58179ec3e87c14c01d5c1f3434f1d87"},
        {Bytes(22, 0x0b), {}, {}, 42,
         "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        EXPECT_EQ(hex_lower(hkdf_sha256(c.ikm, c.salt, c.info, c.length)), c.okm);
    }
    EXPECT_EQ(hkdf_sha256(Bytes(22, 0x0b), {}, {}, 8160).size(), 8160u);
}

TEST_F(CryptoTest, HmacMatchesRfc4231Cases1And2) {
    EXPECT_EQ(hex_lower(hmac_sha256(Bytes(20, 0x0b), as_bytes("Hi There"))),
              "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
    EXPECT_EQ(hex_lower(hmac_sha256(as_bytes("Jefe"), as_bytes("what do ya want for nothing?"))),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
}

TEST_F(CryptoTest, AeadMatchesRfc8439Section282) {
    auto key = arr<32>("808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f");
    auto nonce = arr<12>("070000004041424344454647");
    Bytes aad = hex("50515253c0c1c2c3c4c5c6c7");
    std::string_view plaintext =
        "Ladies and Gentlemen of the class of '99: If I could offer you only one tip for the future, sunscreen would be "
        "it.";
    Bytes sealed = aead_seal(key, nonce, aad, as_bytes(plaintext));
    EXPECT_EQ(hex_lower(sealed),
              "d31a8d34648e60db7b86afbc53ef7ec2a4aded51296e08fea9e2b5a736ee62d63dbea45e8ca9671282fafb69da92728b1a71de0a9e06"
              "0b2905d6a5b67ecd3b3692ddbd7f2d778b8c9803aee328091b58fab324e4fad675945585808b4831d7bc3ff4def08e4b7a9de576d265"
              "86cec64b6116"
              "1ae10b594f09e26a7e902ecbd0600691");
    auto opened = aead_open(key, nonce, aad, sealed);
    ASSERT_TRUE(opened);
    EXPECT_EQ(as_text(*opened), plaintext);
    sealed.back() ^= 1;
    EXPECT_FALSE(aead_open(key, nonce, aad, sealed));
}

TEST_F(CryptoTest, CtEqual) {
    EXPECT_TRUE(ct_equal(as_bytes("abc"), as_bytes("abc")));
    EXPECT_TRUE(ct_equal({}, {}));
    EXPECT_FALSE(ct_equal(as_bytes("abc"), as_bytes("abd")));
    EXPECT_FALSE(ct_equal(as_bytes("abc"), as_bytes("abcd")));
    EXPECT_FALSE(ct_equal(as_bytes("ABC"), as_bytes("abc")));
}

TEST_F(CryptoTest, FingerprintIsSixteenLowerHexDigitsAndAvalanches) {
    auto pub = arr<32>("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a");
    std::string fp = host_fingerprint(pub);
    EXPECT_EQ(fp, hex_lower(sha256(pub)).substr(0, 16));
    EXPECT_EQ(fp.find_first_not_of("0123456789abcdef"), std::string::npos);
    auto other = pub;
    other[31] ^= 0x80;
    std::string fp2 = host_fingerprint(other);
    int same = 0;
    for (std::size_t i = 0; i < 16; ++i) same += fp[i] == fp2[i];
    EXPECT_LT(same, 8);
}

TEST_F(CryptoTest, TranscriptLayoutsAndLengths) {
    Key32 a{}, b{}, c{}, d{};
    a.fill(1), b.fill(2), c.fill(3), d.fill(4);
    Nonce16 n1{}, n2{};
    n1.fill(5), n2.fill(6);
    Bytes x = pairing_transcript("client", "host-1", a, b, c, d, n1, n2);
    EXPECT_EQ(x.size(), 170u + 6 + 6);
    EXPECT_EQ(as_text(ByteView(x).first(22)), "RC_PAIR_V1clienthost-1");
    EXPECT_EQ(x[22], 1);
    EXPECT_EQ(x[22 + 32], 2);
    EXPECT_EQ(x[22 + 64], 3);
    EXPECT_EQ(x[22 + 96], 4);
    EXPECT_EQ(x[22 + 128], 5);
    EXPECT_EQ(x.back(), 6);
    Bytes t = auth_transcript("client", "host-1", a, b, n1, n2);
    EXPECT_EQ(t.size(), 106u + 12);
    EXPECT_EQ(as_text(ByteView(t).first(10)), "RC_AUTH_V1");
    EXPECT_EQ(t[22 + 64], 5);
    // No length prefixes: the id split is not part of the transcript.
    EXPECT_EQ(auth_transcript("ab", "c", a, b, n1, n2), auth_transcript("a", "bc", a, b, n1, n2));
}

TEST_F(CryptoTest, PairingKeysAgreeAndDependOnEveryCodeDigit) {
    test::CountingRandom rng(1);
    auto host = x25519_keypair(rng);
    auto client = x25519_keypair(rng);
    Key32 shared_host = x25519_shared(host.private_key, client.public_key);
    Key32 shared_client = x25519_shared(client.private_key, host.public_key);
    Bytes x = test::bytes_of("transcript");
    auto h = derive_pairing_keys(shared_host, "012345", x);
    auto c = derive_pairing_keys(shared_client, "012345", x);
    EXPECT_EQ(h.session_key, c.session_key);
    EXPECT_EQ(h.confirm_key, c.confirm_key);
    auto other = derive_pairing_keys(shared_host, "012346", x);
    EXPECT_NE(other.session_key, h.session_key);
    EXPECT_NE(other.confirm_key, h.confirm_key);
    EXPECT_NE(client_confirm_mac(h.confirm_key, x), host_confirm_mac(h.confirm_key, x));
    EXPECT_EQ(hex_lower(host_confirm_mac(h.confirm_key, x)),
              hex_lower(hmac_sha256(h.confirm_key, as_bytes("HOST_CONFIRMtranscript"))));
}

TEST_F(CryptoTest, AuthSessionKeyUsesBothNoncesAsSalt) {
    Key32 shared{};
    shared.fill(9);
    Nonce16 cn{}, hn{};
    cn.fill(1), hn.fill(2);
    Bytes t = test::bytes_of("T");
    Bytes salt(16, 1);
    salt.insert(salt.end(), 16, 2);
    Key32 key = derive_auth_session_key(shared, cn, hn, t);
    EXPECT_EQ(Bytes(key.begin(), key.end()), hkdf_sha256(shared, salt, t, 32));
    EXPECT_NE(derive_auth_session_key(shared, hn, cn, t), key);
}

TEST_F(CryptoTest, StoreKeyIsHkdfOfTheSeed) {
    Key32 seed{};
    seed.fill(0x42);
    Key32 key = derive_store_key(seed);
    EXPECT_EQ(Bytes(key.begin(), key.end()), hkdf_sha256(seed, {}, as_bytes("RC_PAIRED_STORE_HMAC_V1"), 32));
}

TEST_F(CryptoTest, FrameCountersAndDirections) {
    Key32 key{};
    key.fill(3);
    SessionCrypto host(key, Side::Host);
    SessionCrypto client(key, Side::Client);
    auto first = host.seal_frame_body(0x31, as_bytes("{}"));
    ASSERT_TRUE(first);
    EXPECT_EQ(host.send_counter(), 1u);
    // A refused oversize frame still consumes its counter value.
    EXPECT_FALSE(host.seal_frame_body(0x31, Bytes(kMaxSealedPlaintext + 1)));
    EXPECT_EQ(host.send_counter(), 2u);
    auto third = host.seal_frame_body(0x31, as_bytes("{}"));
    ASSERT_TRUE(client.open_frame_body(0x31, 19, *first));
    EXPECT_FALSE(client.open_frame_body(0x31, 19, *third));  // client expects counter 1
    EXPECT_EQ(client.receive_counter(), 1u);
    EXPECT_TRUE(host.seal_frame_body(0x31, Bytes(kMaxSealedPlaintext)));

    auto from_client = client.seal_frame_body(0x30, as_bytes("{\"ts\":1}"));
    ASSERT_TRUE(from_client);
    EXPECT_FALSE(host.open_frame_body(0x31, 25, *from_client));  // type is authenticated
    EXPECT_FALSE(host.open_frame_body(0x30, 26, *from_client));  // so is the length field
    EXPECT_FALSE(host.open_frame_body(0x30, 16, *from_client));
    EXPECT_TRUE(host.open_frame_body(0x30, 25, *from_client));
    EXPECT_FALSE(host.open_frame_body(0x30, 25, *from_client));  // replay: the counter moved on
    EXPECT_EQ(host.receive_counter(), 1u);
}

TEST_F(CryptoTest, NonceLayout) {
    EXPECT_EQ(hex_lower(make_nonce(NonceTag::HostTcp, 0)), "4854435000000000" "00000000");
    EXPECT_EQ(hex_lower(make_nonce(NonceTag::ClientUdp, 0x0102)), "4355445002010000" "00000000");
}

}  // namespace
}  // namespace korvex
