#pragma once
// Frames on the TCP stream: u32 little-endian length (type + body), u8 type,
// body; bodies sealed once the session is established.
#include <cstdint>

#include "core/bytes.h"
#include "core/error.h"

namespace korvex {

class SessionCrypto;

enum class MessageType : std::uint8_t {
    PairRequest = 0x10,
    PairResponse = 0x11,
    PairConfirm = 0x12,
    PairComplete = 0x13,
    HostInfo = 0x14,
    PairError = 0x1F,
    AuthHello = 0x20,
    AuthChallenge = 0x21,
    AuthResponse = 0x22,
    AuthOk = 0x23,
    AuthError = 0x2F,
    Ping = 0x30,
    Pong = 0x31,
    TextUtf8 = 0x32,
    ClipboardSet = 0x33,
    InputEvent = 0x34,
    SasResult = 0x36,
    SessionClosed = 0x3F,
};

inline constexpr std::size_t kFrameHeaderSize = 5;
inline constexpr std::uint32_t kMaxFrameLength = 65536;  // length field of a received frame
inline constexpr std::size_t kMaxPlainBody = 65535;

// One frame's bytes. With `crypto` the body is sealed (and the send counter
// advances even when the body is refused for size). Fails beyond the limits.
Result<Bytes> encode_frame(MessageType type, ByteView body, SessionCrypto* crypto);

struct Frame {
    std::uint8_t type = 0;
    Bytes body;  // as received: ciphertext and tag on an encrypted session
    std::uint32_t length_field() const { return static_cast<std::uint32_t>(body.size() + 1); }
};

struct FrameDecode {
    enum class Status { NeedMore, Complete, Fatal } status;
    Frame frame;  // set when Complete
};

// Takes one whole frame off the front of `buffer`. Fatal for a length field
// of 0 or above 65536 (or above `max_length`, the tighter bound a caller
// may set), decided from the first four bytes alone.
FrameDecode try_decode_frame(Bytes& buffer, std::uint32_t max_length = kMaxFrameLength);

// Opens a received frame's body on an established session; failure (short
// frame, bad tag, replay) ends the session.
Result<Bytes> open_frame(SessionCrypto& crypto, const Frame& frame);

}  // namespace korvex
