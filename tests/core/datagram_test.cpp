#include "core/datagram.h"

#include <gtest/gtest.h>

namespace korvex {
namespace {

Key32 key_of(std::uint8_t v) {
    Key32 k{};
    k.fill(v);
    return k;
}

InputEvent sample_event() {
    InputEvent e;
    e.kind = 4;
    e.mods = 0x03;
    e.flags = kDatagramAckRequested;
    e.seq = 0x0102030405060708ULL;
    e.payload = {0x04, 0x00, 0x01, 0, 0, 0, 0, 0x99};
    return e;
}

TEST(Datagram, LayoutIsHeaderSealedPayloadThenTag) {
    const Key32 key = key_of(0x11);
    const InputEvent e = sample_event();
    const InputDatagram d = seal_input_datagram(key, e);
    ASSERT_EQ(d.size(), 36u);
    const std::uint8_t header[12] = {1, 4, 3, 1, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01};
    EXPECT_TRUE(std::equal(std::begin(header), std::end(header), d.begin()));
    // Bytes 12..35 are the AEAD of the payload: nonce "CUDP" + seq, AAD the header.
    Bytes expected = aead_seal(key, make_nonce(NonceTag::ClientUdp, e.seq), ByteView(d.data(), 12), e.payload);
    ASSERT_EQ(expected.size(), 24u);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), d.begin() + 12));
}

TEST(Datagram, OpensBackToTheSameEvent) {
    const Key32 key = key_of(0x22);
    const InputEvent e = sample_event();
    const InputDatagram d = seal_input_datagram(key, e);
    auto opened = open_input_datagram(key, d);
    ASSERT_TRUE(opened);
    EXPECT_EQ(encode_input_event(*opened), encode_input_event(e));
}

TEST(Datagram, RefusesWhatDoesNotVerify) {
    const Key32 key = key_of(0x33);
    const InputDatagram good = seal_input_datagram(key, sample_event());
    EXPECT_FALSE(open_input_datagram(key_of(0x34), good)) << "wrong key";
    EXPECT_FALSE(open_input_datagram(key, ByteView(good.data(), 35))) << "35 bytes";
    Bytes longer(good.begin(), good.end());
    longer.push_back(0);
    EXPECT_FALSE(open_input_datagram(key, longer)) << "37 bytes";
    EXPECT_FALSE(open_input_datagram(key, ByteView{})) << "empty";
    // Every single-byte change fails: the header is authenticated, the payload and tag too.
    for (std::size_t i = 0; i < good.size(); ++i) {
        InputDatagram bad = good;
        bad[i] ^= 0x01;
        EXPECT_FALSE(open_input_datagram(key, bad)) << "byte " << i;
    }
    // A version other than 1 is refused even when its tag is right.
    InputEvent v2 = sample_event();
    v2.version = 2;
    EXPECT_FALSE(open_input_datagram(key, seal_input_datagram(key, v2)));
}

TEST(Datagram, AcknowledgementBytes) {
    const Key32 key = key_of(0x44);
    const std::uint64_t seq = 0x1122334455667788ULL;
    const DatagramAck ack = build_datagram_ack(key, seq);
    ASSERT_EQ(ack.size(), 28u);
    const std::uint8_t header[12] = {0x01, 0xFE, 0x00, 0x00, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11};
    EXPECT_TRUE(std::equal(std::begin(header), std::end(header), ack.begin()));
    // The tag is the AEAD over an empty plaintext, nonce "HUDP" + seq, AAD the header.
    Bytes tag = aead_seal(key, make_nonce(NonceTag::HostUdp, seq), ByteView(ack.data(), 12), ByteView{});
    ASSERT_EQ(tag.size(), 16u);
    EXPECT_TRUE(std::equal(tag.begin(), tag.end(), ack.begin() + 12));
}

TEST(Datagram, AcknowledgementVerifiesOnlyForItsKeyAndSeq) {
    const Key32 key = key_of(0x55);
    const DatagramAck ack = build_datagram_ack(key, 42);
    EXPECT_TRUE(verify_datagram_ack(key, ack, 42));
    EXPECT_FALSE(verify_datagram_ack(key, ack, 43));
    EXPECT_FALSE(verify_datagram_ack(key_of(0x56), ack, 42));
    EXPECT_FALSE(verify_datagram_ack(key, ByteView(ack.data(), 27), 42));
    for (std::size_t i = 0; i < ack.size(); ++i) {
        DatagramAck bad = ack;
        bad[i] ^= 0x80;
        EXPECT_FALSE(verify_datagram_ack(key, bad, 42)) << "byte " << i;
    }
    // An input datagram sealed under the same key and seq is no acknowledgement.
    InputEvent e = sample_event();
    e.seq = 42;
    InputDatagram d = seal_input_datagram(key, e);
    EXPECT_FALSE(verify_datagram_ack(key, ByteView(d.data(), 28), 42));
}

}  // namespace
}  // namespace korvex
