// Adapter addresses on Linux: getifaddrs lists every address of every
// interface, up or down.
#include "platform/system_info.h"

#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/socket_address.h"

namespace korvex {
namespace {

struct IfaddrsFree {
    void operator()(ifaddrs* list) const noexcept { ::freeifaddrs(list); }
};

class PosixSystemInfo final : public SystemInfo {
public:
    Result<std::vector<IpAddress>> interface_addresses() override {
        ifaddrs* raw = nullptr;
        if (::getifaddrs(&raw) != 0) {
            int err = errno;
            return fail(std::string("Could not list the network interfaces: ") + std::strerror(err),
                        static_cast<std::uint32_t>(err));
        }
        std::unique_ptr<ifaddrs, IfaddrsFree> list(raw);
        std::vector<IpAddress> out;
        for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
            // getifaddrs sizes each address for its family.
            if (auto ip = ip_from_sockaddr(entry->ifa_addr, sizeof(sockaddr_storage))) out.push_back(*ip);
        }
        return out;
    }
};

}  // namespace

std::unique_ptr<SystemInfo> make_os_system_info() { return std::make_unique<PosixSystemInfo>(); }

}  // namespace korvex
