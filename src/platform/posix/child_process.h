#pragma once
// One way to run a helper program on Linux: found on PATH, in a process
// group of its own with default signal handling (whatever the host changed
// for itself), standard input from /dev/null, standard output collected up
// to a bound, standard error read and dropped. At the time limit the whole
// group is killed and reaped, so no path leaves a zombie or a stray tool.
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "core/error.h"

namespace korvex::posix {

struct ChildResult {
    int exit_code = 0;
    std::string standard_output;
};

// Fails when the program cannot start, outlives `time_limit`, writes more
// than `max_output` bytes, or ends by a signal; the texts name the program.
Result<ChildResult> run_child(const std::vector<std::string>& argv, std::chrono::milliseconds time_limit,
                              std::size_t max_output);

}  // namespace korvex::posix
