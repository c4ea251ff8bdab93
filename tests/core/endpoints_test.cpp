#include "core/endpoints.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/discovery_fakes.h"

namespace korvex {
namespace {

using test::ip;
using test::ips;

std::vector<std::string> texts(const std::vector<IpAddress>& list) {
    std::vector<std::string> out;
    for (const auto& a : list) out.push_back(a.to_string());
    return out;
}

using Texts = std::vector<std::string>;

TEST(Endpoints, ClassifiesInterfaceAddresses) {
    struct Case {
        const char* what;
        std::vector<IpAddress> interfaces;
        Texts lan;
        Texts tailscale;
    };
    const Case cases[] = {
        {"the usual mix",
         ips({"192.168.1.20", "127.0.0.1", "100.101.102.103", "fe80::1", "fd12::5"}),
         {"192.168.1.20", "fd12::5"},
         {"100.101.102.103"}},
        {"public addresses are never listed",
         ips({"203.0.113.7", "2001:db8::1", "192.168.1.20", "8.8.8.8"}),
         {"192.168.1.20"},
         {}},
        {"link-local IPv4 without DHCP is listed", ips({"169.254.10.10"}), {"169.254.10.10"}, {}},
        {"all private IPv4 ranges, sorted",
         ips({"192.168.0.2", "172.16.5.4", "10.0.0.7", "172.31.0.1"}),
         {"10.0.0.7", "172.16.5.4", "172.31.0.1", "192.168.0.2"},
         {}},
        {"loopback of both families is dropped", ips({"127.0.0.1", "127.1.2.3", "::1"}), {}, {}},
        {"Tailscale IPv6 is a Tailscale address, other unique local is LAN",
         ips({"fd7a:115c:a1e0::1234", "fc00::9", "fd7a:115c:a1e1::1"}),
         {"fc00::9", "fd7a:115c:a1e1::1"},
         {"fd7a:115c:a1e0::1234"}},
        {"IPv6 link-local is dropped, deprecated site-local is not local",
         ips({"fe80::1", "febf::2", "fec0::3"}),
         {},
         {}},
        {"carrier-grade NAT edges",
         ips({"100.64.0.0", "100.127.255.255", "100.128.0.1", "100.63.0.1"}),
         {},
         {"100.64.0.0", "100.127.255.255"}},
        {"duplicates from several adapters appear once, IPv4 first",
         ips({"fd12::5", "192.168.1.20", "100.64.1.1", "192.168.1.20", "fd12::5", "100.64.1.1", "10.0.0.1"}),
         {"10.0.0.1", "192.168.1.20", "fd12::5"},
         {"100.64.1.1"}},
        {"nothing at all", {}, {}, {}},
    };
    for (const auto& c : cases) {
        EndpointSnapshot s = classify_interface_addresses(c.interfaces);
        EXPECT_EQ(texts(s.lan_addresses), c.lan) << c.what;
        EXPECT_EQ(texts(s.tailscale_addresses), c.tailscale) << c.what;
        EXPECT_TRUE(s.tailscale_peers.empty()) << c.what;
        EXPECT_FALSE(s.tailscale_dns_name) << c.what;
    }
}

TEST(Endpoints, CollectingReadsTheAdaptersAndGivesNothingWhenTheyCannotBeListed) {
    test::FakeSystemInfo system;
    system.addresses = ips({"100.101.102.103", "192.168.1.20"});
    EndpointSnapshot s = collect_local_endpoints(system);
    EXPECT_EQ(texts(s.lan_addresses), Texts{"192.168.1.20"});
    EXPECT_EQ(texts(s.tailscale_addresses), Texts{"100.101.102.103"});

    system.fail = true;
    EXPECT_EQ(collect_local_endpoints(system), EndpointSnapshot{});
}

TEST(Endpoints, FormatsEndpointTexts) {
    struct Case {
        const char* address;
        std::uint16_t port;
        const char* text;
    };
    const Case cases[] = {
        {"192.168.1.20", 49182, "192.168.1.20:49182"},
        {"fd12:3456:0:0:0:0:0:7", 49182, "[fd12:3456::7]:49182"},
        {"FD7A:115C:A1E0::1234", 49183, "[fd7a:115c:a1e0::1234]:49183"},
        {"::1", 0, "[::1]:0"},
        {"10.0.0.1", 65535, "10.0.0.1:65535"},
        {"::ffff:10.0.0.1", 1, "[::ffff:10.0.0.1]:1"},
    };
    for (const auto& c : cases) EXPECT_EQ(format_endpoint(ip(c.address), c.port), c.text) << c.address;
}

TEST(Endpoints, ReplyListsFollowTheSnapshotOrderAndAddTheDnsName) {
    EndpointSnapshot s;
    s.lan_addresses = ips({"192.168.1.20", "fd12::5"});
    s.tailscale_addresses = ips({"100.101.102.103"});
    EXPECT_EQ(lan_endpoints(s, 49182), (Texts{"192.168.1.20:49182", "[fd12::5]:49182"}));
    EXPECT_EQ(tailscale_endpoints(s, 49182), Texts{"100.101.102.103:49182"});

    s.tailscale_dns_name = "desktop-4k2j.tail4f69a0.ts.net";
    s.tailscale_addresses = ips({"100.101.102.103", "fd7a:115c:a1e0::1234"});  // merged order, not re-sorted
    EXPECT_EQ(tailscale_endpoints(s, 49183),
              (Texts{"100.101.102.103:49183", "[fd7a:115c:a1e0::1234]:49183", "desktop-4k2j.tail4f69a0.ts.net:49183"}));

    // A DNS name without any address still gives one endpoint.
    EndpointSnapshot name_only;
    name_only.tailscale_dns_name = "host1.example";
    EXPECT_EQ(tailscale_endpoints(name_only, 49182), Texts{"host1.example:49182"});
    EXPECT_TRUE(lan_endpoints(name_only, 49182).empty());
}

TEST(Endpoints, PublishingReplacesOnlyWhenAFieldDiffers) {
    EndpointSnapshot base;
    base.lan_addresses = ips({"192.168.1.20"});
    base.tailscale_addresses = ips({"100.101.102.103"});
    base.tailscale_peers = ips({"100.88.12.34"});
    base.tailscale_dns_name = "host1.example";

    SharedEndpointSnapshot shared;
    EXPECT_FALSE(shared.publish(EndpointSnapshot{}));  // equal to the empty start
    EXPECT_TRUE(shared.publish(base));
    EXPECT_FALSE(shared.publish(base));
    EXPECT_EQ(shared.read(), base);

    struct Change {
        const char* what;
        void (*apply)(EndpointSnapshot&);
    };
    const Change changes[] = {
        {"lan", [](EndpointSnapshot& s) { s.lan_addresses.push_back(test::ip("10.0.0.1")); }},
        {"tailscale", [](EndpointSnapshot& s) { s.tailscale_addresses.clear(); }},
        {"peers", [](EndpointSnapshot& s) { s.tailscale_peers.push_back(test::ip("100.71.200.5")); }},
        {"dns name", [](EndpointSnapshot& s) { s.tailscale_dns_name = "host2.example"; }},
        {"dns name gone", [](EndpointSnapshot& s) { s.tailscale_dns_name.reset(); }},
    };
    for (const auto& c : changes) {
        EndpointSnapshot next = base;
        c.apply(next);
        EXPECT_TRUE(shared.publish(next)) << c.what;
        EXPECT_EQ(shared.read(), next) << c.what;
        EXPECT_TRUE(shared.publish(base)) << c.what;
    }
}

// Readers copy under the lock, so they never see half of a publication.
TEST(Endpoints, ReadersSeeWholeSnapshotsWhileTheWriterPublishes) {
    SharedEndpointSnapshot shared;
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!done.load()) {
            EndpointSnapshot s = shared.read();
            if (s.lan_addresses.size() != s.tailscale_peers.size()) ++torn;
        }
    });
    for (int i = 0; i < 2000; ++i) {
        EndpointSnapshot s;
        const auto n = static_cast<std::size_t>(i % 7);
        s.lan_addresses.assign(n, ip("10.0.0.1"));
        s.tailscale_peers.assign(n, ip("100.64.0.1"));
        shared.publish(s);
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
}

}  // namespace
}  // namespace korvex
