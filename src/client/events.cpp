#include "client/events.h"

#include <array>
#include <bit>

#include "core/input_controller.h"

namespace korvex::client {
namespace {

InputEvent event_of(InputKind kind, ModifierMask mods = 0) {
    InputEvent e;
    e.kind = static_cast<std::uint8_t>(kind);
    e.mods = mods;
    return e;
}

void put_f32(InputEvent& e, std::size_t at, float v) {
    auto bits = std::bit_cast<std::uint32_t>(v);
    for (std::size_t i = 0; i < 4; ++i) e.payload[at + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

void put_u16(InputEvent& e, std::size_t at, std::uint16_t v) {
    e.payload[at] = static_cast<std::uint8_t>(v);
    e.payload[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

constexpr std::array<NamedCommand, 8> kMedia = {{
    {"volume-up", 1, "volume up"},
    {"volume-down", 2, "volume down"},
    {"mute", 3, "mute"},
    {"play-pause", 4, "play or pause"},
    {"next", 5, "next track"},
    {"previous", 6, "previous track"},
    {"brightness-up", 7, "display brightness up"},
    {"brightness-down", 8, "display brightness down"},
}};

constexpr std::array<NamedCommand, 9> kEdit = {{
    {"copy", 1, "Ctrl+C"},
    {"paste", 2, "Ctrl+V"},
    {"cut", 3, "Ctrl+X"},
    {"undo", 4, "Ctrl+Z"},
    {"redo", 5, "Ctrl+Y"},
    {"select-all", 6, "Ctrl+A"},
    {"find", 7, "Ctrl+F"},
    {"lock", kEditLock, "lock the workstation"},
    {"cad", kEditCtrlAltDel, "Ctrl+Alt+Del"},
}};

constexpr std::array<NamedCommand, 4> kShortcuts = {{
    {"task-view", 1, "Win+Tab"},
    {"show-desktop", 2, "Win+D"},
    {"next-desktop", 3, "Ctrl+Win+Right"},
    {"previous-desktop", 4, "Ctrl+Win+Left"},
}};

}  // namespace

InputEvent pointer_move_event(float dx, float dy) {
    InputEvent e = event_of(InputKind::PointerMove);
    put_f32(e, 0, dx);
    put_f32(e, 4, dy);
    return e;
}

InputEvent mouse_button_event(MouseButton button, bool pressed, ModifierMask mods) {
    InputEvent e = event_of(InputKind::MouseButton, mods);
    e.payload[0] = static_cast<std::uint8_t>(button);
    e.payload[1] = pressed ? 1 : 0;
    return e;
}

InputEvent scroll_event(float horizontal, float vertical) {
    InputEvent e = event_of(InputKind::Scroll);
    put_f32(e, 0, horizontal);
    put_f32(e, 4, vertical);
    return e;
}

InputEvent key_event(std::uint16_t usage, KeyAction action, ModifierMask mods) {
    InputEvent e = event_of(InputKind::Key, mods);
    e.payload[0] = static_cast<std::uint8_t>(usage);
    e.payload[1] = static_cast<std::uint8_t>(usage >> 8);
    e.payload[2] = static_cast<std::uint8_t>(action);
    return e;
}

InputEvent desktop_shortcut_event(std::uint8_t number) {
    InputEvent e = event_of(InputKind::DesktopShortcut);
    e.payload[0] = number;
    return e;
}

InputEvent edit_command_event(std::uint8_t number) {
    InputEvent e = event_of(InputKind::EditCommand);
    e.payload[0] = number;
    return e;
}

InputEvent set_modifiers_event(ModifierMask mods) {
    InputEvent e = event_of(InputKind::SetModifiers);
    e.payload[0] = static_cast<std::uint8_t>(mods & kModAll);
    return e;
}

InputEvent media_event(std::uint8_t number) {
    InputEvent e = event_of(InputKind::Media);
    e.payload[0] = number;
    return e;
}

InputEvent release_all_event() { return event_of(InputKind::ReleaseAll); }

std::span<const NamedCommand> media_commands() { return kMedia; }
std::span<const NamedCommand> edit_commands() { return kEdit; }
std::span<const NamedCommand> desktop_shortcuts() { return kShortcuts; }

std::optional<std::uint8_t> find_command(std::span<const NamedCommand> table, std::string_view name) {
    std::string wanted = normalize_key_name(name);
    if (wanted.empty()) return std::nullopt;
    for (const auto& command : table)
        if (normalize_key_name(command.name) == wanted) return command.number;
    return std::nullopt;
}

std::optional<ModifierMask> parse_modifiers(std::string_view text) {
    ModifierMask mask = 0;
    while (!text.empty()) {
        auto sep = text.find_first_of(",+");
        std::string name = normalize_key_name(text.substr(0, sep));
        text = sep == std::string_view::npos ? std::string_view() : text.substr(sep + 1);
        if (name.empty()) continue;
        if (name == "ctrl" || name == "control")
            mask |= kModCtrl;
        else if (name == "shift")
            mask |= kModShift;
        else if (name == "alt")
            mask |= kModAlt;
        else if (name == "win" || name == "super" || name == "cmd" || name == "meta")
            mask |= kModWin;
        else
            return std::nullopt;
    }
    return mask;
}

std::optional<MouseButton> parse_mouse_button(std::string_view name) {
    std::string n = normalize_key_name(name);
    if (n == "left") return MouseButton::Left;
    if (n == "right") return MouseButton::Right;
    if (n == "middle") return MouseButton::Middle;
    return std::nullopt;
}

}  // namespace korvex::client

namespace korvex::client {

InputEvent pad_buttons_event(std::uint16_t buttons, std::uint8_t dpad, std::uint8_t left_trigger,
                             std::uint8_t right_trigger) {
    InputEvent e = event_of(InputKind::PadButtons);
    put_u16(e, 0, buttons);
    e.payload[4] = dpad;
    e.payload[5] = left_trigger;
    e.payload[6] = right_trigger;
    return e;
}

InputEvent pad_sticks_event(std::int16_t lx, std::int16_t ly, std::int16_t rx, std::int16_t ry) {
    InputEvent e = event_of(InputKind::PadSticks);
    put_u16(e, 0, static_cast<std::uint16_t>(lx));
    put_u16(e, 2, static_cast<std::uint16_t>(ly));
    put_u16(e, 4, static_cast<std::uint16_t>(rx));
    put_u16(e, 6, static_cast<std::uint16_t>(ry));
    return e;
}

}  // namespace korvex::client
