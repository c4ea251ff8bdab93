#pragma once
// Wheel amounts in the 120-per-notch units the dispatcher produces, turned
// into whole notches for systems that only know notches (X buttons 4 to 7).
// The sub-notch rest is kept, signed, so that small steps add up the way
// applications on Windows add up partial wheel deltas.
#include <cstdint>

namespace korvex {

class WheelSteps {
public:
    static constexpr std::int64_t kUnitsPerNotch = 120;
    // Notches beyond this in one call are dropped (with the rest): a peer
    // cannot make the host click the wheel millions of times.
    static constexpr std::int32_t kMaxNotchesPerCall = 100;

    // Whole notches to inject now, truncated toward zero; positive is away
    // from the user (or right).
    std::int32_t add(std::int32_t amount) {
        rest_ += amount;
        std::int64_t notches = rest_ / kUnitsPerNotch;
        rest_ -= notches * kUnitsPerNotch;
        if (notches > kMaxNotchesPerCall) notches = kMaxNotchesPerCall;
        if (notches < -kMaxNotchesPerCall) notches = -kMaxNotchesPerCall;
        return static_cast<std::int32_t>(notches);
    }
    std::int64_t rest() const { return rest_; }

private:
    std::int64_t rest_ = 0;
};

}  // namespace korvex
