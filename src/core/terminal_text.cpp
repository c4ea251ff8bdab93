#include "core/terminal_text.h"

namespace korvex {

std::string terminal_text(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return out;
}

}  // namespace korvex
