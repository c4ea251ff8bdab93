#pragma once
// What the host announces over mDNS and when it re-announces: the service
// follows the host's addresses, one registration at a time.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/crypto.h"
#include "core/messages.h"
#include "core/endpoints.h"
#include "platform/service_advertiser.h"

namespace korvex {

inline constexpr std::string_view kServiceType = "_korvex._tcp.local.";

// Handed to the discovery task by start-up; absent when the responder could
// not be started.
struct AdvertisementConfig {
    std::string host_id;
    std::string display_name;
    Key32 host_ed25519_public{};
    std::uint16_t tcp_port = 0;
    std::shared_ptr<ServiceAdvertiser> responder;  // never null
    std::string os_type{kOsType};  // the TXT property "os"
};

// What is registered now (kept by the discovery task between cycles).
struct RegistrationRecord {
    std::optional<std::string> full_name;          // none: nothing registered
    std::vector<IpAddress> addresses;              // the sorted list registered
    std::optional<std::string> primary_tailscale;  // address text without port

    bool operator==(const RegistrationRecord&) const = default;
};

// The host-name label: every character that is not an ASCII letter or digit
// becomes one "-" (a multi-byte character too), case kept, nothing trimmed;
// "windows-pc" for an empty name. "Office PC #2" gives "Office-PC--2".
std::string host_name_label(std::string_view display_name);

// LAN then Tailscale addresses of the snapshot, sorted.
std::vector<IpAddress> advertised_addresses(const EndpointSnapshot& snapshot);

// The first IPv4 address of `tailscale_addresses`, else its first address.
std::optional<IpAddress> primary_tailscale_address(const EndpointSnapshot& snapshot);

// The service as registered: type, the display name as instance name, the
// label + ".local." as host name, the addresses, the port and the TXT
// properties v, id, name, os, ts (only with a Tailscale address), fp.
ServiceInfo build_service_info(const AdvertisementConfig& config, const std::vector<IpAddress>& addresses,
                               const std::optional<IpAddress>& primary_tailscale);

// One cycle's advertisement step, after the snapshot was published. Leaves an
// unchanged registration alone, keeps the old one while no address is known,
// otherwise withdraws the old registration and registers anew; a refused
// registration leaves nothing remembered, so the next cycle tries again. A
// registration the responder later reported as failed counts as gone.
void update_advertisement(const EndpointSnapshot& snapshot, const AdvertisementConfig& config,
                          RegistrationRecord& record);

}  // namespace korvex
