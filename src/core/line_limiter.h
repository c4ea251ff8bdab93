#pragma once
// At most one line per key (a device) per period: a script that connects
// and disconnects many times must not flood the console. The caller passes
// the time; lines held back are counted and told with the next one shown.
#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>

namespace korvex {

class LineLimiter {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    explicit LineLimiter(std::chrono::steady_clock::duration period = std::chrono::minutes(1)) : period_(period) {}

    // How many lines of `key` were held back since the last one shown, when
    // this one may be shown; nothing when it is held back.
    std::optional<std::size_t> admit(const std::string& key, TimePoint now);

private:
    struct Entry {
        TimePoint shown;
        std::size_t held = 0;
    };
    std::chrono::steady_clock::duration period_;
    std::map<std::string, Entry> entries_;
};

}  // namespace korvex
