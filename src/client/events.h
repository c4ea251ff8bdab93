#pragma once
// Input events as the client builds them: one function per kind, with the
// payload laid out the way the host's dispatcher reads it, and the names
// users type for the numbered commands.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "core/input_event.h"
#include "core/key_vocabulary.h"

namespace korvex::client {

enum class MouseButton : std::uint8_t { Left = 1, Right = 2, Middle = 3 };

// Key action byte of a key event.
enum class KeyAction : std::uint8_t { Up = 0, Down = 1 };

// Every builder leaves seq at 0: the sender numbers events as it sends them.
InputEvent pointer_move_event(float dx, float dy);
InputEvent mouse_button_event(MouseButton button, bool pressed, ModifierMask mods = 0);
InputEvent scroll_event(float horizontal, float vertical);
InputEvent key_event(std::uint16_t usage, KeyAction action, ModifierMask mods = 0);
InputEvent desktop_shortcut_event(std::uint8_t number);
InputEvent edit_command_event(std::uint8_t number);
InputEvent set_modifiers_event(ModifierMask mods);
InputEvent media_event(std::uint8_t number);
InputEvent release_all_event();
// The whole pad each time: buttons (11 bits), d-pad 0..8, triggers 0..255;
// sticks -32768..32767.
InputEvent pad_buttons_event(std::uint16_t buttons, std::uint8_t dpad, std::uint8_t left_trigger,
                             std::uint8_t right_trigger);
InputEvent pad_sticks_event(std::int16_t lx, std::int16_t ly, std::int16_t rx, std::int16_t ry);

// A user-facing name and the command number it stands for.
struct NamedCommand {
    std::string_view name;
    std::uint8_t number;
    std::string_view help;
};

// Media and brightness commands (volume-up ... brightness-down).
std::span<const NamedCommand> media_commands();
// Edit and system commands (copy ... lock, cad).
std::span<const NamedCommand> edit_commands();
// Desktop shortcuts (task-view, show-desktop, next-desktop, previous-desktop).
std::span<const NamedCommand> desktop_shortcuts();

// The number of a command name, compared after key-name normalisation
// (case, spaces, hyphens and underscores do not matter).
std::optional<std::uint8_t> find_command(std::span<const NamedCommand> table, std::string_view name);

inline constexpr std::uint8_t kEditLock = 8;
inline constexpr std::uint8_t kEditCtrlAltDel = 9;

// "ctrl,shift,alt,win" (any order, also "control", "super", "cmd", "meta",
// separated by commas or plus signs) to a ModifierMask; nothing for an
// unknown name.
std::optional<ModifierMask> parse_modifiers(std::string_view text);

std::optional<MouseButton> parse_mouse_button(std::string_view name);

}  // namespace korvex::client
