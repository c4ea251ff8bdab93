#include "core/tailscale_status.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "core/json.h"

namespace korvex {
namespace {

bool absent_or_null(const nlohmann::json* value) { return value == nullptr || value->is_null(); }

Result<TsNode> parse_node(const std::shared_ptr<const nlohmann::json>& owner, const nlohmann::json& value,
                          std::string_view where) {
    auto record = JsonRecord::from(owner, value, {"DNSName", "TailscaleIPs"});
    if (!record) return fail(std::string(where) + ": " + record.error().text);
    TsNode node;
    if (const nlohmann::json* name = record->value("DNSName"); !absent_or_null(name)) {
        if (!name->is_string()) return fail(std::string(where) + ": member DNSName is not a string");
        node.dns_name = name->get<std::string>();
    }
    if (!absent_or_null(record->value("TailscaleIPs"))) {
        auto ips = record->string_list("TailscaleIPs");
        if (!ips) return fail(std::string(where) + ": " + ips.error().text);
        node.tailscale_ips = std::move(*ips);
    }
    return node;
}

void append_tailscale_ips(const TsNode& node, std::vector<IpAddress>& out) {
    for (const auto& text : node.tailscale_ips) {
        auto address = IpAddress::parse(text);
        if (address && is_tailscale_address(*address)) out.push_back(*address);
    }
}

}  // namespace

Result<TsStatus> parse_ts_status(std::string_view json) {
    KORVEX_TRY(auto doc, parse_json_document(json));
    KORVEX_TRY(auto root, JsonRecord::from(doc, *doc, {"Self", "Peer"}));
    TsStatus status;
    if (const nlohmann::json* self = root.value("Self"); !absent_or_null(self)) {
        KORVEX_TRY(status.self, parse_node(doc, *self, "Self"));
    }
    if (const nlohmann::json* peers = root.value("Peer"); !absent_or_null(peers)) {
        if (!peers->is_object()) return fail("member Peer is not an object");
        for (const auto& [key, value] : peers->items()) {
            KORVEX_TRY(auto node, parse_node(doc, value, "Peer " + key));
            status.peers.push_back(std::move(node));
        }
    }
    return status;
}

void merge_ts_status(EndpointSnapshot& current, const TsStatus& status) {
    if (!status.self) return;
    const TsNode& self = *status.self;
    current.tailscale_dns_name.reset();
    if (self.dns_name) {
        std::string name = *self.dns_name;
        while (!name.empty() && name.back() == '.') name.pop_back();
        if (!name.empty()) current.tailscale_dns_name = std::move(name);
    }
    std::vector<IpAddress> own;
    append_tailscale_ips(self, own);
    for (const auto& address : own) {
        auto& list = current.tailscale_addresses;
        if (std::find(list.begin(), list.end(), address) == list.end()) list.push_back(address);
    }
    current.tailscale_peers.clear();
    for (const auto& peer : status.peers) append_tailscale_ips(peer, current.tailscale_peers);
    sort_unique(current.tailscale_peers);
}

std::optional<std::string_view> local_api_response_body(std::string_view response) {
    if (response.size() < 7 || !response.starts_with("HTTP/1.")) return std::nullopt;
    std::size_t blank = response.find("\r\n\r\n");
    if (blank == std::string_view::npos) return std::nullopt;
    // Deliberately loose: any "200" in the header block counts.
    if (response.substr(0, blank).find("200") == std::string_view::npos) return std::nullopt;
    return response.substr(blank + 4);
}

}  // namespace korvex
