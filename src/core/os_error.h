#pragma once
// OS error codes and the texts shown for them. Portable so the rules are tested
// on every build; the Windows layer feeds it FormatMessage output.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/error.h"

namespace korvex {

// A Win32 error number as an HRESULT (facility Win32, failure bit set), the way
// Windows itself reports such errors. 0 stays 0, and a value that already has
// the failure bit set is an HRESULT and stays as it is.
constexpr std::uint32_t hresult_from_win32(std::uint32_t err) {
    if (err == 0 || (err & 0x80000000u) != 0) return err;
    return 0x80070000u | (err & 0xFFFFu);
}

// "0x" and eight upper-case hex digits: "0x80070002".
std::string os_code_text(std::uint32_t code);

// The system's message for a code followed by the code: "The system cannot find
// the file specified. (0x80070002)". Trailing white space goes and line breaks
// inside become single spaces, so the text fits one log line; without a message
// the text is the code alone.
std::string os_error_text(std::string_view system_message, std::uint32_t code);

// An Error whose text is "<context>: <os_error_text>" (no prefix when the
// context is empty) and whose os_code is `code`.
Error os_error(std::string_view context, std::string_view system_message, std::uint32_t code);

}  // namespace korvex
