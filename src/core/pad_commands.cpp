#include "core/pad_commands.h"

#include "core/input_controller.h"
#include "core/key_vocabulary.h"

namespace korvex {

GamepadMapping with_preset(const GamepadMapping& current, Preset preset) {
    return preset_mapping(preset, current.pad_output);
}

GamepadMapping with_pad_output(const GamepadMapping& current, PadOutputMode output) {
    GamepadMapping m = current;
    m.pad_output = output;
    return m;
}

GamepadMapping choose_preset(InputController& input, GamepadEngine& engine, Preset preset) {
    GamepadMapping m = with_preset(engine.mapping(), preset);
    install_mapping(input, engine, m);
    return m;
}

GamepadMapping choose_pad_output(InputController& input, GamepadEngine& engine, PadOutputMode output) {
    GamepadMapping m = with_pad_output(engine.mapping(), output);
    install_mapping(input, engine, m);
    return m;
}

std::optional<Preset> parse_preset_argument(std::string_view text) {
    const std::string n = normalize_key_name(text);
    if (n.size() == 1 && n[0] >= '0' && n[0] <= '3') return static_cast<Preset>(n[0] - '0');
    auto preset = parse_preset_name(n);
    if (!preset || *preset == Preset::Custom) return std::nullopt;
    return preset;
}

std::optional<PadOutputMode> parse_pad_output_argument(std::string_view text) { return parse_pad_output(text); }

std::string gamepad_status_line(PadOutputMode output, bool virtual_pad_plugged, Preset preset) {
    std::string line = "Gamepad: ";
    if (output == PadOutputMode::VirtualController) {
        line += "virtual controller (ViGEmBus)";
    } else {
        line += "keyboard / mouse mapping";
        if (!virtual_pad_plugged) line += " (ViGEmBus driver not installed)";
    }
    line += ", preset ";
    line += preset_label(preset);
    return line;
}

std::string gamepad_status_line(const GamepadEngine& engine) {
    return gamepad_status_line(
        engine.virtual_pad_in_use() ? PadOutputMode::VirtualController : PadOutputMode::KeyboardMouse,
        engine.has_virtual_pad(), engine.mapping().preset);
}

}  // namespace korvex
