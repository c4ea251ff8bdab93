#include "core/input_text.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace korvex {
namespace {

// Simple lower-case mappings of Unicode 14.0 as runs: `count` code points from
// `start`, `stride` apart, each mapped to itself plus `delta`. Made from
// str.lower() of every code point with a one-code-point result; the only
// longer result (U+0130) is handled in lower_case_full.
struct CaseRun {
    std::uint32_t start;
    std::uint16_t count;
    std::uint8_t stride;
    std::int32_t delta;
};

constexpr CaseRun kLowerRuns[] = {
    {0x0041, 26, 1, 32}, {0x00C0, 23, 1, 32}, {0x00D8, 7, 1, 32}, {0x0100, 24, 2, 1},
    {0x0132, 3, 2, 1}, {0x0139, 8, 2, 1}, {0x014A, 23, 2, 1}, {0x0178, 1, 1, -121},
    {0x0179, 3, 2, 1}, {0x0181, 1, 1, 210}, {0x0182, 2, 2, 1}, {0x0186, 1, 1, 206},
    {0x0187, 1, 1, 1}, {0x0189, 2, 1, 205}, {0x018B, 1, 1, 1}, {0x018E, 1, 1, 79},
    {0x018F, 1, 1, 202}, {0x0190, 1, 1, 203}, {0x0191, 1, 1, 1}, {0x0193, 1, 1, 205},
    {0x0194, 1, 1, 207}, {0x0196, 1, 1, 211}, {0x0197, 1, 1, 209}, {0x0198, 1, 1, 1},
    {0x019C, 1, 1, 211}, {0x019D, 1, 1, 213}, {0x019F, 1, 1, 214}, {0x01A0, 3, 2, 1},
    {0x01A6, 1, 1, 218}, {0x01A7, 1, 1, 1}, {0x01A9, 1, 1, 218}, {0x01AC, 1, 1, 1},
    {0x01AE, 1, 1, 218}, {0x01AF, 1, 1, 1}, {0x01B1, 2, 1, 217}, {0x01B3, 2, 2, 1},
    {0x01B7, 1, 1, 219}, {0x01B8, 1, 1, 1}, {0x01BC, 1, 1, 1}, {0x01C4, 1, 1, 2},
    {0x01C5, 1, 1, 1}, {0x01C7, 1, 1, 2}, {0x01C8, 1, 1, 1}, {0x01CA, 1, 1, 2},
    {0x01CB, 9, 2, 1}, {0x01DE, 9, 2, 1}, {0x01F1, 1, 1, 2}, {0x01F2, 2, 2, 1},
    {0x01F6, 1, 1, -97}, {0x01F7, 1, 1, -56}, {0x01F8, 20, 2, 1}, {0x0220, 1, 1, -130},
    {0x0222, 9, 2, 1}, {0x023A, 1, 1, 10795}, {0x023B, 1, 1, 1}, {0x023D, 1, 1, -163},
    {0x023E, 1, 1, 10792}, {0x0241, 1, 1, 1}, {0x0243, 1, 1, -195}, {0x0244, 1, 1, 69},
    {0x0245, 1, 1, 71}, {0x0246, 5, 2, 1}, {0x0370, 2, 2, 1}, {0x0376, 1, 1, 1},
    {0x037F, 1, 1, 116}, {0x0386, 1, 1, 38}, {0x0388, 3, 1, 37}, {0x038C, 1, 1, 64},
    {0x038E, 2, 1, 63}, {0x0391, 17, 1, 32}, {0x03A3, 9, 1, 32}, {0x03CF, 1, 1, 8},
    {0x03D8, 12, 2, 1}, {0x03F4, 1, 1, -60}, {0x03F7, 1, 1, 1}, {0x03F9, 1, 1, -7},
    {0x03FA, 1, 1, 1}, {0x03FD, 3, 1, -130}, {0x0400, 16, 1, 80}, {0x0410, 32, 1, 32},
    {0x0460, 17, 2, 1}, {0x048A, 27, 2, 1}, {0x04C0, 1, 1, 15}, {0x04C1, 7, 2, 1},
    {0x04D0, 48, 2, 1}, {0x0531, 38, 1, 48}, {0x10A0, 38, 1, 7264}, {0x10C7, 1, 1, 7264},
    {0x10CD, 1, 1, 7264}, {0x13A0, 80, 1, 38864}, {0x13F0, 6, 1, 8}, {0x1C90, 43, 1, -3008},
    {0x1CBD, 3, 1, -3008}, {0x1E00, 75, 2, 1}, {0x1E9E, 1, 1, -7615}, {0x1EA0, 48, 2, 1},
    {0x1F08, 8, 1, -8}, {0x1F18, 6, 1, -8}, {0x1F28, 8, 1, -8}, {0x1F38, 8, 1, -8},
    {0x1F48, 6, 1, -8}, {0x1F59, 4, 2, -8}, {0x1F68, 8, 1, -8}, {0x1F88, 8, 1, -8},
    {0x1F98, 8, 1, -8}, {0x1FA8, 8, 1, -8}, {0x1FB8, 2, 1, -8}, {0x1FBA, 2, 1, -74},
    {0x1FBC, 1, 1, -9}, {0x1FC8, 4, 1, -86}, {0x1FCC, 1, 1, -9}, {0x1FD8, 2, 1, -8},
    {0x1FDA, 2, 1, -100}, {0x1FE8, 2, 1, -8}, {0x1FEA, 2, 1, -112}, {0x1FEC, 1, 1, -7},
    {0x1FF8, 2, 1, -128}, {0x1FFA, 2, 1, -126}, {0x1FFC, 1, 1, -9}, {0x2126, 1, 1, -7517},
    {0x212A, 1, 1, -8383}, {0x212B, 1, 1, -8262}, {0x2132, 1, 1, 28}, {0x2160, 16, 1, 16},
    {0x2183, 1, 1, 1}, {0x24B6, 26, 1, 26}, {0x2C00, 48, 1, 48}, {0x2C60, 1, 1, 1},
    {0x2C62, 1, 1, -10743}, {0x2C63, 1, 1, -3814}, {0x2C64, 1, 1, -10727}, {0x2C67, 3, 2, 1},
    {0x2C6D, 1, 1, -10780}, {0x2C6E, 1, 1, -10749}, {0x2C6F, 1, 1, -10783}, {0x2C70, 1, 1, -10782},
    {0x2C72, 1, 1, 1}, {0x2C75, 1, 1, 1}, {0x2C7E, 2, 1, -10815}, {0x2C80, 50, 2, 1},
    {0x2CEB, 2, 2, 1}, {0x2CF2, 1, 1, 1}, {0xA640, 23, 2, 1}, {0xA680, 14, 2, 1},
    {0xA722, 7, 2, 1}, {0xA732, 31, 2, 1}, {0xA779, 2, 2, 1}, {0xA77D, 1, 1, -35332},
    {0xA77E, 5, 2, 1}, {0xA78B, 1, 1, 1}, {0xA78D, 1, 1, -42280}, {0xA790, 2, 2, 1},
    {0xA796, 10, 2, 1}, {0xA7AA, 1, 1, -42308}, {0xA7AB, 1, 1, -42319}, {0xA7AC, 1, 1, -42315},
    {0xA7AD, 1, 1, -42305}, {0xA7AE, 1, 1, -42308}, {0xA7B0, 1, 1, -42258}, {0xA7B1, 1, 1, -42282},
    {0xA7B2, 1, 1, -42261}, {0xA7B3, 1, 1, 928}, {0xA7B4, 8, 2, 1}, {0xA7C4, 1, 1, -48},
    {0xA7C5, 1, 1, -42307}, {0xA7C6, 1, 1, -35384}, {0xA7C7, 2, 2, 1}, {0xA7D0, 1, 1, 1},
    {0xA7D6, 2, 2, 1}, {0xA7F5, 1, 1, 1}, {0xFF21, 26, 1, 32}, {0x10400, 40, 1, 40},
    {0x104B0, 36, 1, 40}, {0x10570, 11, 1, 39}, {0x1057C, 15, 1, 39}, {0x1058C, 7, 1, 39},
    {0x10594, 2, 1, 39}, {0x10C80, 51, 1, 64}, {0x118A0, 32, 1, 32}, {0x16E40, 32, 1, 32},
    {0x1E900, 34, 1, 34},
};

char32_t lower_simple(char32_t cp) {
    if (cp < 0x80) return (cp >= U'A' && cp <= U'Z') ? cp + 32 : cp;
    const auto* end = std::end(kLowerRuns);
    // Last run that starts at or before cp.
    const auto* it = std::upper_bound(std::begin(kLowerRuns), end, static_cast<std::uint32_t>(cp),
                                      [](std::uint32_t v, const CaseRun& run) { return v < run.start; });
    if (it == std::begin(kLowerRuns)) return cp;
    const CaseRun& run = *(it - 1);
    std::uint32_t offset = static_cast<std::uint32_t>(cp) - run.start;
    if (offset % run.stride != 0 || offset / run.stride >= run.count) return cp;
    return static_cast<char32_t>(static_cast<std::int64_t>(cp) + run.delta);
}

}  // namespace

