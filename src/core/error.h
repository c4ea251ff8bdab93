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

#define KORVEX_CONCAT_INNER(a, b) a##b
#define KORVEX_CONCAT(a, b) KORVEX_CONCAT_INNER(a, b)
// Declares `decl` from a Result, or returns its error from the enclosing function.
#define KORVEX_TRY(decl, expr)                                                           \
    auto KORVEX_CONCAT(korvex_try_, __LINE__) = (expr);                                 \
    if (!KORVEX_CONCAT(korvex_try_, __LINE__))                                          \
        return std::unexpected(std::move(KORVEX_CONCAT(korvex_try_, __LINE__).error())); \
    decl = std::move(*KORVEX_CONCAT(korvex_try_, __LINE__))
