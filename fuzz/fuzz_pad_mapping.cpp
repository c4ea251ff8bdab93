// The gamepad mapping file (parse_mapping, load_mapping) and the legacy
// pad_output file (parse_legacy_pad_output). The input is read as either.
//
// Checked: whatever the text, the mapping's values are in their ranges; the
// file written for it (encode_mapping) reads back to a mapping that is
// written the same way again; load_mapping falls back to the legacy file
// when there is no mapping file; save_mapping writes what encode_mapping does.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/pad_mapping.h"
#include "core/pad_mapping_file.h"
#include "fuzz_common.h"

using namespace korvex;

namespace {

void check_stick(const StickSettings& s) {
    KORVEX_FUZZ_CHECK(std::isfinite(s.deadzone) && s.deadzone >= 0.0f && s.deadzone <= 0.9f);
    KORVEX_FUZZ_CHECK(std::isfinite(s.sensitivity) && s.sensitivity >= 0.1f && s.sensitivity <= 5.0f);
    KORVEX_FUZZ_CHECK(static_cast<std::uint8_t>(s.mode) <= static_cast<std::uint8_t>(StickMode::Scroll));
}

void check_ranges(const GamepadMapping& m) {
    for (const Binding& b : m.bindings) {
        switch (b.kind) {
            case BindingKind::Nothing: break;
            case BindingKind::Key: KORVEX_FUZZ_CHECK((b.mods() & ~kMapAll) == 0); break;
            case BindingKind::MouseButton: KORVEX_FUZZ_CHECK(b.button() >= 1 && b.button() <= 3); break;
            case BindingKind::MouseMove:
                KORVEX_FUZZ_CHECK(b.code <= 3);
                KORVEX_FUZZ_CHECK(std::isfinite(b.speed) && b.speed >= 0.1f && b.speed <= 5.0f);
                break;
            case BindingKind::Scroll:
                KORVEX_FUZZ_CHECK(b.code <= 3);
                KORVEX_FUZZ_CHECK(b.amount() >= 1 && b.amount() <= 10);
                break;
            default: KORVEX_FUZZ_CHECK(false && "unknown binding kind");
        }
    }
    check_stick(m.left_stick);
    check_stick(m.right_stick);
    KORVEX_FUZZ_CHECK(static_cast<std::size_t>(m.preset) < kPresetCount);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const GamepadMapping parsed = parse_mapping(text);
    check_ranges(parsed);
    const std::string written = encode_mapping(parsed);
    const GamepadMapping reread = parse_mapping(written);
    check_ranges(reread);
    KORVEX_FUZZ_CHECK(encode_mapping(reread) == written);
    KORVEX_FUZZ_CHECK(reread.preset == parsed.preset && reread.pad_output == parsed.pad_output);
    KORVEX_FUZZ_CHECK(reread.bindings == parsed.bindings);

    const auto legacy = parse_legacy_pad_output(text);
    if (legacy) check_ranges(*legacy);

    test::MemoryFileSystem fs;
    fs.files["/data/pad_output"] = Bytes(data, data + size);
    const GamepadMapping from_legacy = load_mapping(fs, "/data");
    KORVEX_FUZZ_CHECK(from_legacy == legacy.value_or(default_mapping()));
    // A mapping file, once saved, is read instead of the legacy file. (Key
    // lookups are the expensive part here, so the file is not parsed a third
    // time: load_mapping reads it with parse_mapping.)
    KORVEX_FUZZ_CHECK(save_mapping(fs, "/data", parsed).has_value());
    KORVEX_FUZZ_CHECK(fs.text("/data/gamepad_mapping.json") == written);
    KORVEX_FUZZ_CHECK(fs.files.count("/data/gamepad_mapping.json.tmp") == 0);
    return 0;
}
