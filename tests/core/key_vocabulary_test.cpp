#include "core/key_vocabulary.h"

#include <gtest/gtest.h>

#include <set>

#include "core/input_text.h"

namespace korvex {
namespace {

TEST(KeyVocabulary, HasNinetySevenRowsWithDistinctNamesAndUsages) {
    auto rows = key_vocabulary();
    ASSERT_EQ(rows.size(), 97u);
    std::set<std::string_view> names;
    std::set<std::uint16_t> usages;
    for (const auto& row : rows) {
        names.insert(row.name);
        usages.insert(row.usage);
    }
    EXPECT_EQ(names.size(), 97u);
    EXPECT_EQ(usages.size(), 97u);
    // The mapping window lists keys in table order.
    EXPECT_EQ(rows.front().name, "a");
    EXPECT_EQ(rows[26].name, "1");
    EXPECT_EQ(rows[35].name, "0");
    EXPECT_EQ(rows.back().name, "rightAlt");
}

TEST(KeyVocabulary, EveryNameParsesBackToItsUsage) {
    for (const auto& row : key_vocabulary()) {
        EXPECT_EQ(parse_key_name(row.name), row.usage) << row.name;
    }
}

struct RowCase {
    std::uint16_t usage;
    std::string_view name, label;
    KeyCode code;
};

TEST(KeyVocabulary, RowsMatchTheTable) {
    const RowCase cases[] = {
        {0x04, "a", "A", {0x41, 0x1E, false}},
        {0x10, "m", "M", {0x4D, 0x32, false}},
        {0x1D, "z", "Z", {0x5A, 0x2C, false}},
        {0x1E, "1", "1", {0x31, 0x02, false}},
        {0x26, "9", "9", {0x39, 0x0A, false}},
        {0x27, "0", "0", {0x30, 0x0B, false}},
        {0x29, "escape", "Esc", {0x1B, 0x01, false}},
        {0x31, "backslash", "\\", {0xDC, 0x2B, false}},
        {0x35, "grave", "`", {0xC0, 0x29, false}},
        {0x39, "capsLock", "Caps Lock", {0x14, 0x3A, false}},
        {0x43, "f10", "F10", {0x79, 0x44, false}},
        {0x44, "f11", "F11", {0x7A, 0x57, false}},
        {0x46, "printScreen", "Print Screen", {0x2C, 0x37, true}},
        {0x4B, "pageUp", "Page Up", {0x21, 0x49, true}},
        {0x4F, "right", "Right", {0x27, 0x4D, true}},
        {0x54, "numpadDivide", "Num /", {0x6F, 0x35, true}},
        {0x55, "numpadMultiply", "Num *", {0x6A, 0x37, false}},
        {0x59, "numpad1", "Num 1", {0x61, 0x4F, false}},
        {0x61, "numpad9", "Num 9", {0x69, 0x49, false}},
        {0x62, "numpad0", "Num 0", {0x60, 0x52, false}},
        {0xE0, "leftCtrl", "Left Ctrl", {0xA2, 0x1D, false}},
        {0xE3, "leftWin", "Win", {0x5B, 0x5B, true}},
        {0xE4, "rightCtrl", "Right Ctrl", {0xA3, 0x1D, true}},
        {0xE6, "rightAlt", "Right Alt", {0xA5, 0x38, true}},
    };
    for (const auto& c : cases) {
        const KeyVocabularyRow* row = find_key_row(c.usage);
        ASSERT_NE(row, nullptr) << c.name;
        EXPECT_EQ(row->name, c.name);
        EXPECT_EQ(row->label, c.label);
        EXPECT_EQ(row->code, c.code) << c.name;
        EXPECT_EQ(usage_to_key_code(c.usage), c.code) << c.name;
    }
}

TEST(KeyVocabulary, UsagesOutsideTheTableCannotBeInjected) {
    // Right Win, Scroll Lock, Pause, Num Lock, keypad Enter, keypad period,
    // the non-US backslash, and beyond.
    for (unsigned usage : {0x00, 0x03, 0x32, 0x47, 0x48, 0x53, 0x58, 0x63, 0x64, 0xE7, 0xFF, 0x100, 0xFFFF}) {
        EXPECT_FALSE(usage_to_key_code(static_cast<std::uint16_t>(usage)).has_value()) << usage;
    }
}

TEST(KeyVocabulary, VkToKeyCode) {
    struct Case {
        std::uint16_t vk;
        KeyCode code;
    };
    const Case cases[] = {
        {0xAF, {0xAF, 0, false}},     // volume up: no row
        {0x27, {0x27, 0x4D, true}},   // right arrow
        {0xA2, {0xA2, 0x1D, false}},  // Left Ctrl, found among 0xE0..0xE3
        {0x5B, {0x5B, 0x5B, true}},
        {0xA3, {0xA3, 0, false}},     // Right Ctrl is not searched
        {0x6F, {0x6F, 0, false}},     // numpad divide lies beyond 0x52
        {0x56, {0x56, 0x2F, false}},  // V
        {0x1234, {0x1234, 0, false}},
    };
    for (const auto& c : cases) EXPECT_EQ(vk_to_key_code(c.vk), c.code) << c.vk;
}

TEST(KeyVocabulary, ParseKeyName) {
    struct Case {
        std::string_view text;
        std::optional<std::uint16_t> usage;
    };
    const Case cases[] = {
        {"  Page-Up  ", 0x4B},
        {"page_up", 0x4B},
        {"PAGEUP", 0x4B},
        {"AltGr", 0xE6},
        {"ALTGR", 0xE6},
        {"altgr", 0xE6},
        {"Esc", 0x29},
        {"return", 0x28},
        {"Forward Delete", 0x4C},
        {"pg-dn", 0x4E},
        {"cmd", 0xE3},
        {"Left Meta", 0xE3},
        {"r_ctrl", 0xE4},
        {"Numpad 5", 0x5D},
        {"Num 5", std::nullopt},  // labels are not names
        {"numpad_minus", 0x56},
        {"F12", 0x45},
        {"\t\u00A0space\u3000", 0x2C},  // Unicode white space trimmed
        {"bac\u212Aspace", 0x2A},       // KELVIN SIGN lower-cases to k
        {"none", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"-_ -", std::nullopt},
        {"rightWin", std::nullopt},
        {"numlock", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_key_name(c.text), c.usage) << c.text;
}

TEST(KeyVocabulary, NormalizeKeyName) {
    struct Case {
        std::string_view text, normalized;
    };
    const Case cases[] = {
        {" Page Up ", "pageup"},
        {"Left_Shift-Key", "leftshiftkey"},
        {"\u00C9T\u00C9", "\u00E9t\u00E9"},
        {"\u0130", "i\u0307"},
        {"\u03A3\u0391", "\u03C3\u03B1"},
        {"A B\u00A0C", "ab\u00A0c"},  // only the ASCII space is removed inside
        {"\xFF" "A", "\xFF" "a"},     // bytes that are not UTF-8 pass unchanged
    };
    for (const auto& c : cases) EXPECT_EQ(normalize_key_name(c.text), c.normalized) << c.text;
}

TEST(KeyVocabulary, ModifierBits) {
    EXPECT_EQ(modifier_key_code(kModShift), (KeyCode{0xA0, 0x2A, false}));
    EXPECT_EQ(modifier_key_code(kModCtrl), (KeyCode{0xA2, 0x1D, false}));
    EXPECT_EQ(modifier_key_code(kModAlt), (KeyCode{0xA4, 0x38, false}));
    EXPECT_EQ(modifier_key_code(kModWin), (KeyCode{0x5B, 0x5B, true}));
    EXPECT_EQ(modifier_bit_of_usage(0xE0), kModCtrl);
    EXPECT_EQ(modifier_bit_of_usage(0xE1), kModShift);
    EXPECT_EQ(modifier_bit_of_usage(0xE2), kModAlt);
    EXPECT_EQ(modifier_bit_of_usage(0xE3), kModWin);
    EXPECT_EQ(modifier_bit_of_usage(0xE5), 0);
    EXPECT_EQ(modifier_bit_of_vk(0xA2), kModCtrl);
    EXPECT_EQ(modifier_bit_of_vk(0xA3), 0);
}

TEST(InputText, Utf8ToUtf16) {
    struct Case {
        std::string_view utf8;
        std::u16string utf16;
    };
    const Case cases[] = {
        {"", u""},
        {"abc", u"abc"},
        {"\u00E9\u20AC", u"\u00E9\u20AC"},
        {"\U0001F600", u"\xD83D\xDE00"},
        {"a\xC0\x80z", u"a\uFFFD\uFFFDz"},  // overlong form
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
        {"\xE2\x82", u"\uFFFD\uFFFD"},      // cut short
    };
    for (const auto& c : cases) EXPECT_EQ(utf8_to_utf16(c.utf8), c.utf16) << c.utf8;
}

}  // namespace
}  // namespace korvex
