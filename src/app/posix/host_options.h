#pragma once
// The Linux host's command line: --help, --version, --data-dir DIR, --pair.
#include <optional>
#include <string>
#include <vector>

#include "core/error.h"

namespace korvex::posix {

struct HostCommandLine {
    bool help = false;
    bool version = false;
    bool pair = false;  // open a pairing code at start, for a host without a console
    std::optional<std::string> data_dir;
};

// The error names the option that was not understood (exit code 2).
Result<HostCommandLine> parse_host_options(const std::vector<std::string>& args);
const char* host_usage();

}  // namespace korvex::posix
