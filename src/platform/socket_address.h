#pragma once
// An OS socket address as an IpAddress. Both systems declare sockaddr_in and
// sockaddr_in6 with the same member names; the includer brings the headers
// that declare them (netinet/in.h, or winsock2.h and ws2tcpip.h).
#include <cstddef>
#include <cstring>
#include <optional>

#include "core/ip_address.h"

namespace korvex {

// Nothing for a null address, another family, or a `length` too short for
// the family's structure. The structure is copied out first: the system's
// buffer need not be aligned for it.
template <typename Sockaddr>
std::optional<IpAddress> ip_from_sockaddr(const Sockaddr* address, std::size_t length) {
    if (address == nullptr) return std::nullopt;
    if (address->sa_family == AF_INET && length >= sizeof(sockaddr_in)) {
        sockaddr_in v4{};
        std::memcpy(&v4, address, sizeof v4);
        IpAddress::V4Bytes bytes{};
        std::memcpy(bytes.data(), &v4.sin_addr, bytes.size());
        return IpAddress::v4(bytes);
    }
    if (address->sa_family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
        sockaddr_in6 v6{};
        std::memcpy(&v6, address, sizeof v6);
        IpAddress::V6Bytes bytes{};
        std::memcpy(bytes.data(), &v6.sin6_addr, bytes.size());
        return IpAddress::v6(bytes);
    }
    return std::nullopt;
}

}  // namespace korvex
