// Writes the seed corpus of every fuzz target, made with the project's own
// encoders: korvex_fuzz_seeds OUT_DIR [REPO_ROOT]. Each target gets the
// folder OUT_DIR/<target>; REPO_ROOT (for the Tailscale status fixture) is
// optional.
//
// The handshake seeds are whole conversations recorded against the same
// deterministic host the harness builds, so they replay to an established
// session and the fuzzer starts from there.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/datagram.h"
#include "core/frame.h"
#include "core/identity.h"
#include "core/input_event.h"
#include "core/messages.h"
#include "core/store.h"
#include "fuzz_common.h"
#include "support/input_fakes.h"
#if __has_include("core/pad_mapping_file.h")
#include "core/pad_mapping_file.h"
#define KORVEX_FUZZ_PAD_MAPPING 1
#endif

using namespace korvex;
namespace fs = std::filesystem;

namespace {

fs::path g_out;

void write_seed(const std::string& target, const std::string& name, const Bytes& bytes) {
    const fs::path dir = g_out / target;
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<std::streamsize>(bytes.size()));
}

void write_seed(const std::string& target, const std::string& name, std::string_view text) {
    write_seed(target, name, Bytes(text.begin(), text.end()));
}

Bytes with_prefix(std::uint8_t first, ByteView rest) {
    Bytes out{first};
    append(out, rest);
    return out;
}

Bytes frame(MessageType type, std::string_view body, SessionCrypto* crypto = nullptr) {
    return *encode_frame(type, as_bytes(body), crypto);
}

Bytes frame(MessageType type, ByteView body, SessionCrypto* crypto) { return *encode_frame(type, body, crypto); }

Bytes event_bytes(const InputEvent& event) {
    auto raw = encode_input_event(event);
    return Bytes(raw.begin(), raw.end());
}

// ---- fuzz_frame ----

void frame_seeds() {
    SessionCrypto client(fuzz::kSessionKey, Side::Client);
    Bytes stream;
    append(stream, frame(MessageType::Ping, encode_json(Ping{42}), &client));
    append(stream, frame(MessageType::InputEvent, event_bytes(test::make_key(1, 0x04, 1)), &client));
    append(stream, frame(MessageType::TextUtf8, encode_json(TextUtf8{"hello"}), &client));
    append(stream, frame(MessageType::ClipboardSet, std::string_view{}, &client));  // length 17, empty plaintext
    write_seed("fuzz_frame", "sealed-stream", with_prefix(128, stream));

    Bytes plain = frame(MessageType::AuthHello, std::string_view("{}"));
    append(plain, frame(MessageType::PairRequest, std::string_view{}));
    plain.insert(plain.end(), {0x10, 0x00, 0x00, 0x00, 0x20});  // half a frame
    write_seed("fuzz_frame", "plain-and-half", with_prefix(0, plain));
    write_seed("fuzz_frame", "length-zero", Bytes{255, 0, 0, 0, 0, 0x30});
    write_seed("fuzz_frame", "length-too-big", Bytes{7, 0x01, 0x00, 0x01, 0x00, 0x30});
    write_seed("fuzz_frame", "short-sealed", with_prefix(255, frame(MessageType::Ping, std::string_view("0123456789abcdef"))));
}

// ---- fuzz_messages ----

