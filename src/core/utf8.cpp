#include "core/utf8.h"

#include <cstdint>

namespace korvex {

bool is_valid_utf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        auto b = static_cast<std::uint8_t>(text[i]);
        std::size_t extra;
        std::uint32_t cp;
        if (b < 0x80) { ++i; continue; }
        if (b >= 0xC2 && b <= 0xDF) { extra = 1; cp = b & 0x1Fu; }
        else if (b >= 0xE0 && b <= 0xEF) { extra = 2; cp = b & 0x0Fu; }
        else if (b >= 0xF0 && b <= 0xF4) { extra = 3; cp = b & 0x07u; }
        else return false;
        if (i + extra >= text.size()) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            auto c = static_cast<std::uint8_t>(text[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = cp << 6 | (c & 0x3Fu);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

}  // namespace korvex
