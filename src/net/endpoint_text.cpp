#include "net/endpoint_text.h"

#include <vector>

#include "core/endpoints.h"
#include "core/pairing_uri.h"
#include "net/host_shared.h"

namespace korvex::net {
namespace {

std::string summary_text(const std::vector<IpAddress>& addresses) {
    for (const IpAddress& address : addresses)
        if (address.is_v4()) return address.to_string();
    if (!addresses.empty()) return addresses.front().to_string();
    return "Not connected";
}

}  // namespace

EndpointSummary endpoint_summary(const EndpointSnapshot& snapshot) {
    return {summary_text(snapshot.lan_addresses), summary_text(snapshot.tailscale_addresses)};
}

EndpointSummary endpoint_summary(const HostShared& host) { return endpoint_summary(host.endpoints().read()); }

std::string pairing_offer(const HostShared& host, std::string_view code) {
    const EndpointSnapshot snapshot = host.endpoints().read();
    const auto lan = lan_endpoints(snapshot, host.tcp_port());
    const auto tailscale = tailscale_endpoints(snapshot, host.tcp_port());
    return build_pairing_uri(host.identity().host_id, host.host_name(), lan, tailscale, host.host_public(), code,
                             host.os_type());
}

}  // namespace korvex::net
