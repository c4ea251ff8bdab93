#pragma once
// The book of what this host holds down on behalf of the controlling client,
// kept together with the injections that changed it, so that whatever a
// client pressed can always be released.
#include <array>
#include <bitset>
#include <cstdint>
#include <span>

#include "core/key_vocabulary.h"
#include "platform/input_sink.h"

namespace korvex {

// Key-event actions: 0 up, 1 and 2 down.
inline constexpr std::uint8_t kKeyUp = 0;
inline constexpr std::uint8_t kKeyDown = 1;
inline constexpr std::uint8_t kKeyRepeat = 2;

class InputState {
public:
    explicit InputState(InputSink& sink) : sink_(sink) {}
    InputState(const InputState&) = delete;
    InputState& operator=(const InputState&) = delete;

    InputSink& sink() { return sink_; }

    // Presses the bits of mask not already held, Shift, Ctrl, Alt, Win.
    void press_modifiers(ModifierMask mask);
    // Releases the held bits of mask, Win, Alt, Ctrl, Shift.
    void release_modifiers(ModifierMask mask);
    // usage: HID usage; action 0 up, 1 or 2 down, others ignored; mods: the
    // modifiers to hold with this key (pressed now, released with it).
    void key_event(std::uint16_t usage, std::uint8_t action, ModifierMask mods);
    // Buttons 1..3 only.
    void button_event(std::uint8_t button, bool pressed, ModifierMask mods);
    // A shortcut: the listed left-hand modifier vks not already held go down
    // around one press of vk.
    void send_chord(std::span<const std::uint16_t> modifier_vks, std::uint16_t vk);

    // Movement collected while a batch is coalesced (saturating).
    void add_pending_move(std::int32_t dx, std::int32_t dy);
    void flush_move();

    // Left Ctrl held for pinch zoom, outside the modifier book.
    void press_zoom_ctrl();
    // Injects Left Ctrl up if the zoom Ctrl is held.
    void release_zoom_ctrl();

    // Injects the release of everything in the book and empties it: pending
    // move, held keys, modifiers, buttons 1..3, zoom Ctrl, chord table. The
    // controller adds the gamepad and movement steps around this.
    void release_all();

    bool is_key_held(std::uint16_t usage) const { return usage < kUsageSlots && held_keys_.test(usage); }
    std::size_t held_key_count() const { return held_keys_.count(); }
    ModifierMask held_modifiers() const { return held_modifiers_; }
    std::uint8_t held_buttons() const { return held_buttons_; }
    bool zoom_ctrl_held() const { return zoom_ctrl_held_; }
    ModifierMask key_chord(std::uint16_t usage) const { return usage < kUsageSlots ? key_chords_[usage] : 0; }
    ModifierMask button_chord(std::uint8_t button) const {
        return button >= 1 && button <= 3 ? button_chords_[button - 1] : 0;
    }
    std::int32_t pending_dx() const { return pending_dx_; }
    std::int32_t pending_dy() const { return pending_dy_; }
    // A key, a modifier, a mouse button or the zoom Ctrl.
    bool anything_held() const {
        return held_keys_.any() || held_modifiers_ != 0 || held_buttons_ != 0 || zoom_ctrl_held_;
    }

private:
    // Every injectable usage is below 0x100 (see the key vocabulary), so the
    // book has a fixed size whatever a client sends.
    static constexpr std::size_t kUsageSlots = 256;

    InputSink& sink_;
    std::bitset<kUsageSlots> held_keys_;
    ModifierMask held_modifiers_ = 0;
    std::uint8_t held_buttons_ = 0;  // bit b-1 for button b
    // The chord table: modifiers pressed for a held key or button, released
    // with it. 0 means no entry.
    std::array<ModifierMask, kUsageSlots> key_chords_{};
    std::array<ModifierMask, 3> button_chords_{};
    std::int32_t pending_dx_ = 0;
    std::int32_t pending_dy_ = 0;
    bool zoom_ctrl_held_ = false;
};

}  // namespace korvex
