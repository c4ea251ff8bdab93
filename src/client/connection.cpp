#include "client/connection.h"

#include <array>
#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/write.hpp>
#include <deque>

#include "client/endpoint.h"
#include "client/io_wait.h"
#include "platform/random_source.h"

namespace korvex::client {
namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

// Frames held back by ping() and receive(type) for a later receive(): a host
// that floods them cannot grow this without bound.
constexpr std::size_t kMaxKeptFrames = 64;
constexpr std::size_t kMaxDeviceName = 256;
constexpr std::size_t kMaxReasonKept = 128;

bool is_six_digits(std::string_view code) {
    if (code.size() != 6) return false;
    for (char c : code)
        if (c < '0' || c > '9') return false;
    return true;
}


std::string type_name(std::uint8_t type) {
    static constexpr char kDigits[] = "0123456789abcdef";
    return std::string("0x") + kDigits[type >> 4] + kDigits[type & 0x0F];
}

// Peer text shown to the user: printable ASCII only, and not too much of it.
std::string printable(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (out.size() >= 64) {
            out += "...";
            break;
        }
        out.push_back(c >= 0x20 && c < 0x7F ? c : '?');
    }
    return out;
}

Millis remaining(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now());
    return left.count() > 0 ? left : Millis(0);
}


}  // namespace

std::string reason_text(std::string_view reason) {
    if (reason == reason::kUnpaired)
        return "the host does not know this device (unpaired): it was never paired there or was removed; pair it "
               "again";
    if (reason == reason::kInvalidCode) return "wrong pairing code: it is not the code the host shows (invalid_code)";
    if (reason == reason::kNoActiveCode)
        return "the host is not pairing right now (no_active_code): start pairing on the host, then use the code it "
               "shows";
    if (reason == reason::kRemovedByUser)
        return "the host's user removed this device (removed_by_user): pair it again to use this host";
    if (reason == reason::kInternalError)
        return "the host took the code but could not save the pairing (internal_error): try again, and check the "
               "host's data folder";
    return "the host refused for a reason this program does not know (\"" + printable(reason) + "\")";
}

struct Connection::Impl {
    explicit Impl(RandomSource& r) : rng(r) {}

    RandomSource& rng;
    asio::io_context io;
    tcp::socket socket{io};
    Bytes inbox;  // received bytes not yet framed: at most one frame plus one chunk
    std::array<std::uint8_t, 16384> chunk{};
    std::unique_ptr<SessionCrypto> crypto;
    std::deque<Message> kept;
    Millis timeout = kDefaultTimeout;
    std::uint16_t udp_port = 0;
    std::string remote_address;
    std::uint16_t remote_port = 0;
    Failure failure = Failure::None;
    std::string reason;

    std::unexpected<Error> failed(Failure kind, std::string text) {
        failure = kind;
        return fail(std::move(text));
    }

    // Ends the connection after a failure that leaves the stream unusable.
    std::unexpected<Error> broken(Failure kind, std::string text) {
        close();
        return failed(kind, std::move(text));
    }

    void close() {
        std::error_code ignored;
        if (socket.is_open()) {
            socket.shutdown(tcp::socket::shutdown_both, ignored);
            socket.close(ignored);
        }
        inbox.clear();
        crypto.reset();
    }

    std::unexpected<Error> socket_failure(const std::error_code& ec, std::string_view doing) {
        if (ec == asio::error::eof || ec == asio::error::connection_reset || ec == asio::error::broken_pipe ||
            ec == asio::error::connection_aborted)
            return broken(Failure::Closed, "the host closed the connection");
        return broken(Failure::Network, std::string(doing) + ": " + ec.message());
    }

    Status write_all(ByteView bytes) {
        if (!socket.is_open()) return failed(Failure::Closed, "not connected");
        std::error_code ec;
        bool done = false;
        asio::async_write(socket, asio::buffer(bytes.data(), bytes.size()), [&](std::error_code e, std::size_t) {
            ec = e;
            done = true;
        });
        run_until(io, timeout, done, [&] {
            std::error_code ignored;
            socket.cancel(ignored);
        });
        // Part of the frame may have gone out: the stream cannot be used any more.
        if (ec == asio::error::operation_aborted)
            return broken(Failure::TimedOut,
                          "timed out after " + std::to_string(timeout.count()) + " ms sending to the host");
        if (ec) return socket_failure(ec, "cannot send to the host");
        return {};
    }

