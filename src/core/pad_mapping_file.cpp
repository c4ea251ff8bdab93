#include "core/pad_mapping_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

#include "core/data_files.h"
#include "core/json.h"
#include "core/key_vocabulary.h"
#include "platform/file_system.h"

namespace korvex {
namespace {

using Json = nlohmann::json;

constexpr float kMinSpeed = 0.1f, kMaxSpeed = 5.0f;
constexpr double kMinAmount = 1.0, kMaxAmount = 10.0;
constexpr float kMaxDeadzone = 0.9f, kFallbackDeadzone = 0.2f;
constexpr float kMinSensitivity = 0.1f, kMaxSensitivity = 5.0f, kFallbackSensitivity = 1.0f;

const Json* member(const Json& object, std::string_view name) {
    auto it = object.find(name);
    return it == object.end() ? nullptr : &*it;
}

std::optional<std::string> string_member(const Json& object, std::string_view name) {
    const Json* v = member(object, name);
    if (v == nullptr || !v->is_string()) return std::nullopt;
    return v->get<std::string>();
}

std::optional<double> number_member(const Json& object, std::string_view name) {
    const Json* v = member(object, name);
    if (v == nullptr || !v->is_number()) return std::nullopt;
    return v->get<double>();
}

bool is_none(std::string_view text) { return normalize_key_name(text) == "none"; }

std::optional<std::uint8_t> key_usage(std::string_view text) {
    auto usage = parse_key_name(text);
    if (!usage || *usage > 0xFF) return std::nullopt;
    return static_cast<std::uint8_t>(*usage);
}

MappingMods modifiers_of(const Json& object) {
    const Json* list = member(object, "mods");
    if (list == nullptr) list = member(object, "modifiers");
    if (list == nullptr || !list->is_array()) return 0;
    MappingMods mods = 0;
    for (const Json& item : *list) {
        if (item.is_string()) mods |= parse_mapping_modifier(item.get<std::string>());
    }
    return mods;
}

std::optional<PadDirection> direction_of(const Json& object) {
    auto text = string_member(object, "direction");
    if (!text) text = string_member(object, "dir");
    if (!text) return std::nullopt;
    return parse_direction(*text);
}

// A binding as the file gives it, or nothing when the slot keeps its value.
std::optional<Binding> parse_binding(const Json& value) {
    if (value.is_string()) {
        const auto text = value.get<std::string>();
        if (is_none(text) || normalize_key_name(text).empty()) return Binding::nothing();
        if (auto usage = key_usage(text)) return Binding::key(*usage);
        return std::nullopt;
    }
    if (!value.is_object()) return std::nullopt;
    auto type_text = string_member(value, "type");
    if (!type_text) return std::nullopt;
    const std::string type = normalize_key_name(*type_text);
    if (type == "off" || type == "none" || type == "nothing") return Binding::nothing();
    if (type == "key") {
        auto key = string_member(value, "key");
        if (!key) return std::nullopt;
        auto usage = key_usage(*key);
        if (!usage) return std::nullopt;
        return Binding::key(*usage, modifiers_of(value));
    }
    if (type == "mouse" || type == "mousebutton") {
        auto text = string_member(value, "button");
        if (!text) return std::nullopt;
        auto button = parse_mouse_button(*text);
        if (!button) return std::nullopt;
        return Binding::mouse_button(*button);
    }
    if (type == "move" || type == "pointer" || type == "mousemove") {
        auto direction = direction_of(value);
        if (!direction) return std::nullopt;
        double speed = number_member(value, "speed").value_or(1.0);
        if (std::isnan(speed)) speed = 1.0;
        return Binding::mouse_move(*direction, std::clamp(static_cast<float>(speed), kMinSpeed, kMaxSpeed));
    }
    if (type == "wheel" || type == "scroll") {
        auto direction = direction_of(value);
        if (!direction) return std::nullopt;
        double amount = number_member(value, "amount").value_or(1.0);
        if (std::isnan(amount)) amount = 1.0;
        amount = std::round(std::clamp(amount, kMinAmount, kMaxAmount));
        return Binding::scroll(*direction, static_cast<std::uint8_t>(amount));
    }
    return std::nullopt;
}

void apply_stick(const Json& value, StickSettings& stick) {
    if (auto text = string_member(value, "mode")) {
        if (auto mode = parse_stick_mode(*text)) stick.mode = *mode;
    }
    static constexpr std::string_view kDirectionMembers[4] = {"up", "down", "left", "right"};
    for (std::size_t i = 0; i < 4; ++i) {
        auto text = string_member(value, kDirectionMembers[i]);
        if (!text) continue;
        if (is_none(*text)) {
            stick.keys[i] = 0;
        } else if (auto usage = key_usage(*text)) {
            stick.keys[i] = *usage;
        }
    }
    if (auto n = number_member(value, "deadzone")) stick.deadzone = static_cast<float>(*n);
    if (auto n = number_member(value, "sensitivity")) stick.sensitivity = static_cast<float>(*n);
    if (const Json* v = member(value, "invertY"); v != nullptr && v->is_boolean()) stick.invert_y = v->get<bool>();
}

std::string key_name(std::uint8_t usage) {
    if (usage == 0) return "none";
    const KeyVocabularyRow* row = find_key_row(usage);
    return row != nullptr ? std::string(row->name) : std::string("none");
}

// The shortest decimal that reads back as the same f32, as a double, so that
// 0.1f is written as 0.1.
double shortest(float value) {
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    double out = value;
    if (ec == std::errc()) (void)std::from_chars(buf, end, out);
    return out;
}

double three_decimals(float value) { return shortest(static_cast<float>(std::round(double{value} * 1000.0) / 1000.0)); }

nlohmann::ordered_json binding_json(const Binding& b) {
    nlohmann::ordered_json j;
    switch (b.kind) {
        case BindingKind::Key: {
            j["type"] = "key";
            j["key"] = key_name(b.usage());
            auto mods = nlohmann::ordered_json::array();
            if (b.mods() & kMapCtrl) mods.push_back("ctrl");
            if (b.mods() & kMapShift) mods.push_back("shift");
            if (b.mods() & kMapAlt) mods.push_back("alt");
            if (b.mods() & kMapWin) mods.push_back("win");
            j["mods"] = std::move(mods);
            break;
        }
        case BindingKind::MouseButton:
            j["type"] = "mouse";
            j["button"] = b.button() >= 1 && b.button() <= 3 ? mouse_button_name(b.button()) : "left";
            break;
        case BindingKind::MouseMove:
            j["type"] = "mouseMove";
            j["direction"] = direction_name(b.direction());
            j["speed"] = shortest(b.speed);
            break;
        case BindingKind::Scroll:
            j["type"] = "scroll";
            j["direction"] = direction_name(b.direction());
            j["amount"] = b.amount();
            break;
        case BindingKind::Nothing:
        default: j["type"] = "none"; break;
    }
    return j;
}

nlohmann::ordered_json stick_json(const StickSettings& s) {
    nlohmann::ordered_json j;
    j["mode"] = stick_mode_name(s.mode);
    j["up"] = key_name(s.keys[0]);
    j["down"] = key_name(s.keys[1]);
    j["left"] = key_name(s.keys[2]);
    j["right"] = key_name(s.keys[3]);
    j["deadzone"] = three_decimals(s.deadzone);
    j["sensitivity"] = three_decimals(s.sensitivity);
    j["invertY"] = s.invert_y;
    return j;
}

}  // namespace

StickSettings clamp_stick_settings(StickSettings stick) {
    stick.deadzone = std::isfinite(stick.deadzone) ? std::clamp(stick.deadzone, 0.0f, kMaxDeadzone) : kFallbackDeadzone;
    stick.sensitivity = std::isfinite(stick.sensitivity)
                            ? std::clamp(stick.sensitivity, kMinSensitivity, kMaxSensitivity)
                            : kFallbackSensitivity;
    return stick;
}

GamepadMapping parse_mapping(std::string_view text) {
    auto doc = parse_json_document(text);
    if (!doc || !(*doc)->is_object()) return default_mapping();
    const Json& root = **doc;

    std::optional<Preset> preset;
    if (auto name = string_member(root, "preset")) preset = parse_preset_name(*name);
    GamepadMapping m = preset_mapping(preset.value_or(Preset::Shooter));

    if (auto mode = string_member(root, "mode")) {
        if (auto output = parse_pad_output(*mode)) m.pad_output = *output;
    }

    if (const Json* bindings = member(root, "bindings"); bindings != nullptr && bindings->is_object()) {
        for (const auto& [name, value] : bindings->items()) {
            auto slot = parse_slot_name(name);
            if (!slot) continue;
            if (auto binding = parse_binding(value)) m.binding(*slot) = *binding;
        }
    }

    if (const Json* v = member(root, "leftStick"); v != nullptr && v->is_object()) apply_stick(*v, m.left_stick);
    if (const Json* v = member(root, "rightStick"); v != nullptr && v->is_object()) apply_stick(*v, m.right_stick);
    m.left_stick = clamp_stick_settings(m.left_stick);
    m.right_stick = clamp_stick_settings(m.right_stick);

    // Without a known preset name the values start from shooter's; they are
    // called shooter only while they still are shooter's.
    if (!preset) {
        GamepadMapping shooter = preset_mapping(Preset::Shooter, m.pad_output);
        m.preset = m == shooter ? Preset::Shooter : Preset::Custom;
    }
    return m;
}

std::optional<GamepadMapping> parse_legacy_pad_output(std::string_view text) {
    constexpr std::string_view kSpace = " \t\r\n\f\v";
    std::size_t begin = text.find_first_not_of(kSpace);
    if (begin == std::string_view::npos) return std::nullopt;
    std::string_view trimmed = text.substr(begin, text.find_last_not_of(kSpace) - begin + 1);
    if (trimmed == "wasdMouse") return preset_mapping(Preset::Shooter);
    if (trimmed == "arrows") return preset_mapping(Preset::Arrows);
    if (trimmed == "dualKeys") return preset_mapping(Preset::TwinStick);
    return std::nullopt;
}

GamepadMapping load_mapping(FileSystem& fs, std::string_view data_dir) {
    const char sep = fs.separator();
    auto file = fs.read_file(join_path(data_dir, kMappingFileName, sep));
    if (file && *file) {
        return parse_mapping(as_text(**file));
    }
    auto legacy = fs.read_file(join_path(data_dir, kLegacyPadOutputFileName, sep));
    if (legacy && *legacy) {
        if (auto m = parse_legacy_pad_output(as_text(**legacy))) return *m;
    }
    return default_mapping();
}

std::string encode_mapping(const GamepadMapping& m) {
    nlohmann::ordered_json root;
    root["version"] = 1;
    root["mode"] = pad_output_name(m.pad_output);
    root["preset"] = preset_name(m.preset);
    nlohmann::ordered_json bindings = nlohmann::ordered_json::object();
    for (std::size_t i = 0; i < kPadSlotCount; ++i) {
        bindings[std::string(slot_name(static_cast<PadSlot>(i)))] = binding_json(m.bindings[i]);
    }
    root["bindings"] = std::move(bindings);
    root["leftStick"] = stick_json(m.left_stick);
    root["rightStick"] = stick_json(m.right_stick);
    // Two-space indentation, "name": value, as JsonWriter's pretty style.
    return root.dump(2);
}

Status save_mapping(FileSystem& fs, std::string_view data_dir, const GamepadMapping& mapping) {
    if (auto made = fs.create_directories(std::string(data_dir)); !made) return made;
    const std::string path = join_path(data_dir, kMappingFileName, fs.separator());
    const std::string tmp = path + ".tmp";
    const std::string text = encode_mapping(mapping);
    if (auto written = fs.write_file_flushed(tmp, as_bytes(text)); !written) return written;
    return fs.rename_replace(tmp, path);
}

}  // namespace korvex
