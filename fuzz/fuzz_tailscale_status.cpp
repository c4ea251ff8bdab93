// The Tailscale status document (parse_ts_status, merge_ts_status) and the
// local API response it arrives in (local_api_response_body). The input is
// read both as a whole HTTP response and as a bare document.
//
// Checked: a merged snapshot keeps its interface addresses first, holds only
// Tailscale addresses in its Tailscale lists, sorted peers without
// duplicates, and a DNS name without trailing dots.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/endpoints.h"
#include "core/ip_address.h"
#include "core/tailscale_status.h"
#include "fuzz_common.h"

using namespace korvex;

namespace {

void merge_and_check(const TsStatus& status) {
    EndpointSnapshot current;
    current.lan_addresses = {IpAddress::v4(192, 168, 1, 20)};
    current.tailscale_addresses = {IpAddress::v4(100, 101, 102, 103)};
    const EndpointSnapshot before = current;
    merge_ts_status(current, status);
    if (!status.self) {
        KORVEX_FUZZ_CHECK(current == before);
        return;
    }
    KORVEX_FUZZ_CHECK(current.lan_addresses == before.lan_addresses);
    KORVEX_FUZZ_CHECK(current.tailscale_addresses.front() == before.tailscale_addresses.front());
    for (const auto& a : current.tailscale_addresses) KORVEX_FUZZ_CHECK(is_tailscale_address(a));
    for (const auto& a : current.tailscale_peers) KORVEX_FUZZ_CHECK(is_tailscale_address(a));
    KORVEX_FUZZ_CHECK(std::is_sorted(current.tailscale_peers.begin(), current.tailscale_peers.end()));
    KORVEX_FUZZ_CHECK(std::adjacent_find(current.tailscale_peers.begin(), current.tailscale_peers.end()) ==
                      current.tailscale_peers.end());
    if (current.tailscale_dns_name) {
        KORVEX_FUZZ_CHECK(!current.tailscale_dns_name->empty());
        KORVEX_FUZZ_CHECK(current.tailscale_dns_name->back() != '.');
    }
    // Merging the same status again changes nothing.
    EndpointSnapshot twice = current;
    merge_ts_status(twice, status);
    KORVEX_FUZZ_CHECK(twice == current);
    // Endpoint texts of the merged snapshot can be built.
    (void)tailscale_endpoints(current, 49182);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto status = parse_ts_status(text)) merge_and_check(*status);
    if (auto body = local_api_response_body(text)) {
        KORVEX_FUZZ_CHECK(text.starts_with("HTTP/1."));
        KORVEX_FUZZ_CHECK(body->size() + 4 <= text.size());
        if (auto status = parse_ts_status(*body)) merge_and_check(*status);
    }
    return 0;
}
