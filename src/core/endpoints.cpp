#include "core/endpoints.h"

#include <algorithm>

#include "platform/system_info.h"

namespace korvex {

void sort_unique(std::vector<IpAddress>& addresses) {
    std::sort(addresses.begin(), addresses.end());
    addresses.erase(std::unique(addresses.begin(), addresses.end()), addresses.end());
}

EndpointSnapshot classify_interface_addresses(std::span<const IpAddress> addresses) {
    EndpointSnapshot out;
    for (const IpAddress& address : addresses) {
        if (!is_local_address(address)) continue;
        if (address.is_v4()) {
            if (address.v4_bytes()[0] == 127) continue;
            (is_tailscale_address(address) ? out.tailscale_addresses : out.lan_addresses).push_back(address);
            continue;
        }
        const auto& b = address.v6_bytes();
        const bool loopback =
            std::all_of(b.begin(), b.begin() + 15, [](std::uint8_t x) { return x == 0; }) && b[15] == 1;
        if (loopback) continue;
        if (is_tailscale_address(address)) {
            out.tailscale_addresses.push_back(address);
            continue;
        }
        // Link-local needs a zone to be reachable, which an endpoint text cannot carry.
        if (b[0] == 0xFE && (b[1] & 0xC0) == 0x80) continue;
        // What is left is unique local, or an IPv4-mapped address the
        // system reported as IPv6: listed as it is.
        out.lan_addresses.push_back(address);
    }
    sort_unique(out.lan_addresses);
    sort_unique(out.tailscale_addresses);
    return out;
}

EndpointSnapshot collect_local_endpoints(SystemInfo& system) {
    auto addresses = system.interface_addresses();
    if (!addresses) return {};
    return classify_interface_addresses(*addresses);
}

std::string format_endpoint(const IpAddress& address, std::uint16_t port) {
    if (address.is_v4()) return address.to_string() + ':' + std::to_string(port);
    return '[' + address.to_string() + "]:" + std::to_string(port);
}

std::vector<std::string> lan_endpoints(const EndpointSnapshot& snapshot, std::uint16_t port) {
    std::vector<std::string> out;
    out.reserve(snapshot.lan_addresses.size());
    for (const auto& address : snapshot.lan_addresses) out.push_back(format_endpoint(address, port));
    return out;
}

std::vector<std::string> tailscale_endpoints(const EndpointSnapshot& snapshot, std::uint16_t port) {
    std::vector<std::string> out;
    out.reserve(snapshot.tailscale_addresses.size() + 1);
    for (const auto& address : snapshot.tailscale_addresses) out.push_back(format_endpoint(address, port));
    if (snapshot.tailscale_dns_name) out.push_back(*snapshot.tailscale_dns_name + ':' + std::to_string(port));
    return out;
}

}  // namespace korvex
