#pragma once
// The gamepad commands of the tray menu (presets 3000..3003, pad
// output 3100/3101) and of the Linux console ("preset N", "output
// virtual|mapping"), shared by both: build the new mapping, install it under
// the core lock, then save it outside the lock (the result of saving is the
// caller's to show or ignore; the mapping is active either way).
#include <optional>
#include <string>
#include <string_view>

#include "core/error.h"
#include "core/pad_engine.h"
#include "core/pad_mapping.h"
#include "core/pad_mapping_file.h"
#include "core/os_terms.h"

namespace korvex {

class FileSystem;
class InputController;

// The preset's bindings and sticks with the pad output of `current`.
GamepadMapping with_preset(const GamepadMapping& current, Preset preset);
// `current` with another pad output.
GamepadMapping with_pad_output(const GamepadMapping& current, PadOutputMode output);

// With the core lock held: build from the active mapping, install, and return
// what was installed (for save_mapping after the lock is released).
GamepadMapping choose_preset(InputController& input, GamepadEngine& engine, Preset preset);
GamepadMapping choose_pad_output(InputController& input, GamepadEngine& engine, PadOutputMode output);

// The whole command. `locked(f)` must run f(InputController&, GamepadEngine&)
// under the core lock and return what f returns, for example
//   [&](auto f) { return host.with_core([&](LockedCore& c) { return f(c.input, c.gamepad); }); }
// Installs under the lock, then saves into `data_dir`.
template <typename Locked>
Status run_preset_command(Locked&& locked, FileSystem& fs, std::string_view data_dir, Preset preset) {
    GamepadMapping installed = locked(
        [preset](InputController& input, GamepadEngine& engine) { return choose_preset(input, engine, preset); });
    return save_mapping(fs, data_dir, installed);
}

template <typename Locked>
Status run_pad_output_command(Locked&& locked, FileSystem& fs, std::string_view data_dir, PadOutputMode output) {
    GamepadMapping installed = locked(
        [output](InputController& input, GamepadEngine& engine) { return choose_pad_output(input, engine, output); });
    return save_mapping(fs, data_dir, installed);
}

// Console arguments. A preset is a number 0 to 3 (the tray's order), a
// preset name or alias other than custom, or its label as the status line
// shows it, whole or up to the parenthesis ("Mouse only"); an output is "virtual" or
// "mapping", or any of the file's names for the two ("keyboardMouse", ...).
std::optional<Preset> parse_preset_argument(std::string_view text);
std::optional<PadOutputMode> parse_pad_output_argument(std::string_view text);

// One line for the console's status: the output in use, the preset, and
// whether the virtual controller is there. For example
// "Gamepad: keyboard / mouse mapping (ViGEmBus driver not installed), preset Shooter (WASD + mouse look)".
std::string gamepad_status_line(const GamepadEngine& engine, const OsTerms& terms = kWindowsTerms);
// The same line from plain values (a status snapshot), for faces that do not
// see the engine: the output in use, whether a virtual controller exists,
// the active preset.
std::string gamepad_status_line(PadOutputMode output, bool virtual_pad_plugged, Preset preset, const OsTerms& terms);

// "0 Shooter (WASD + mouse look), 1 Arrow keys / emulator, ...": what
// parse_preset_argument takes, for a console that did not understand.
std::string preset_choices_text();

}  // namespace korvex
