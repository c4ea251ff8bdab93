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
    if (preset) return *preset == Preset::Custom ? std::nullopt : preset;
    for (std::size_t i = 0; i < kPresetCount; ++i) {
        const auto p = static_cast<Preset>(i);
        if (p == Preset::Custom) continue;
        const std::string_view label = preset_label(p);
        if (n == normalize_key_name(label) || n == normalize_key_name(label.substr(0, label.find(" ("))))
            return p;
    }
    return std::nullopt;
}

std::string preset_choices_text() {
    std::string text;
    for (std::size_t i = 0; i < kPresetCount; ++i) {
        if (static_cast<Preset>(i) == Preset::Custom) continue;
        if (!text.empty()) text += ", ";
        text += std::to_string(i) + " " + std::string(preset_label(static_cast<Preset>(i)));
    }
    return text;
}

std::optional<PadOutputMode> parse_pad_output_argument(std::string_view text) { return parse_pad_output(text); }

std::string gamepad_status_line(PadOutputMode output, bool virtual_pad_plugged, Preset preset, const OsTerms& terms) {
    std::string line = "Gamepad: ";
    if (output == PadOutputMode::VirtualController) {
        line += "virtual controller (" + std::string(terms.virtual_pad) + ")";
    } else {
        line += "keyboard / mouse mapping";
        if (!virtual_pad_plugged) line += " (" + std::string(terms.no_virtual_pad) + ")";
    }
    line += ", preset ";
    line += preset_label(preset);
    return line;
}

std::string gamepad_status_line(const GamepadEngine& engine, const OsTerms& terms) {
    return gamepad_status_line(
        engine.virtual_pad_in_use() ? PadOutputMode::VirtualController : PadOutputMode::KeyboardMouse,
        engine.has_virtual_pad(), engine.mapping().preset, terms);
}

}  // namespace korvex
