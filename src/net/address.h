#pragma once
// Socket addresses seen through the project's own address rules.
#include <asio/ip/address.hpp>

#include "core/ip_address.h"

namespace korvex::net {

IpAddress to_ip_address(const asio::ip::address& address);

// ::ffff:a.b.c.d becomes a.b.c.d, so a peer reached over a dual-stack socket
// compares equal to the same peer seen over IPv4.
asio::ip::address canonical_address(const asio::ip::address& address);

// Only peers on the machine's own networks (private, link-local, loopback,
// Tailscale, unique local) may open sessions.
bool is_local_peer(const asio::ip::address& address);

}  // namespace korvex::net
