#pragma once
// Text and clipboard contents against the size of one sealed frame: type
// sends long text as several TextUtf8 messages, clip has one message only.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/crypto.h"

namespace korvex::client {

// The pieces of `text` in order, each small enough that its TextUtf8 body
// (escapes included) is at most `max_body` bytes, each cut between UTF-8
// characters. `text` must be UTF-8; empty text gives no pieces.
std::vector<std::string_view> split_text_messages(std::string_view text, std::size_t max_body = kMaxSealedPlaintext);

// The most bytes of plain text one ClipboardSet can carry; text with quotes,
// backslashes or control characters fits less, as they are escaped.
std::size_t clipboard_text_limit(bool auto_paste, std::size_t max_body = kMaxSealedPlaintext);

// Nothing when `text` fits one ClipboardSet; else why not, in bytes.
std::string clipboard_too_long(std::string_view text, bool auto_paste, std::size_t max_body = kMaxSealedPlaintext);

}  // namespace korvex::client
