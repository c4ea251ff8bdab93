#include "core/ip_address.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "support/discovery_fakes.h"

namespace korvex {
namespace {

using test::ip;

TEST(IpAddress, ParsesTextFormsAndWritesTheCompressedLowerCaseForm) {
    struct Case {
        const char* in;
        const char* out;
        bool v6;
    };
    const Case cases[] = {
        {"0.0.0.0", "0.0.0.0", false},
        {"192.168.1.20", "192.168.1.20", false},
        {"255.255.255.255", "255.255.255.255", false},
        {"::", "::", true},
        {"::1", "::1", true},
        {"1::", "1::", true},
        {"FE80::1", "fe80::1", true},
        {"fd12:3456:0:0:0:0:0:7", "fd12:3456::7", true},
        {"2001:0db8:0000:0000:0000:0000:0000:0001", "2001:db8::1", true},
        // Equal runs: the first one is compressed.
        {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1", true},
        // The longer run wins even when it comes second.
        {"1:0:0:2:0:0:0:3", "1:0:0:2::3", true},
        // A single zero group stays as it is.
        {"1:0:1:0:1:0:1:0", "1:0:1:0:1:0:1:0", true},
        {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0", true},
        {"::2:3:4:5:6:7:8", "0:2:3:4:5:6:7:8", true},
        {"fd7a:115c:a1e0:ab12::1", "fd7a:115c:a1e0:ab12::1", true},
        // Mapped addresses keep their IPv4 tail dotted, however they came in.
        {"::ffff:192.168.1.20", "::ffff:192.168.1.20", true},
        {"::FFFF:c0a8:114", "::ffff:192.168.1.20", true},
        // Other embedded IPv4 forms are plain groups.
        {"::192.168.1.1", "::c0a8:101", true},
        {"64:ff9b::10.0.0.1", "64:ff9b::a00:1", true},
    };
    for (const auto& c : cases) {
        auto parsed = IpAddress::parse(c.in);
        ASSERT_TRUE(parsed) << c.in;
        EXPECT_EQ(parsed->is_v6(), c.v6) << c.in;
        EXPECT_EQ(parsed->to_string(), c.out) << c.in;
        EXPECT_EQ(IpAddress::parse(parsed->to_string()), parsed) << c.in;  // round trip
    }
}

TEST(IpAddress, RefusesMalformedText) {
    for (const char* bad : {"",
                            "1.2.3",
                            "1.2.3.4.5",
                            "256.1.1.1",
                            "1.2.3.256",
                            "01.2.3.4",
                            "1.2.3.04",
                            "1..3.4",
                            "1.2.3.-4",
                            " 1.2.3.4",
                            "1.2.3.4 ",
                            "1.2.3.4.",
                            "a.b.c.d",
                            "1:2:3:4:5:6:7",
                            "1:2:3:4:5:6:7:8:9",
                            "1:2:3:4:5:6:7:8::",
                            "::1:2:3:4:5:6:7:8",
                            "1::2::3",
                            ":::",
                            ":1::",
                            "1::2:",
                            "12345::",
                            "g::",
                            "fe80::1%eth0",
                            "[::1]",
                            "::1/128",
                            "::1.2.3.4:5",
                            "1.2.3.4::",
                            "::ffff:1.2.3",
                            "::ffff:256.0.0.1",
                            "1:2:3:4:5:6:7:1.2.3.4"}) {
        EXPECT_FALSE(IpAddress::parse(bad)) << bad;
    }
}

TEST(IpAddress, SortsIpv4BeforeIpv6ThenByBytes) {
    std::vector<IpAddress> list = {ip("fd12::5"),       ip("192.168.1.20"), ip("::1"),      ip("10.0.0.9"),
                                   ip("9.255.255.255"), ip("fd12::4"),      ip("255.0.0.0")};
    std::sort(list.begin(), list.end());
    std::vector<std::string> texts;
    for (const auto& a : list) texts.push_back(a.to_string());
    EXPECT_EQ(texts, (std::vector<std::string>{"9.255.255.255", "10.0.0.9", "192.168.1.20", "255.0.0.0", "::1",
                                               "fd12::4", "fd12::5"}));
    // 0.0.0.0 and :: are different addresses.
    EXPECT_NE(ip("0.0.0.0"), ip("::"));
}

TEST(IpAddress, CanonicalFormUnmapsOnlyMappedAddresses) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"::ffff:192.168.1.20", "192.168.1.20"},
        {"::ffff:0.0.0.0", "0.0.0.0"},
        {"192.168.1.20", "192.168.1.20"},
        {"::192.168.1.20", "::c0a8:114"},  // compatible form, not mapped
        {"::fffe:c0a8:114", "::fffe:c0a8:114"},
        {"1::ffff:c0a8:114", "1::ffff:c0a8:114"},
        {"fe80::1", "fe80::1"},
    };
    for (const auto& c : cases) EXPECT_EQ(canonical_ip(ip(c.in)).to_string(), c.out) << c.in;
    EXPECT_TRUE(canonical_ip(ip("::ffff:10.0.0.1")).is_v4());
}

TEST(IpAddress, LocalAddressesAreThePrivateLoopbackLinkLocalAndTailscaleRanges) {
    for (const char* admitted : {"192.168.1.20",      "192.168.0.0",
                                 "192.168.255.255",   "10.1.2.3",
                                 "10.0.0.0",          "10.255.255.255",
                                 "172.16.0.1",        "172.31.255.255",
                                 "169.254.9.9",       "127.0.0.1",
                                 "127.255.255.255",   "100.64.0.1",
                                 "100.127.255.255",   "::1",
                                 "fe80::1",           "febf:ffff::1",
                                 "fc00::1",           "fd12::5",
                                 "fd7a:115c:a1e0::5", "::ffff:192.168.1.20",
                                 "::ffff:127.0.0.1",  "::ffff:100.64.0.1"}) {
        EXPECT_TRUE(is_local_address(ip(admitted))) << admitted;
    }
    for (const char* refused : {"203.0.113.7",
                                "172.32.0.1",
                                "172.15.255.255",
                                "100.63.255.255",
                                "100.128.0.1",
                                "192.169.0.1",
                                "169.253.0.1",
                                "11.0.0.1",
                                "0.0.0.0",
                                "255.255.255.255",
                                "2001:db8::1",
                                "fec0::1",
                                "fe7f::1",
                                "fb00::1",
                                "fe00::1",
                                "::",
                                "::2",
                                "::ffff:203.0.113.7",
                                "::ffff:0.0.0.0",
                                "::10.0.0.1"}) {
        EXPECT_FALSE(is_local_address(ip(refused))) << refused;
    }
}

TEST(IpAddress, TailscaleAddressesAreTheCgnatRangeAndTheTailscaleIpv6Prefix) {
    struct Case {
        const char* address;
        bool tailscale;
    };
    const Case cases[] = {
        {"100.64.0.1", true},       {"100.64.0.0", true},         {"100.127.255.255", true},
        {"100.101.102.103", true},  {"100.63.255.255", false},    {"100.128.0.0", false},
        {"192.168.1.1", false},     {"10.0.0.1", false},          {"fd7a:115c:a1e0:ab12::1", true},
        {"fd7a:115c:a1e0::", true}, {"fd7a:115c:a1e1::1", false}, {"fd7a:115c:a0e0::1", false},
        {"fd12::5", false},         {"::ffff:100.64.0.1", false},  // mapped: not converted
    };
    for (const auto& c : cases) EXPECT_EQ(is_tailscale_address(ip(c.address)), c.tailscale) << c.address;
}

}  // namespace
TEST(IpAddress, CarrierNatPeersOnlyOnTheHostsOwnTailscaleAddress) {
    const std::vector<IpAddress> own = {ip("100.101.102.103"), ip("fd7a:115c:a1e0::7")};
    struct Case {
        const char* peer;
        std::optional<const char*> arrived_on;  // nothing: the platform cannot say
        bool admitted;
    };
    const Case cases[] = {
        {"100.64.1.2", "100.101.102.103", true},      // over Tailscale
        {"100.127.0.9", "::ffff:100.101.102.103", true},
        {"::ffff:100.64.1.2", "100.101.102.103", true},
        {"100.64.1.2", "192.168.1.20", false},        // a hotspot or carrier-grade NAT neighbour
        {"100.64.1.2", "100.72.0.1", false},          // a CGNAT address that is not our Tailscale one
        {"100.64.1.2", "10.0.0.5", false},
        {"100.64.1.2", std::nullopt, true},           // unknown: the rule as before
        {"192.168.1.7", "100.101.102.103", true},     // other local ranges on any address
        {"10.1.2.3", "192.168.1.20", true},
        {"fd7a:115c:a1e0::5", "fd12::1", true},
        {"203.0.113.7", "100.101.102.103", false},    // never local
        {"203.0.113.7", std::nullopt, false},
    };
    for (const auto& c : cases) {
        std::optional<IpAddress> arrived;
        if (c.arrived_on) arrived = ip(*c.arrived_on);
        EXPECT_EQ(is_admitted_peer(ip(c.peer), arrived, own), c.admitted)
            << c.peer << " arriving on " << c.arrived_on.value_or("(unknown)");
    }
    EXPECT_FALSE(is_admitted_peer(ip("100.64.1.2"), ip("100.101.102.103"), {})) << "no Tailscale address of our own";
}

}  // namespace korvex
