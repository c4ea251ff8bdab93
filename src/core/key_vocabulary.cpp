#include "core/key_vocabulary.h"

#include <array>

#include "core/input_text.h"

namespace korvex {
namespace {

constexpr KeyVocabularyRow kRows[] = {
    {"a", "A", 0x04, {0x41, 0x1E, false}},
    {"b", "B", 0x05, {0x42, 0x30, false}},
    {"c", "C", 0x06, {0x43, 0x2E, false}},
    {"d", "D", 0x07, {0x44, 0x20, false}},
    {"e", "E", 0x08, {0x45, 0x12, false}},
    {"f", "F", 0x09, {0x46, 0x21, false}},
    {"g", "G", 0x0A, {0x47, 0x22, false}},
    {"h", "H", 0x0B, {0x48, 0x23, false}},
    {"i", "I", 0x0C, {0x49, 0x17, false}},
    {"j", "J", 0x0D, {0x4A, 0x24, false}},
    {"k", "K", 0x0E, {0x4B, 0x25, false}},
    {"l", "L", 0x0F, {0x4C, 0x26, false}},
    {"m", "M", 0x10, {0x4D, 0x32, false}},
    {"n", "N", 0x11, {0x4E, 0x31, false}},
    {"o", "O", 0x12, {0x4F, 0x18, false}},
    {"p", "P", 0x13, {0x50, 0x19, false}},
    {"q", "Q", 0x14, {0x51, 0x10, false}},
    {"r", "R", 0x15, {0x52, 0x13, false}},
    {"s", "S", 0x16, {0x53, 0x1F, false}},
    {"t", "T", 0x17, {0x54, 0x14, false}},
    {"u", "U", 0x18, {0x55, 0x16, false}},
    {"v", "V", 0x19, {0x56, 0x2F, false}},
    {"w", "W", 0x1A, {0x57, 0x11, false}},
    {"x", "X", 0x1B, {0x58, 0x2D, false}},
    {"y", "Y", 0x1C, {0x59, 0x15, false}},
    {"z", "Z", 0x1D, {0x5A, 0x2C, false}},
    {"1", "1", 0x1E, {0x31, 0x02, false}},
    {"2", "2", 0x1F, {0x32, 0x03, false}},
    {"3", "3", 0x20, {0x33, 0x04, false}},
    {"4", "4", 0x21, {0x34, 0x05, false}},
    {"5", "5", 0x22, {0x35, 0x06, false}},
    {"6", "6", 0x23, {0x36, 0x07, false}},
    {"7", "7", 0x24, {0x37, 0x08, false}},
    {"8", "8", 0x25, {0x38, 0x09, false}},
    {"9", "9", 0x26, {0x39, 0x0A, false}},
    {"0", "0", 0x27, {0x30, 0x0B, false}},
    {"enter", "Enter", 0x28, {0x0D, 0x1C, false}},
    {"escape", "Esc", 0x29, {0x1B, 0x01, false}},
    {"backspace", "Backspace", 0x2A, {0x08, 0x0E, false}},
    {"tab", "Tab", 0x2B, {0x09, 0x0F, false}},
    {"space", "Space", 0x2C, {0x20, 0x39, false}},
    {"minus", "-", 0x2D, {0xBD, 0x0C, false}},
    {"equal", "=", 0x2E, {0xBB, 0x0D, false}},
    {"leftBracket", "[", 0x2F, {0xDB, 0x1A, false}},
    {"rightBracket", "]", 0x30, {0xDD, 0x1B, false}},
    {"backslash", "\\", 0x31, {0xDC, 0x2B, false}},
    {"semicolon", ";", 0x33, {0xBA, 0x27, false}},
    {"quote", "'", 0x34, {0xDE, 0x28, false}},
    {"grave", "`", 0x35, {0xC0, 0x29, false}},
    {"comma", ",", 0x36, {0xBC, 0x33, false}},
    {"period", ".", 0x37, {0xBE, 0x34, false}},
    {"slash", "/", 0x38, {0xBF, 0x35, false}},
    {"capsLock", "Caps Lock", 0x39, {0x14, 0x3A, false}},
    {"f1", "F1", 0x3A, {0x70, 0x3B, false}},
    {"f2", "F2", 0x3B, {0x71, 0x3C, false}},
    {"f3", "F3", 0x3C, {0x72, 0x3D, false}},
    {"f4", "F4", 0x3D, {0x73, 0x3E, false}},
    {"f5", "F5", 0x3E, {0x74, 0x3F, false}},
    {"f6", "F6", 0x3F, {0x75, 0x40, false}},
    {"f7", "F7", 0x40, {0x76, 0x41, false}},
    {"f8", "F8", 0x41, {0x77, 0x42, false}},
    {"f9", "F9", 0x42, {0x78, 0x43, false}},
    {"f10", "F10", 0x43, {0x79, 0x44, false}},
    {"f11", "F11", 0x44, {0x7A, 0x57, false}},
    {"f12", "F12", 0x45, {0x7B, 0x58, false}},
    {"printScreen", "Print Screen", 0x46, {0x2C, 0x37, true}},
    {"insert", "Insert", 0x49, {0x2D, 0x52, true}},
    {"home", "Home", 0x4A, {0x24, 0x47, true}},
    {"pageUp", "Page Up", 0x4B, {0x21, 0x49, true}},
    {"delete", "Delete", 0x4C, {0x2E, 0x53, true}},
    {"end", "End", 0x4D, {0x23, 0x4F, true}},
    {"pageDown", "Page Down", 0x4E, {0x22, 0x51, true}},
    {"right", "Right", 0x4F, {0x27, 0x4D, true}},
    {"left", "Left", 0x50, {0x25, 0x4B, true}},
    {"down", "Down", 0x51, {0x28, 0x50, true}},
    {"up", "Up", 0x52, {0x26, 0x48, true}},
    {"numpadDivide", "Num /", 0x54, {0x6F, 0x35, true}},
    {"numpadMultiply", "Num *", 0x55, {0x6A, 0x37, false}},
    {"numpadMinus", "Num -", 0x56, {0x6D, 0x4A, false}},
    {"numpadPlus", "Num +", 0x57, {0x6B, 0x4E, false}},
    {"numpad1", "Num 1", 0x59, {0x61, 0x4F, false}},
    {"numpad2", "Num 2", 0x5A, {0x62, 0x50, false}},
    {"numpad3", "Num 3", 0x5B, {0x63, 0x51, false}},
    {"numpad4", "Num 4", 0x5C, {0x64, 0x4B, false}},
    {"numpad5", "Num 5", 0x5D, {0x65, 0x4C, false}},
    {"numpad6", "Num 6", 0x5E, {0x66, 0x4D, false}},
    {"numpad7", "Num 7", 0x5F, {0x67, 0x47, false}},
    {"numpad8", "Num 8", 0x60, {0x68, 0x48, false}},
    {"numpad9", "Num 9", 0x61, {0x69, 0x49, false}},
    {"numpad0", "Num 0", 0x62, {0x60, 0x52, false}},
    {"leftCtrl", "Left Ctrl", 0xE0, {0xA2, 0x1D, false}},
    {"leftShift", "Left Shift", 0xE1, {0xA0, 0x2A, false}},
    {"leftAlt", "Left Alt", 0xE2, {0xA4, 0x38, false}},
    {"leftWin", "Win", 0xE3, {0x5B, 0x5B, true}},
    {"rightCtrl", "Right Ctrl", 0xE4, {0xA3, 0x1D, true}},
    {"rightShift", "Right Shift", 0xE5, {0xA1, 0x36, false}},
    {"rightAlt", "Right Alt", 0xE6, {0xA5, 0x38, true}},
};
static_assert(std::size(kRows) == 97);

struct Alias {
    std::string_view alias;  // already normalised
    std::uint16_t usage;
};

constexpr Alias kAliases[] = {
    {"esc", 0x29}, {"return", 0x28}, {"spacebar", 0x2C}, {"caps", 0x39},
    {"del", 0x4C}, {"forwarddelete", 0x4C}, {"ins", 0x49}, {"pgup", 0x4B},
    {"pgdn", 0x4E}, {"pgdown", 0x4E}, {"dash", 0x2D}, {"hyphen", 0x2D},
    {"plus", 0x2E}, {"equals", 0x2E}, {"dot", 0x37}, {"tilde", 0x35},
    {"backtick", 0x35}, {"apostrophe", 0x34}, {"lbracket", 0x2F}, {"openbracket", 0x2F},
    {"rbracket", 0x30}, {"closebracket", 0x30}, {"arrowup", 0x52}, {"uparrow", 0x52},
    {"arrowdown", 0x51}, {"downarrow", 0x51}, {"arrowleft", 0x50}, {"leftarrow", 0x50},
    {"arrowright", 0x4F}, {"rightarrow", 0x4F},
    {"ctrl", 0xE0}, {"lctrl", 0xE0}, {"control", 0xE0}, {"lcontrol", 0xE0}, {"leftcontrol", 0xE0},
    {"shift", 0xE1}, {"lshift", 0xE1},
    {"alt", 0xE2}, {"lalt", 0xE2}, {"option", 0xE2}, {"leftoption", 0xE2},
    {"win", 0xE3}, {"cmd", 0xE3}, {"meta", 0xE3}, {"super", 0xE3}, {"lwin", 0xE3}, {"lcmd", 0xE3},
    {"lgui", 0xE3}, {"lsuper", 0xE3}, {"command", 0xE3}, {"leftmeta", 0xE3}, {"leftcommand", 0xE3},
    {"rctrl", 0xE4}, {"rcontrol", 0xE4}, {"rightcontrol", 0xE4},
    {"rshift", 0xE5},
    {"ralt", 0xE6}, {"altgr", 0xE6}, {"rightoption", 0xE6},
};

constexpr std::uint8_t kNoRow = 0xFF;

// Usage -> row index; every usage of the table is below 0x100.
constexpr std::array<std::uint8_t, 256> make_usage_index() {
    std::array<std::uint8_t, 256> index{};
    for (auto& slot : index) slot = kNoRow;
    for (std::size_t i = 0; i < std::size(kRows); ++i) index[kRows[i].usage] = static_cast<std::uint8_t>(i);
    return index;
}
constexpr auto kUsageIndex = make_usage_index();

// vk -> KeyCode by the search order 0x04..0x52, then 0xE0..0xE3.
constexpr std::array<std::uint8_t, 256> make_vk_index() {
    std::array<std::uint8_t, 256> index{};
    for (auto& slot : index) slot = kNoRow;
    auto visit = [&](std::uint16_t usage) {
        std::uint8_t row = kUsageIndex[usage];
        if (row == kNoRow) return;
        std::uint16_t vk = kRows[row].code.vk;
        if (index[vk] == kNoRow) index[vk] = row;
    };
    for (std::uint16_t u = 0x04; u <= 0x52; ++u) visit(u);
    for (std::uint16_t u = 0xE0; u <= 0xE3; ++u) visit(u);
    return index;
}
constexpr auto kVkIndex = make_vk_index();

constexpr KeyCode kModifierKeys[4] = {
    {0xA0, 0x2A, false},  // Shift
    {0xA2, 0x1D, false},  // Ctrl
    {0xA4, 0x38, false},  // Alt
    {0x5B, 0x5B, true},   // Win
};

}  // namespace

KeyCode modifier_key_code(ModifierMask bit) {
    switch (bit) {
        case kModShift: return kModifierKeys[0];
        case kModCtrl: return kModifierKeys[1];
        case kModAlt: return kModifierKeys[2];
        default: return kModifierKeys[3];
    }
}

ModifierMask modifier_bit_of_vk(std::uint16_t vk) {
    switch (vk) {
        case 0xA0: return kModShift;
        case 0xA2: return kModCtrl;
        case 0xA4: return kModAlt;
        case 0x5B: return kModWin;
        default: return 0;
    }
}

ModifierMask modifier_bit_of_usage(std::uint16_t usage) {
    switch (usage) {
        case 0xE0: return kModCtrl;
        case 0xE1: return kModShift;
        case 0xE2: return kModAlt;
        case 0xE3: return kModWin;
        default: return 0;
    }
}

std::span<const KeyVocabularyRow> key_vocabulary() { return kRows; }

std::string normalize_key_name(std::string_view text) {
    // Trim white space at both ends (Unicode White_Space), whole code points.
    std::size_t begin = 0, end = text.size();
    while (begin < end) {
        Utf8Step step = decode_utf8_at(text, begin);
        if (step.length == 0 || !is_unicode_white_space(step.cp)) break;
        begin += step.length;
    }
    std::size_t last_kept = begin;  // end of the last non-white code point
    for (std::size_t i = begin; i < end;) {
        Utf8Step step = decode_utf8_at(text, i);
        std::size_t len = step.length == 0 ? 1 : step.length;
        if (step.length == 0 || !is_unicode_white_space(step.cp)) last_kept = i + len;
        i += len;
    }
    end = last_kept;
    std::string kept;
    kept.reserve(end - begin);
    for (std::size_t i = begin; i < end; ++i) {
        char c = text[i];
        if (c != ' ' && c != '-' && c != '_') kept.push_back(c);
    }
    return lower_case_full(kept);
}

std::optional<std::uint16_t> parse_key_name(std::string_view text) {
    std::string name = normalize_key_name(text);
    if (name.empty()) return std::nullopt;
    // The rows' names in normalised form, worked out once: a mapping file
    // looks up dozens of names.
    static const std::array<std::string, std::size(kRows)> kNormalisedNames = [] {
        std::array<std::string, std::size(kRows)> names;
        for (std::size_t i = 0; i < std::size(kRows); ++i) names[i] = normalize_key_name(kRows[i].name);
        return names;
    }();
    for (std::size_t i = 0; i < std::size(kRows); ++i) {
        if (kNormalisedNames[i] == name) return kRows[i].usage;
    }
    for (const auto& alias : kAliases) {
        if (alias.alias == name) return alias.usage;
    }
    return std::nullopt;
}

const KeyVocabularyRow* find_key_row(std::uint16_t usage) {
    if (usage >= kUsageIndex.size() || kUsageIndex[usage] == kNoRow) return nullptr;
    return &kRows[kUsageIndex[usage]];
}

std::optional<KeyCode> usage_to_key_code(std::uint16_t usage) {
    const KeyVocabularyRow* row = find_key_row(usage);
    if (row == nullptr) return std::nullopt;
    return row->code;
}

KeyCode vk_to_key_code(std::uint16_t vk) {
    if (vk < kVkIndex.size() && kVkIndex[vk] != kNoRow) return kRows[kVkIndex[vk]].code;
    return KeyCode{vk, 0, false};
}

}  // namespace korvex
