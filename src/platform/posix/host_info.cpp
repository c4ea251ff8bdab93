#include "platform/host_info.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace korvex {

std::string default_host_name() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "Linux PC";
    return name;
}

std::string device_type() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/power_supply", ec)) {
        std::ifstream type_file(entry.path() / "type");
        std::string type;
        if (std::getline(type_file, type) && type == "Battery") return "laptop";
    }
    return "desktop";
}

const OsTerms& os_terms() { return kLinuxTerms; }

// Raising priority needs privileges an ordinary Linux user lacks; stay as is.
void raise_thread_priority() {}

}  // namespace korvex
