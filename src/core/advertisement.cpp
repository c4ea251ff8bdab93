#include "core/advertisement.h"

#include <algorithm>

namespace korvex {

std::string host_name_label(std::string_view display_name) {
    if (display_name.empty()) return "windows-pc";
    std::string label;
    int continuation_left = 0;  // bytes still belonging to the current multi-byte character
    for (char ch : display_name) {
        auto b = static_cast<unsigned char>(ch);
        if (continuation_left > 0 && (b & 0xC0) == 0x80) {
            --continuation_left;
            continue;
        }
        continuation_left = 0;
        const bool alnum = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9');
        label.push_back(alnum ? ch : '-');
        if (b >= 0xC0 && b <= 0xDF)
            continuation_left = 1;
        else if (b >= 0xE0 && b <= 0xEF)
            continuation_left = 2;
        else if (b >= 0xF0 && b <= 0xF7)
            continuation_left = 3;
    }
    return label;
}

std::vector<IpAddress> advertised_addresses(const EndpointSnapshot& snapshot) {
    std::vector<IpAddress> out = snapshot.lan_addresses;
    out.insert(out.end(), snapshot.tailscale_addresses.begin(), snapshot.tailscale_addresses.end());
    std::sort(out.begin(), out.end());
    return out;
}

std::optional<IpAddress> primary_tailscale_address(const EndpointSnapshot& snapshot) {
    const auto& list = snapshot.tailscale_addresses;
    auto v4 = std::find_if(list.begin(), list.end(), [](const IpAddress& a) { return a.is_v4(); });
    if (v4 != list.end()) return *v4;
    if (!list.empty()) return list.front();
    return std::nullopt;
}

ServiceInfo build_service_info(const AdvertisementConfig& config, const std::vector<IpAddress>& addresses,
                               const std::optional<IpAddress>& primary_tailscale) {
    ServiceInfo info;
    info.service_type = std::string(kServiceType);
    info.instance_name = config.display_name;
    info.host_name = host_name_label(config.display_name) + ".local.";
    info.addresses = addresses;
    info.port = config.tcp_port;
    info.properties = {
        {"v", "1"},
        {"id", config.host_id},
        {"name", config.display_name},
        {"os", config.os_type},
    };
    if (primary_tailscale) info.properties.emplace_back("ts", format_endpoint(*primary_tailscale, config.tcp_port));
    info.properties.emplace_back("fp", host_fingerprint(config.host_ed25519_public));
    return info;
}

void update_advertisement(const EndpointSnapshot& snapshot, const AdvertisementConfig& config,
                          RegistrationRecord& record) {
    ServiceAdvertiser& responder = *config.responder;
    if (record.full_name && responder.registration_failed(*record.full_name)) {
        responder.unregister_service(*record.full_name);
        record = {};
    }

    std::vector<IpAddress> addresses = advertised_addresses(snapshot);
    std::optional<IpAddress> primary = primary_tailscale_address(snapshot);
    std::optional<std::string> primary_text;
    if (primary) primary_text = primary->to_string();

    if (record.full_name && record.addresses == addresses && record.primary_tailscale == primary_text) return;
    // Without any address the old announcement is still the best one there is.
    if (addresses.empty()) return;
    if (record.full_name) {
        responder.unregister_service(*record.full_name);
        record = {};
    }

    ServiceInfo info = build_service_info(config, addresses, primary);
    if (!responder.register_service(info)) return;
    record.full_name = info.full_name();
    record.addresses = std::move(addresses);
    record.primary_tailscale = std::move(primary_text);
}

}  // namespace korvex
