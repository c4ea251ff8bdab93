#pragma once
// The gamepad mapping model: the 16 mappable pad inputs, what each
// can be bound to, the two sticks, the presets, and the names and labels that
// the mapping file, the tray and the mapping window use.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/input_pad.h"

namespace korvex {

// The 16 slots in their fixed order: the order of the bindings, of the
// pressed tests and of the rows of the mapping window.
enum class PadSlot : std::uint8_t {
    A,
    B,
    X,
    Y,
    LB,
    RB,
    LT,
    RT,
    Back,
    Start,
    L3,
    R3,
    DpadUp,
    DpadDown,
    DpadLeft,
    DpadRight,
};
inline constexpr std::size_t kPadSlotCount = 16;

// MappingMods: Ctrl 1, Shift 2, Alt 4, Win 8. Not the bit order of the
// events' ModifierMask: bit i is the modifier key of usage 0xE0 + i.
using MappingMods = std::uint8_t;
inline constexpr MappingMods kMapCtrl = 1;
inline constexpr MappingMods kMapShift = 2;
inline constexpr MappingMods kMapAlt = 4;
inline constexpr MappingMods kMapWin = 8;
inline constexpr MappingMods kMapAll = 0x0F;

enum class BindingKind : std::uint8_t { Nothing = 0, Key = 1, MouseButton = 2, MouseMove = 3, Scroll = 4 };

// Directions of mouse-move and scroll bindings, and of the stick keys.
enum class PadDirection : std::uint8_t { Up = 0, Down = 1, Left = 2, Right = 3 };

// One slot's action, 8 bytes. Use the named constructors; the meaning of
// `code` and `param` depends on the kind.
struct Binding {
    BindingKind kind = BindingKind::Nothing;
    std::uint8_t code = 0;   // key: HID usage (0 = no key); mouse button: 1..3; move, scroll: PadDirection
    std::uint8_t param = 0;  // key: MappingMods; scroll: amount 1..10
    float speed = 0.0f;      // mouse move: 0.1 .. 5.0

    static constexpr Binding nothing() { return {}; }
    static constexpr Binding key(std::uint8_t usage, MappingMods mods = 0) {
        return {BindingKind::Key, usage, static_cast<std::uint8_t>(mods & kMapAll), 0.0f};
    }
    static constexpr Binding mouse_button(std::uint8_t button) { return {BindingKind::MouseButton, button, 0, 0.0f}; }
    static constexpr Binding mouse_move(PadDirection direction, float speed) {
        return {BindingKind::MouseMove, static_cast<std::uint8_t>(direction), 0, speed};
    }
    static constexpr Binding scroll(PadDirection direction, std::uint8_t amount) {
        return {BindingKind::Scroll, static_cast<std::uint8_t>(direction), amount, 0.0f};
    }

    std::uint8_t usage() const { return code; }
    MappingMods mods() const { return param; }
    std::uint8_t button() const { return code; }
    PadDirection direction() const { return static_cast<PadDirection>(code & 3); }
    std::uint8_t amount() const { return param; }

    friend bool operator==(const Binding&, const Binding&) = default;
};
static_assert(sizeof(Binding) == 8);

enum class StickMode : std::uint8_t { Off = 0, Keys = 1, Mouse = 2, Scroll = 3 };

struct StickSettings {
    StickMode mode = StickMode::Off;
    std::array<std::uint8_t, 4> keys{};  // HID usages for up, down, left, right (keys mode); 0 = none
    float deadzone = 0.2f;               // 0 .. 0.9
    float sensitivity = 1.0f;            // 0.1 .. 5.0
    bool invert_y = false;
    friend bool operator==(const StickSettings&, const StickSettings&) = default;
};

enum class PadOutputMode : std::uint8_t { VirtualController = 0, KeyboardMouse = 1 };

enum class Preset : std::uint8_t { Shooter = 0, Arrows = 1, MouseOnly = 2, TwinStick = 3, Custom = 4 };
inline constexpr std::size_t kPresetCount = 5;

struct GamepadMapping {
    std::array<Binding, kPadSlotCount> bindings{};  // slot order
    StickSettings left_stick;
    StickSettings right_stick;
    Preset preset = Preset::Shooter;
    PadOutputMode pad_output = PadOutputMode::VirtualController;

