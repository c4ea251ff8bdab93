#pragma once
// Fakes for the input seams: a sink that writes every injection as one line
// of text, a Ctrl+Alt+Del action with a chosen outcome, a recording pad
// output, and builders for input events.
#include <bit>
#include <span>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "core/input_controller.h"
#include "core/input_event.h"
#include "core/input_pad.h"
#include "core/key_vocabulary.h"
#include "platform/input_sink.h"
#include "platform/sas_action.h"

namespace korvex::test {

// "leftShift" for the code of a vocabulary row, "mask" for the menu mask
// key, "vk AF scan 00" for other codes.
inline std::string key_code_name(KeyCode code) {
    if (code == kMenuMaskKey) return "mask";
    for (const auto& row : key_vocabulary()) {
        if (row.code == code) return std::string(row.name);
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "vk %02X scan %02X%s", code.vk, code.scan, code.extended ? " ext" : "");
    return buf;
}

// Lines: "move 3 -1", "button 1 down", "wheel 5", "hwheel -5",
// "leftShift down", "a up", "type 3", "lock", "keep_awake",
// "clipboard abc", "brightness up".
class RecordingSink final : public InputSink {
public:
    std::vector<std::string> log;
    std::vector<std::u16string> typed;
    Status lock_result;

    void mouse_move(std::int32_t dx, std::int32_t dy) override {
        log.push_back("move " + std::to_string(dx) + " " + std::to_string(dy));
    }
    void mouse_button(std::uint8_t button, bool down) override {
        log.push_back("button " + std::to_string(button) + (down ? " down" : " up"));
    }
    void wheel(std::int32_t amount) override { log.push_back("wheel " + std::to_string(amount)); }
    void hwheel(std::int32_t amount) override { log.push_back("hwheel " + std::to_string(amount)); }
    void key(KeyCode code, bool down) override { log.push_back(key_code_name(code) + (down ? " down" : " up")); }
    void type_text(std::span<const char16_t> units) override {
        typed.emplace_back(units.begin(), units.end());
        log.push_back("type " + std::to_string(units.size()));
    }
    Status lock_workstation() override {
        log.push_back("lock");
        return lock_result;
    }
    void keep_awake() override { log.push_back("keep_awake"); }
    // Fails (nothing logged) while clipboard_busy is set.
    bool clipboard_busy = false;
    Status set_clipboard(std::string_view text) override {
        if (clipboard_busy) return fail("the clipboard is busy");
        log.push_back("clipboard " + std::string(text));
        return {};
    }
    void adjust_brightness(bool up) override { log.push_back(up ? "brightness up" : "brightness down"); }

    std::vector<std::string> take() { return std::exchange(log, {}); }
};

class FakeSas final : public SasAction {
public:
    SasOutcome outcome = SasOutcome::PolicyMissing;
    int calls = 0;
    SasOutcome send_sas() override {
        ++calls;
        return outcome;
    }
};

class RecordingPadOutput final : public PadOutput {
public:
    std::vector<PadState> applied;
    std::vector<std::string> log;  // "apply", "release_mapping", "submit_neutral"
    void apply(const PadState& state) override {
        applied.push_back(state);
        log.push_back("apply");
    }
    void release_mapping() override { log.push_back("release_mapping"); }
    void submit_neutral() override { log.push_back("submit_neutral"); }
};

// Input event builders.
inline void put_f32(InputEvent& event, std::size_t at, float v) {
    auto bits = std::bit_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) event.payload[at + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}
inline void put_u16(InputEvent& event, std::size_t at, std::uint16_t v) {
    event.payload[at] = static_cast<std::uint8_t>(v);
    event.payload[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline InputEvent make_event(std::uint8_t kind, std::uint64_t seq, std::uint8_t mods = 0) {
    InputEvent event;
    event.kind = kind;
    event.seq = seq;
    event.mods = mods;
    return event;
}
inline InputEvent make_move(std::uint64_t seq, float dx, float dy) {
    InputEvent event = make_event(1, seq);
    put_f32(event, 0, dx);
    put_f32(event, 4, dy);
    return event;
}
inline InputEvent make_button(std::uint64_t seq, std::uint8_t button, bool pressed, std::uint8_t mods = 0) {
    InputEvent event = make_event(2, seq, mods);
    event.payload[0] = button;
    event.payload[1] = pressed ? 1 : 0;
    return event;
}
inline InputEvent make_scroll(std::uint64_t seq, float horizontal, float vertical) {
    InputEvent event = make_event(3, seq);
    put_f32(event, 0, horizontal);
    put_f32(event, 4, vertical);
    return event;
}
inline InputEvent make_key(std::uint64_t seq, std::uint16_t usage, std::uint8_t action, std::uint8_t mods = 0) {
    InputEvent event = make_event(4, seq, mods);
    put_u16(event, 0, usage);
    event.payload[2] = action;
    return event;
}
inline InputEvent make_pinch(std::uint64_t seq, std::uint8_t phase, float amount) {
    InputEvent event = make_event(6, seq);
    event.flags = static_cast<std::uint8_t>(phase << 4);
    put_f32(event, 0, amount);
    return event;
}
inline InputEvent make_command(std::uint8_t kind, std::uint64_t seq, std::uint8_t number) {
    InputEvent event = make_event(kind, seq);
    event.payload[0] = number;
    return event;
}
inline InputEvent make_sticks(std::uint64_t seq, std::int16_t lx, std::int16_t ly, std::int16_t rx, std::int16_t ry) {
    InputEvent event = make_event(11, seq);
    put_u16(event, 0, static_cast<std::uint16_t>(lx));
    put_u16(event, 2, static_cast<std::uint16_t>(ly));
    put_u16(event, 4, static_cast<std::uint16_t>(rx));
    put_u16(event, 6, static_cast<std::uint16_t>(ry));
    return event;
}
inline InputEvent make_pad_buttons(std::uint64_t seq, std::uint16_t buttons, std::uint8_t dpad, std::uint8_t lt,
                                   std::uint8_t rt) {
    InputEvent event = make_event(12, seq);
    put_u16(event, 0, buttons);
    event.payload[4] = dpad;
    event.payload[5] = lt;
    event.payload[6] = rt;
    return event;
}

}  // namespace korvex::test
