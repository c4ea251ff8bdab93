#include "core/key_keysyms.h"

#include <gtest/gtest.h>

#include <set>

namespace korvex {
namespace {

// Every usage the vocabulary knows has exactly one keysym or is listed as
// deliberately absent; no keysym stands for two keys.
TEST(KeyKeysyms, CoverTheVocabularyExactlyOnce) {
    std::set<std::uint16_t> with, without(usages_without_keysym().begin(), usages_without_keysym().end());
    std::set<std::uint32_t> keysyms;
    for (const auto& row : keysym_table()) {
        EXPECT_TRUE(with.insert(row.usage).second) << "usage listed twice: " << row.usage;
        EXPECT_TRUE(keysyms.insert(row.keysym).second) << row.name;
        EXPECT_NE(find_key_row(row.usage), nullptr) << "not a vocabulary usage: " << row.usage;
    }
    for (const auto& row : key_vocabulary()) {
        bool has = with.contains(row.usage), absent = without.contains(row.usage);
        EXPECT_TRUE(has != absent) << row.name;
        EXPECT_EQ(usage_to_keysym(row.usage).has_value(), has) << row.name;
        // What the dispatcher hands the sink comes back to the same keysym.
        EXPECT_EQ(key_code_to_keysym(row.code), usage_to_keysym(row.usage)) << row.name;
    }
    for (const auto& media : media_keysyms()) {
        EXPECT_TRUE(keysyms.insert(media.keysym).second) << media.name;
        EXPECT_EQ(key_code_to_keysym(vk_to_key_code(media.vk)), media.keysym) << media.name;
    }
}

TEST(KeyKeysyms, KeysOutsideTheVocabularyHaveNone) {
    EXPECT_FALSE(usage_to_keysym(0xE7));  // Right Win
    EXPECT_FALSE(usage_to_keysym(0x53));  // Num Lock
    EXPECT_FALSE(usage_to_keysym(0x58));  // keypad Enter
    EXPECT_FALSE(usage_to_keysym(0xFFFF));
    EXPECT_FALSE(key_code_to_keysym(KeyCode{0x13, 0, false}));  // Pause
    // Keypad digits are keypad keysyms, not the main row's.
    EXPECT_EQ(usage_to_keysym(0x59), 0xFFB1u);
    EXPECT_EQ(usage_to_keysym(0x1E), 0x31u);
}

TEST(KeyKeysyms, TextCharacters) {
    struct Case {
        char32_t cp;
        std::optional<std::uint32_t> keysym;
    };
    const Case cases[] = {
        {U'a', 0x61},          {U'~', 0x7E},         {U'\u00F6', 0xF6},          {U'\u00A0', 0xA0},
        {U'\u20AC', 0x10020ACu}, {U'\u6F22', 0x1006F22u}, {U'\U0001F600', 0x101F600u}, {U'\n', 0xFF0Du},
        {U'\r', 0xFF0Du},      {U'\t', 0xFF09u},     {0x07, std::nullopt},       {0x7F, std::nullopt},
        {0x85, std::nullopt},  {0xD800, std::nullopt}, {0x110000, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(codepoint_to_keysym(c.cp), c.keysym) << std::hex << std::uint32_t(c.cp);
}

TEST(KeyKeysyms, TextJoinsSurrogatesFoldsCrLfAndSkipsStrays) {
    std::u16string text = u"a\r\nb\rc\U0001F600\xD800x\n";
    auto keysyms = text_keysyms(text);
    std::vector<std::uint32_t> expected = {0x61, 0xFF0D, 0x62, 0xFF0D, 0x63, 0x101F600, 0x78, 0xFF0D};
    EXPECT_EQ(keysyms, expected);
}

}  // namespace
}  // namespace korvex