    Binding& binding(PadSlot slot) { return bindings[static_cast<std::size_t>(slot)]; }
    const Binding& binding(PadSlot slot) const { return bindings[static_cast<std::size_t>(slot)]; }
    friend bool operator==(const GamepadMapping&, const GamepadMapping&) = default;
};

// The bindings and sticks of a preset (custom has shooter's), with that preset
// number and the given pad output.
GamepadMapping preset_mapping(Preset preset, PadOutputMode output = PadOutputMode::VirtualController);

// No file, an unreadable file: the shooter preset, pad output virtual controller.
inline GamepadMapping default_mapping() { return preset_mapping(Preset::Shooter); }

// Whether a slot counts as pressed in a pad state (buttons, triggers above 63,
// d-pad positions clockwise from 1 = up to 8 = up-left).
bool slot_pressed(PadSlot slot, const PadState& state);

// ---- vocabulary ----
// Names are those of the mapping file; labels are shown to the user. Readers
// compare names after normalize_key_name, then their aliases.

std::string_view slot_name(PadSlot slot);   // "a", "lb", "dpadUp" ...
std::string_view slot_label(PadSlot slot);  // "A", "LB (left bumper)", "D-pad up" ...
// Slot names and the aliases "select", "view" (back), "menu", "options"
// (start), "up", "down", "left", "right" (the d-pad slots).
std::optional<PadSlot> parse_slot_name(std::string_view text);

std::string_view binding_kind_name(BindingKind kind);  // "none", "key", "mouse", "mouseMove", "scroll"

std::string_view direction_name(PadDirection direction);   // "up", "down", "left", "right"
std::string_view direction_label(PadDirection direction);  // "Up", "Down", "Left", "Right"
std::optional<PadDirection> parse_direction(std::string_view text);

std::string_view mouse_button_name(std::uint8_t button);  // "left", "right", "middle"; "" for others
// "left"/"primary" 1, "right"/"secondary" 2, "middle" 3.
std::optional<std::uint8_t> parse_mouse_button(std::string_view text);

std::string_view stick_mode_name(StickMode mode);   // "off", "keys", "mouse", "scroll"
std::string_view stick_mode_label(StickMode mode);  // "Off", "Keys (4 directions)", ...
// Mode names, then "none"/"disabled" off, "look"/"mouselook" mouse, "wheel" scroll.
std::optional<StickMode> parse_stick_mode(std::string_view text);

std::string_view preset_name(Preset preset);   // "shooter", "arrows", "mouseOnly", "twinStick", "custom"
std::string_view preset_label(Preset preset);  // "Shooter (WASD + mouse look)", ..., "Custom"
// Preset names, then "fps", "wasdmouse", "default" (shooter), "emulator"
// (arrows), "mouse", "desktop" (mouseOnly), "twin", "dualkeys" (twinStick).
std::optional<Preset> parse_preset_name(std::string_view text);

std::string_view pad_output_name(PadOutputMode output);  // "virtual", "keyboardMouse"
// "virtual", "vigem", "xinput", "controller" -> virtual controller;
// "keyboardmouse", "keyboard", "mapping", "keys" -> keyboard/mouse mapping.
std::optional<PadOutputMode> parse_pad_output(std::string_view text);

// "Ctrl", "Shift", "Alt", "Win" modifier names accepted in a key binding's
// "mods": "ctrl"/"control", "shift", "alt"/"option", "win"/"cmd"/"meta"/
// "super"/"command"; 0 for anything else.
MappingMods parse_mapping_modifier(std::string_view text);

}  // namespace korvex
