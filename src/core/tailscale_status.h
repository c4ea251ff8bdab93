#pragma once
// The Tailscale client's status document, as its local API and its
// command-line tool ("tailscale status --json") report it, and how it
// completes the interface-derived endpoint snapshot.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/endpoints.h"
#include "core/error.h"

namespace korvex {

// Only the members the host reads; everything else in the document is skipped.
struct TsNode {
    std::optional<std::string> dns_name;     // `DNSName`
    std::vector<std::string> tailscale_ips;  // `TailscaleIPs`, as written

    bool operator==(const TsNode&) const = default;
};

struct TsStatus {
    std::optional<TsNode> self;  // `Self`; none means the document carries no status
    std::vector<TsNode> peers;   // the values of `Peer`, in member-name order

    bool operator==(const TsStatus&) const = default;
};

// Reads the document by the JSON rules (members given twice, wrong types and
// trailing data refused). `Self` and `Peer` may be null or absent, as may
// `DNSName` and `TailscaleIPs`.
Result<TsStatus> parse_ts_status(std::string_view json);

// Completes `current` with a status whose `Self` is present: the DNS name
// without trailing dots (none when that leaves nothing), the Tailscale
// addresses of `Self` that interfaces did not show (appended in document
// order), and the peers' Tailscale addresses sorted without duplicates.
// Text that is no IP address or no Tailscale address is ignored. A status
// without `Self` changes nothing.
void merge_ts_status(EndpointSnapshot& current, const TsStatus& status);

// The local API status request. HTTP/1.0 because the body is streamed
// without a length: it ends when the server closes the connection.
inline constexpr std::string_view kLocalApiStatusRequest =
    "GET /localapi/v0/status HTTP/1.0\r\n"
    "Host: local-tailscaled.sock\r\n"
    "Sec-Tailscale: localapi\r\n"
    "Connection: close\r\n"
    "\r\n";

// A status document larger than this is not read (neither from the local API
// nor from the command-line tool); a tailnet of thousands of nodes fits.
inline constexpr std::size_t kMaxStatusBytes = 8u << 20;

// The body of a local API response, or nothing when the response is not
// accepted: it must be at least 7 bytes, begin with "HTTP/1.", have an empty
// line, and hold "200" somewhere before that empty line.
std::optional<std::string_view> local_api_response_body(std::string_view response);

}  // namespace korvex
