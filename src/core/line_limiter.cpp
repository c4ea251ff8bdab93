#include "core/line_limiter.h"

#include <algorithm>

namespace korvex {

namespace {
constexpr std::size_t kMaxKeys = 256;
}

std::optional<std::size_t> LineLimiter::admit(const std::string& key, TimePoint now) {
    // Keys whose period has passed are forgotten, so the map stays as small
    // as the number of devices seen within one period.
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->first != key && now - it->second.shown >= period_ && it->second.held == 0)
            it = entries_.erase(it);
        else
            ++it;
    }
    auto it = entries_.find(key);
    if (it == entries_.end()) {
        // Names come from peers: past the bound the oldest key goes.
        if (entries_.size() >= kMaxKeys) {
            entries_.erase(std::min_element(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
                return a.second.shown < b.second.shown;
            }));
        }
        entries_.emplace(key, Entry{now, 0});
        return 0;
    }
    if (now - it->second.shown < period_) {
        ++it->second.held;
        return std::nullopt;
    }
    std::size_t held = it->second.held;
    it->second = Entry{now, 0};
    return held;
}

}  // namespace korvex
