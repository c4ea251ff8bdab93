#include "net/process_limits.h"

#include <windows.h>

namespace korvex::test {

// Winsock has no per-process descriptor limit to raise.
DescriptorLimit raise_descriptor_limit(std::size_t wanted) { return {wanted, {}}; }

std::optional<std::size_t> open_descriptor_count() {
    DWORD handles = 0;
    if (!GetProcessHandleCount(GetCurrentProcess(), &handles)) return std::nullopt;
    return handles;
}

}  // namespace korvex::test
