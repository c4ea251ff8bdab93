// handle_handshake_frame driven by one connection's byte stream against an
// in-memory host (fuzz_common.h), as the session loop drives it: frames are
// cut by try_decode_frame, handed to the handshake until it stops continuing,
// and after an established outcome opened under the session key and
// dispatched (Ping, TextUtf8, ClipboardSet, InputEvent).
//
// Byte 0 sets the host's state (host_flags in fuzz_common.h); the rest is the
// stream the client sent.
//
// Checked: the outcome kinds carry what they must (Close nothing, a reply
// before ReplyAndClose, a key on Established), only Continue keeps a state,
// every reply frame can be framed, the pairing code's failure count and
// retirement follow the rules, and a pairing that succeeds has stored the
// client.
#include <cstddef>
#include <cstdint>
#include <variant>

#include "core/frame.h"
#include "core/input_controller.h"
#include "core/input_event.h"
#include "fuzz_common.h"
#include "support/input_fakes.h"

using namespace korvex;

namespace {

using Kind = HandshakeOutcome::Kind;

void check_frames_encode(const std::vector<OutgoingFrame>& frames, SessionCrypto* crypto) {
    for (const auto& frame : frames) {
        auto bytes = encode_frame(frame.type, as_bytes(frame.body), crypto);
        KORVEX_FUZZ_CHECK(bytes.has_value());
    }
}

void check_outcome(const HandshakeOutcome& out, const HandshakeState& state, const HostCore& before,
                   const HostCore& core) {
    KORVEX_FUZZ_CHECK((out.kind == Kind::Continue) != std::holds_alternative<std::monostate>(state));
    switch (out.kind) {
        case Kind::Close:
            KORVEX_FUZZ_CHECK(out.plain.empty() && out.encrypted.empty());
            break;
        case Kind::ReplyAndClose:
        case Kind::Continue:
            KORVEX_FUZZ_CHECK(out.plain.size() == 1 && out.encrypted.empty());
            break;
        case Kind::Established:
            KORVEX_FUZZ_CHECK(!out.client_id.empty());
            KORVEX_FUZZ_CHECK(out.session_key != Key32{});
            KORVEX_FUZZ_CHECK(find_client(core.store, out.client_id) != nullptr);
            break;
    }
    // The pairing code: at most five failures, the fifth retires it.
    KORVEX_FUZZ_CHECK(core.pairing.failed_attempts >= before.pairing.failed_attempts);
    KORVEX_FUZZ_CHECK(core.pairing.failed_attempts <= before.pairing.failed_attempts + 1);
    if (core.pairing.failed_attempts != before.pairing.failed_attempts && before.pairing.code) {
        const bool retired = core.pairing.failed_attempts >= kMaxPairingFailures;
        KORVEX_FUZZ_CHECK(core.pairing.code.has_value() != retired);
        KORVEX_FUZZ_CHECK(!core.pending_events.empty() == retired);
    }
    if (!before.pairing.code) KORVEX_FUZZ_CHECK(!core.pairing.code);
    if (out.kind == Kind::Established && !out.plain.empty()) {
        // A pairing: code consumed, client stored, two host events.
        KORVEX_FUZZ_CHECK(!core.pairing.code);
        KORVEX_FUZZ_CHECK(core.pending_events.size() == 2);
    }
}

// The established session's part of one frame.
bool established_frame(SessionCrypto& crypto, const Frame& frame, InputController& controller,
                       std::uint64_t& now) {
    auto plain = open_frame(crypto, frame);
    if (!plain) return false;  // the session ends
    const std::string_view text = as_text(*plain);
    now += 8;
    switch (static_cast<MessageType>(frame.type)) {
        case MessageType::Ping:
            if (auto ping = decode_ping(text)) {
                auto pong = encode_frame(MessageType::Pong, as_bytes(encode_json(Pong{ping->ts})), &crypto);
                KORVEX_FUZZ_CHECK(pong.has_value());
            }
            break;
        case MessageType::TextUtf8:
            if (auto m = decode_text_utf8(text)) controller.type_text(1, m->text, now);
            break;
        case MessageType::ClipboardSet:
            if (auto m = decode_clipboard_set(text)) controller.set_clipboard(1, m->text, m->auto_paste, now);
            break;
        case MessageType::InputEvent:
            if (auto event = parse_input_event(*plain)) controller.dispatch_event(1, *event, now);
            break;
        default: break;  // ignored after establishment
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    fuzz::FuzzHost host(data[0]);
    Bytes buffer(data + 1, data + size);
    HandshakeState state;

    test::RecordingSink sink;
    test::FakeSas sas;
    InputController controller(sink, sas);
    std::optional<SessionCrypto> crypto;
    std::uint64_t now = 5000;

    for (;;) {
        FrameDecode decoded = try_decode_frame(buffer);
        if (decoded.status != FrameDecode::Status::Complete) break;  // fatal, or the client went quiet
        const Frame& frame = decoded.frame;
        if (crypto) {
            if (!established_frame(*crypto, frame, controller, now)) break;
            continue;
        }
        const HostCore before = host.core;
        host.core.pending_events.clear();
        HandshakeOutcome out = host.step(state, frame.type, frame.body);
        check_outcome(out, state, before, host.core);
        check_frames_encode(out.plain, nullptr);
        if (out.kind == Kind::Continue) continue;
        if (out.kind != Kind::Established) break;
        crypto.emplace(out.session_key, Side::Host);
        check_frames_encode(out.encrypted, &*crypto);
        controller.add_client(1);
    }
    controller.remove_client(1);
    KORVEX_FUZZ_CHECK(!controller.state().anything_held());
    return 0;
}
