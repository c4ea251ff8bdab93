#pragma once
// Socket addresses seen through the project's own address rules.
#include <asio/ip/address.hpp>

#include "core/endpoints.h"
#include "core/ip_address.h"

namespace korvex::net {

IpAddress to_ip_address(const asio::ip::address& address);

// ::ffff:a.b.c.d becomes a.b.c.d, so a peer reached over a dual-stack socket
// compares equal to the same peer seen over IPv4.
asio::ip::address canonical_address(const asio::ip::address& address);

// Only peers on the machine's own networks (private, link-local, loopback,
// Tailscale, unique local) may open sessions. Used where the address the
// packet arrived on is not known (datagrams: see datagram_task).
bool is_local_peer(const asio::ip::address& address);

// The accept rule: local peers, with the carrier-grade NAT range only for
// connections that arrived on one of the host's own Tailscale addresses.
bool admits_connection(const asio::ip::address& peer, const asio::ip::address& arrived_on,
                       const EndpointSnapshot& own);

}  // namespace korvex::net
