#pragma once
// What the operating system lets this test process hold open.
#include <cstddef>
#include <optional>
#include <string>

namespace korvex::test {

struct DescriptorLimit {
    std::size_t limit = 0;  // open sockets the process may hold
    std::string note;       // why it is lower than asked for, when it is
};

// Raises the process's descriptor limit as far as the system allows.
DescriptorLimit raise_descriptor_limit(std::size_t wanted);

// Descriptors (or handles) the process holds now, where the system tells.
std::optional<std::size_t> open_descriptor_count();

}  // namespace korvex::test
