#include "app/pad_mapping_window_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "core/key_vocabulary.h"

namespace korvex::app {

namespace {

constexpr std::array<std::string_view, kActionItemCount> kActionTexts = {
    "Keyboard key",   "Left mouse button", "Right mouse button", "Middle mouse button", "Wheel up",
    "Wheel down",     "Wheel left",        "Wheel right",        "Move mouse up",       "Move mouse down",
    "Move mouse left", "Move mouse right", "Nothing",
};
constexpr std::array<std::string_view, 2> kOutputTexts = {"Virtual controller (ViGEmBus)",
                                                          "Keyboard / mouse mapping"};

std::vector<ControlSpec> build_controls() {
    using C = ControlClass;
    std::vector<ControlSpec> c;
    c.push_back({C::GroupBox, 0, "Buttons", 12, 8, 482, 470});
    for (std::size_t i = 0; i < kPadSlotCount; ++i) {
        const int y = 30 + 27 * static_cast<int>(i);
        c.push_back({C::Label, 0, std::string(slot_label(static_cast<PadSlot>(i))), 24, y, 150, 23});
        c.push_back({C::LabelEdged, slot_control_id(kIdSlotBinding, i), "", 176, y, 120, 23});
        c.push_back({C::Button, slot_control_id(kIdSlotChange, i), std::string(kChangeText), 302, y, 74, 23});
        c.push_back({C::ComboBox, slot_control_id(kIdSlotAction, i), "", 382, y, 102, kComboListHeight96});
    }
    c.push_back({C::Label, 0, "Change... then press a key (hold Ctrl / Shift / Alt for a combination).", 12, 484,
                 482, 23});
    c.push_back({C::Label, 0, "Output:", 508, 10, 62, 23});
    c.push_back({C::ComboBox, kIdOutput, "", 572, 10, 296, kComboListHeight96});
    c.push_back({C::Label, kIdExplanation, "", 508, 40, 360, 34});
    c.push_back({C::Label, 0, "Preset:", 508, 78, 62, 23});
    c.push_back({C::ComboBox, kIdPreset, "", 572, 78, 296, kComboListHeight96});
    for (std::size_t s = 0; s < 2; ++s) {
        const int gy = 112 + 186 * static_cast<int>(s);
        c.push_back({C::GroupBox, 0, s == 0 ? "Left stick" : "Right stick", 508, gy, 360, 178});
        c.push_back({C::Label, 0, "Mode:", 520, gy + 22, 60, 23});
        c.push_back({C::ComboBox, stick_control_id(kIdStickMode, s), "", 584, gy + 22, 272, kComboListHeight96});
        for (int d = 0; d < 4; ++d)
            c.push_back({C::Button, stick_control_id(kIdStickUp, s) + d, "", 520 + 84 * d, gy + 52, 80, 25});
        c.push_back({C::Label, 0, "Deadzone:", 520, gy + 84, 76, 23});
        c.push_back({C::Trackbar, stick_control_id(kIdStickDeadzone, s), "", 596, gy + 82, 200, 27});
        c.push_back({C::Label, stick_control_id(kIdStickDeadzoneText, s), "", 800, gy + 84, 60, 23});
        c.push_back({C::Label, 0, "Sensitivity:", 520, gy + 114, 76, 23});
        c.push_back({C::Trackbar, stick_control_id(kIdStickSensitivity, s), "", 596, gy + 112, 200, 27});
        c.push_back({C::Label, stick_control_id(kIdStickSensitivityText, s), "", 800, gy + 114, 60, 23});
        c.push_back({C::CheckBox, stick_control_id(kIdStickInvertY, s), "Invert Y (up/down)", 520, gy + 146, 200, 23});
    }
    c.push_back({C::Button, kIdReset, "Reset to defaults", 508, 484, 130, 25});
    c.push_back({C::DefaultButton, kIdSave, "Save", 696, 484, 82, 25});
    c.push_back({C::Button, kIdClose, "Close", 786, 484, 82, 25});
    return c;
}

std::string_view lower_direction(PadDirection d) { return direction_name(d); }  // "up", "down", ...

}  // namespace

std::span<const ControlSpec> mapping_window_controls() {
    static const std::vector<ControlSpec> controls = build_controls();
    return controls;
}

std::span<const std::string_view> action_item_texts() { return kActionTexts; }
std::span<const std::string_view> output_item_texts() { return kOutputTexts; }

std::span<const std::string_view> preset_item_texts() {
    static const std::array<std::string_view, kPresetCount> texts = [] {
        std::array<std::string_view, kPresetCount> t{};
        for (std::size_t i = 0; i < kPresetCount; ++i) t[i] = preset_label(static_cast<Preset>(i));
        return t;
    }();
    return texts;
}

std::span<const std::string_view> stick_mode_item_texts() {
    static const std::array<std::string_view, 4> texts = {
        stick_mode_label(StickMode::Off), stick_mode_label(StickMode::Keys), stick_mode_label(StickMode::Mouse),
        stick_mode_label(StickMode::Scroll)};
    return texts;
}

ActionItem action_item_of(const Binding& b) {
    const auto dir = static_cast<std::uint8_t>(b.direction());
    switch (b.kind) {
        case BindingKind::Key: return ActionItem::KeyboardKey;
        case BindingKind::MouseButton:
            if (b.button() >= 1 && b.button() <= 3) return static_cast<ActionItem>(b.button());
            return ActionItem::Nothing;
        case BindingKind::Scroll: return static_cast<ActionItem>(static_cast<std::uint8_t>(ActionItem::WheelUp) + dir);
        case BindingKind::MouseMove: return static_cast<ActionItem>(static_cast<std::uint8_t>(ActionItem::MoveUp) + dir);
        case BindingKind::Nothing: break;
    }
    return ActionItem::Nothing;
}

std::string key_label_text(std::uint8_t usage) {
    if (usage == 0) return "-";
    const KeyVocabularyRow* row = find_key_row(usage);
    return row ? std::string(row->label) : std::string("-");
}

std::string binding_display_text(const Binding& b) {
    switch (b.kind) {
        case BindingKind::Nothing: return "Nothing";
        case BindingKind::Key: {
            std::string text;
            if (b.mods() & kMapCtrl) text += "Ctrl+";
            if (b.mods() & kMapShift) text += "Shift+";
            if (b.mods() & kMapAlt) text += "Alt+";
            if (b.mods() & kMapWin) text += "Win+";
            return text + key_label_text(b.usage());
        }
        case BindingKind::MouseButton:
            switch (b.button()) {
                case 1: return "Left mouse";
                case 2: return "Right mouse";
                case 3: return "Middle mouse";
                default: return "Mouse ?";
            }
        case BindingKind::MouseMove: return "Move mouse " + std::string(lower_direction(b.direction()));
        case BindingKind::Scroll: {
            std::string text = "Wheel " + std::string(lower_direction(b.direction()));
            if (b.amount() != 1) text += " x" + std::to_string(b.amount());
            return text;
        }
    }
    return "Nothing";
}

std::string stick_direction_text(PadDirection direction, std::uint8_t usage) {
    return std::string(direction_label(direction)) + ": " + key_label_text(usage);
}

std::string deadzone_text(int position) { return std::to_string(position) + " %"; }

std::string sensitivity_text(int position) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%dx", position / 10, position % 10);
    return text;
}

