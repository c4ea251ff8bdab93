// try_decode_frame over a received byte stream, and open_frame of every whole
// frame under a fixed session key, as the session loop does.
//
// Byte 0 says where the stream is cut into two reads; the rest is the stream.
// Checked: framing decisions from the length field alone, exact consumption,
// plain re-encoding giving the same bytes, and for every frame that opens,
// the client's sealing of the plaintext at the same counter giving the same
// body.
#include <cstddef>
#include <cstdint>

#include "core/crypto.h"
#include "core/frame.h"
#include "fuzz_common.h"

using namespace korvex;

namespace {

// Takes every whole frame off `buffer`; false once the stream is fatal.
bool drain(Bytes& buffer, SessionCrypto& host, SessionCrypto& client) {
    for (;;) {
        const Bytes before = buffer;
        FrameDecode decoded = try_decode_frame(buffer);
        if (before.size() < 4) {
            KORVEX_FUZZ_CHECK(decoded.status == FrameDecode::Status::NeedMore);
            KORVEX_FUZZ_CHECK(buffer == before);
            return true;
        }
        const std::uint32_t length = get_u32_le(before.data());
        if (length == 0 || length > kMaxFrameLength) {
            KORVEX_FUZZ_CHECK(decoded.status == FrameDecode::Status::Fatal);
            return false;
        }
        if (before.size() - 4 < length) {
            KORVEX_FUZZ_CHECK(decoded.status == FrameDecode::Status::NeedMore);
            KORVEX_FUZZ_CHECK(buffer == before);
            return true;
        }
        KORVEX_FUZZ_CHECK(decoded.status == FrameDecode::Status::Complete);
        const Frame& frame = decoded.frame;
        KORVEX_FUZZ_CHECK(frame.type == before[4]);
        KORVEX_FUZZ_CHECK(frame.length_field() == length);
        KORVEX_FUZZ_CHECK(buffer.size() == before.size() - 4 - length);
        KORVEX_FUZZ_CHECK(std::equal(buffer.begin(), buffer.end(), before.begin() + 4 + length));

        // A plain frame re-encodes to the bytes it came from.
        auto plain = encode_frame(static_cast<MessageType>(frame.type), frame.body, nullptr);
        if (frame.body.size() <= kMaxPlainBody) {
            KORVEX_FUZZ_CHECK(plain.has_value());
            KORVEX_FUZZ_CHECK(std::equal(plain->begin(), plain->end(), before.begin(), before.begin() + 4 + length));
        } else {
            KORVEX_FUZZ_CHECK(!plain.has_value());
        }

        const std::uint64_t counter = host.receive_counter();
        auto opened = open_frame(host, frame);
        if (opened) {
            KORVEX_FUZZ_CHECK(frame.body.size() >= kTagSize);
            KORVEX_FUZZ_CHECK(opened->size() == frame.body.size() - kTagSize);
            KORVEX_FUZZ_CHECK(host.receive_counter() == counter + 1);
            // The client sealing the same plaintext at the same counter.
            KORVEX_FUZZ_CHECK(client.send_counter() == counter);
            auto sealed = encode_frame(static_cast<MessageType>(frame.type), *opened, &client);
            KORVEX_FUZZ_CHECK(sealed.has_value());
            KORVEX_FUZZ_CHECK(std::equal(sealed->begin(), sealed->end(), before.begin(), before.begin() + 4 + length));
        } else {
            KORVEX_FUZZ_CHECK(host.receive_counter() == counter);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    crypto_init();
    SessionCrypto host(fuzz::kSessionKey, Side::Host);
    SessionCrypto client(fuzz::kSessionKey, Side::Client);
    const std::uint8_t* stream = data + 1;
    const std::size_t length = size - 1;
    const std::size_t cut = length * data[0] / 255;

    Bytes buffer(stream, stream + cut);
    if (!drain(buffer, host, client)) return 0;
    buffer.insert(buffer.end(), stream + cut, stream + length);
    drain(buffer, host, client);
    return 0;
}
