#pragma once
// The texts the tray and the console show about where the host is reached,
// and the pairing offer, all from the shared endpoint snapshot.
#include <string>
#include <string_view>

namespace korvex {
struct EndpointSnapshot;
}

namespace korvex::net {

class HostShared;

struct EndpointSummary {
    std::string lan;
    std::string tailscale;
};

// Each list's first IPv4 address, else its first address, else
// "Not connected".
EndpointSummary endpoint_summary(const EndpointSnapshot& snapshot);
EndpointSummary endpoint_summary(const HostShared& host);

// The korvex:// pairing URI for `code`, naming the host's current endpoints.
std::string pairing_offer(const HostShared& host, std::string_view code);

}  // namespace korvex::net