void message_seeds() {
    fuzz::FuzzClient c;
    Key32 k = fuzz::filled_key(0xAB);
    Nonce16 n{};
    n.fill(0xCD);
    Signature sig{};
    sig.fill(0xEF);
    const std::vector<std::pair<std::uint8_t, std::string>> bodies = {
        {0, encode_json(PairRequest{"phone-1", "Phone A", "Pixel 8", k, c.ed_public, n})},
        {0, "   {\"clientId\":\"c\",\"deviceName\":\"\",\"x\":[1,{\"y\":null}],\"clientX25519PubHex\":\"" +
                hex_lower(k) + "\",\"clientEd25519PubHex\":\"" + hex_lower(k) + "\",\"clientNonceHex\":\"" +
                hex_lower(n) + "\"}\n"},
        {0, "[\"c\",\"name\",\"model\",\"" + hex_lower(k) + "\",\"" + hex_lower(k) + "\",\"" + hex_lower(n) + "\"]"},
        {1, encode_json(PairConfirm{k, sig})},
        {1, "{\"clientMacHex\":\"abc\",\"clientSigHex\":\"\"}"},
        {2, encode_json(AuthHello{"phone-1", "", k, n})},
        {2, "[\"phone-1\",\"Tablet\",\"" + hex_lower(k) + "\",\"" + hex_lower(n) + "\"]"},
        {3, encode_json(AuthResponse{sig})},
        {4, encode_json(Ping{18446744073709551615ull})},
        {4, "{\"ts\":-0}"},
        {4, "{\"ts\":1.5e3}"},
        {5, encode_json(TextUtf8{"h\xC3\xA9llo \"\\\n\x01"})},
        {5, "{\"text\":\"\\ud83d\\ude00\",\"text\":\"x\"}"},
        {6, encode_json(ClipboardSet{"copied", true})},
        {6, "{\"text\":\"t\"}"},
        {7, encode_json(PairResponse{"host", "Desk", "windows", k, k, n, {"192.168.1.20:49182"},
                                     {"100.101.102.103:49182", "desk.ts.net:49182"}, "desktop", std::nullopt})},
        {7, encode_json(PairResponse{"host", "Desk", "windows", k, k, n, {}, {}, "desktop", sig})},
        {8, encode_json(PairComplete{k, sig, 49182})},
        {9, encode_json(HostInfo{1, "host", "Desk", "windows", "0123456789abcdef", 49182})},
        {10, encode_json(AuthChallenge{"host", "Desk", "windows", k, n, sig, 49182, {"192.168.1.20:49182"}, {},
                                       "laptop"})},
        {11, encode_json(Pong{7})},
        {12, encode_reason(reason::kRemovedByUser)},
    };
    int i = 0;
    for (const auto& [which, body] : bodies) {
        write_seed("fuzz_messages", "body-" + std::to_string(i++), with_prefix(which, as_bytes(body)));
    }
}

// ---- fuzz_input ----

class InputScript {
public:
    // op: operation byte (fuzz_input.cpp); dt: clock step.
    InputScript& event(const InputEvent& e, std::uint8_t client_bit = 0, std::uint8_t dt = 4) {
        bytes_.push_back(static_cast<std::uint8_t>(0 | client_bit));
        bytes_.push_back(dt);
        append(bytes_, event_bytes(e));
        return *this;
    }
    InputScript& datagram(const InputEvent& e, std::uint8_t client_bit = 0) {
        bytes_.push_back(static_cast<std::uint8_t>(1 | client_bit));
        bytes_.push_back(2);
        append(bytes_, event_bytes(e));
        return *this;
    }
    InputScript& raw_datagram(const InputEvent& e) {
        bytes_.insert(bytes_.end(), {2, 2});
        auto sealed = seal_input_datagram(fuzz::kSessionKey, e);
        append(bytes_, sealed);
        return *this;
    }
    InputScript& tick(std::uint8_t tens_of_ms) {
        bytes_.insert(bytes_.end(), {3, tens_of_ms});
        return *this;
    }
    InputScript& batch() {
        bytes_.insert(bytes_.end(), {4, 0});
        return *this;
    }
    InputScript& session_end(std::uint8_t client_bit) {
        bytes_.insert(bytes_.end(), {static_cast<std::uint8_t>(5 | client_bit), 0});
        return *this;
    }
    InputScript& text(std::string_view t, bool clipboard = false) {
        bytes_.insert(bytes_.end(), {static_cast<std::uint8_t>(clipboard ? 0x96 : 6), 1,
                                     static_cast<std::uint8_t>(t.size())});
        append(bytes_, as_bytes(t));
        return *this;
    }
    InputScript& release_all() {
        bytes_.insert(bytes_.end(), {7, 0});
        return *this;
    }
    const Bytes& bytes() const { return bytes_; }

private:
    Bytes bytes_;
};

