#include "client/text_messages.h"

#include "core/messages.h"

namespace korvex::client {
namespace {

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The longest prefix of `text` of at most `n` bytes that ends between characters.
std::size_t char_boundary(std::string_view text, std::size_t n) {
    if (n >= text.size()) return text.size();
    while (n > 0 && is_continuation(text[n])) --n;
    return n;
}

std::size_t first_character_size(std::string_view text) {
    std::size_t n = 1;
    while (n < text.size() && n < 4 && is_continuation(text[n])) ++n;
    return n;
}

std::size_t text_body_size(std::string_view text) { return encode_json(TextUtf8{std::string(text)}).size(); }

}  // namespace

std::vector<std::string_view> split_text_messages(std::string_view text, std::size_t max_body) {
    std::vector<std::string_view> pieces;
    const std::size_t overhead = text_body_size({});
    if (max_body < overhead + 6) return pieces;  // not even one escaped byte fits
    const std::size_t budget = max_body - overhead;
    while (!text.empty()) {
        std::size_t n = char_boundary(text, budget);
        // Escapes make the body longer than the text: dropping as many bytes
        // as it is over takes at least that much off the body.
        if (std::size_t size = text_body_size(text.substr(0, n)); size > max_body) {
            std::size_t over = size - max_body;
            n = over < n ? char_boundary(text, n - over) : 0;
        }
        // A byte takes at most 6 once escaped, so budget / 6 bytes always fit.
        if (n == 0) n = char_boundary(text, budget / 6);
        // A character longer than that fits alone: bytes of 0x80 and up are never escaped.
        if (n == 0) n = first_character_size(text);
        pieces.push_back(text.substr(0, n));
        text.remove_prefix(n);
    }
    return pieces;
}

std::size_t clipboard_text_limit(bool auto_paste, std::size_t max_body) {
    std::size_t overhead = encode_json(ClipboardSet{{}, auto_paste}).size();
    return max_body > overhead ? max_body - overhead : 0;
}

std::string clipboard_too_long(std::string_view text, bool auto_paste, std::size_t max_body) {
    const std::size_t limit = clipboard_text_limit(auto_paste, max_body);
    const std::string most =
        "clip takes at most " + std::to_string(limit) + " bytes (type sends longer text as several messages)";
    if (text.size() > limit) return "the text is " + std::to_string(text.size()) + " bytes; " + most;
    std::size_t body = encode_json(ClipboardSet{std::string(text), auto_paste}).size();
    if (body <= max_body) return {};
    std::size_t escaped = body - (max_body - limit);
    return "the text is " + std::to_string(text.size()) + " bytes, " + std::to_string(escaped) +
           " once its quotes, backslashes and control characters are escaped; " + most;
}

}  // namespace korvex::client
