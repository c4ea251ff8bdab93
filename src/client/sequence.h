#pragma once
// Sequence numbers of input events: increasing, never 0. The host drops a
// number it has seen, so a new run must start above every number an earlier
// run sent: above the last one remembered for the host and at least at the
// current time in microseconds (which covers a run that could not save).
#include <algorithm>
#include <cstdint>

namespace korvex::client {

class SequenceCounter {
public:
    explicit SequenceCounter(std::uint64_t first) : next_(first == 0 ? 1 : first) {}

    // Where a new run starts.
    static std::uint64_t start_value(std::uint64_t now_unix_micros, std::uint64_t last_used) {
        return std::max<std::uint64_t>({now_unix_micros, last_used + 1, 1});
    }

    std::uint64_t next() { return next_++; }
    // The last number handed out, or the one before the first.
    std::uint64_t last_used() const { return next_ - 1; }

private:
    std::uint64_t next_;
};

}  // namespace korvex::client