void input_seeds() {
    using namespace test;
    InputScript keys;
    keys.event(make_key(1, 0x04, 1, kModShift)).event(make_key(2, 0x04, 2)).event(make_key(3, 0x04, 0))
        .event(make_command(9, 4, kModCtrl | kModAlt)).event(make_key(5, 0xE1, 1)).event(make_button(6, 1, true, kModCtrl))
        .tick(200).event(make_button(7, 1, false)).event(make_command(15, 8, 0));
    write_seed("fuzz_input", "keys", keys.bytes());

    InputScript pointer;
    pointer.event(make_move(1, 0.4f, -3.5f)).event(make_move(2, 0.4f, 1e9f)).event(make_scroll(3, 1.0f, -1.0f))
        .event(make_pinch(4, 1, 0.0f)).event(make_pinch(5, 2, 0.01f)).tick(30).event(make_pinch(6, 3, 0.0f))
        .batch().datagram(make_move(7, 5.0f, 5.0f)).datagram(make_move(8, 5.0f, 5.0f)).batch();
    write_seed("fuzz_input", "pointer", pointer.bytes());

    InputScript commands;
    for (std::uint8_t i = 1; i <= 9; ++i) commands.event(make_command(8, i, i));
    for (std::uint8_t i = 1; i <= 4; ++i) commands.event(make_command(7, 10 + i, i));
    for (std::uint8_t i = 1; i <= 8; ++i) commands.event(make_command(10, 20 + i, i));
    write_seed("fuzz_input", "commands", commands.bytes());

    InputScript pad;
    pad.event(make_sticks(1, 100, -100, 32767, -32768)).event(make_pad_buttons(2, 0xFFFF, 9, 255, 1))
        .event(make_sticks(1, 0, 0, 0, 0)).tick(160).event(make_pad_buttons(3, 1, 2, 0, 0), 0x08)
        .session_end(0x08);
    write_seed("fuzz_input", "pad", pad.bytes());

    InputScript owners;
    owners.event(make_command(9, 1, kModShift)).event(make_move(1, 2.0f, 2.0f), 0x08)
        .raw_datagram(make_key(700, 0x05, 1)).raw_datagram(make_key(188, 0x05, 0)).event(make_key(189, 0x05, 0))
        .text("h\xC3\xA9llo \xF0\x9F\x98\x80 \xFF\xFE").text("clip", true).session_end(0).release_all();
    write_seed("fuzz_input", "owners-and-text", owners.bytes());
}

// ---- fuzz_store ----

void store_seeds() {
    const Key32 key = derive_store_key(fuzz::kStoreSeed);
    PairedClientRecord a{"phone-1", "Phone \"A\"", "Pixel 8", std::string(64, 'a'), 1700000000, 1700000005,
                         "192.168.1.7"};
    PairedClientRecord b{"tablet", "Tab\\let", "", std::string(64, 'b'), 1, 2, "fd12::5"};
    write_seed("fuzz_store", "empty", store_file_text(key, {}));
    write_seed("fuzz_store", "one", store_file_text(key, {a}));
    write_seed("fuzz_store", "two", store_file_text(key, {a, b}));
    // A record without its optional members, in array form.
    PairedClientRecord c{"c", "n", "", "ab", 3, 4, ""};
    write_seed("fuzz_store", "array-record",
               "{\"version\":1,\"clients\":[[\"c\",\"n\",\"\",\"ab\",3,4]],\"hmacHex\":\"" +
                   compute_store_hmac(key, {c}) + "\"}");
}

// ---- fuzz_identity ----

void identity_seeds() {
    HostIdentity id;
    id.host_id = "3f0c2a4e-7d61-4b8e-9a57-0c1d2e3f4a5b";
    id.seed = fuzz::filled_key(0x21);
    write_seed("fuzz_identity", "object", encode_identity_file(id));
    write_seed("fuzz_identity", "array", "  [\"host\",\"" + std::string(64, 'A') + "\"]\r\n");
    write_seed("fuzz_identity", "extra-member", "{\"seedHex\":\"" + std::string(64, 'f') + "\",\"x\":{},\"hostId\":\"\"}");
}

// ---- fuzz_tailscale_status ----

void tailscale_seeds(const fs::path& repo) {
    const std::string small =
        "{\"Self\":{\"DNSName\":\"host1.example.\",\"TailscaleIPs\":[\"100.101.102.103\",\"fd7a:115c:a1e0::1234\","
        "\"10.0.0.1\"]},\"Peer\":{\"nodekey:1\":{\"DNSName\":null,\"TailscaleIPs\":[\"100.64.0.9\",\"100.64.0.2\"]},"
        "\"nodekey:2\":{\"TailscaleIPs\":null}}}";
    write_seed("fuzz_tailscale_status", "small", small);
    write_seed("fuzz_tailscale_status", "no-self", "{\"Self\":null,\"Peer\":{}}");
    write_seed("fuzz_tailscale_status", "http",
               "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n" + small);
    write_seed("fuzz_tailscale_status", "http-403", "HTTP/1.0 403 Forbidden\r\n\r\n{}");
    std::ifstream fixture(repo / "tests/fixtures/tailscale-status.json", std::ios::binary);
    if (fixture) {
        std::string text((std::istreambuf_iterator<char>(fixture)), std::istreambuf_iterator<char>());
        write_seed("fuzz_tailscale_status", "fixture", text);
    }
}