std::string mapping_explanation(PadOutputMode output, bool virtual_pad_present) {
    if (output == PadOutputMode::KeyboardMouse) return "Controller input is turned into the keys and mouse actions below.";
    if (!virtual_pad_present)
        return "ViGEmBus driver not installed, so the keyboard / mouse mapping below is used. See docs/GAMEPAD.md.";
    return "Games see a virtual Xbox 360-style controller. The mapping below is used only in keyboard / mouse mode.";
}

int deadzone_position(float deadzone) {
    return std::clamp(static_cast<int>(std::lround(deadzone * 100.0f)), 0, kDeadzoneMax);
}

int sensitivity_position(float sensitivity) {
    return std::clamp(static_cast<int>(std::lround(sensitivity * 10.0f)), kSensitivityMin, kSensitivityMax);
}

// ---- MappingEdit ----

MappingEdit::MappingEdit(const GamepadMapping& active, bool virtual_pad_present)
    : saved_(active), edited_(active), virtual_pad_present_(virtual_pad_present) {}

void MappingEdit::changed(const GamepadMapping& before) {
    if (edited_.bindings != before.bindings || edited_.left_stick != before.left_stick ||
        edited_.right_stick != before.right_stick)
        edited_.preset = Preset::Custom;
}

bool MappingEdit::choose_action(std::size_t slot, ActionItem item) {
    if (slot >= kPadSlotCount) return false;
    const GamepadMapping before = edited_;
    Binding& b = edited_.bindings[slot];
    const auto offset = [item](ActionItem first) {
        return static_cast<PadDirection>(static_cast<std::uint8_t>(item) - static_cast<std::uint8_t>(first));
    };
    switch (item) {
        case ActionItem::KeyboardKey:
            if (b.kind == BindingKind::Key) return false;
            return true;
        case ActionItem::LeftMouse:
        case ActionItem::RightMouse:
        case ActionItem::MiddleMouse: b = Binding::mouse_button(static_cast<std::uint8_t>(item)); break;
        case ActionItem::WheelUp:
        case ActionItem::WheelDown:
        case ActionItem::WheelLeft:
        case ActionItem::WheelRight: b = Binding::scroll(offset(ActionItem::WheelUp), 1); break;
        case ActionItem::MoveUp:
        case ActionItem::MoveDown:
        case ActionItem::MoveLeft:
        case ActionItem::MoveRight: {
            const float speed = b.kind == BindingKind::MouseMove ? b.speed : 1.0f;
            b = Binding::mouse_move(offset(ActionItem::MoveUp), speed);
            break;
        }
        case ActionItem::Nothing: b = Binding::nothing(); break;
    }
    changed(before);
    return false;
}

