#pragma once
// IP addresses as plain bytes, with their text forms and the address classes
// the host admits peers by and advertises itself under. Portable on purpose:
// the listener converts its socket addresses to this type, and discovery
// works on it throughout.
#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace korvex {

class IpAddress {
public:
    using V4Bytes = std::array<std::uint8_t, 4>;
    using V6Bytes = std::array<std::uint8_t, 16>;

    // 0.0.0.0
    IpAddress() = default;
    static IpAddress v4(const V4Bytes& bytes);
    static IpAddress v4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) { return v4({a, b, c, d}); }
    static IpAddress v6(const V6Bytes& bytes);

    // Dotted decimal (four decimal numbers 0-255 without leading zeros) or
    // the IPv6 text forms (groups of 1-4 hex digits, one "::", a dotted IPv4
    // tail). Zone suffixes ("%eth0"), prefixes and brackets are refused.
    static std::optional<IpAddress> parse(std::string_view text);

    bool is_v4() const { return !v6_; }
    bool is_v6() const { return v6_; }
    // 4 bytes for IPv4, 16 for IPv6, network order.
    std::span<const std::uint8_t> bytes() const { return {bytes_.data(), v6_ ? 16u : 4u}; }
    V4Bytes v4_bytes() const { return {bytes_[0], bytes_[1], bytes_[2], bytes_[3]}; }
    const V6Bytes& v6_bytes() const { return bytes_; }

    // Dotted decimal, or the compressed lower-case IPv6 form (longest run of
    // two or more zero groups as "::", the first of equal runs; ::ffff:a.b.c.d
    // with its IPv4 tail in dotted form).
    std::string to_string() const;

    // The sorted order: IPv4 before IPv6, then by the bytes as a big-endian
    // number.
    std::strong_ordering operator<=>(const IpAddress& other) const;
    bool operator==(const IpAddress& other) const = default;

private:
    bool v6_ = false;
    V6Bytes bytes_{};  // IPv4 uses the first four bytes, the rest stay zero
};

// ::ffff:a.b.c.d becomes a.b.c.d; every other address is returned unchanged.
IpAddress canonical_ip(const IpAddress& address);

// Private, loopback, link-local, carrier-grade NAT (Tailscale) and unique
// local addresses; IPv4-mapped IPv6 addresses by their IPv4 part.
bool is_local_address(const IpAddress& address);

// 100.64.0.0/10 and fd7a:115c:a1e0::/48. A mapped IPv6 address is not
// converted first.
bool is_tailscale_address(const IpAddress& address);

// The rule peers are admitted by: local addresses, except that the
// carrier-grade NAT range (100.64.0.0/10) is shared by every subscriber of
// a hotspot or a carrier-grade NAT ISP, so it counts only for connections
// that arrived on one of the host's own Tailscale addresses. `arrived_on`
// is the connection's local address; nothing when the platform cannot say,
// and then the range is admitted as before.
bool is_admitted_peer(const IpAddress& peer, const std::optional<IpAddress>& arrived_on,
                      std::span<const IpAddress> own_tailscale);

}  // namespace korvex