    Result<Frame> read_frame(Millis wait, std::string_view what) {
        const auto deadline = Clock::now() + wait;
        for (;;) {
            FrameDecode decoded = try_decode_frame(inbox);
            if (decoded.status == FrameDecode::Status::Complete) return std::move(decoded.frame);
            if (decoded.status == FrameDecode::Status::Fatal)
                return broken(Failure::Protocol, "the host sent a frame with an invalid length");
            if (!socket.is_open()) return failed(Failure::Closed, "not connected");
            std::error_code ec;
            std::size_t n = 0;
            bool done = false;
            socket.async_read_some(asio::buffer(chunk), [&](std::error_code e, std::size_t got) {
                ec = e;
                n = got;
                done = true;
            });
            run_until(io, remaining(deadline), done, [&] {
                std::error_code ignored;
                socket.cancel(ignored);
            });
            // A read that completed as the time ran out still counts; an
            // aborted one took nothing, so the stream stays usable.
            if (ec == asio::error::operation_aborted)
                return failed(Failure::TimedOut, "timed out after " + std::to_string(wait.count()) +
                                                     " ms waiting for " + std::string(what));
            if (ec) return socket_failure(ec, "cannot read from the host");
            inbox.insert(inbox.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
        }
    }

    std::unexpected<Error> refused(ByteView body) {
        auto decoded = decode_reason(as_text(body));
        reason = decoded ? decoded->reason.substr(0, kMaxReasonKept) : std::string();
        close();
        return failed(Failure::Reason, decoded ? reason_text(reason) : "the host refused with an unreadable reason");
    }

    std::unexpected<Error> unexpected_frame(std::uint8_t type, std::string_view while_doing) {
        return broken(Failure::Protocol,
                      "unexpected message " + type_name(type) + " from the host " + std::string(while_doing));
    }

    // The next frame as a message: opened on an established session, reason
    // frames turned into errors.
    Result<Message> next_message(Millis wait, std::string_view what) {
        KORVEX_TRY(Frame frame, read_frame(wait, what));
        if (!crypto) {
            if (frame.type == static_cast<std::uint8_t>(MessageType::PairError) ||
                frame.type == static_cast<std::uint8_t>(MessageType::AuthError))
                return refused(frame.body);
            return Message{frame.type, std::move(frame.body)};
        }
        auto plain = open_frame(*crypto, frame);
        if (!plain) return broken(Failure::Protocol, "a frame from the host did not authenticate");
        if (frame.type == static_cast<std::uint8_t>(MessageType::SessionClosed)) return refused(*plain);
        return Message{frame.type, std::move(*plain)};
    }

    void keep(Message message) {
        if (kept.size() >= kMaxKeptFrames) kept.pop_front();
        kept.push_back(std::move(message));
    }

    Result<Message> next_of_type(MessageType type, Millis wait, std::string_view what) {
        for (auto it = kept.begin(); it != kept.end(); ++it) {
            if (it->type == static_cast<std::uint8_t>(type)) {
                Message m = std::move(*it);
                kept.erase(it);
                return m;
            }
        }
        const auto deadline = Clock::now() + wait;
        for (;;) {
            KORVEX_TRY(Message m, next_message(remaining(deadline), what));
            if (m.type == static_cast<std::uint8_t>(type)) return m;
            keep(std::move(m));
        }
    }

    Status send_frame(MessageType type, ByteView body, bool sealed) {
        if (sealed && !crypto) return failed(Failure::Usage, "the session is not established");
        // Refused here, before sealing: a refused seal still uses up a counter
        // value, and the host would then fail to open every later frame.
        if (sealed ? body.size() > kMaxSealedPlaintext : body.size() > kMaxPlainBody)
            return failed(Failure::Usage,
                          "the message is too long for one frame (" + std::to_string(body.size()) + " bytes)");
        auto bytes = encode_frame(type, body, sealed ? crypto.get() : nullptr);
        if (!bytes) return failed(Failure::Usage, bytes.error().text);
        return write_all(*bytes);
    }

    Status require_handshake_start() {
        if (!socket.is_open()) return failed(Failure::Usage, "not connected");
        if (crypto) return failed(Failure::Usage, "the session is already established");
        return {};
    }

    Status require_session() {
        if (!socket.is_open()) return failed(Failure::Usage, "not connected");
        if (!crypto) return failed(Failure::Usage, "the session is not established");
        return {};
    }
};

Connection::Connection(RandomSource& rng) : impl_(std::make_unique<Impl>(rng)) {}
Connection::Connection() : Connection(os_random()) {}
Connection::~Connection() {
    if (impl_) impl_->close();
}
Connection::Connection(Connection&&) noexcept = default;
Connection& Connection::operator=(Connection&&) noexcept = default;

Status Connection::connect(std::string_view host, std::uint16_t port, Millis timeout) {
    Impl& s = *impl_;
    s.close();
    s.kept.clear();
    s.failure = Failure::None;
    s.reason.clear();
    s.udp_port = 0;
    s.timeout = timeout;
    const std::string target = format_host_port(host, port);

    std::vector<tcp::endpoint> endpoints;
    std::error_code ec;
    auto address = asio::ip::make_address(std::string(host), ec);
    if (!ec) {
        endpoints.emplace_back(address, port);
    } else {
        tcp::resolver resolver(s.io);
        tcp::resolver::results_type results;
        bool done = false;
        resolver.async_resolve(std::string(host), std::to_string(port),
                               [&](std::error_code e, tcp::resolver::results_type r) {
                                   ec = e;
                                   results = std::move(r);
                                   done = true;
                               });
        if (!run_until(s.io, timeout, done, [&] { resolver.cancel(); }))
            return s.failed(Failure::TimedOut, "timed out looking up " + std::string(host));
        if (ec) return s.failed(Failure::Network, "cannot find host " + std::string(host) + ": " + ec.message());
        for (const auto& entry : results) endpoints.push_back(entry.endpoint());
        if (endpoints.empty()) return s.failed(Failure::Network, "cannot find host " + std::string(host));
    }

    bool done = false;
    asio::async_connect(s.socket, endpoints, [&](std::error_code e, const tcp::endpoint&) {
        ec = e;
        done = true;
    });
    if (!run_until(s.io, timeout, done, [&] {
            std::error_code ignored;
            s.socket.close(ignored);
        })) {
        s.close();
        return s.failed(Failure::TimedOut,
                        "timed out after " + std::to_string(timeout.count()) + " ms connecting to " + target);
    }
    if (ec) {
        s.close();
        if (ec == asio::error::connection_refused)
            return s.failed(Failure::Refused,
                            "connection refused by " + target + " (is the host running on that port?)");
        return s.failed(Failure::Network, "cannot connect to " + target + ": " + ec.message());
    }
    std::error_code ignored;
    s.socket.set_option(tcp::no_delay(true), ignored);  // one small frame per input event
    auto remote = s.socket.remote_endpoint(ignored);
    s.remote_address = remote.address().to_string();
    s.remote_port = remote.port();
    return {};
}

void Connection::set_timeout(Millis timeout) { impl_->timeout = timeout; }

Result<HostInfo> Connection::host_info() {
    Impl& s = *impl_;
    s.failure = Failure::None;
    if (auto ok = s.require_handshake_start(); !ok) return std::unexpected(ok.error());
    if (auto sent = s.send_frame(MessageType::PairRequest, {}, false); !sent) return std::unexpected(sent.error());
    KORVEX_TRY(Frame frame, s.read_frame(s.timeout, "the host's HostInfo"));
    if (frame.type != static_cast<std::uint8_t>(MessageType::HostInfo))
        return s.unexpected_frame(frame.type, "instead of HostInfo");
    auto info = decode_host_info(as_text(frame.body));
    if (!info) return s.broken(Failure::Protocol, "the host's HostInfo is malformed: " + info.error().text);
    s.udp_port = info->udp_port;
    s.close();  // the host closes after answering
    return std::move(*info);
}

Result<PairResult> Connection::pair(const ClientIdentity& identity, std::string_view code, std::string_view device_name,
                                    std::string_view device_model, const std::optional<Key32>& expected_host_key) {
    Impl& s = *impl_;
    s.failure = Failure::None;
    s.reason.clear();
    if (auto ok = s.require_handshake_start(); !ok) return std::unexpected(ok.error());
    if (!is_six_digits(code)) return s.failed(Failure::Usage, "the pairing code must be six digits");
    if (device_name.size() > kMaxDeviceName)
        return s.failed(Failure::Usage, "the device name is longer than 256 bytes");

    X25519KeyPair ephemeral = x25519_keypair(s.rng);
    PairRequest request;
    request.client_id = identity.client_id;
    request.device_name = device_name;
    request.device_model = device_model;
    request.client_x25519 = ephemeral.public_key;
    request.client_ed25519 = identity.public_key();
    s.rng.fill(request.client_nonce);
    if (auto sent = s.send_frame(MessageType::PairRequest, as_bytes(encode_json(request)), false); !sent)
        return std::unexpected(sent.error());

    KORVEX_TRY(Message reply, s.next_message(s.timeout, "the host's PairResponse"));
    if (reply.message_type() != MessageType::PairResponse)
        return s.unexpected_frame(reply.type, "instead of PairResponse");
    auto response = decode_pair_response(reply.text());
    if (!response) return s.broken(Failure::Protocol, "the host's PairResponse is malformed: " + response.error().text);
    // Checked before PairConfirm: its MAC would let an impostor try every code offline.
    if (expected_host_key && !ct_equal(response->host_ed25519, *expected_host_key))
        return s.broken(Failure::Trust,
                        "the host's key does not match the pairing URI: this is not the host that showed the code");
    Bytes transcript =
        pairing_transcript(identity.client_id, response->host_id, ephemeral.public_key, response->host_x25519,
                           request.client_ed25519, response->host_ed25519, request.client_nonce, response->host_nonce);
    // The host's signature over X proves that its X25519 key is the host's
    // own and not one swapped in on the way; without it the MAC sent next
    // would let whoever swapped it try every code offline. With the URI's key
    // it must be there and verify; without a URI there is no key to hold it
    // to, but one that is sent and fails still stops the pairing.
    if (expected_host_key && !response->host_sig)
        return s.broken(Failure::Trust,
                        "the host did not sign its pairing keys (no hostSigHex in PairResponse), so they may have "
                        "been swapped on the way; not sending the code's proof");
    if (response->host_sig && !ed25519_verify(response->host_ed25519, transcript, *response->host_sig))
        return s.broken(Failure::Trust,
                        "the host's signature over its pairing keys (hostSigHex) does not verify: someone between "
                        "this device and the host may have swapped them; not sending the code's proof");

    SecretKey shared = x25519_shared(ephemeral.private_key, response->host_x25519);
    if (is_all_zero(shared)) return s.broken(Failure::Protocol, "the host sent an unusable key");
    PairingKeys keys = derive_pairing_keys(shared, code, transcript);

    PairConfirm confirm{client_confirm_mac(keys.confirm_key, transcript), ed25519_sign(identity.seed, transcript)};
    if (auto sent = s.send_frame(MessageType::PairConfirm, as_bytes(encode_json(confirm)), false); !sent)
        return std::unexpected(sent.error());

    KORVEX_TRY(Message done, s.next_message(s.timeout, "the host's PairComplete"));
    if (done.message_type() != MessageType::PairComplete)
        return s.unexpected_frame(done.type, "instead of PairComplete");
    auto complete = decode_pair_complete(done.text());
    if (!complete) return s.broken(Failure::Protocol, "the host's PairComplete is malformed: " + complete.error().text);
    if (!ct_equal(complete->host_mac, host_confirm_mac(keys.confirm_key, transcript)))
        return s.broken(Failure::Trust, "the host could not prove that it knows the pairing code");
    if (!ed25519_verify(response->host_ed25519, transcript, complete->host_sig))
        return s.broken(Failure::Trust, "the host's signature over the pairing does not verify");

    s.crypto = std::make_unique<SessionCrypto>(keys.session_key, Side::Client);
    s.udp_port = complete->udp_port;
    PairResult result;
    result.host_id = std::move(response->host_id);
    result.host_name = std::move(response->host_name);
    result.os_type = std::move(response->os_type);
    result.host_ed25519 = response->host_ed25519;
    result.lan_endpoints = std::move(response->lan_endpoints);
    result.tailscale_endpoints = std::move(response->tailscale_endpoints);
    result.device_type = std::move(response->device_type);
    result.udp_port = complete->udp_port;
    return result;
}

Result<AuthResult> Connection::authenticate(const ClientIdentity& identity, const Key32& host_key,
                                            std::string_view device_name) {
    return authenticate(identity, HostKeyLookup([&](std::string_view) { return std::optional<Key32>(host_key); }),
                        device_name);
}

Result<AuthResult> Connection::authenticate(const ClientIdentity& identity, const HostKeyLookup& host_key,
                                            std::string_view device_name) {
    Impl& s = *impl_;
    s.failure = Failure::None;
    s.reason.clear();
    if (auto ok = s.require_handshake_start(); !ok) return std::unexpected(ok.error());
    if (device_name.size() > kMaxDeviceName)
        return s.failed(Failure::Usage, "the device name is longer than 256 bytes");

    X25519KeyPair ephemeral = x25519_keypair(s.rng);
    AuthHello hello;
    hello.client_id = identity.client_id;
    hello.device_name = device_name;
    hello.client_x25519 = ephemeral.public_key;
    s.rng.fill(hello.client_nonce);
    if (auto sent = s.send_frame(MessageType::AuthHello, as_bytes(encode_json(hello)), false); !sent)
        return std::unexpected(sent.error());

    KORVEX_TRY(Message reply, s.next_message(s.timeout, "the host's AuthChallenge"));
    if (reply.message_type() != MessageType::AuthChallenge)
        return s.unexpected_frame(reply.type, "instead of AuthChallenge");
    auto challenge = decode_auth_challenge(reply.text());
    if (!challenge)
        return s.broken(Failure::Protocol, "the host's AuthChallenge is malformed: " + challenge.error().text);
    std::optional<Key32> key = host_key(challenge->host_id);
    if (!key)
        return s.broken(Failure::Trust, "the host \"" + printable(challenge->host_name) + "\" (id " +
                                            printable(challenge->host_id) + ") is not paired with this device");
    Bytes transcript = auth_transcript(identity.client_id, challenge->host_id, ephemeral.public_key,
                                       challenge->host_x25519, hello.client_nonce, challenge->host_nonce);
    if (!ed25519_verify(*key, transcript, challenge->host_sig))
        return s.broken(Failure::Trust, "the host's signature does not verify with the key remembered at pairing");

    SecretKey shared = x25519_shared(ephemeral.private_key, challenge->host_x25519);
    if (is_all_zero(shared)) return s.broken(Failure::Protocol, "the host sent an unusable key");
    SecretKey session_key = derive_auth_session_key(shared, hello.client_nonce, challenge->host_nonce, transcript);

    AuthResponse response{ed25519_sign(identity.seed, transcript)};
    if (auto sent = s.send_frame(MessageType::AuthResponse, as_bytes(encode_json(response)), false); !sent)
        return std::unexpected(sent.error());

    auto frame = s.read_frame(s.timeout, "the host's AuthOk");
    if (!frame) {
        if (s.failure == Failure::Closed)
            return s.failed(Failure::Closed,
                            "the host closed the connection without AuthOk: it refused this "
                            "device's signature");
        return std::unexpected(frame.error());
    }
    if (frame->type == static_cast<std::uint8_t>(MessageType::AuthError)) return s.refused(frame->body);
    if (frame->type != static_cast<std::uint8_t>(MessageType::AuthOk))
        return s.unexpected_frame(frame->type, "instead of AuthOk");
    // AuthOk is the first sealed frame: it opens with counter 0 or the keys differ.
    auto crypto = std::make_unique<SessionCrypto>(session_key, Side::Client);
    if (!open_frame(*crypto, *frame))
        return s.broken(Failure::Protocol, "the host's AuthOk does not open with the derived session key");
    s.crypto = std::move(crypto);
    s.udp_port = challenge->udp_port;

    AuthResult result;
    result.host_id = std::move(challenge->host_id);
    result.host_name = std::move(challenge->host_name);
    result.os_type = std::move(challenge->os_type);
    result.lan_endpoints = std::move(challenge->lan_endpoints);
    result.tailscale_endpoints = std::move(challenge->tailscale_endpoints);
    result.device_type = std::move(challenge->device_type);
    result.udp_port = challenge->udp_port;
    return result;
}

Result<std::uint64_t> Connection::ping(std::uint64_t ts) { return ping(ts, impl_->timeout); }

Result<std::uint64_t> Connection::ping(std::uint64_t ts, Millis timeout) {
    Impl& s = *impl_;
    s.failure = Failure::None;
    if (auto ok = s.require_session(); !ok) return std::unexpected(ok.error());
    if (auto sent = s.send_frame(MessageType::Ping, as_bytes(encode_json(Ping{ts})), true); !sent)
        return std::unexpected(sent.error());
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        KORVEX_TRY(Message m, s.next_of_type(MessageType::Pong, remaining(deadline), "the host's Pong"));
        auto pong = decode_pong(m.text());
        if (!pong) return s.failed(Failure::Protocol, "the host's Pong is malformed: " + pong.error().text);
        // A Pong of an earlier ping that timed out is not this one's answer.
        if (pong->ts == ts) return pong->ts;
    }
}