// ---- fuzz_pad_mapping ----

void pad_mapping_seeds() {
#ifdef KORVEX_FUZZ_PAD_MAPPING
    const Preset presets[] = {Preset::Shooter, Preset::Arrows, Preset::MouseOnly, Preset::TwinStick, Preset::Custom};
    for (Preset preset : presets) {
        write_seed("fuzz_pad_mapping", "preset-" + std::string(preset_name(preset)),
                   encode_mapping(preset_mapping(preset, PadOutputMode::KeyboardMouse)));
    }
    GamepadMapping custom = preset_mapping(Preset::Custom);
    custom.binding(PadSlot::A) = Binding::key(0x2C, kMapCtrl | kMapWin);
    custom.binding(PadSlot::B) = Binding::mouse_button(3);
    custom.binding(PadSlot::LT) = Binding::mouse_move(PadDirection::Left, 2.75f);
    custom.binding(PadSlot::RT) = Binding::scroll(PadDirection::Down, 7);
    custom.binding(PadSlot::Back) = Binding::nothing();
    custom.left_stick.mode = StickMode::Keys;
    custom.left_stick.deadzone = 0.333f;
    custom.right_stick.invert_y = true;
    write_seed("fuzz_pad_mapping", "custom", encode_mapping(custom));
    // Aliases and loose values, as a person might write the file.
    write_seed("fuzz_pad_mapping", "aliases",
               "{\"preset\":\"fps\",\"mode\":\"vigem\",\"bindings\":{\"select\":\"Escape\",\"menu\":{\"type\":\"Key\","
               "\"key\":\"left shift\",\"modifiers\":[\"control\",\"cmd\",7]},\"up\":{\"type\":\"pointer\","
               "\"dir\":\"Up\",\"speed\":1e9},\"x\":{\"type\":\"wheel\",\"direction\":\"right\",\"amount\":-3},"
               "\"y\":{\"type\":\"mousebutton\",\"button\":\"secondary\"}},\"rightStick\":{\"mode\":\"look\","
               "\"deadzone\":-1,\"sensitivity\":99,\"invertY\":1}}  \n");
    write_seed("fuzz_pad_mapping", "legacy-wasd", "wasdMouse");
    write_seed("fuzz_pad_mapping", "legacy-arrows", " arrows\r\n");
    write_seed("fuzz_pad_mapping", "legacy-dual", "dualKeys\n");
#endif
}

// ---- fuzz_handshake ----

using fuzz::FuzzClient;
using fuzz::FuzzHost;

// The client's side of the sealed frames after establishment.
Bytes session_frames(const Key32& session_key) {
    SessionCrypto client(session_key, Side::Client);
    Bytes out;
    append(out, frame(MessageType::Ping, encode_json(Ping{1}), &client));
    append(out, frame(MessageType::InputEvent, event_bytes(test::make_key(1, 0x04, 1, kModCtrl)), &client));
    append(out, frame(MessageType::TextUtf8, encode_json(TextUtf8{"hi"}), &client));
    append(out, frame(MessageType::ClipboardSet, encode_json(ClipboardSet{"c", true}), &client));
    append(out, frame(MessageType::InputEvent, event_bytes(test::make_command(8, 2, 9)), &client));
    return out;
}

// Pairing with `code`; the PairConfirm is computed from the host's real
// PairResponse, so the recorded stream replays in the harness.
Bytes pairing_stream(std::uint8_t flags, std::string_view code, bool with_session) {
    FuzzHost host(flags);
    FuzzClient client;
    client.client_id = "tablet-9";
    HandshakeState state;
    const std::string request =
        encode_json(PairRequest{client.client_id, "Tablet", "Galaxy", client.ephemeral.public_key, client.ed_public,
                                client.nonce});
    Bytes out{flags};
    append(out, frame(MessageType::PairRequest, request));
    HandshakeOutcome first = host.step(state, static_cast<std::uint8_t>(MessageType::PairRequest), as_bytes(request));
    if (first.kind != HandshakeOutcome::Kind::Continue) return out;
    PairResponse r = *decode_pair_response(first.plain.at(0).body);
    Bytes x = pairing_transcript(client.client_id, r.host_id, client.ephemeral.public_key, r.host_x25519,
                                 client.ed_public, r.host_ed25519, client.nonce, r.host_nonce);
    PairingKeys keys = derive_pairing_keys(x25519_shared(client.ephemeral.private_key, r.host_x25519), code, x);
    const std::string confirm = encode_json(PairConfirm{client_confirm_mac(keys.confirm_key, x), ed25519_sign(client.seed, x)});
    append(out, frame(MessageType::PairConfirm, confirm));
    if (with_session) append(out, session_frames(keys.session_key));
    return out;
}

