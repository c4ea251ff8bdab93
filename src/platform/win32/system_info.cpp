// Adapter addresses on Windows: every unicast address of every adapter that
// GetAdaptersAddresses lists, whatever the adapter's type or state.
#include "platform/system_info.h"

// Winsock before the helper API's header, which needs its types.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>

#include <algorithm>
#include <vector>

#include "platform/socket_address.h"
#include "platform/win32/win32_support.h"

namespace korvex {
namespace {

class WindowsSystemInfo final : public SystemInfo {
public:
    Result<std::vector<IpAddress>> interface_addresses() override {
        constexpr ULONG kFlags =
            GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
        // The list can grow between the size query and the call: retry a few times.
        ULONG size = 16 * 1024;
        std::vector<unsigned char> buffer;
        ULONG rc = ERROR_BUFFER_OVERFLOW;
        for (int attempt = 0; attempt < 4 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
            buffer.resize(size);
            rc = GetAdaptersAddresses(AF_UNSPEC, kFlags, nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
        }
        if (rc == ERROR_NO_DATA) return std::vector<IpAddress>{};
        if (rc != ERROR_SUCCESS) return std::unexpected(win32::win32_error("Could not list the network adapters", rc));

        std::vector<IpAddress> out;
        for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
             adapter = adapter->Next) {
            for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr; unicast = unicast->Next) {
                auto ip = ip_from_sockaddr(unicast->Address.lpSockaddr,
                                           static_cast<std::size_t>(std::max(unicast->Address.iSockaddrLength, 0)));
                if (ip) out.push_back(*ip);
            }
        }
        return out;
    }
};

}  // namespace

std::unique_ptr<SystemInfo> make_os_system_info() { return std::make_unique<WindowsSystemInfo>(); }

}  // namespace korvex