void MappingEdit::choose_preset(Preset preset) {
    if (preset == Preset::Custom) {
        // Custom names whatever is set now; it has no values of its own to load.
        edited_.preset = Preset::Custom;
        return;
    }
    edited_ = preset_mapping(preset, edited_.pad_output);
}

void MappingEdit::reset_to_defaults() { edited_ = preset_mapping(Preset::Shooter, edited_.pad_output); }

void MappingEdit::choose_output(PadOutputMode output) { edited_.pad_output = output; }

void MappingEdit::set_stick_mode(std::size_t index, StickMode mode) {
    if (index > 1) return;
    const GamepadMapping before = edited_;
    stick(index).mode = mode;
    changed(before);
}

void MappingEdit::set_deadzone(std::size_t index, int position) {
    if (index > 1) return;
    const GamepadMapping before = edited_;
    stick(index).deadzone = static_cast<float>(std::clamp(position, 0, kDeadzoneMax)) / 100.0f;
    changed(before);
}

void MappingEdit::set_sensitivity(std::size_t index, int position) {
    if (index > 1) return;
    const GamepadMapping before = edited_;
    stick(index).sensitivity = static_cast<float>(std::clamp(position, kSensitivityMin, kSensitivityMax)) / 10.0f;
    changed(before);
}

void MappingEdit::set_invert_y(std::size_t index, bool invert) {
    if (index > 1) return;
    const GamepadMapping before = edited_;
    stick(index).invert_y = invert;
    changed(before);
}

void MappingEdit::capture_result(std::uint8_t usage, MappingMods mods) {
    const CaptureTarget target = capture_;
    capture_ = CaptureTarget::none();
    const GamepadMapping before = edited_;
    if (target.kind == CaptureTarget::Kind::Slot && target.slot < kPadSlotCount)
        edited_.bindings[target.slot] = Binding::key(usage, mods);
    else if (target.kind == CaptureTarget::Kind::StickDirection && target.stick < 2)
        stick(target.stick).keys[static_cast<std::size_t>(target.direction)] = usage;
    changed(before);
}

