#pragma once
#include <cstdint>

namespace korvex {

// Windows FILETIME (100 ns units since 1601) to whole Unix seconds, 0 before 1970.
constexpr std::uint64_t unix_seconds_from_filetime(std::uint64_t filetime) {
    constexpr std::uint64_t kEpochDelta = 116444736000000000ULL;
    return filetime < kEpochDelta ? 0 : (filetime - kEpochDelta) / 10000000ULL;
}

}  // namespace korvex
