#include "core/os_error.h"

namespace korvex {
namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

std::string os_code_text(std::uint32_t code) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) out.push_back(kDigits[(code >> shift) & 0xFu]);
    return out;
}

std::string os_error_text(std::string_view system_message, std::uint32_t code) {
    std::string text;
    text.reserve(system_message.size() + 13);
    for (std::size_t i = 0; i < system_message.size(); ++i) {
        char c = system_message[i];
        if (c == '\r' || c == '\n') {
            // One space for a whole run of line breaks and the indentation after it.
            while (i + 1 < system_message.size() && is_space(system_message[i + 1])) ++i;
            c = ' ';
        }
        text.push_back(c);
    }
    while (!text.empty() && is_space(text.back())) text.pop_back();
    if (text.empty()) return os_code_text(code);
    text += " (";
    text += os_code_text(code);
    text += ')';
    return text;
}

Error os_error(std::string_view context, std::string_view system_message, std::uint32_t code) {
    std::string text(context);
    if (!text.empty()) text += ": ";
    text += os_error_text(system_message, code);
    return Error{std::move(text), code};
}

}  // namespace korvex
