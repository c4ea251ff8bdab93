#pragma once
// Host and port texts as users type them: "host", "host:port", "1.2.3.4:5",
// "[fe80::1]:49182", or a bare IPv6 address.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/error.h"

namespace korvex::client {

inline constexpr std::uint16_t kDefaultPort = 49182;

struct HostPort {
    std::string host;  // name or address, without brackets
    std::uint16_t port = kDefaultPort;

    bool operator==(const HostPort&) const = default;
};

// `default_port` applies when the text names no port.
Result<HostPort> parse_host_port(std::string_view text, std::uint16_t default_port = kDefaultPort);

// A port number 1..65535 in decimal.
Result<std::uint16_t> parse_port(std::string_view text);

// "host:port", with brackets around a host that holds a colon (IPv6).
std::string format_host_port(std::string_view host, std::uint16_t port);
inline std::string format_host_port(const HostPort& hp) { return format_host_port(hp.host, hp.port); }

}  // namespace korvex::client
