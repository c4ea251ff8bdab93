#include "core/key_keysyms.h"

#include <array>

namespace korvex {
namespace {

constexpr KeysymRow kRows[] = {
    {0x04, 0x61, "a"}, {0x05, 0x62, "b"}, {0x06, 0x63, "c"}, {0x07, 0x64, "d"}, {0x08, 0x65, "e"},
    {0x09, 0x66, "f"}, {0x0A, 0x67, "g"}, {0x0B, 0x68, "h"}, {0x0C, 0x69, "i"}, {0x0D, 0x6A, "j"},
    {0x0E, 0x6B, "k"}, {0x0F, 0x6C, "l"}, {0x10, 0x6D, "m"}, {0x11, 0x6E, "n"}, {0x12, 0x6F, "o"},
    {0x13, 0x70, "p"}, {0x14, 0x71, "q"}, {0x15, 0x72, "r"}, {0x16, 0x73, "s"}, {0x17, 0x74, "t"},
    {0x18, 0x75, "u"}, {0x19, 0x76, "v"}, {0x1A, 0x77, "w"}, {0x1B, 0x78, "x"}, {0x1C, 0x79, "y"},
    {0x1D, 0x7A, "z"},
    {0x1E, 0x31, "1"}, {0x1F, 0x32, "2"}, {0x20, 0x33, "3"}, {0x21, 0x34, "4"}, {0x22, 0x35, "5"},
    {0x23, 0x36, "6"}, {0x24, 0x37, "7"}, {0x25, 0x38, "8"}, {0x26, 0x39, "9"}, {0x27, 0x30, "0"},
    {0x28, 0xFF0D, "Return"}, {0x29, 0xFF1B, "Escape"}, {0x2A, 0xFF08, "BackSpace"}, {0x2B, 0xFF09, "Tab"},
    {0x2C, 0x20, "space"}, {0x2D, 0x2D, "minus"}, {0x2E, 0x3D, "equal"}, {0x2F, 0x5B, "bracketleft"},
    {0x30, 0x5D, "bracketright"}, {0x31, 0x5C, "backslash"}, {0x33, 0x3B, "semicolon"},
    {0x34, 0x27, "apostrophe"}, {0x35, 0x60, "grave"}, {0x36, 0x2C, "comma"}, {0x37, 0x2E, "period"},
    {0x38, 0x2F, "slash"}, {0x39, 0xFFE5, "Caps_Lock"},
    {0x3A, 0xFFBE, "F1"}, {0x3B, 0xFFBF, "F2"}, {0x3C, 0xFFC0, "F3"}, {0x3D, 0xFFC1, "F4"},
    {0x3E, 0xFFC2, "F5"}, {0x3F, 0xFFC3, "F6"}, {0x40, 0xFFC4, "F7"}, {0x41, 0xFFC5, "F8"},
    {0x42, 0xFFC6, "F9"}, {0x43, 0xFFC7, "F10"}, {0x44, 0xFFC8, "F11"}, {0x45, 0xFFC9, "F12"},
    {0x46, 0xFF61, "Print"}, {0x49, 0xFF63, "Insert"}, {0x4A, 0xFF50, "Home"}, {0x4B, 0xFF55, "Prior"},
    {0x4C, 0xFFFF, "Delete"}, {0x4D, 0xFF57, "End"}, {0x4E, 0xFF56, "Next"}, {0x4F, 0xFF53, "Right"},
    {0x50, 0xFF51, "Left"}, {0x51, 0xFF54, "Down"}, {0x52, 0xFF52, "Up"},
    {0x54, 0xFFAF, "KP_Divide"}, {0x55, 0xFFAA, "KP_Multiply"}, {0x56, 0xFFAD, "KP_Subtract"},
    {0x57, 0xFFAB, "KP_Add"},
    {0x59, 0xFFB1, "KP_1"}, {0x5A, 0xFFB2, "KP_2"}, {0x5B, 0xFFB3, "KP_3"}, {0x5C, 0xFFB4, "KP_4"},
    {0x5D, 0xFFB5, "KP_5"}, {0x5E, 0xFFB6, "KP_6"}, {0x5F, 0xFFB7, "KP_7"}, {0x60, 0xFFB8, "KP_8"},
    {0x61, 0xFFB9, "KP_9"}, {0x62, 0xFFB0, "KP_0"},
    {0xE0, 0xFFE3, "Control_L"}, {0xE1, 0xFFE1, "Shift_L"}, {0xE2, 0xFFE9, "Alt_L"}, {0xE3, 0xFFEB, "Super_L"},
    {0xE4, 0xFFE4, "Control_R"}, {0xE5, 0xFFE2, "Shift_R"}, {0xE6, 0xFFEA, "Alt_R"},
};

constexpr MediaKeysym kMedia[] = {
    {0xAF, 0x1008FF13, "XF86AudioRaiseVolume"}, {0xAE, 0x1008FF11, "XF86AudioLowerVolume"},
    {0xAD, 0x1008FF12, "XF86AudioMute"},        {0xB3, 0x1008FF14, "XF86AudioPlay"},
    {0xB0, 0x1008FF17, "XF86AudioNext"},        {0xB1, 0x1008FF16, "XF86AudioPrev"},
};

constexpr std::uint32_t kNone = 0;

constexpr std::array<std::uint32_t, 256> make_usage_keysyms() {
    std::array<std::uint32_t, 256> table{};
    for (const auto& row : kRows) table[row.usage] = row.keysym;
    return table;
}
constexpr auto kByUsage = make_usage_keysyms();

}  // namespace

std::span<const KeysymRow> keysym_table() { return kRows; }
std::span<const MediaKeysym> media_keysyms() { return kMedia; }
std::span<const std::uint16_t> usages_without_keysym() { return {}; }

std::optional<std::uint32_t> usage_to_keysym(std::uint16_t usage) {
    if (usage >= kByUsage.size() || kByUsage[usage] == kNone) return std::nullopt;
    return kByUsage[usage];
}

std::optional<std::uint32_t> key_code_to_keysym(KeyCode code) {
    for (const auto& row : key_vocabulary())
        if (row.code.vk == code.vk) return usage_to_keysym(row.usage);
    for (const auto& media : kMedia)
        if (media.vk == code.vk) return media.keysym;
    return std::nullopt;
}

std::optional<std::uint32_t> codepoint_to_keysym(char32_t cp) {
    if (cp == U'\n' || cp == U'\r') return kKeysymReturn;
    if (cp == U'\t') return kKeysymTab;
    if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) return std::nullopt;
    if (cp >= 0xD800 && cp <= 0xDFFF) return std::nullopt;
    if (cp > 0x10FFFF) return std::nullopt;
    if (cp < 0x100) return static_cast<std::uint32_t>(cp);
    return 0x01000000u + static_cast<std::uint32_t>(cp);
}

std::vector<std::uint32_t> text_keysyms(std::span<const char16_t> units) {
    std::vector<std::uint32_t> out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t cp = units[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (cp == U'\r' && i + 1 < units.size() && units[i + 1] == u'\n') {
            continue;  // the newline that follows types the one Return
        }
        if (auto keysym = codepoint_to_keysym(cp)) out.push_back(*keysym);
    }
    return out;
}

}  // namespace korvex
