#pragma once
#include <cstdint>

namespace korvex {

class Clock {
public:
    virtual ~Clock() = default;
    // Whole seconds since 1970-01-01 00:00 UTC; 0 for any earlier time.
    virtual std::uint64_t unix_now() const = 0;
};

const Clock& system_clock();

}  // namespace korvex
