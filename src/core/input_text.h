#pragma once
// Text helpers of the input path: UTF-8 to UTF-16 for injection and the
// clipboard, and the Unicode case folding and white space that key names are
// compared under.
#include <string>
#include <string_view>

namespace korvex {

// UTF-16 code units of the text; characters beyond U+FFFF become surrogate
// pairs. Byte sequences that are not well-formed UTF-8 become U+FFFD each.
std::u16string utf8_to_utf16(std::string_view text);

// Full Unicode lower-casing (one code point may grow, e.g. U+0130 becomes
// "i" + U+0307). Bytes that are not well-formed UTF-8 are copied unchanged.
std::string lower_case_full(std::string_view text);

// The Unicode White_Space property.
bool is_unicode_white_space(char32_t cp);

// One decoded code point of well-formed UTF-8 starting at text[at], and its
// length in bytes; length 0 when the bytes there are not well-formed.
struct Utf8Step {
    char32_t cp = 0;
    std::size_t length = 0;
};
Utf8Step decode_utf8_at(std::string_view text, std::size_t at);

void append_utf8(std::string& out, char32_t cp);

}  // namespace korvex
