#include "net/address.h"

namespace korvex::net {

IpAddress to_ip_address(const asio::ip::address& address) {
    if (address.is_v4()) return IpAddress::v4(address.to_v4().to_bytes());
    return IpAddress::v6(address.to_v6().to_bytes());
}

asio::ip::address canonical_address(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    return address;
}

bool is_local_peer(const asio::ip::address& address) { return is_local_address(to_ip_address(address)); }

bool admits_connection(const asio::ip::address& peer, const asio::ip::address& arrived_on,
                       const EndpointSnapshot& own) {
    return is_admitted_peer(to_ip_address(peer), to_ip_address(arrived_on), own.tailscale_addresses);
}

}  // namespace korvex::net
