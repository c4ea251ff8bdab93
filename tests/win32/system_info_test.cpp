// Adapter enumeration through GetAdaptersAddresses, checked against the
// older IPv4 address table, which comes from a different part of the system.
#include "platform/system_info.h"

#include <gtest/gtest.h>
// Winsock before the helper API's header, which needs its types.
#include <winsock2.h>

#include <iphlpapi.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/endpoints.h"

namespace korvex {
namespace {

std::vector<IpAddress> ipv4_table() {
    ULONG size = 0;
    GetIpAddrTable(nullptr, &size, FALSE);
    std::vector<unsigned char> buffer(size);
    auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
    std::vector<IpAddress> out;
    if (size == 0 || GetIpAddrTable(table, &size, FALSE) != NO_ERROR) return out;
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        IpAddress::V4Bytes bytes{};
        std::memcpy(bytes.data(), &table->table[i].dwAddr, 4);
        out.push_back(IpAddress::v4(bytes));
    }
    return out;
}

TEST(WindowsSystemInfo, ListsTheAdaptersAddressesInNetworkOrder) {
    auto system = make_os_system_info();
    auto addresses = system->interface_addresses();
    ASSERT_TRUE(addresses) << addresses.error().text;
    // Loopback always has an adapter of its own.
    EXPECT_NE(std::find(addresses->begin(), addresses->end(), IpAddress::v4(127, 0, 0, 1)), addresses->end());
    for (const IpAddress& v4 : ipv4_table()) {
        if (v4 == IpAddress{}) continue;  // a disconnected adapter's 0.0.0.0
        EXPECT_NE(std::find(addresses->begin(), addresses->end(), v4), addresses->end()) << v4.to_string();
    }
    // And what discovery makes of them never lists loopback.
    EndpointSnapshot s = collect_local_endpoints(*system);
    for (const auto& a : s.lan_addresses) {
        if (!a.is_v4()) continue;
        EXPECT_NE(a.v4_bytes()[0], 127) << a.to_string();
    }
}

}  // namespace
}  // namespace korvex
