#include "core/pad_mapping.h"

#include <string>

#include "core/key_vocabulary.h"

namespace korvex {
namespace {

// HID usages of the keys the presets use.
namespace usage {
constexpr std::uint8_t kA = 0x04, kC = 0x06, kD = 0x07, kE = 0x08, kG = 0x0A, kP = 0x13, kQ = 0x14, kR = 0x15,
                       kS = 0x16, kV = 0x19, kW = 0x1A, kX = 0x1B, kZ = 0x1D;
constexpr std::uint8_t k1 = 0x1E, k2 = 0x1F, k3 = 0x20, k4 = 0x21;
constexpr std::uint8_t kEnter = 0x28, kEscape = 0x29, kBackspace = 0x2A, kTab = 0x2B, kSpace = 0x2C;
constexpr std::uint8_t kRight = 0x4F, kLeft = 0x50, kDown = 0x51, kUp = 0x52;
constexpr std::uint8_t kLeftCtrl = 0xE0, kLeftShift = 0xE1, kLeftWin = 0xE3;
}  // namespace usage

struct NameLabel {
    std::string_view name;
    std::string_view label;
};

constexpr NameLabel kSlots[kPadSlotCount] = {
    {"a", "A"},
    {"b", "B"},
    {"x", "X"},
    {"y", "Y"},
    {"lb", "LB (left bumper)"},
    {"rb", "RB (right bumper)"},
    {"lt", "LT (left trigger)"},
    {"rt", "RT (right trigger)"},
    {"back", "Back / Select"},
    {"start", "Start"},
    {"l3", "L3 (left stick click)"},
    {"r3", "R3 (right stick click)"},
    {"dpadUp", "D-pad up"},
    {"dpadDown", "D-pad down"},
    {"dpadLeft", "D-pad left"},
    {"dpadRight", "D-pad right"},
};

struct SlotAlias {
    std::string_view alias;
    PadSlot slot;
};
constexpr SlotAlias kSlotAliases[] = {
    {"select", PadSlot::Back}, {"view", PadSlot::Back},     {"menu", PadSlot::Start},    {"options", PadSlot::Start},
    {"up", PadSlot::DpadUp},   {"down", PadSlot::DpadDown}, {"left", PadSlot::DpadLeft}, {"right", PadSlot::DpadRight},
};

constexpr NameLabel kDirections[] = {{"up", "Up"}, {"down", "Down"}, {"left", "Left"}, {"right", "Right"}};

constexpr NameLabel kModes[] = {
    {"off", "Off"},
    {"keys", "Keys (4 directions)"},
    {"mouse", "Mouse movement"},
    {"scroll", "Scroll wheel"},
};

constexpr NameLabel kPresets[kPresetCount] = {
    {"shooter", "Shooter (WASD + mouse look)"},
    {"arrows", "Arrow keys / emulator"},
    {"mouseOnly", "Mouse only (desktop)"},
    {"twinStick", "Twin stick (WASD + arrow keys)"},
    {"custom", "Custom"},
};

struct PresetAlias {
    std::string_view alias;
    Preset preset;
};
constexpr PresetAlias kPresetAliases[] = {
    {"fps", Preset::Shooter},     {"wasdmouse", Preset::Shooter},  {"default", Preset::Shooter},
    {"emulator", Preset::Arrows}, {"mouse", Preset::MouseOnly},    {"desktop", Preset::MouseOnly},
    {"twin", Preset::TwinStick},  {"dualkeys", Preset::TwinStick},
};

// Compares normalised text with a name as written (camelCase).
bool same_name(std::string_view normalized, std::string_view name) { return normalized == normalize_key_name(name); }

constexpr Binding K(std::uint8_t u, MappingMods mods = 0) { return Binding::key(u, mods); }
constexpr Binding M(std::uint8_t button) { return Binding::mouse_button(button); }

// The presets' bindings: one row per slot in slot order, one column per
// preset (shooter, arrows, mouseOnly, twinStick).
using namespace usage;
// clang-format off
constexpr std::array<std::array<Binding, 4>, kPadSlotCount> kPresetBindings = {{
    {K(kSpace),     K(kEnter),     M(1),                K(kSpace)},      // a
    {K(kLeftCtrl),  K(kEscape),    M(2),                K(kE)},          // b
    {K(kR),         K(kSpace),     M(3),                K(kQ)},          // x
    {K(kQ),         K(kTab),       K(kEnter),           K(kR)},          // y
    {K(kG),         K(kZ),         K(kLeft, kMapAlt),   K(kLeftShift)},  // lb
    {K(kE),         K(kX),         K(kRight, kMapAlt),  K(kLeftCtrl)},   // rb
    {M(2),          K(kLeftShift), K(kLeftCtrl),        K(kZ)},          // lt
    {M(1),          K(kLeftCtrl),  M(1),                K(kX)},          // rt
    {K(kTab),       K(kBackspace), K(kEscape),          K(kEscape)},     // back
    {K(kEscape),    K(kP),         K(kLeftWin),         K(kEnter)},      // start
    {K(kLeftShift), K(kE),         Binding::nothing(),  K(kC)},          // l3
    {K(kV),         K(kQ),         M(3),                K(kV)},          // r3
    {K(kUp),        K(kUp),        K(kUp),              K(k1)},          // dpadUp
    {K(kDown),      K(kDown),      K(kDown),            K(k3)},          // dpadDown
    {K(kLeft),      K(kLeft),      K(kLeft),            K(k4)},          // dpadLeft
    {K(kRight),     K(kRight),     K(kRight),           K(k2)},          // dpadRight
}};
// clang-format on

// Column `preset` of the table.
std::array<Binding, kPadSlotCount> preset_bindings(std::size_t preset) {
    std::array<Binding, kPadSlotCount> out{};
    for (std::size_t slot = 0; slot < kPadSlotCount; ++slot) out[slot] = kPresetBindings[slot][preset];
    return out;
}

constexpr std::array<std::uint8_t, 4> kWasd = {usage::kW, usage::kS, usage::kA, usage::kD};
constexpr std::array<std::uint8_t, 4> kArrows = {usage::kUp, usage::kDown, usage::kLeft, usage::kRight};

StickSettings stick(StickMode mode, std::array<std::uint8_t, 4> keys, float deadzone) {
    StickSettings s;
    s.mode = mode;
    s.keys = keys;
    s.deadzone = deadzone;
    s.sensitivity = 1.0f;
    s.invert_y = false;
    return s;
}

}  // namespace

GamepadMapping preset_mapping(Preset preset, PadOutputMode output) {
    GamepadMapping m;
    switch (preset) {
        case Preset::Arrows:
            m.bindings = preset_bindings(1);
            m.left_stick = stick(StickMode::Keys, kArrows, 0.3f);
            m.right_stick = stick(StickMode::Keys, kWasd, 0.3f);
            break;
        case Preset::MouseOnly:
            m.bindings = preset_bindings(2);
            m.left_stick = stick(StickMode::Mouse, kWasd, 0.15f);
            m.right_stick = stick(StickMode::Scroll, kArrows, 0.2f);
            break;
        case Preset::TwinStick:
            m.bindings = preset_bindings(3);
            m.left_stick = stick(StickMode::Keys, kWasd, 0.25f);
            m.right_stick = stick(StickMode::Keys, kArrows, 0.25f);
            break;
        case Preset::Shooter:
        case Preset::Custom:
        default:
            m.bindings = preset_bindings(0);
            m.left_stick = stick(StickMode::Keys, kWasd, 0.25f);
            m.right_stick = stick(StickMode::Mouse, kWasd, 0.12f);
            break;
    }
    m.preset = static_cast<std::size_t>(preset) < kPresetCount ? preset : Preset::Shooter;
    m.pad_output = output;
    return m;
}

bool slot_pressed(PadSlot slot, const PadState& s) {
    const auto bit = [&](std::uint16_t mask) { return (s.buttons & mask) != 0; };
    const auto dpad_is = [&](std::uint8_t a, std::uint8_t b, std::uint8_t c) {
        return s.dpad == a || s.dpad == b || s.dpad == c;
    };
    switch (slot) {
        case PadSlot::A: return bit(0x001);
        case PadSlot::B: return bit(0x002);
        case PadSlot::X: return bit(0x004);
        case PadSlot::Y: return bit(0x008);
        case PadSlot::LB: return bit(0x010);
        case PadSlot::RB: return bit(0x020);
        case PadSlot::LT: return s.left_trigger > 63;
        case PadSlot::RT: return s.right_trigger > 63;
        case PadSlot::Back: return bit(0x200);
        case PadSlot::Start: return bit(0x100);
        case PadSlot::L3: return bit(0x040);
        case PadSlot::R3: return bit(0x080);
        case PadSlot::DpadUp: return dpad_is(1, 2, 8);
        case PadSlot::DpadDown: return dpad_is(4, 5, 6);
        case PadSlot::DpadLeft: return dpad_is(6, 7, 8);
        case PadSlot::DpadRight: return dpad_is(2, 3, 4);
    }
    return false;
}

std::string_view slot_name(PadSlot slot) {
    auto i = static_cast<std::size_t>(slot);
    return i < kPadSlotCount ? kSlots[i].name : std::string_view();
}

std::string_view slot_label(PadSlot slot) {
    auto i = static_cast<std::size_t>(slot);
    return i < kPadSlotCount ? kSlots[i].label : std::string_view();
}

std::optional<PadSlot> parse_slot_name(std::string_view text) {
    const std::string n = normalize_key_name(text);
    for (std::size_t i = 0; i < kPadSlotCount; ++i) {
        if (same_name(n, kSlots[i].name)) return static_cast<PadSlot>(i);
    }
    for (const auto& alias : kSlotAliases) {
        if (n == alias.alias) return alias.slot;
    }
    return std::nullopt;
}

std::string_view binding_kind_name(BindingKind kind) {
    switch (kind) {
        case BindingKind::Nothing: return "none";
        case BindingKind::Key: return "key";
        case BindingKind::MouseButton: return "mouse";
        case BindingKind::MouseMove: return "mouseMove";
        case BindingKind::Scroll: return "scroll";
    }
    return "none";
}

std::string_view direction_name(PadDirection direction) {
    return kDirections[static_cast<std::size_t>(direction) & 3].name;
}

std::string_view direction_label(PadDirection direction) {
    return kDirections[static_cast<std::size_t>(direction) & 3].label;
}

std::optional<PadDirection> parse_direction(std::string_view text) {
    const std::string n = normalize_key_name(text);
    for (std::size_t i = 0; i < 4; ++i) {
        if (n == kDirections[i].name) return static_cast<PadDirection>(i);
    }
    return std::nullopt;
}

std::string_view mouse_button_name(std::uint8_t button) {
    switch (button) {
        case 1: return "left";
        case 2: return "right";
        case 3: return "middle";
        default: return {};
    }
}

std::optional<std::uint8_t> parse_mouse_button(std::string_view text) {
    const std::string n = normalize_key_name(text);
    if (n == "left" || n == "primary") return 1;
    if (n == "right" || n == "secondary") return 2;
    if (n == "middle") return 3;
    return std::nullopt;
}

std::string_view stick_mode_name(StickMode mode) {
    auto i = static_cast<std::size_t>(mode);
    return i < 4 ? kModes[i].name : kModes[0].name;
}

std::string_view stick_mode_label(StickMode mode) {
    auto i = static_cast<std::size_t>(mode);
    return i < 4 ? kModes[i].label : kModes[0].label;
}

std::optional<StickMode> parse_stick_mode(std::string_view text) {
    const std::string n = normalize_key_name(text);
    for (std::size_t i = 0; i < 4; ++i) {
        if (n == kModes[i].name) return static_cast<StickMode>(i);
    }
    if (n == "none" || n == "disabled") return StickMode::Off;
    if (n == "look" || n == "mouselook") return StickMode::Mouse;
    if (n == "wheel") return StickMode::Scroll;
    return std::nullopt;
}

std::string_view preset_name(Preset preset) {
    auto i = static_cast<std::size_t>(preset);
    return i < kPresetCount ? kPresets[i].name : kPresets[0].name;
}

std::string_view preset_label(Preset preset) {
    auto i = static_cast<std::size_t>(preset);
    return i < kPresetCount ? kPresets[i].label : kPresets[0].label;
}

std::optional<Preset> parse_preset_name(std::string_view text) {
    const std::string n = normalize_key_name(text);
    for (std::size_t i = 0; i < kPresetCount; ++i) {
        if (same_name(n, kPresets[i].name)) return static_cast<Preset>(i);
    }
    for (const auto& alias : kPresetAliases) {
        if (n == alias.alias) return alias.preset;
    }
    return std::nullopt;
}

std::string_view pad_output_name(PadOutputMode output) {
    return output == PadOutputMode::KeyboardMouse ? "keyboardMouse" : "virtual";
}

std::optional<PadOutputMode> parse_pad_output(std::string_view text) {
    const std::string n = normalize_key_name(text);
    if (n == "virtual" || n == "vigem" || n == "xinput" || n == "controller") return PadOutputMode::VirtualController;
    if (n == "keyboardmouse" || n == "keyboard" || n == "mapping" || n == "keys") return PadOutputMode::KeyboardMouse;
    return std::nullopt;
}

MappingMods parse_mapping_modifier(std::string_view text) {
    const std::string n = normalize_key_name(text);
    if (n == "ctrl" || n == "control") return kMapCtrl;
    if (n == "shift") return kMapShift;
    if (n == "alt" || n == "option") return kMapAlt;
    if (n == "win" || n == "cmd" || n == "meta" || n == "super" || n == "command") return kMapWin;
    return 0;
}

}  // namespace korvex
