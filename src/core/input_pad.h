#pragma once
// The controlling client's gamepad state and where it goes.
#include <cstdint>

namespace korvex {

struct PadState {
    std::uint16_t buttons = 0;  // 11 bits
    std::int16_t lx = 0, ly = 0, rx = 0, ry = 0;
    std::uint8_t dpad = 0;  // 0..8
    std::uint8_t left_trigger = 0;
    std::uint8_t right_trigger = 0;
    friend bool operator==(const PadState&, const PadState&) = default;
    bool neutral() const { return *this == PadState{}; }
};

// Drives the virtual controller or the keyboard/mouse mapping from the pad
// state. Called with the controller locked.
class PadOutput {
public:
    virtual ~PadOutput() = default;
    // The pad state changed.
    virtual void apply(const PadState& state) = 0;
    // Release everything the mapping holds and reset its runtime state.
    virtual void release_mapping() = 0;
    // Send the virtual controller, if one is plugged in, its neutral report.
    virtual void submit_neutral() = 0;
};

}  // namespace korvex
