#pragma once
// The gamepad mapping window as data: the saved and the edited mapping, the
// running key capture, every editing rule, and what each control shows. The
// Win32 window only turns control events into these calls and a view into
// control states. Also the key capture's decisions for the low-level hook.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/pad_mapping.h"

namespace korvex::app {

// ---- layout, at 96 DPI ----
inline constexpr int kMappingClientWidth96 = 880;
inline constexpr int kMappingClientHeight96 = 540;

// Control ids.
inline constexpr int kIdSlotBinding = 100;  // + 4 * slot
inline constexpr int kIdSlotChange = 101;   // + 4 * slot
inline constexpr int kIdSlotAction = 102;   // + 4 * slot
inline constexpr int kIdStickMode = 200;    // + 20 * stick
inline constexpr int kIdStickUp = 201;      // .. 204: up, down, left, right (+ 20 * stick)
inline constexpr int kIdStickDeadzone = 205;
inline constexpr int kIdStickDeadzoneText = 206;
inline constexpr int kIdStickSensitivity = 207;
inline constexpr int kIdStickSensitivityText = 208;
inline constexpr int kIdStickInvertY = 209;
inline constexpr int kIdOutput = 300;
inline constexpr int kIdPreset = 301;
inline constexpr int kIdReset = 302;
inline constexpr int kIdSave = 303;
inline constexpr int kIdClose = 304;
inline constexpr int kIdExplanation = 305;

constexpr int slot_control_id(int base, std::size_t slot) { return base + 4 * static_cast<int>(slot); }
constexpr int stick_control_id(int base, std::size_t stick) { return base + 20 * static_cast<int>(stick); }

enum class ControlClass : std::uint8_t { GroupBox, Label, LabelEdged, Button, DefaultButton, CheckBox, ComboBox, Trackbar };

// One child window: its class, id (0 for none), text, place at 96 DPI.
struct ControlSpec {
    ControlClass kind = ControlClass::Label;
    int id = 0;
    std::string text;
    int x = 0, y = 0, width = 0, height = 0;
};

// Every control of the window in creation order (which is also the Tab
// order), with its initial text; combo items come from the lists below.
std::span<const ControlSpec> mapping_window_controls();

// Drop-down list height at 96 DPI, trackbar ranges and tick steps.
inline constexpr int kComboListHeight96 = 320;
inline constexpr int kDeadzoneMax = 60, kDeadzoneTick = 10;
inline constexpr int kSensitivityMin = 1, kSensitivityMax = 50, kSensitivityTick = 5;

// ---- texts ----

// The slot's action list, in the combo's order.
enum class ActionItem : std::uint8_t {
    KeyboardKey, LeftMouse, RightMouse, MiddleMouse,
    WheelUp, WheelDown, WheelLeft, WheelRight,
    MoveUp, MoveDown, MoveLeft, MoveRight,
    Nothing,
};
inline constexpr std::size_t kActionItemCount = 13;
std::span<const std::string_view> action_item_texts();
// The item a binding shows as (a mouse button other than 1..3 shows as Nothing).
ActionItem action_item_of(const Binding& binding);

std::span<const std::string_view> output_item_texts();   // index = PadOutputMode
std::span<const std::string_view> preset_item_texts();   // index = Preset, custom last
std::span<const std::string_view> stick_mode_item_texts();  // index = StickMode

// "Nothing", "Ctrl+Shift+K", "Left mouse", "Wheel up x3", "Move mouse left".
std::string binding_display_text(const Binding& binding);
// A key's label; "-" for 0 or a usage the vocabulary does not have.
std::string key_label_text(std::uint8_t usage);
// "Up: W"; "Up: -" for no key.
std::string stick_direction_text(PadDirection direction, std::uint8_t usage);
std::string deadzone_text(int position);     // "25 %"
std::string sensitivity_text(int position);  // "1.5x"
std::string mapping_explanation(PadOutputMode output, bool virtual_pad_present);

inline constexpr std::string_view kChangeText = "Change...";
inline constexpr std::string_view kPressKeyText = "Press a key";
inline constexpr std::string_view kSaveFailedText =
    "The mapping is active now but could not be written to %APPDATA%\\Korvex\\gamepad_mapping.json.";
inline constexpr std::string_view kSaveQuestionText = "Save the changes to the gamepad mapping?";

// ---- the edit ----

// What a capture fills: a slot, or one direction of a stick.
struct CaptureTarget {
    enum class Kind : std::uint8_t { None, Slot, StickDirection } kind = Kind::None;
    std::uint8_t slot = 0;   // 0..15
    std::uint8_t stick = 0;  // 0 left, 1 right
    PadDirection direction = PadDirection::Up;