Bytes auth_stream(std::uint8_t flags, bool with_session) {
    FuzzHost host(flags);
    FuzzClient client;
    HandshakeState state;
    const std::string hello = encode_json(AuthHello{client.client_id, "", client.ephemeral.public_key, client.nonce});
    Bytes out{flags};
    append(out, frame(MessageType::AuthHello, hello));
    HandshakeOutcome first = host.step(state, static_cast<std::uint8_t>(MessageType::AuthHello), as_bytes(hello));
    if (first.kind != HandshakeOutcome::Kind::Continue) return out;
    AuthChallenge c = *decode_auth_challenge(first.plain.at(0).body);
    Bytes t = auth_transcript(client.client_id, c.host_id, client.ephemeral.public_key, c.host_x25519, client.nonce,
                              c.host_nonce);
    append(out, frame(MessageType::AuthResponse, encode_json(AuthResponse{ed25519_sign(client.seed, t)})));
    if (with_session) {
        Key32 key = derive_auth_session_key(x25519_shared(client.ephemeral.private_key, c.host_x25519), client.nonce,
                                            c.host_nonce, t);
        append(out, session_frames(key));
    }
    return out;
}

// Replays a recorded stream as the harness does; true when it ends in an
// established session whose sealed frames all open. Guards against the harness and the recording drifting
// apart (then the seeds would stop at the first confirmation).
bool establishes(const Bytes& stream) {
    FuzzHost host(stream.at(0));
    Bytes buffer(stream.begin() + 1, stream.end());
    HandshakeState state;
    for (;;) {
        FrameDecode decoded = try_decode_frame(buffer);
        if (decoded.status != FrameDecode::Status::Complete) return false;
        HandshakeOutcome out = host.step(state, decoded.frame.type, decoded.frame.body);
        if (out.kind == HandshakeOutcome::Kind::Established) {
            // Every sealed frame after it opens under the session key.
            SessionCrypto crypto(out.session_key, Side::Host);
            for (;;) {
                FrameDecode next = try_decode_frame(buffer);
                if (next.status != FrameDecode::Status::Complete) return buffer.empty();
                if (!open_frame(crypto, next.frame)) return false;
            }
        }
        if (out.kind != HandshakeOutcome::Kind::Continue) return false;
    }
}

void write_handshake_seed(const std::string& name, const Bytes& stream, bool must_establish) {
    if (establishes(stream) != must_establish) {
        std::fprintf(stderr, "seed %s does not replay as recorded\n", name.c_str());
        std::exit(1);
    }
    write_seed("fuzz_handshake", name, stream);
}

void handshake_seeds() {
    using namespace fuzz::host_flags;
    write_seed("fuzz_handshake", "host-info", Bytes{0, 1, 0, 0, 0, 0x10});
    write_handshake_seed("pair", pairing_stream(kCodeActive, fuzz::kPairingCode, true), true);
    write_handshake_seed("pair-wrong-code", pairing_stream(kCodeActive | 0x40, "999999", false), false);
    write_handshake_seed("pair-save-fails", pairing_stream(kCodeActive | kSaveFails, fuzz::kPairingCode, false), false);
    write_handshake_seed("pair-no-code", pairing_stream(0, fuzz::kPairingCode, false), false);
    write_handshake_seed("auth", auth_stream(kClientStored, true), true);
    write_handshake_seed("auth-unpaired", auth_stream(0, false), false);
    write_handshake_seed("auth-bad-stored-key", auth_stream(kClientStored | kBadStoredKey, false), false);
    write_handshake_seed("auth-save-fails", auth_stream(kClientStored | kSaveFails, true), true);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT_DIR [REPO_ROOT]\n", argv[0]);
        return 2;
    }
    crypto_init();
    g_out = argv[1];
    frame_seeds();
    message_seeds();
    input_seeds();
    store_seeds();
    identity_seeds();
    tailscale_seeds(argc > 2 ? fs::path(argv[2]) : fs::path("."));
    handshake_seeds();
    pad_mapping_seeds();
    return 0;
}
