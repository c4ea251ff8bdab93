#pragma once
// The gamepad mapping file, "gamepad_mapping.json" in the data folder:
// pretty-printed JSON with two-space indentation. Reading never
// fails: whatever is missing or invalid falls back, member by member, to the
// preset's or the default values.
#include <optional>
#include <string>
#include <string_view>

#include "core/error.h"
#include "core/pad_mapping.h"

namespace korvex {

class FileSystem;

// The older file that only chose a preset ("wasdMouse", "arrows", "dualKeys").
// It is only read, never written or removed.
inline constexpr std::string_view kLegacyPadOutputFileName = "pad_output";

// Dead zone clamped to [0, 0.9] (0.2 when not finite), sensitivity to
// [0.1, 5.0] (1.0 when not finite). JSON text cannot carry a non-finite
// number (1e999 makes the whole file invalid), but a stick may come from
// elsewhere.
StickSettings clamp_stick_settings(StickSettings stick);

// The mapping a file's text describes; the default mapping when the text is
// not JSON (trailing white space is allowed) or not an object.
GamepadMapping parse_mapping(std::string_view text);

// The mapping the legacy file's text chooses, or nothing.
std::optional<GamepadMapping> parse_legacy_pad_output(std::string_view text);

// Reads the mapping file of the data folder; when it cannot be read, the
// legacy file; else the default mapping.
GamepadMapping load_mapping(FileSystem& fs, std::string_view data_dir);

// The file's text: version, mode, preset, the 16 bindings, both sticks.
std::string encode_mapping(const GamepadMapping& mapping);

// Creates the data folder, writes "gamepad_mapping.json.tmp" (flushed) and
// renames it over "gamepad_mapping.json". A failed rename leaves the
// temporary file behind.
Status save_mapping(FileSystem& fs, std::string_view data_dir, const GamepadMapping& mapping);

}  // namespace korvex
