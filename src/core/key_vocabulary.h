#pragma once
// The keys this host knows. Keys travel and are stored as USB HID keyboard
// usages (page 0x07); they become Windows virtual-key and scan codes only at
// injection, through these tables.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace korvex {

// What one keyboard injection needs.
struct KeyCode {
    std::uint16_t vk = 0;
    std::uint16_t scan = 0;  // set-1 scan code, 0 when the tables have none
    bool extended = false;
    friend bool operator==(const KeyCode&, const KeyCode&) = default;
};

// ModifierMask of client events: Shift 1, Ctrl 2, Alt 4, Win 8; higher bits
// are ignored.
using ModifierMask = std::uint8_t;
inline constexpr ModifierMask kModShift = 1;
inline constexpr ModifierMask kModCtrl = 2;
inline constexpr ModifierMask kModAlt = 4;
inline constexpr ModifierMask kModWin = 8;
inline constexpr ModifierMask kModAll = 0x0F;

// The fixed left-hand key each modifier bit is injected as; `bit` is one of
// the four single bits.
KeyCode modifier_key_code(ModifierMask bit);

// The modifier bit of a left-hand modifier virtual key (0xA0, 0xA2, 0xA4,
// 0x5B), else 0.
ModifierMask modifier_bit_of_vk(std::uint16_t vk);

// The modifier bit of the usages 0xE0..0xE3 (Left Ctrl, Shift, Alt, Win),
// else 0. Right-hand modifier keys are plain keys.
ModifierMask modifier_bit_of_usage(std::uint16_t usage);

struct KeyVocabularyRow {
    std::string_view name;   // as written in the mapping file
    std::string_view label;  // as shown to the user
    std::uint16_t usage;
    KeyCode code;
};

// All 97 rows, in the order of the mapping window's key list.
std::span<const KeyVocabularyRow> key_vocabulary();

// Trimmed of white space, without spaces, hyphens and underscores, lower case.
std::string normalize_key_name(std::string_view text);

// The usage of a key name or one of its aliases, compared after
// normalisation; nothing for unknown or empty names.
std::optional<std::uint16_t> parse_key_name(std::string_view text);

// The row of a usage, or nothing when the usage cannot be injected.
const KeyVocabularyRow* find_key_row(std::uint16_t usage);
std::optional<KeyCode> usage_to_key_code(std::uint16_t usage);

// The KeyCode of the first usage (0x04..0x52, then 0xE0..0xE3) with this
// virtual key; keys without a row (media keys) get scan 0, not extended.
KeyCode vk_to_key_code(std::uint16_t vk);

}  // namespace korvex
