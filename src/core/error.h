#pragma once
// Errors travel as values: a display text and, where the OS gave one, its code.
#include <cstdint>
#include <expected>
#include <string>
#include <utility>

namespace korvex {

struct Error {
    std::string text;
    std::uint32_t os_code = 0;  // 0 when the error did not come from the OS
};

template <typename T>
using Result = std::expected<T, Error>;

// Success of an operation that returns nothing.
using Status = std::expected<void, Error>;

inline std::unexpected<Error> fail(std::string text, std::uint32_t os_code = 0) {
    return std::unexpected<Error>(Error{std::move(text), os_code});
}

}  // namespace korvex
