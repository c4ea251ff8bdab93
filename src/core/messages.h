#pragma once
// JSON bodies of the session protocol. Each message has one encoder and one
// decoder, used by the host and by the project's client alike, so every format
// exists once.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/crypto.h"
#include "core/error.h"

namespace korvex {

inline constexpr std::string_view kOsType = "windows";

// Reason codes of PairError, AuthError and SessionClosed.
namespace reason {
inline constexpr std::string_view kNoActiveCode = "no_active_code";
inline constexpr std::string_view kInvalidCode = "invalid_code";
inline constexpr std::string_view kInternalError = "internal_error";
inline constexpr std::string_view kUnpaired = "unpaired";
inline constexpr std::string_view kRemovedByUser = "removed_by_user";
}  // namespace reason

// ---- client to host ----

// Limits of the texts a client sends while unauthenticated. Longer ones
// are refused (clientId, deviceName) or, in frames, cut off by the frame
// bound below.
inline constexpr std::size_t kMaxClientIdBytes = 128;
inline constexpr std::size_t kMaxDeviceNameBytes = 256;
inline constexpr std::size_t kMaxDeviceModelBytes = 256;

// Largest plain body a peer may send before its session is established:
// the largest valid PairRequest (the three texts at their limits with every
// byte escaped as \u00XX, six characters each; three 32-byte values and a
// 16-byte one in hex; member names and punctuation) twice over, so spaces,
// unknown members and clients a little ahead of this host still fit.
// PairConfirm, AuthHello and AuthResponse are smaller.
inline constexpr std::size_t kMaxHandshakeBody =
    2 * (6 * (kMaxClientIdBytes + kMaxDeviceNameBytes + kMaxDeviceModelBytes) + 2 * (32 + 32 + 16) + 256);
// The frame length field of such a body (type byte included).
inline constexpr std::uint32_t kMaxHandshakeFrameLength = kMaxHandshakeBody + 1;

struct PairRequest {
    std::string client_id;     // 1 to 128 bytes
    std::string device_name;   // at most 256 bytes
    std::string device_model;  // optional
    Key32 client_x25519{};
    Key32 client_ed25519{};
    Nonce16 client_nonce{};
};

// Values that do not decode to the right length count as a failed
// verification, not as a format error: they come back empty.
struct PairConfirm {
    std::optional<Key32> client_mac;
    std::optional<Signature> client_sig;
};

struct AuthHello {
    std::string client_id;
    std::string device_name;  // empty: keep the name stored at pairing
    Key32 client_x25519{};
    Nonce16 client_nonce{};
};

struct AuthResponse {
    Signature client_sig{};
};

struct Ping {
    std::uint64_t ts = 0;
};

struct TextUtf8 {
    std::string text;
};

struct ClipboardSet {
    std::string text;
    bool auto_paste = false;
};

// ---- host to client ----

struct PairResponse {
    std::string host_id;
    std::string host_name;
    std::string os_type{kOsType};
    Key32 host_x25519{};
    Key32 host_ed25519{};
    Nonce16 host_nonce{};
    std::vector<std::string> lan_endpoints;
    std::vector<std::string> tailscale_endpoints;
    std::string device_type;  // "laptop" or "desktop"
    // The host identity's signature over the pairing transcript X, sent
    // before the client reveals anything that depends on the code. Hosts
    // that predate it leave it out.
    std::optional<Signature> host_sig;
};

struct PairComplete {
    Key32 host_mac{};
    Signature host_sig{};
    std::uint16_t udp_port = 0;
};

struct HostInfo {
    std::uint64_t v = 1;
    std::string host_id;
    std::string name;
    std::string os{kOsType};
    std::string fp;
    std::uint16_t udp_port = 0;
};

struct AuthChallenge {
    std::string host_id;
    std::string host_name;
    std::string os_type{kOsType};
    Key32 host_x25519{};
    Nonce16 host_nonce{};
    Signature host_sig{};
    std::uint16_t udp_port = 0;
    std::vector<std::string> lan_endpoints;
    std::vector<std::string> tailscale_endpoints;
    std::string device_type;
};

struct Pong {
    std::uint64_t ts = 0;
};

struct ReasonBody {
    std::string reason;
};

std::string encode_json(const PairRequest& m);
std::string encode_json(const PairConfirm& m);  // empty fields are written as ""
std::string encode_json(const AuthHello& m);
std::string encode_json(const AuthResponse& m);
std::string encode_json(const Ping& m);
std::string encode_json(const TextUtf8& m);
std::string encode_json(const ClipboardSet& m);
std::string encode_json(const PairResponse& m);
std::string encode_json(const PairComplete& m);
std::string encode_json(const HostInfo& m);
std::string encode_json(const AuthChallenge& m);
std::string encode_json(const Pong& m);
// PairError, AuthError and SessionClosed bodies.
std::string encode_reason(std::string_view reason);
// The AuthOk body: the empty object.
inline constexpr std::string_view kAuthOkBody = "{}";

Result<PairRequest> decode_pair_request(std::string_view body);
Result<PairConfirm> decode_pair_confirm(std::string_view body);
Result<AuthHello> decode_auth_hello(std::string_view body);
Result<AuthResponse> decode_auth_response(std::string_view body);
Result<Ping> decode_ping(std::string_view body);
Result<TextUtf8> decode_text_utf8(std::string_view body);
Result<ClipboardSet> decode_clipboard_set(std::string_view body);
Result<PairResponse> decode_pair_response(std::string_view body);
Result<PairComplete> decode_pair_complete(std::string_view body);
Result<HostInfo> decode_host_info(std::string_view body);
Result<AuthChallenge> decode_auth_challenge(std::string_view body);
Result<Pong> decode_pong(std::string_view body);
Result<ReasonBody> decode_reason(std::string_view body);

}  // namespace korvex