Status Connection::send_text(std::string_view text) {
    impl_->failure = Failure::None;
    if (auto ok = impl_->require_session(); !ok) return ok;
    return impl_->send_frame(MessageType::TextUtf8, as_bytes(encode_json(TextUtf8{std::string(text)})), true);
}

Status Connection::send_clipboard(std::string_view text, bool auto_paste) {
    impl_->failure = Failure::None;
    if (auto ok = impl_->require_session(); !ok) return ok;
    return impl_->send_frame(MessageType::ClipboardSet,
                             as_bytes(encode_json(ClipboardSet{std::string(text), auto_paste})), true);
}

Status Connection::send_event(const InputEvent& event) {
    impl_->failure = Failure::None;
    if (auto ok = impl_->require_session(); !ok) return ok;
    auto bytes = encode_input_event(event);
    return impl_->send_frame(MessageType::InputEvent, bytes, true);
}

Result<Message> Connection::receive(Millis timeout) {
    Impl& s = *impl_;
    s.failure = Failure::None;
    if (!s.kept.empty()) {
        Message m = std::move(s.kept.front());
        s.kept.pop_front();
        return m;
    }
    return s.next_message(timeout, "a message from the host");
}

Result<Message> Connection::receive(MessageType type, Millis timeout) {
    impl_->failure = Failure::None;
    return impl_->next_of_type(type, timeout, "message " + type_name(static_cast<std::uint8_t>(type)));
}

Status Connection::send_frame(MessageType type, ByteView body, bool sealed) {
    impl_->failure = Failure::None;
    return impl_->send_frame(type, body, sealed);
}

Status Connection::send_raw(ByteView bytes) {
    impl_->failure = Failure::None;
    return impl_->write_all(bytes);
}

Result<Frame> Connection::receive_frame(Millis timeout) {
    impl_->failure = Failure::None;
    return impl_->read_frame(timeout, "a frame from the host");
}

bool Connection::is_open() const { return impl_->socket.is_open(); }
bool Connection::established() const { return impl_->crypto != nullptr; }
SessionCrypto* Connection::crypto() { return impl_->crypto.get(); }
std::optional<Key32> Connection::session_key() const {
    if (!impl_->crypto) return std::nullopt;
    return impl_->crypto->key();
}
std::uint16_t Connection::udp_port() const { return impl_->udp_port; }
std::string Connection::remote_address() const { return impl_->remote_address; }
std::uint16_t Connection::remote_port() const { return impl_->remote_port; }
Failure Connection::last_failure() const { return impl_->failure; }
const std::string& Connection::last_reason() const { return impl_->reason; }
void Connection::close() { impl_->close(); }

}  // namespace korvex::client
