#include "net/process_limits.h"

#include <sys/resource.h>

#include <filesystem>

namespace korvex::test {

DescriptorLimit raise_descriptor_limit(std::size_t wanted) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return {0, "getrlimit failed"};
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
    DescriptorLimit result{static_cast<std::size_t>(limit.rlim_cur), {}};
    if (result.limit < wanted)
        result.note = "RLIMIT_NOFILE hard limit is " + std::to_string(limit.rlim_max) + ", below the " +
                      std::to_string(wanted) + " descriptors asked for";
    return result;
}

std::optional<std::size_t> open_descriptor_count() {
    std::error_code ec;
    std::size_t n = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++n;
    if (ec) return std::nullopt;
    return n;
}

}  // namespace korvex::test
