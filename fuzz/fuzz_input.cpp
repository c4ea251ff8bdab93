// The input path: InputEvent bodies (parse_input_event) and input datagrams
// (open_input_datagram), with InputController::dispatch_event behind them
// over a recording sink, as a session and the datagram task drive it.
//
// The input is a list of operations; each starts with one byte whose low
// three bits pick the operation and whose bit 3 picks client 1 or 2:
//   0  InputEvent frame body: 20 bytes (19 or 21 when bit 7 is set)
//   1  datagram sealed here with the client's key from a 20-byte event
//   2  raw 36-byte datagram, tried with both clients' keys
//   3  watchdog tick after 10 x (next byte) ms
//   4  start or end a datagram batch (coalesced moves, flush at the end)
//   5  the client's session ends, or (bit 7) it registers again
//   6  TextUtf8 or (bit 7) ClipboardSet: length byte, then the text
//   7  release all
// Each operation except 3 first moves the clock by the byte after it.
//
// Checked throughout: everything pressed on the sink is released by the time
// the last session ends, no move is left pending outside a batch, the pad
// state is neutral without an owner, sealed datagrams open to the event they
// carry and only under their own key, acknowledgements verify.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "core/datagram.h"
#include "core/input_controller.h"
#include "core/input_event.h"
#include "core/input_sas.h"
#include "fuzz_common.h"
#include "support/input_fakes.h"

using namespace korvex;

namespace {

struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    bool has(std::size_t n) const { return size - at >= n; }
    std::uint8_t byte() { return has(1) ? data[at++] : 0; }
    ByteView take(std::size_t n) {
        ByteView out(data + at, n);
        at += n;
        return out;
    }
};

// What the sink holds down, read off its log: "<key> down" / "<key> up",
// "button N down" / "button N up".
class HeldBook {
public:
    void read(test::RecordingSink& sink) {
        for (const std::string& line : sink.take()) {
            // Neither "brightness up" nor a clipboard text ending in " down" is a key.
            if (line.starts_with("brightness ") || line.starts_with("clipboard ")) continue;
            if (line.ends_with(" down")) {
                held_.insert(line.substr(0, line.size() - 5));
            } else if (line.ends_with(" up")) {
                held_.erase(line.substr(0, line.size() - 3));
            }
        }
    }
    bool empty() const {
        for (const auto& name : held_) std::fprintf(stderr, "still down: %s\n", name.c_str());
        return held_.empty();
    }

private:
    std::set<std::string> held_;
};

struct Harness {
    test::RecordingSink sink;
    test::FakeSas sas;
    test::RecordingPadOutput pad;
    InputController controller{sink, sas};
    HeldBook held;
    std::uint64_t now = 1000;
    bool batch = false;
    std::size_t replies = 0;

    const Key32& key_of(std::uint64_t client) const { return client == 1 ? fuzz::kSessionKey : fuzz::kDatagramKey2; }

    void add(std::uint64_t client) {
        ClientInputEntry& entry = controller.add_client(client);
        entry.outgoing = [this](std::string reply) {
            ++replies;
            // The reply is the SasResult body: compact JSON with code and message.
            KORVEX_FUZZ_CHECK(reply.starts_with("{\"code\":\"sas_"));
        };
    }

    void dispatch(std::uint64_t client, const InputEvent& event) {
        controller.dispatch_event(client, event, now);
        if (!batch) KORVEX_FUZZ_CHECK(controller.state().pending_dx() == 0 && controller.state().pending_dy() == 0);
    }

