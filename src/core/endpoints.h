#pragma once
// Where the host can be reached: its LAN and Tailscale addresses, the
// Tailscale addresses of the rest of its tailnet and its Tailscale DNS name,
// and the endpoint texts the handshakes, the pairing offer and the
// advertisement hand out.
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/ip_address.h"

namespace korvex {

class SystemInfo;

struct EndpointSnapshot {
    std::vector<IpAddress> lan_addresses;
    std::vector<IpAddress> tailscale_addresses;
    std::vector<IpAddress> tailscale_peers;         // sorted, without duplicates
    std::optional<std::string> tailscale_dns_name;  // without trailing dots

    bool operator==(const EndpointSnapshot&) const = default;
};

// Sorted (IPv4 before IPv6, ascending) and without duplicates.
void sort_unique(std::vector<IpAddress>& addresses);

// The snapshot of a list of interface addresses: only local addresses are
// kept (public ones are never handed out), loopback is dropped, Tailscale
// addresses go to `tailscale_addresses`, IPv6 link-local goes, the rest
// (private, 169.254/16, unique local) are LAN addresses. Both lists sorted,
// without duplicates.
EndpointSnapshot classify_interface_addresses(std::span<const IpAddress> addresses);

// The interfaces' addresses classified; both lists are empty when the
// enumeration fails. Blocking.
EndpointSnapshot collect_local_endpoints(SystemInfo& system);

// "192.168.1.20:49182", "[fd12:3456::7]:49182".
std::string format_endpoint(const IpAddress& address, std::uint16_t port);

// `lanEndpoints` of the handshake replies: every LAN address with the port.
std::vector<std::string> lan_endpoints(const EndpointSnapshot& snapshot, std::uint16_t port);
// `tailscaleEndpoints`: every own Tailscale address with the port, then the
// DNS name with the port when there is one.
std::vector<std::string> tailscale_endpoints(const EndpointSnapshot& snapshot, std::uint16_t port);

// The one shared snapshot. Only the discovery task writes it; readers (tray,
// console, handshakes) take copies and never wait for I/O, since the lock is
// held only to compare and copy. Share it through std::shared_ptr.
class SharedEndpointSnapshot {
public:
    SharedEndpointSnapshot() = default;
    explicit SharedEndpointSnapshot(EndpointSnapshot initial) : snapshot_(std::move(initial)) {}
    SharedEndpointSnapshot(const SharedEndpointSnapshot&) = delete;
    SharedEndpointSnapshot& operator=(const SharedEndpointSnapshot&) = delete;

    EndpointSnapshot read() const {
        std::lock_guard lock(mutex_);
        return snapshot_;
    }
    // Replaces the snapshot when any field differs; true when it did.
    bool publish(const EndpointSnapshot& current) {
        std::lock_guard lock(mutex_);
        if (snapshot_ == current) return false;
        snapshot_ = current;
        return true;
    }

private:
    // A plain mutex: it is held only to compare and copy, and the MinGW
    // runtime's reader-writer lock has been seen to deadlock a reader and
    // the writer under load.
    mutable std::mutex mutex_;
    EndpointSnapshot snapshot_;
};

}  // namespace korvex
