// Adapter addresses on Linux: getifaddrs lists every address of every
// interface, up or down.
#include "platform/system_info.h"

#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>

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
            const sockaddr* address = entry->ifa_addr;
            if (address == nullptr) continue;
            if (address->sa_family == AF_INET) {
                sockaddr_in v4{};
                std::memcpy(&v4, address, sizeof v4);
                IpAddress::V4Bytes bytes{};
                std::memcpy(bytes.data(), &v4.sin_addr, bytes.size());
                out.push_back(IpAddress::v4(bytes));
            } else if (address->sa_family == AF_INET6) {
                sockaddr_in6 v6{};
                std::memcpy(&v6, address, sizeof v6);
                IpAddress::V6Bytes bytes{};
                std::memcpy(bytes.data(), &v6.sin6_addr, bytes.size());
                out.push_back(IpAddress::v6(bytes));
            }
        }
        return out;
    }
};

}  // namespace

std::unique_ptr<SystemInfo> make_os_system_info() { return std::make_unique<PosixSystemInfo>(); }

}  // namespace korvex