Utf8Step decode_utf8_at(std::string_view text, std::size_t at) {
    auto b = static_cast<std::uint8_t>(text[at]);
    if (b < 0x80) return {b, 1};
    std::size_t extra;
    std::uint32_t cp;
    if (b >= 0xC2 && b <= 0xDF) { extra = 1; cp = b & 0x1Fu; }
    else if (b >= 0xE0 && b <= 0xEF) { extra = 2; cp = b & 0x0Fu; }
    else if (b >= 0xF0 && b <= 0xF4) { extra = 3; cp = b & 0x07u; }
    else return {};
    if (at + extra >= text.size()) return {};
    for (std::size_t k = 1; k <= extra; ++k) {
        auto c = static_cast<std::uint8_t>(text[at + k]);
        if ((c & 0xC0) != 0x80) return {};
        cp = cp << 6 | (c & 0x3Fu);
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return {};
    return {static_cast<char32_t>(cp), extra + 1};
}

void append_utf8(std::string& out, char32_t c) {
    auto cp = static_cast<std::uint32_t>(c);
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | cp >> 6));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | cp >> 12));
        out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | cp >> 18));
        out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::u16string utf8_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        Utf8Step step = decode_utf8_at(text, i);
        if (step.length == 0) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        auto cp = static_cast<std::uint32_t>(step.cp);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 | cp >> 10));
            out.push_back(static_cast<char16_t>(0xDC00 | (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += step.length;
    }
    return out;
}

std::string lower_case_full(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        Utf8Step step = decode_utf8_at(text, i);
        if (step.length == 0) {
            out.push_back(text[i]);
            ++i;
            continue;
        }
        if (step.cp == 0x130) {  // capital I with dot above: "i" + combining dot
            out.push_back('i');
            append_utf8(out, 0x307);
        } else {
            append_utf8(out, lower_simple(step.cp));
        }
        i += step.length;
    }
    return out;
}

bool is_unicode_white_space(char32_t cp) {
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F ||
           cp == 0x3000;
}

}  // namespace korvex
