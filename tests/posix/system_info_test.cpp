// Interface enumeration through getifaddrs, checked against the loopback
// interface every Linux machine has, and the socket address conversion on
// the cases the system can hand it.
#include "platform/system_info.h"

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>

#include "platform/socket_address.h"

namespace korvex {
namespace {

TEST(PosixSystemInfo, ListsLoopbackInNetworkOrder) {
    auto addresses = make_os_system_info()->interface_addresses();
    ASSERT_TRUE(addresses) << addresses.error().text;
    EXPECT_NE(std::find(addresses->begin(), addresses->end(), IpAddress::v4(127, 0, 0, 1)), addresses->end());
}

TEST(SocketAddress, ConvertsBothFamiliesAndRefusesTheRest) {
    sockaddr_storage storage{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    v4->sin_family = AF_INET;
    inet_pton(AF_INET, "192.168.1.20", &v4->sin_addr);
    const auto* any = reinterpret_cast<const sockaddr*>(&storage);
    EXPECT_EQ(ip_from_sockaddr(any, sizeof(sockaddr_in)), IpAddress::v4(192, 168, 1, 20));
    EXPECT_EQ(ip_from_sockaddr(any, sizeof(sockaddr_in) - 1), std::nullopt) << "too short for its family";

    storage = {};
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    v6->sin6_family = AF_INET6;
    inet_pton(AF_INET6, "fd12::5", &v6->sin6_addr);
    EXPECT_EQ(ip_from_sockaddr(any, sizeof(sockaddr_in6)), IpAddress::parse("fd12::5"));

    storage = {};
    storage.ss_family = AF_UNIX;
    EXPECT_EQ(ip_from_sockaddr(any, sizeof storage), std::nullopt);
    EXPECT_EQ(ip_from_sockaddr(static_cast<const sockaddr*>(nullptr), 0), std::nullopt);
}

}  // namespace
}  // namespace korvex
