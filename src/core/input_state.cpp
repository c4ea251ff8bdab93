#include "core/input_state.h"

#include <limits>

namespace korvex {
namespace {

constexpr ModifierMask kPressOrder[] = {kModShift, kModCtrl, kModAlt, kModWin};
constexpr ModifierMask kReleaseOrder[] = {kModWin, kModAlt, kModCtrl, kModShift};
constexpr std::uint16_t kVkLeftCtrl = 0xA2;

// Left and right Win, Alt (generic, left, right).
bool is_menu_vk(std::uint16_t vk) {
    return vk == 0x5B || vk == 0x5C || vk == 0x12 || vk == 0xA4 || vk == 0xA5;
}

std::int32_t saturating_add(std::int32_t a, std::int32_t b) {
    std::int64_t sum = static_cast<std::int64_t>(a) + b;
    if (sum > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (sum < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(sum);
}

}  // namespace

void InputState::key_down(KeyCode code) {
    sink_.key(code, true);
    lone_menu_vk_ = is_menu_vk(code.vk) ? code.vk : 0;
}

void InputState::key_up(KeyCode code, bool by_host) {
    if (code.vk == lone_menu_vk_ && lone_menu_vk_ != 0) {
        if (by_host) {
            sink_.key(kMenuMaskKey, true);
            sink_.key(kMenuMaskKey, false);
        }
        lone_menu_vk_ = 0;
    }
    sink_.key(code, false);
}

void InputState::press_modifiers(ModifierMask mask) {
    for (ModifierMask bit : kPressOrder) {
        if ((mask & bit) == 0 || (held_modifiers_ & bit) != 0) continue;
        key_down(modifier_key_code(bit));
        held_modifiers_ |= bit;
    }
}

void InputState::release_modifiers(ModifierMask mask) {
    for (ModifierMask bit : kReleaseOrder) {
        if ((mask & bit) == 0 || (held_modifiers_ & bit) == 0) continue;
        key_up(modifier_key_code(bit), true);
        held_modifiers_ = static_cast<ModifierMask>(held_modifiers_ & ~bit);
    }
}

void InputState::key_event(std::uint16_t usage, std::uint8_t action, ModifierMask mods) {
    const KeyVocabularyRow* row = find_key_row(usage);
    if (row == nullptr) return;
    const ModifierMask own = modifier_bit_of_usage(usage);
    if (action == kKeyDown || action == kKeyRepeat) {
        auto extra = static_cast<ModifierMask>(mods & kModAll & ~held_modifiers_ & ~own);
        if (extra != 0) {
            press_modifiers(extra);
            key_chords_[usage] |= extra;
        }
        key_down(row->code);
        held_keys_.set(usage);
        held_modifiers_ |= own;
    } else if (action == kKeyUp) {
        key_up(row->code, host_release_);
        held_keys_.reset(usage);
        held_modifiers_ = static_cast<ModifierMask>(held_modifiers_ & ~own);
        ModifierMask chord = key_chords_[usage];
        key_chords_[usage] = 0;
        if (chord != 0) release_modifiers(chord);
    }
}

void InputState::button_event(std::uint8_t button, bool pressed, ModifierMask mods) {
    if (button < 1 || button > 3) return;
    const auto bit = static_cast<std::uint8_t>(1u << (button - 1));
    ModifierMask& chord = button_chords_[button - 1];
    if (pressed) {
        auto extra = static_cast<ModifierMask>(mods & kModAll & ~held_modifiers_);
        if (extra != 0) {
            press_modifiers(extra);
            chord |= extra;
        }
        sink_.mouse_button(button, true);
        held_buttons_ |= bit;
    } else {
        sink_.mouse_button(button, false);
        held_buttons_ = static_cast<std::uint8_t>(held_buttons_ & ~bit);
        ModifierMask released = chord;
        chord = 0;
        if (released != 0) release_modifiers(released);
    }
}

void InputState::send_chord(std::span<const std::uint16_t> modifier_vks, std::uint16_t vk) {
    ModifierMask mask = 0;
    for (std::uint16_t mod_vk : modifier_vks) mask |= modifier_bit_of_vk(mod_vk);
    mask = static_cast<ModifierMask>(mask & ~held_modifiers_);
    press_modifiers(mask);
    tap_key(vk_to_key_code(vk));
    release_modifiers(mask);
}

void InputState::tap_key(KeyCode code) {
    key_down(code);
    key_up(code, false);
}

void InputState::add_pending_move(std::int32_t dx, std::int32_t dy) {
    pending_dx_ = saturating_add(pending_dx_, dx);
    pending_dy_ = saturating_add(pending_dy_, dy);
}

void InputState::flush_move() {
    if (pending_dx_ != 0 || pending_dy_ != 0) sink_.mouse_move(pending_dx_, pending_dy_);
    pending_dx_ = 0;
    pending_dy_ = 0;
}

void InputState::press_zoom_ctrl() {
    key_down(vk_to_key_code(kVkLeftCtrl));
    zoom_ctrl_held_ = true;
}

void InputState::release_zoom_ctrl() {
    if (!zoom_ctrl_held_) return;
    key_up(vk_to_key_code(kVkLeftCtrl), true);
    zoom_ctrl_held_ = false;
}

void InputState::release_all() {
    flush_move();
    // Ascending usage order; the modifier keys (0xE0..) therefore come last.
    for (std::size_t usage = 0; usage < kUsageSlots; ++usage) {
        if (!held_keys_.test(usage)) continue;
        held_keys_.reset(usage);
        if (auto code = usage_to_key_code(static_cast<std::uint16_t>(usage))) key_up(*code, true);
    }
    // Modifiers held as keys still have their bits here and get a second
    // key-up, which is harmless and makes sure nothing stays down.
    release_modifiers(held_modifiers_);
    for (std::uint8_t button = 1; button <= 3; ++button) {
        if ((held_buttons_ & (1u << (button - 1))) != 0) sink_.mouse_button(button, false);
    }
    held_buttons_ = 0;
    release_zoom_ctrl();
    key_chords_.fill(0);
    button_chords_.fill(0);
}

}  // namespace korvex