void MappingEdit::external_change(const GamepadMapping& active, bool virtual_pad_present) {
    if (edited_ == saved_) edited_ = active;
    saved_ = active;
    virtual_pad_present_ = virtual_pad_present;
}

MappingView MappingEdit::view() const {
    MappingView v;
    for (std::size_t i = 0; i < kPadSlotCount; ++i) {
        SlotView& s = v.slots[i];
        s.label = slot_label(static_cast<PadSlot>(i));
        s.binding = binding_display_text(edited_.bindings[i]);
        s.change = std::string(capture_ == CaptureTarget::for_slot(i) ? kPressKeyText : kChangeText);
        s.action = static_cast<int>(action_item_of(edited_.bindings[i]));
    }
    for (std::size_t k = 0; k < 2; ++k) {
        const StickSettings& st = k == 0 ? edited_.left_stick : edited_.right_stick;
        StickView& sv = v.sticks[k];
        sv.mode = static_cast<int>(st.mode);
        for (std::size_t d = 0; d < 4; ++d) {
            const auto dir = static_cast<PadDirection>(d);
            sv.directions[d] = capture_ == CaptureTarget::for_stick(k, dir)
                                   ? std::string(kPressKeyText)
                                   : stick_direction_text(dir, st.keys[d]);
        }
        const bool pointer = st.mode == StickMode::Mouse || st.mode == StickMode::Scroll;
        sv.directions_enabled = st.mode == StickMode::Keys;
        sv.deadzone = deadzone_position(st.deadzone);
        sv.deadzone_text = deadzone_text(sv.deadzone);
        sv.deadzone_enabled = st.mode != StickMode::Off;
        sv.sensitivity = sensitivity_position(st.sensitivity);
        sv.sensitivity_text = sensitivity_text(sv.sensitivity);
        sv.sensitivity_enabled = pointer;
        sv.invert_y = st.invert_y;
        sv.invert_enabled = pointer;
    }
    v.output = static_cast<int>(edited_.pad_output);
    v.preset = static_cast<int>(edited_.preset);
    v.explanation = mapping_explanation(edited_.pad_output, virtual_pad_present_);
    v.save_enabled = unsaved();
    return v;
}

// ---- key capture ----

std::uint8_t captured_usage_of_vk(std::uint16_t vk) {
    constexpr std::uint16_t kVkReturn = 0x0D;
    if (vk == kVkReturn) return 0x28;
    for (unsigned usage = 0; usage <= 230; ++usage) {
        const KeyVocabularyRow* row = find_key_row(static_cast<std::uint16_t>(usage));
        if (row && row->code.vk == vk) return static_cast<std::uint8_t>(usage);
    }
    return 0;
}

namespace {
// Left and right Ctrl, Shift, Alt count alike; only Left Win is a modifier.
MappingMods capture_modifier_bit(std::uint8_t usage) {
    switch (usage) {
        case 0xE0: case 0xE4: return kMapCtrl;
        case 0xE1: case 0xE5: return kMapShift;
        case 0xE2: case 0xE6: return kMapAlt;
        case 0xE3: return kMapWin;
        default: return 0;
    }
}
}  // namespace

HookDecision KeyCapture::on_key(std::uint16_t vk, KeyMessage message, bool injected) {
    // The host's own injection never ends a capture.
    if (injected) return {};
    const std::uint8_t usage = captured_usage_of_vk(vk);
    if (usage == 0) return {};
    if (const MappingMods bit = capture_modifier_bit(usage)) {
        HookDecision d{true, std::nullopt};
        if (message == KeyMessage::Down) {
            held_ |= bit;
            last_modifier_ = usage;
        } else if (message == KeyMessage::Up) {
            if (!(held_ & bit)) return {};
            // Pressed and released with nothing in between: the modifier itself is the key.
            if (last_modifier_ == usage) d.result = CaptureResult{usage, 0};
            held_ = static_cast<MappingMods>(held_ & ~bit);
        }
        return d;
    }
    if (message != KeyMessage::Down) return {};
    last_modifier_ = 0;
    return {true, CaptureResult{usage, held_}};
}

}  // namespace korvex::app
