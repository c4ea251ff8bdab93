#pragma once
// X keysyms of the keys this host knows, beside the key vocabulary: one
// keysym for each vocabulary row, the media keys as their XF86 keysyms, and
// the keysym a typed character goes as. Plain numbers, so the table stays
// portable; the X sink turns them into keycodes of the current layout.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/key_vocabulary.h"

namespace korvex {

struct KeysymRow {
    std::uint16_t usage;    // a vocabulary usage
    std::uint32_t keysym;
    std::string_view name;  // the keysym's name as X spells it
};

struct MediaKeysym {
    std::uint16_t vk;  // the virtual key the dispatcher sends for the media command
    std::uint32_t keysym;
    std::string_view name;
};

// One row per vocabulary usage that has a keysym, in vocabulary order.
std::span<const KeysymRow> keysym_table();
std::span<const MediaKeysym> media_keysyms();
// Vocabulary usages deliberately left without a keysym (none today); a usage
// must be in exactly one of the two lists.
std::span<const std::uint16_t> usages_without_keysym();

std::optional<std::uint32_t> usage_to_keysym(std::uint16_t usage);
// The keysym of a KeyCode the dispatcher injects: the vocabulary row with its
// virtual key, else a media key; nothing for keys outside both.
std::optional<std::uint32_t> key_code_to_keysym(KeyCode code);

inline constexpr std::uint32_t kKeysymReturn = 0xFF0D;
inline constexpr std::uint32_t kKeysymTab = 0xFF09;
inline constexpr std::uint32_t kKeysymShiftL = 0xFFE1;

// The keysym a typed character goes as: Latin-1 printables as themselves,
// newline as Return, tab as Tab, everything else printable as its Unicode
// keysym (0x01000000 + code point); nothing for other control characters,
// surrogates and values beyond Unicode.
std::optional<std::uint32_t> codepoint_to_keysym(char32_t cp);

// The keysyms of a text in UTF-16 code units, in order: surrogate pairs
// joined, CR LF typed as one Return, characters without a keysym (and lone
// surrogates) skipped.
std::vector<std::uint32_t> text_keysyms(std::span<const char16_t> units);

}  // namespace korvex