    static CaptureTarget none() { return {}; }
    static CaptureTarget for_slot(std::size_t slot) {
        return {Kind::Slot, static_cast<std::uint8_t>(slot), 0, PadDirection::Up};
    }
    static CaptureTarget for_stick(std::size_t stick, PadDirection direction) {
        return {Kind::StickDirection, 0, static_cast<std::uint8_t>(stick), direction};
    }
    bool active() const { return kind != Kind::None; }
    friend bool operator==(const CaptureTarget&, const CaptureTarget&) = default;
};

struct SlotView {
    std::string label;
    std::string binding;
    std::string change;  // "Change..." or "Press a key"
    int action = 0;      // ActionItem index
};

struct StickView {
    int mode = 0;
    std::array<std::string, 4> directions;  // up, down, left, right
    bool directions_enabled = false;
    int deadzone = 0;
    std::string deadzone_text;
    bool deadzone_enabled = false;
    int sensitivity = 10;
    std::string sensitivity_text;
    bool sensitivity_enabled = false;
    bool invert_y = false;
    bool invert_enabled = false;
};

struct MappingView {
    std::array<SlotView, kPadSlotCount> slots;
    std::array<StickView, 2> sticks;
    int output = 0;
    int preset = 0;
    std::string explanation;
    bool save_enabled = false;
};

int deadzone_position(float deadzone);        // round(deadzone * 100), within the trackbar's range
int sensitivity_position(float sensitivity);  // round(sensitivity * 10), within the trackbar's range

class MappingEdit {
public:
    explicit MappingEdit(const GamepadMapping& active, bool virtual_pad_present = false);

    const GamepadMapping& saved() const { return saved_; }
    const GamepadMapping& edited() const { return edited_; }
    bool unsaved() const { return edited_ != saved_; }
    CaptureTarget capture() const { return capture_; }

    // Editing. Each change of a binding or a stick makes the preset custom.
    // choose_action returns true when the window must start a capture for
    // the slot ("Keyboard key" on a slot without a key binding).
    bool choose_action(std::size_t slot, ActionItem item);
    void choose_preset(Preset preset);  // custom keeps the bindings
    void reset_to_defaults();
    void choose_output(PadOutputMode output);
    void set_stick_mode(std::size_t stick, StickMode mode);
    void set_deadzone(std::size_t stick, int position);
    void set_sensitivity(std::size_t stick, int position);
    void set_invert_y(std::size_t stick, bool invert);

    // Capture: the target shows "Press a key" until a result or a stop.
    void start_capture(CaptureTarget target) { capture_ = target; }
    void stop_capture() { capture_ = CaptureTarget::none(); }
    // Stores the key in the target (a stick direction drops the modifiers)
    // and ends the capture; without a target nothing changes.
    void capture_result(std::uint8_t usage, MappingMods mods);

    // After a save: the edit is the new baseline.
    void mark_saved() { saved_ = edited_; }
    // The active mapping was replaced elsewhere (the tray): it becomes the
    // baseline, and the edit follows it only when it had no unsaved changes.
    void external_change(const GamepadMapping& active, bool virtual_pad_present);

    MappingView view() const;

private:
    StickSettings& stick(std::size_t index) { return index == 0 ? edited_.left_stick : edited_.right_stick; }
    void changed(const GamepadMapping& before);

    GamepadMapping saved_;
    GamepadMapping edited_;
    CaptureTarget capture_;
    bool virtual_pad_present_ = false;
};

// ---- the key capture's decisions (the low-level keyboard hook) ----

enum class KeyMessage : std::uint8_t { Down, Up, Other };

// The usage a captured virtual key stands for: Enter for VK_RETURN, else the
// first usage (0..230) whose virtual key is `vk`; 0 when there is none.
std::uint8_t captured_usage_of_vk(std::uint16_t vk);

struct CaptureResult {
    std::uint8_t usage = 0;
    MappingMods mods = 0;
    friend bool operator==(const CaptureResult&, const CaptureResult&) = default;
};

struct HookDecision {
    bool swallow = false;
    std::optional<CaptureResult> result;  // to post to the window
};

// The modifiers held and the last modifier pressed during one capture.
class KeyCapture {
public:
    void reset() { held_ = 0, last_modifier_ = 0; }
    HookDecision on_key(std::uint16_t vk, KeyMessage message, bool injected);

private:
    MappingMods held_ = 0;
    std::uint8_t last_modifier_ = 0;
};

}  // namespace korvex::app
