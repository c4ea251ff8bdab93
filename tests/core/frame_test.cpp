#include "core/frame.h"

#include <gtest/gtest.h>

#include "core/crypto.h"
#include "core/messages.h"

namespace korvex {
namespace {

Bytes frame_header(std::uint32_t length, std::uint8_t type) {
    Bytes out;
    put_u32_le(out, length);
    out.push_back(type);
    return out;
}

TEST(Frame, AuthErrorUnpairedIsExactly26Bytes) {
    auto frame = encode_frame(MessageType::AuthError, as_bytes(encode_reason(reason::kUnpaired)), nullptr);
    ASSERT_TRUE(frame);
    ASSERT_EQ(frame->size(), 26u);
    EXPECT_EQ(hex_lower(ByteView(*frame).first(5)), "160000002f");
    EXPECT_EQ(as_text(ByteView(*frame).subspan(5)), R"({"reason":"unpaired"})");
}

TEST(Frame, AuthOkIs23BytesSealedWithCounterZero) {
    crypto_init();
    Key32 key{};
    key.fill(0x11);
    SessionCrypto crypto(key, Side::Host);
    auto frame = encode_frame(MessageType::AuthOk, as_bytes(kAuthOkBody), &crypto);
    ASSERT_TRUE(frame);
    ASSERT_EQ(frame->size(), 23u);
    EXPECT_EQ(hex_lower(ByteView(*frame).first(5)), "1300000023");
    // The AAD is type then length; the nonce is "HTCP" and a zero counter.
    ByteArray<5> aad{0x23, 0x13, 0x00, 0x00, 0x00};
    auto plain = aead_open(key, make_nonce(NonceTag::HostTcp, 0), aad, ByteView(*frame).subspan(5));
    ASSERT_TRUE(plain);
    EXPECT_EQ(as_text(*plain), "{}");
    EXPECT_EQ(crypto.send_counter(), 1u);
}

TEST(Frame, EncodeLimits) {
    EXPECT_TRUE(encode_frame(MessageType::Pong, Bytes(kMaxPlainBody), nullptr));
    EXPECT_FALSE(encode_frame(MessageType::Pong, Bytes(kMaxPlainBody + 1), nullptr));

    crypto_init();
    Key32 key{};
    SessionCrypto crypto(key, Side::Host);
    auto largest = encode_frame(MessageType::Pong, Bytes(kMaxSealedPlaintext), &crypto);
    ASSERT_TRUE(largest);
    EXPECT_EQ(get_u32_le(largest->data()), kMaxFrameLength);
    EXPECT_FALSE(encode_frame(MessageType::Pong, Bytes(kMaxSealedPlaintext + 1), &crypto));
    EXPECT_EQ(crypto.send_counter(), 2u);  // the refused frame used up counter 1
}

TEST(Frame, LengthFieldLimitsAreCheckedBeforeTheBodyArrives) {
    struct Case {
        std::uint32_t length;
        FrameDecode::Status status;
    };
    const Case cases[] = {
        {0, FrameDecode::Status::Fatal},
        {65537, FrameDecode::Status::Fatal},
        {0xFFFFFFFF, FrameDecode::Status::Fatal},
        {65536, FrameDecode::Status::NeedMore},
        {1, FrameDecode::Status::Complete},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        Bytes buffer = frame_header(c.length, 0x30);
        EXPECT_EQ(try_decode_frame(buffer).status, c.status);
    }
    Bytes largest = frame_header(65536, 0x34);
    largest.resize(4 + 65536, 0xAA);
    auto decoded = try_decode_frame(largest);
    ASSERT_EQ(decoded.status, FrameDecode::Status::Complete);
    EXPECT_EQ(decoded.frame.body.size(), 65535u);
    EXPECT_TRUE(largest.empty());
}

TEST(Frame, SeveralFramesPerReadAndAHalfFrameWaits) {
    Bytes buffer;
    for (const char* body : {"{\"ts\":1}", "{\"ts\":2}"}) append(buffer, *encode_frame(MessageType::Ping, as_bytes(body), nullptr));
    Bytes third = *encode_frame(MessageType::TextUtf8, as_bytes("{\"text\":\"hello\"}"), nullptr);
    buffer.insert(buffer.end(), third.begin(), third.begin() + 9);

    for (const char* expected : {"{\"ts\":1}", "{\"ts\":2}"}) {
        auto d = try_decode_frame(buffer);
        ASSERT_EQ(d.status, FrameDecode::Status::Complete);
        EXPECT_EQ(d.frame.type, 0x30);
        EXPECT_EQ(as_text(d.frame.body), expected);
    }
    EXPECT_EQ(try_decode_frame(buffer).status, FrameDecode::Status::NeedMore);
    EXPECT_EQ(buffer.size(), 9u);
    buffer.insert(buffer.end(), third.begin() + 9, third.end());
    auto d = try_decode_frame(buffer);
    ASSERT_EQ(d.status, FrameDecode::Status::Complete);
    EXPECT_EQ(as_text(d.frame.body), "{\"text\":\"hello\"}");
    Bytes three_bytes{1, 0, 0};
    EXPECT_EQ(try_decode_frame(three_bytes).status, FrameDecode::Status::NeedMore);
}

TEST(Frame, EncryptedFramesOpenOnceAndNeedSeventeenBytes) {
    crypto_init();
    Key32 key{};
    key.fill(0x22);
    SessionCrypto client(key, Side::Client);
    SessionCrypto host(key, Side::Host);

    Bytes stream = *encode_frame(MessageType::Ping, {}, &client);
    EXPECT_EQ(get_u32_le(stream.data()), 17u);
    Bytes replay = stream;
    auto d = try_decode_frame(stream);
    ASSERT_EQ(d.status, FrameDecode::Status::Complete);
    auto plain = open_frame(host, d.frame);
    ASSERT_TRUE(plain);
    EXPECT_TRUE(plain->empty());
    auto again = try_decode_frame(replay);
    EXPECT_FALSE(open_frame(host, again.frame));

    Frame short_frame{0x30, Bytes(15)};  // length field 16
    EXPECT_FALSE(open_frame(host, short_frame));

    Bytes tampered = *encode_frame(MessageType::Ping, as_bytes("{\"ts\":5}"), &client);
    tampered.back() ^= 0x01;
    auto t = try_decode_frame(tampered);
    EXPECT_FALSE(open_frame(host, t.frame));
    EXPECT_EQ(host.receive_counter(), 1u);
}

}  // namespace
}  // namespace korvex
