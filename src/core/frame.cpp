#include "core/frame.h"

#include <algorithm>

#include "core/crypto.h"

namespace korvex {

Result<Bytes> encode_frame(MessageType type, ByteView body, SessionCrypto* crypto) {
    auto type_byte = static_cast<std::uint8_t>(type);
    Bytes payload;
    if (crypto != nullptr) {
        auto sealed = crypto->seal_frame_body(type_byte, body);
        if (!sealed) return fail("frame body too large to seal");
        payload = std::move(*sealed);
    } else {
        if (body.size() > kMaxPlainBody) return fail("frame body too large");
        payload.assign(body.begin(), body.end());
    }
    Bytes out;
    out.reserve(kFrameHeaderSize + payload.size());
    put_u32_le(out, static_cast<std::uint32_t>(payload.size() + 1));
    out.push_back(type_byte);
    append(out, payload);
    return out;
}

FrameDecode try_decode_frame(Bytes& buffer, std::uint32_t max_length) {
    if (buffer.size() < 4) return {FrameDecode::Status::NeedMore, {}};
    std::uint32_t length = get_u32_le(buffer.data());
    if (length == 0 || length > std::min(max_length, kMaxFrameLength)) return {FrameDecode::Status::Fatal, {}};
    if (buffer.size() - 4 < length) return {FrameDecode::Status::NeedMore, {}};
    Frame frame;
    frame.type = buffer[4];
    frame.body.assign(buffer.begin() + kFrameHeaderSize, buffer.begin() + 4 + length);
    buffer.erase(buffer.begin(), buffer.begin() + 4 + length);
    return {FrameDecode::Status::Complete, std::move(frame)};
}

Result<Bytes> open_frame(SessionCrypto& crypto, const Frame& frame) {
    auto plain = crypto.open_frame_body(frame.type, frame.length_field(), frame.body);
    if (!plain) return fail("frame does not open");
    return std::move(*plain);
}

}  // namespace korvex
