#pragma once
// The operating system's cryptographic random generator, behind a seam so
// tests can feed fixed bytes.
#include <cstdint>
#include <span>

namespace korvex {

class RandomSource {
public:
    virtual ~RandomSource() = default;
    // Fills every byte or ends the process: a host without randomness cannot
    // make keys, and carrying on with predictable bytes would be worse.
    virtual void fill(std::span<std::uint8_t> out) = 0;
};

// The real generator of this OS; safe to call from any thread.
RandomSource& os_random();

}  // namespace korvex
