#pragma once
// What discovery asks the machine about its own network.
#include <memory>
#include <vector>

#include "core/error.h"
#include "core/ip_address.h"

namespace korvex {

class SystemInfo {
public:
    virtual ~SystemInfo() = default;
    // Every unicast address of every adapter, in the order the system lists
    // them; adapter type and state play no part. Blocking.
    virtual Result<std::vector<IpAddress>> interface_addresses() = 0;
};

std::unique_ptr<SystemInfo> make_os_system_info();

}  // namespace korvex
