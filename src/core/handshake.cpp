#include "core/handshake.h"

#include <utility>

#include "core/messages.h"
#include "platform/random_source.h"

namespace korvex {
namespace {

using Kind = HandshakeOutcome::Kind;

HandshakeOutcome close() { return {}; }

HandshakeOutcome reply(Kind kind, MessageType type, std::string body) {
    HandshakeOutcome out;
    out.kind = kind;
    out.plain.push_back({type, std::move(body)});
    return out;
}

HandshakeOutcome pair_error(std::string_view reason) {
    return reply(Kind::ReplyAndClose, MessageType::PairError, encode_reason(reason));
}

HandshakeOutcome auth_error_unpaired() {
    return reply(Kind::ReplyAndClose, MessageType::AuthError, encode_reason(reason::kUnpaired));
}

HandshakeOutcome host_info(const HandshakeContext& ctx) {
    HostInfo info;
    info.host_id = ctx.identity.host_id;
    info.name = std::string(ctx.host_name);
    info.fp = host_fingerprint(ctx.host_ed25519_public);
    info.udp_port = ctx.udp_port;
    info.os = std::string(ctx.os_type);
    return reply(Kind::ReplyAndClose, MessageType::HostInfo, encode_json(info));
}

Nonce16 fresh_nonce(RandomSource& rng) {
    Nonce16 nonce{};
    rng.fill(nonce);
    return nonce;
}

Bytes pairing_transcript_of(const PendingPairing& pending, const HandshakeContext& ctx) {
    return pairing_transcript(pending.client_id, ctx.identity.host_id, pending.client_x25519,
                              pending.host_ephemeral.public_key, pending.client_ed25519, ctx.host_ed25519_public,
                              pending.client_nonce, pending.host_nonce);
}

// True when the store holds a key for client_id and it differs from `key`.
bool stored_key_differs(const PairedStore& store, std::string_view client_id, const Key32& key) {
    const PairedClientRecord* record = find_client(store, std::string(client_id));
    if (record == nullptr) return false;
    auto stored = hex_decode_exact<32>(record->ed25519_public_key_hex);
    return !stored || !ct_equal(*stored, key);
}

HandshakeOutcome on_pair_request(HandshakeState& state, PairRequest&& request, HostCore& core,
                                 const HandshakeContext& ctx) {
    if (!core.pairing.code || core.pairing.failed_attempts >= kMaxPairingFailures)
        return pair_error(reason::kNoActiveCode);

    PendingPairing& pending = state.emplace<PendingPairing>();
    pending.client_id = std::move(request.client_id);
    pending.device_name = std::move(request.device_name);
    pending.device_model = std::move(request.device_model);
    pending.client_x25519 = request.client_x25519;
    pending.client_ed25519 = request.client_ed25519;
    pending.client_nonce = request.client_nonce;
    pending.host_ephemeral = x25519_keypair(ctx.rng);
    pending.host_nonce = fresh_nonce(ctx.rng);

    PairResponse response;
    response.host_id = ctx.identity.host_id;
    response.host_name = std::string(ctx.host_name);
    response.host_x25519 = pending.host_ephemeral.public_key;
    response.host_ed25519 = ctx.host_ed25519_public;
    response.host_nonce = pending.host_nonce;
    response.lan_endpoints = ctx.lan_endpoints;
    response.tailscale_endpoints = ctx.tailscale_endpoints;
    response.device_type = std::string(ctx.device_type);
    response.os_type = std::string(ctx.os_type);
    // X is complete here: signing it now lets the client check the host
    // (against the key of the pairing URI) before it reveals its MAC, which
    // an impostor could otherwise take away to try every code offline.
    response.host_sig = ed25519_sign(ctx.identity.seed, pairing_transcript_of(pending, ctx));
    return reply(Kind::Continue, MessageType::PairResponse, encode_json(response));
}

HandshakeOutcome on_pair_confirm(const PendingPairing& pending, const PairConfirm& confirm, HostCore& core,
                                 const HandshakeContext& ctx, std::string_view peer_ip) {
    if (!core.pairing.code) return pair_error(reason::kNoActiveCode);

    SecretKey shared = x25519_shared(pending.host_ephemeral.private_key, pending.client_x25519);
    if (is_all_zero(shared)) {
        record_pairing_failure(core);
        return pair_error(reason::kInvalidCode);
    }
    Bytes x = pairing_transcript_of(pending, ctx);
    PairingKeys keys = derive_pairing_keys(shared, *core.pairing.code, x);
    // Both checks always run, so the reply takes the same time whichever fails.
    Key32 expected_mac = client_confirm_mac(keys.confirm_key, x);
    bool mac_ok = confirm.client_mac && ct_equal(*confirm.client_mac, expected_mac);
    bool sig_ok = confirm.client_sig && ed25519_verify(pending.client_ed25519, x, *confirm.client_sig);
    if (!(mac_ok && sig_ok)) {
        record_pairing_failure(core);
        return pair_error(reason::kInvalidCode);
    }

    clear_pairing_code(core);
    const bool replaced_key = stored_key_differs(core.store, pending.client_id, pending.client_ed25519);
    PairedClientRecord record{pending.client_id,
                              pending.device_name,
                              pending.device_model,
                              hex_lower(pending.client_ed25519),
                              ctx.now_unix,
                              ctx.now_unix,
                              std::string(peer_ip)};
    upsert_client(core.store, std::move(record));
    if (!ctx.store_saver.save_now(core.store)) {
        // The new key stands in memory all the same: the old one's sessions end.
        HandshakeOutcome out = pair_error(reason::kInternalError);
        out.client_id = pending.client_id;
        out.replaced_key = replaced_key;
        return out;
    }
    core.queue(HostEvent::Kind::DevicePaired, pending.device_name);
    core.queue(HostEvent::Kind::PairedListChanged);

    PairComplete complete{host_confirm_mac(keys.confirm_key, x), ed25519_sign(ctx.identity.seed, x), ctx.udp_port};
    HandshakeOutcome out = reply(Kind::Established, MessageType::PairComplete, encode_json(complete));
    out.client_id = pending.client_id;
    out.display_name = pending.device_name;
    out.session_key = keys.session_key;
    out.replaced_key = replaced_key;
    return out;
}

HandshakeOutcome on_auth_hello(HandshakeState& state, AuthHello&& hello, HostCore& core) {
    const PairedClientRecord* record = find_client(core.store, hello.client_id);
    if (record == nullptr) return auth_error_unpaired();
    auto client_key = hex_decode_exact<32>(record->ed25519_public_key_hex);
    if (!client_key) return auth_error_unpaired();

    PendingAuth& pending = state.emplace<PendingAuth>();
    pending.client_id = std::move(hello.client_id);
    pending.display_name = hello.device_name.empty() ? record->device_name : std::move(hello.device_name);
    pending.client_x25519 = hello.client_x25519;
    pending.client_ed25519 = *client_key;
    pending.client_nonce = hello.client_nonce;
    HandshakeOutcome out;
    out.kind = Kind::Continue;
    out.challenge_pending = true;
    return out;
}

HandshakeOutcome on_auth_response(const PendingAuth& pending, const HandshakePrework& prework, HostCore& core,
                                  const HandshakeContext& ctx, std::string_view peer_ip) {
    if (!prework.signature_ok) return close();
    PairedClientRecord* record = find_client(core.store, pending.client_id);
    if (record == nullptr) return auth_error_unpaired();
    // A re-pairing since AuthHello replaced the key this handshake checked:
    // the old key no longer opens a session. The session is registered in
    // this same locked step, so the check also holds at registration.
    if (stored_key_differs(core.store, pending.client_id, pending.client_ed25519)) return auth_error_unpaired();
    if (!prework.session_key) return close();

    record->last_seen_unix = ctx.now_unix;
    record->last_remote_ip = std::string(peer_ip);
    // Written behind the lock; a failed refresh does not stop the session.
    ctx.store_saver.save_soon(core.store);

    HandshakeOutcome out;
    out.kind = Kind::Established;
    out.encrypted.push_back({MessageType::AuthOk, std::string(kAuthOkBody)});
    out.client_id = pending.client_id;
    out.display_name = pending.display_name;
    out.session_key = *prework.session_key;
    return out;
}

}  // namespace

HandshakeMessage decode_handshake_frame(std::uint8_t type, ByteView body) {
    // The decoders check the hex fields and the id and name lengths.
    auto decoded = [](auto result) -> HandshakeMessage {
        if (!result) return UndecodableFrame{};
        return std::move(*result);
    };
    const std::string_view text = as_text(body);
    switch (static_cast<MessageType>(type)) {
        case MessageType::PairRequest:
            if (body.empty()) return HostInfoQuery{};
            return decoded(decode_pair_request(text));
        case MessageType::PairConfirm:
            return decoded(decode_pair_confirm(text));
        case MessageType::AuthHello:
            return decoded(decode_auth_hello(text));
        case MessageType::AuthResponse:
            return decoded(decode_auth_response(text));
        default:
            return UndecodableFrame{};
    }
}

HandshakePrework prepare_handshake_step(const HandshakeState& state, const HandshakeMessage& message) {
    HandshakePrework prework;
    const auto* response = std::get_if<AuthResponse>(&message);
    const auto* pending = std::get_if<PendingAuth>(&state);
    if (response == nullptr || pending == nullptr) return prework;
    prework.signature_ok = ed25519_verify(pending->client_ed25519, pending->transcript, response->client_sig);
    if (!prework.signature_ok) return prework;
    SecretKey shared = x25519_shared(pending->host_ephemeral.private_key, pending->client_x25519);
    if (is_all_zero(shared)) return prework;
    prework.session_key =
        derive_auth_session_key(shared, pending->client_nonce, pending->host_nonce, pending->transcript);
    return prework;
}

HandshakeOutcome handle_handshake_frame(HandshakeState& state, HandshakeMessage&& message,
                                        const HandshakePrework& prework, HostCore& core, const HandshakeContext& ctx,
                                        std::string_view peer_ip) {
    // The state is taken out for the step; only a Continue puts one back.
    HandshakeState taken = std::exchange(state, std::monostate{});
    const bool idle = std::holds_alternative<std::monostate>(taken);
    if (std::holds_alternative<HostInfoQuery>(message)) return idle ? host_info(ctx) : close();
    if (auto* request = std::get_if<PairRequest>(&message))
        return idle ? on_pair_request(state, std::move(*request), core, ctx) : close();
    if (auto* hello = std::get_if<AuthHello>(&message)) return idle ? on_auth_hello(state, std::move(*hello), core) : close();
    if (auto* confirm = std::get_if<PairConfirm>(&message)) {
        if (auto* pending = std::get_if<PendingPairing>(&taken)) return on_pair_confirm(*pending, *confirm, core, ctx, peer_ip);
        return close();
    }
    if (std::holds_alternative<AuthResponse>(message)) {
        if (auto* pending = std::get_if<PendingAuth>(&taken)) return on_auth_response(*pending, prework, core, ctx, peer_ip);
        return close();
    }
    return close();
}

void finish_handshake_step(HandshakeState& state, HandshakeOutcome& outcome, const HandshakeContext& ctx) {
    if (!outcome.challenge_pending) return;
    outcome.challenge_pending = false;
    PendingAuth& pending = std::get<PendingAuth>(state);
    pending.host_ephemeral = x25519_keypair(ctx.rng);
    pending.host_nonce = fresh_nonce(ctx.rng);
    pending.transcript = auth_transcript(pending.client_id, ctx.identity.host_id, pending.client_x25519,
                                         pending.host_ephemeral.public_key, pending.client_nonce, pending.host_nonce);

    AuthChallenge challenge;
    challenge.host_id = ctx.identity.host_id;
    challenge.host_name = std::string(ctx.host_name);
    challenge.host_x25519 = pending.host_ephemeral.public_key;
    challenge.host_nonce = pending.host_nonce;
    challenge.host_sig = ed25519_sign(ctx.identity.seed, pending.transcript);
    challenge.udp_port = ctx.udp_port;
    challenge.os_type = std::string(ctx.os_type);
    challenge.lan_endpoints = ctx.lan_endpoints;
    challenge.tailscale_endpoints = ctx.tailscale_endpoints;
    challenge.device_type = std::string(ctx.device_type);
    outcome.plain.push_back({MessageType::AuthChallenge, encode_json(challenge)});
}

HandshakeOutcome handle_handshake_frame(HandshakeState& state, HandshakeMessage&& message, HostCore& core,
                                        const HandshakeContext& ctx, std::string_view peer_ip) {
    const HandshakePrework prework = prepare_handshake_step(state, message);
    HandshakeOutcome outcome = handle_handshake_frame(state, std::move(message), prework, core, ctx, peer_ip);
    finish_handshake_step(state, outcome, ctx);
    return outcome;
}

HandshakeOutcome handle_handshake_frame(HandshakeState& state, std::uint8_t type, ByteView body, HostCore& core,
                                        const HandshakeContext& ctx, std::string_view peer_ip) {
    return handle_handshake_frame(state, decode_handshake_frame(type, body), core, ctx, peer_ip);
}

}  // namespace korvex