    void datagram(std::uint64_t client, ByteView event_bytes) {
        InputEvent event;
        event.version = event_bytes[0];
        event.kind = event_bytes[1];
        event.mods = event_bytes[2];
        event.flags = event_bytes[3];
        event.seq = get_u64_le(event_bytes.data() + 4);
        std::copy_n(event_bytes.data() + 12, 8, event.payload.begin());
        const InputDatagram sealed = seal_input_datagram(key_of(client), event);
        auto opened = open_input_datagram(key_of(client), sealed);
        if (event.version != kInputEventVersion) {
            KORVEX_FUZZ_CHECK(!opened.has_value());
            return;
        }
        KORVEX_FUZZ_CHECK(opened.has_value());
        KORVEX_FUZZ_CHECK(encode_input_event(*opened) == encode_input_event(event));
        // Nobody else's key opens it, and neither does a changed byte.
        KORVEX_FUZZ_CHECK(!open_input_datagram(key_of(3 - client), sealed).has_value());
        InputDatagram changed = sealed;
        changed[event_bytes[0] % kInputDatagramSize] ^= 0x01;
        if (changed[0] == kInputEventVersion) KORVEX_FUZZ_CHECK(!open_input_datagram(key_of(client), changed));
        if (event.flags & kDatagramAckRequested) {
            const DatagramAck ack = build_datagram_ack(key_of(client), event.seq);
            KORVEX_FUZZ_CHECK(verify_datagram_ack(key_of(client), ack, event.seq));
            KORVEX_FUZZ_CHECK(!verify_datagram_ack(key_of(client), ack, event.seq + 1));
        }
        dispatch(client, *opened);
    }

    void raw_datagram(ByteView bytes) {
        for (std::uint64_t client : {1u, 2u}) {
            if (auto event = open_input_datagram(key_of(client), bytes)) dispatch(client, *event);
        }
    }

    void end_batch() {
        controller.set_coalesce_moves(false);
        controller.flush_move();
        batch = false;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    crypto_init();
    Harness h;
    h.controller.set_pad_output(&h.pad);
    h.add(1);
    h.add(2);
    Reader in{data, size};
    while (in.has(1)) {
        const std::uint8_t op = in.byte();
        const std::uint64_t client = (op & 0x08) ? 2 : 1;
        const bool alt = (op & 0x80) != 0;
        if ((op & 7) != 3) h.now += in.byte();
        switch (op & 7) {
            case 0: {
                const std::size_t n = alt ? (op & 0x10 ? 21 : 19) : kInputEventSize;
                if (!in.has(n)) return 0;
                ByteView body = in.take(n);
                auto event = parse_input_event(body);
                KORVEX_FUZZ_CHECK(event.has_value() == (n == kInputEventSize && body[0] == kInputEventVersion));
                if (event) {
                    KORVEX_FUZZ_CHECK(std::equal(body.begin(), body.end(), encode_input_event(*event).begin()));
                    h.dispatch(client, *event);
                }
                break;
            }
            case 1:
                if (!in.has(kInputEventSize)) return 0;
                h.datagram(client, in.take(kInputEventSize));
                break;
            case 2:
                if (!in.has(kInputDatagramSize)) return 0;
                h.raw_datagram(in.take(kInputDatagramSize));
                break;
            case 3:
                h.now += 10u * in.byte();
                h.controller.input_watchdog(h.now);
                break;
            case 4:
                if (h.batch) {
                    h.end_batch();
                } else {
                    h.controller.set_coalesce_moves(true);
                    h.batch = true;
                }
                break;
            case 5:
                if (alt) {
                    h.add(client);
                } else {
                    h.controller.remove_client(client);
                }
                break;
            case 6: {
                std::size_t n = in.byte();
                n = std::min(n, in.size - in.at);
                std::string_view text(reinterpret_cast<const char*>(in.take(n).data()), n);
                if (alt) {
                    h.controller.set_clipboard(client, text, (op & 0x10) != 0, h.now);
                } else {
                    h.controller.type_text(client, text, h.now);
                }
                break;
            }
            case 7: h.controller.release_all(); break;
        }
        h.held.read(h.sink);
        if (!h.controller.owner()) KORVEX_FUZZ_CHECK(h.controller.pad_state().neutral());
    }
    if (h.batch) h.end_batch();
    // The sessions end: whatever the owner held is released.
    h.controller.remove_client(1);
    h.controller.remove_client(2);
    h.held.read(h.sink);
    if (h.controller.owner()) h.controller.release_all();  // an owner whose entry had already gone
    h.held.read(h.sink);
    KORVEX_FUZZ_CHECK(!h.controller.state().anything_held());
    KORVEX_FUZZ_CHECK(h.held.empty());
    KORVEX_FUZZ_CHECK(h.controller.pad_state().neutral());
    return 0;
}
