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

// Windows opens the Start menu (Win) or the window's menu bar (Alt) on the
// key-up of a Win or Alt key with no other key since its key-down. Before the
// host itself releases such a lone key it taps this unassigned virtual key,
// so Windows sees a combination and opens nothing.
inline constexpr KeyCode kMenuMaskKey{0xE8, 0, false};

class InputState {
public:
    explicit InputState(InputSink& sink) : sink_(sink) {}
    InputState(const InputState&) = delete;
    InputState& operator=(const InputState&) = delete;

    InputSink& sink() { return sink_; }

    // Presses the bits of mask not already held, Shift, Ctrl, Alt, Win.
    void press_modifiers(ModifierMask mask);
    // Releases the held bits of mask, Win, Alt, Ctrl, Shift. These releases
    // are always the host's (latches, chords, release-all), so a lone Win or
    // Alt is masked first.
    void release_modifiers(ModifierMask mask);
    // usage: HID usage; action 0 up, 1 or 2 down, others ignored; mods: the
    // modifiers to hold with this key (pressed now, released with it). The
    // key-up itself is the client's: a lone Win it releases opens Start, as
    // it would on the PC's own keyboard (unless inside a HostRelease).
    void key_event(std::uint16_t usage, std::uint8_t action, ModifierMask mods);
    // Buttons 1..3 only.
    void button_event(std::uint8_t button, bool pressed, ModifierMask mods);
    // A shortcut: the listed left-hand modifier vks not already held go down
    // around one press of vk.
    void send_chord(std::span<const std::uint16_t> modifier_vks, std::uint16_t vk);
    // One press of a key outside the book (media keys).
    void tap_key(KeyCode code);

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

    // While one lives, key-ups through key_event are the host's own too: the
    // gamepad mapping releasing its keys on a release-all or a watchdog tick.
    class HostRelease {
    public:
        explicit HostRelease(InputState& state) : state_(state), outer_(state.host_release_) {
            state.host_release_ = true;
        }
        ~HostRelease() { state_.host_release_ = outer_; }
        HostRelease(const HostRelease&) = delete;
        HostRelease& operator=(const HostRelease&) = delete;

    private:
        InputState& state_;
        bool outer_;
    };

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
    void key_down(KeyCode code);
    // by_host: mask the key first when it is the lone Win or Alt.
    void key_up(KeyCode code, bool by_host);

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
    // The vk of the last key-down when that was a Win or Alt key, else 0.
    std::uint16_t lone_menu_vk_ = 0;
    bool host_release_ = false;
};

}  // namespace korvex
