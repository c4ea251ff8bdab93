#pragma once
// The handshake of one connection: host information, authentication of a
// paired client and pairing of a new one. Each received plain frame is one
// step, run with the host lock held; an authentication's public-key work
// is done before (prepare_handshake_step) and after (finish_handshake_step)
// that step, so it never holds up another client's input.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/crypto.h"
#include "core/messages.h"
#include "core/frame.h"
#include "core/host_core.h"
#include "core/identity.h"
#include "core/messages.h"

namespace korvex {

class RandomSource;
class StoreSaver;

struct PendingPairing {
    std::string client_id;
    std::string device_name;
    std::string device_model;
    Key32 client_x25519{};
    Key32 client_ed25519{};
    Nonce16 client_nonce{};
    X25519KeyPair host_ephemeral{};
    Nonce16 host_nonce{};
};

struct PendingAuth {
    std::string client_id;
    std::string display_name;
    Bytes transcript;
    Key32 client_x25519{};
    Key32 client_ed25519{};
    Nonce16 client_nonce{};
    X25519KeyPair host_ephemeral{};
    Nonce16 host_nonce{};
};

using HandshakeState = std::variant<std::monostate, PendingPairing, PendingAuth>;

struct OutgoingFrame {
    MessageType type;
    std::string body;
};

struct HandshakeOutcome {
    enum class Kind { Continue, ReplyAndClose, Established, Close };
    Kind kind = Kind::Close;
    std::vector<OutgoingFrame> plain;
    std::vector<OutgoingFrame> encrypted;
    std::string client_id;
    std::string display_name;
    SecretKey session_key;
    // A pairing replaced the key stored for client_id: the sessions opened
    // with the old key must end, as if the device had been removed.
    bool replaced_key = false;
    // An AuthHello was accepted: finish_handshake_step makes the challenge.
    bool challenge_pending = false;
};

// What a step computes from this connection's own state alone, before the
// host lock is taken: an AuthResponse's signature check, shared secret and
// session key.
struct HandshakePrework {
    bool signature_ok = false;
    std::optional<SecretKey> session_key;  // none: no valid shared secret
};

// A handshake frame as decoded before the host lock is taken: parsing a
// stranger's body must not hold up every paired client's input.
struct HostInfoQuery {};
struct UndecodableFrame {};
using HandshakeMessage =
    std::variant<UndecodableFrame, HostInfoQuery, PairRequest, PairConfirm, AuthHello, AuthResponse>;

HandshakeMessage decode_handshake_frame(std::uint8_t type, ByteView body);

// What the handshake reads of the host besides the locked core.
struct HandshakeContext {
    const HostIdentity& identity;
    const Key32& host_ed25519_public;
    std::string_view host_name;
    std::uint16_t udp_port;
    const std::vector<std::string>& lan_endpoints;
    const std::vector<std::string>& tailscale_endpoints;
    std::string_view device_type;  // "laptop" or "desktop"
    RandomSource& rng;
    StoreSaver& store_saver;
    std::uint64_t now_unix;
    std::string_view os_type = kOsType;  // "windows", "linux"
};

// Before the lock.
HandshakePrework prepare_handshake_step(const HandshakeState& state, const HandshakeMessage& message);
// The step, with the host lock held; `message` is taken apart.
HandshakeOutcome handle_handshake_frame(HandshakeState& state, HandshakeMessage&& message,
                                        const HandshakePrework& prework, HostCore& core, const HandshakeContext& ctx,
                                        std::string_view peer_ip);
// After the lock: the host's ephemeral key, nonce and signature of an
// AuthChallenge (reads only the context's immutable parts and its rng).
void finish_handshake_step(HandshakeState& state, HandshakeOutcome& outcome, const HandshakeContext& ctx);

// The three in a row (tests, fuzzing, the in-process fake host).
HandshakeOutcome handle_handshake_frame(HandshakeState& state, HandshakeMessage&& message, HostCore& core,
                                        const HandshakeContext& ctx, std::string_view peer_ip);
// Decoding and the step in one call.
HandshakeOutcome handle_handshake_frame(HandshakeState& state, std::uint8_t type, ByteView body, HostCore& core,
                                        const HandshakeContext& ctx, std::string_view peer_ip);

}  // namespace korvex
