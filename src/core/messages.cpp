#include "core/messages.h"

#include "core/json.h"

namespace korvex {
namespace {

JsonWriter& hex_member(JsonWriter& w, std::string_view name, ByteView bytes) {
    return w.member(name, hex_lower(bytes));
}

Result<std::uint16_t> port_member(const JsonRecord& r, std::string_view field) {
    KORVEX_TRY(std::uint64_t port, r.u64(field));
    if (port > 65535) return fail("member " + std::string(field) + " is not a port");
    return static_cast<std::uint16_t>(port);
}

}  // namespace

// ---- encoders ----

std::string encode_json(const PairRequest& m) {
    JsonWriter w;
    w.begin_object().member("clientId", m.client_id).member("deviceName", m.device_name);
    w.member("deviceModel", m.device_model);
    hex_member(w, "clientX25519PubHex", m.client_x25519);
    hex_member(w, "clientEd25519PubHex", m.client_ed25519);
    hex_member(w, "clientNonceHex", m.client_nonce);
    return w.end_object().take();
}

std::string encode_json(const PairConfirm& m) {
    JsonWriter w;
    w.begin_object();
    w.member("clientMacHex", m.client_mac ? hex_lower(*m.client_mac) : std::string());
    w.member("clientSigHex", m.client_sig ? hex_lower(*m.client_sig) : std::string());
    return w.end_object().take();
}

std::string encode_json(const AuthHello& m) {
    JsonWriter w;
    w.begin_object().member("clientId", m.client_id).member("deviceName", m.device_name);
    hex_member(w, "clientX25519PubHex", m.client_x25519);
    hex_member(w, "clientNonceHex", m.client_nonce);
    return w.end_object().take();
}

std::string encode_json(const AuthResponse& m) {
    JsonWriter w;
    w.begin_object();
    hex_member(w, "clientSigHex", m.client_sig);
    return w.end_object().take();
}

std::string encode_json(const Ping& m) { return JsonWriter().begin_object().member("ts", m.ts).end_object().take(); }

std::string encode_json(const TextUtf8& m) {
    return JsonWriter().begin_object().member("text", m.text).end_object().take();
}

std::string encode_json(const ClipboardSet& m) {
    return JsonWriter().begin_object().member("text", m.text).member("autoPaste", m.auto_paste).end_object().take();
}

std::string encode_json(const PairResponse& m) {
    JsonWriter w;
    w.begin_object().member("hostId", m.host_id).member("hostName", m.host_name).member("osType", m.os_type);
    hex_member(w, "hostX25519PubHex", m.host_x25519);
    hex_member(w, "hostEd25519PubHex", m.host_ed25519);
    hex_member(w, "hostNonceHex", m.host_nonce);
    w.member("lanEndpoints", m.lan_endpoints).member("tailscaleEndpoints", m.tailscale_endpoints);
    w.member("deviceType", m.device_type);
    // The last member: clients that do not know it skip it.
    if (m.host_sig) hex_member(w, "hostSigHex", *m.host_sig);
    return w.end_object().take();
}

std::string encode_json(const PairComplete& m) {
    JsonWriter w;
    w.begin_object();
    hex_member(w, "hostMacHex", m.host_mac);
    hex_member(w, "hostSigHex", m.host_sig);
    return w.member("udpPort", std::uint64_t{m.udp_port}).end_object().take();
}

std::string encode_json(const HostInfo& m) {
    JsonWriter w;
    w.begin_object().member("v", m.v).member("hostId", m.host_id).member("name", m.name).member("os", m.os);
    return w.member("fp", m.fp).member("udpPort", std::uint64_t{m.udp_port}).end_object().take();
}

std::string encode_json(const AuthChallenge& m) {
    JsonWriter w;
    w.begin_object().member("hostId", m.host_id).member("hostName", m.host_name).member("osType", m.os_type);
    hex_member(w, "hostX25519PubHex", m.host_x25519);
    hex_member(w, "hostNonceHex", m.host_nonce);
    hex_member(w, "hostSigHex", m.host_sig);
    w.member("udpPort", std::uint64_t{m.udp_port});
    w.member("lanEndpoints", m.lan_endpoints).member("tailscaleEndpoints", m.tailscale_endpoints);
    return w.member("deviceType", m.device_type).end_object().take();
}

std::string encode_json(const Pong& m) { return JsonWriter().begin_object().member("ts", m.ts).end_object().take(); }

std::string encode_reason(std::string_view reason) {
    return JsonWriter().begin_object().member("reason", reason).end_object().take();
}

// ---- decoders ----

Result<PairRequest> decode_pair_request(std::string_view body) {
    KORVEX_TRY(auto r, JsonRecord::parse(body, {"clientId", "deviceName", "deviceModel", "clientX25519PubHex",
                                                 "clientEd25519PubHex", "clientNonceHex"}));
    PairRequest m;
    KORVEX_TRY(m.client_id, r.string("clientId"));
    KORVEX_TRY(m.device_name, r.string("deviceName"));
    KORVEX_TRY(m.device_model, r.optional_string("deviceModel"));
    KORVEX_TRY(m.client_x25519, r.hex<32>("clientX25519PubHex"));
    KORVEX_TRY(m.client_ed25519, r.hex<32>("clientEd25519PubHex"));
    KORVEX_TRY(m.client_nonce, r.hex<16>("clientNonceHex"));
    if (m.client_id.empty() || m.client_id.size() > kMaxClientIdBytes) return fail("clientId must be 1 to 128 bytes");
    if (m.device_name.size() > kMaxDeviceNameBytes) return fail("deviceName is longer than 256 bytes");
    return m;
}

Result<PairConfirm> decode_pair_confirm(std::string_view body) {
    KORVEX_TRY(auto r, JsonRecord::parse(body, {"clientMacHex", "clientSigHex"}));
    PairConfirm m;
    KORVEX_TRY(m.client_mac, r.hex_or_nothing<32>("clientMacHex"));
    KORVEX_TRY(m.client_sig, r.hex_or_nothing<64>("clientSigHex"));
    return m;
}

Result<AuthHello> decode_auth_hello(std::string_view body) {
    KORVEX_TRY(auto r, JsonRecord::parse(body, {"clientId", "deviceName", "clientX25519PubHex", "clientNonceHex"}));
    AuthHello m;
    KORVEX_TRY(m.client_id, r.string("clientId"));
    KORVEX_TRY(m.device_name, r.optional_string("deviceName"));
    KORVEX_TRY(m.client_x25519, r.hex<32>("clientX25519PubHex"));
    KORVEX_TRY(m.client_nonce, r.hex<16>("clientNonceHex"));
    return m;
}

Result<AuthResponse> decode_auth_response(std::string_view body) {
    KORVEX_TRY(auto r, JsonRecord::parse(body, {"clientSigHex"}));
    AuthResponse m;
    KORVEX_TRY(m.client_sig, r.hex<64>("clientSigHex"));
    return m;
}

Result<Ping> decode_ping(std::string_view body) {
    KORVEX_TRY(auto r, JsonRecord::parse(body, {"ts"}));
    Ping m;
    KORVEX_TRY(m.ts, r.u64("ts"));
    return m;
}

Result<TextUtf8> decode_text_utf8(std::string_view body) {
    KORVEX_TRY(auto r, JsonRecord::parse(body, {"text"}));
    TextUtf8 m;
    KORVEX_TRY(m.text, r.string("text"));
    return m;
}

Result<ClipboardSet> decode_clipboard_set(std::string_view body) {
    KORVEX_TRY(auto r, JsonRecord::parse(body, {"text", "autoPaste"}));
    ClipboardSet m;
    KORVEX_TRY(m.text, r.string("text"));
    KORVEX_TRY(m.auto_paste, r.optional_bool("autoPaste"));
    return m;
}

Result<PairResponse> decode_pair_response(std::string_view body) {
    KORVEX_TRY(auto r, JsonRecord::parse(body, {"hostId", "hostName", "osType", "hostX25519PubHex",
                                                 "hostEd25519PubHex", "hostNonceHex", "lanEndpoints",
                                                 "tailscaleEndpoints", "deviceType", "hostSigHex"}));
    PairResponse m;
    KORVEX_TRY(m.host_id, r.string("hostId"));
    KORVEX_TRY(m.host_name, r.string("hostName"));
    KORVEX_TRY(m.os_type, r.string("osType"));
    KORVEX_TRY(m.host_x25519, r.hex<32>("hostX25519PubHex"));
    KORVEX_TRY(m.host_ed25519, r.hex<32>("hostEd25519PubHex"));
    KORVEX_TRY(m.host_nonce, r.hex<16>("hostNonceHex"));
    KORVEX_TRY(m.lan_endpoints, r.string_list("lanEndpoints"));
    KORVEX_TRY(m.tailscale_endpoints, r.string_list("tailscaleEndpoints"));
    KORVEX_TRY(m.device_type, r.string("deviceType"));
    if (r.has("hostSigHex")) {
        KORVEX_TRY(m.host_sig, r.hex<64>("hostSigHex"));
    }
    return m;
}

Result<PairComplete> decode_pair_complete(std::string_view body) {
    KORVEX_TRY(auto r, JsonRecord::parse(body, {"hostMacHex", "hostSigHex", "udpPort"}));
    PairComplete m;
    KORVEX_TRY(m.host_mac, r.hex<32>("hostMacHex"));
    KORVEX_TRY(m.host_sig, r.hex<64>("hostSigHex"));
    KORVEX_TRY(m.udp_port, port_member(r, "udpPort"));
    return m;
}

Result<HostInfo> decode_host_info(std::string_view body) {
    KORVEX_TRY(auto r, JsonRecord::parse(body, {"v", "hostId", "name", "os", "fp", "udpPort"}));
    HostInfo m;
    KORVEX_TRY(m.v, r.u64("v"));
    KORVEX_TRY(m.host_id, r.string("hostId"));
    KORVEX_TRY(m.name, r.string("name"));
    KORVEX_TRY(m.os, r.string("os"));
    KORVEX_TRY(m.fp, r.string("fp"));
    KORVEX_TRY(m.udp_port, port_member(r, "udpPort"));
    return m;
}

Result<AuthChallenge> decode_auth_challenge(std::string_view body) {
    KORVEX_TRY(auto r, JsonRecord::parse(body, {"hostId", "hostName", "osType", "hostX25519PubHex", "hostNonceHex",
                                                 "hostSigHex", "udpPort", "lanEndpoints", "tailscaleEndpoints",
                                                 "deviceType"}));
    AuthChallenge m;
    KORVEX_TRY(m.host_id, r.string("hostId"));
    KORVEX_TRY(m.host_name, r.string("hostName"));
    KORVEX_TRY(m.os_type, r.string("osType"));
    KORVEX_TRY(m.host_x25519, r.hex<32>("hostX25519PubHex"));
    KORVEX_TRY(m.host_nonce, r.hex<16>("hostNonceHex"));
    KORVEX_TRY(m.host_sig, r.hex<64>("hostSigHex"));
    KORVEX_TRY(m.udp_port, port_member(r, "udpPort"));
    KORVEX_TRY(m.lan_endpoints, r.string_list("lanEndpoints"));
    KORVEX_TRY(m.tailscale_endpoints, r.string_list("tailscaleEndpoints"));
    KORVEX_TRY(m.device_type, r.string("deviceType"));
    return m;
}

Result<Pong> decode_pong(std::string_view body) {
    KORVEX_TRY(auto r, JsonRecord::parse(body, {"ts"}));
    Pong m;
    KORVEX_TRY(m.ts, r.u64("ts"));
    return m;
}

Result<ReasonBody> decode_reason(std::string_view body) {
    KORVEX_TRY(auto r, JsonRecord::parse(body, {"reason"}));
    ReasonBody m;
    KORVEX_TRY(m.reason, r.string("reason"));
    return m;
}

}  // namespace korvex
