#pragma once
// One TCP connection to a host, driven synchronously: every call blocks until
// it is done, the host refused, the connection ended or the time-out passed.
// Used by korvex-remote and by end-to-end tests of the host, which also get
// low-level hooks (raw bytes, chosen frames, the session key).
//
//   Connection c;
//   c.connect("127.0.0.1", 49182, 5s);
//   c.pair(identity, "123456", "Phone");             // or c.authenticate(identity, host_key)
//   c.ping(42);
//   c.send_event(key_event(0x04, KeyAction::Down));  // seq set by the caller
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/config.h"
#include "core/crypto.h"
#include "core/error.h"
#include "core/frame.h"
#include "core/input_event.h"
#include "core/messages.h"

namespace korvex {
class RandomSource;
}

namespace korvex::client {

using Millis = std::chrono::milliseconds;
inline constexpr Millis kDefaultTimeout{5000};

// What made the last call fail, for callers that act on the kind of failure
// rather than on its text.
enum class Failure {
    None,
    TimedOut,  // no answer within the time-out
    Refused,   // nothing listens there (connection refused)
    Network,   // name lookup, unreachable network and other socket errors
    Closed,    // the host closed the connection (or reset it)
    Reason,    // the host sent PairError, AuthError or SessionClosed: see last_reason()
    Protocol,  // the host sent something this client cannot accept
    Trust,     // the host's key or signature is not the one expected
    Usage,     // the call was refused before anything was sent
};

// One frame as the client sees it: on an established session the body is
// the opened plaintext.
struct Message {
    std::uint8_t type = 0;
    Bytes body;

    MessageType message_type() const { return static_cast<MessageType>(type); }
    std::string_view text() const { return as_text(body); }
};

// What the host said about itself while pairing.
struct PairResult {
    std::string host_id;
    std::string host_name;
    std::string os_type;
    Key32 host_ed25519{};
    std::vector<std::string> lan_endpoints;
    std::vector<std::string> tailscale_endpoints;
    std::string device_type;
    std::uint16_t udp_port = 0;
};

// What the host said about itself while authenticating.
struct AuthResult {
    std::string host_id;
    std::string host_name;
    std::string os_type;
    std::vector<std::string> lan_endpoints;
    std::vector<std::string> tailscale_endpoints;
    std::string device_type;
    std::uint16_t udp_port = 0;
};

// The host key remembered for a host id, or nothing for a host never paired.
using HostKeyLookup = std::function<std::optional<Key32>(std::string_view host_id)>;

// The user-facing text of a reason code ("unpaired", "invalid_code", ...).
std::string reason_text(std::string_view reason);

class Connection {
public:
    // `rng` makes the ephemeral keys and nonces; it must outlive the connection.
    explicit Connection(RandomSource& rng);
    Connection();  // the operating system's random source
    ~Connection();
    Connection(Connection&&) noexcept;
    Connection& operator=(Connection&&) noexcept;

    // Resolves `host` (address or name) and connects. `timeout` also becomes
    // the time-out of every later step that does not take its own.
    Status connect(std::string_view host, std::uint16_t port, Millis timeout = kDefaultTimeout);
    void set_timeout(Millis timeout);

    // The host information query (an empty PairRequest). The host closes the
    // connection after answering.
    Result<HostInfo> host_info();

    // PairRequest, PairResponse, PairConfirm, PairComplete. With
    // `expected_host_key` (the pairing URI's pk) the host's key is checked
    // before anything that depends on the code is sent. Verifies the host's
    // MAC and signature; on success the session is established.
    Result<PairResult> pair(const ClientIdentity& identity, std::string_view code, std::string_view device_name,
                            std::string_view device_model = {},
                            const std::optional<Key32>& expected_host_key = std::nullopt);

    // AuthHello, AuthChallenge (the host's signature is checked with the key
    // remembered at pairing), AuthResponse, AuthOk. An empty `device_name`
    // keeps the name the host stored at pairing.
    Result<AuthResult> authenticate(const ClientIdentity& identity, const Key32& host_key,
                                    std::string_view device_name = {});
    // The same, with the host key chosen by the host id the challenge names.
    Result<AuthResult> authenticate(const ClientIdentity& identity, const HostKeyLookup& host_key,
                                    std::string_view device_name = {});

    // Sends a Ping and waits for its Pong; frames of other types that arrive
    // meanwhile are kept for receive().
    Result<std::uint64_t> ping(std::uint64_t ts);
    Result<std::uint64_t> ping(std::uint64_t ts, Millis timeout);

    Status send_text(std::string_view text);
    Status send_clipboard(std::string_view text, bool auto_paste);
    // The event goes out as it is: the caller numbers it.
    Status send_event(const InputEvent& event);

    // The next frame (kept ones first). SessionClosed, PairError and AuthError
    // come back as errors with Failure::Reason and last_reason() set.
    Result<Message> receive(Millis timeout);
    // The next frame of `type`, keeping the others for receive().
    Result<Message> receive(MessageType type, Millis timeout);

    // ---- low-level hooks ----
    // One frame, sealed with the session's counter when `sealed`.
    Status send_frame(MessageType type, ByteView body, bool sealed);
    // Bytes written to the stream as they are.
    Status send_raw(ByteView bytes);
    // The next frame exactly as received (sealed bodies unopened, reason
    // frames not interpreted). Kept frames are not consulted.
    Result<Frame> receive_frame(Millis timeout);

    bool is_open() const;
    bool established() const;
    // The session's key and frame counters; null before establishment.
    SessionCrypto* crypto();
    std::optional<Key32> session_key() const;
    // The host's datagram port, as announced in PairComplete or AuthChallenge.
    std::uint16_t udp_port() const;
    // The host's address as connected (no brackets), and port.
    std::string remote_address() const;
    std::uint16_t remote_port() const;

    Failure last_failure() const;
    // The reason code of the last PairError, AuthError or SessionClosed.
    const std::string& last_reason() const;

    void close();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace korvex::client
