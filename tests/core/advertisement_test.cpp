#include "core/advertisement.h"

#include <gtest/gtest.h>

#include "support/discovery_fakes.h"

namespace korvex {
namespace {

using test::ip;
using test::ips;
using Properties = std::vector<std::pair<std::string, std::string>>;

Key32 test_key() {
    Key32 k{};
    for (std::size_t i = 0; i < k.size(); ++i) k[i] = static_cast<std::uint8_t>(0x40 + i);
    return k;
}

TEST(Advertisement, HostNameLabel) {
    struct Case {
        std::string display_name;
        std::string label;
    };
    const Case cases[] = {
        {"DESKTOP-4K2J", "DESKTOP-4K2J"},
        {"Office PC #2", "Office-PC--2"},
        {"", "windows-pc"},
        {"laptop", "laptop"},
        {"a.b_c", "a-b-c"},
        {" lead ", "-lead-"},                // nothing trimmed
        {"Caf\xC3\xA9", "Caf-"},             // two-byte character: one "-"
        {"\xE6\x97\xA5\xE6\x9C\xAC", "--"},  // two three-byte characters
        {"PC\xF0\x9F\x98\x80", "PC-"},       // four-byte character
        {"J\xC3\xBCrgen's PC", "J-rgen-s-PC"},
        {"a\xFF"
         "b",
         "a-b"},  // a stray byte counts as one character
        {"a\x80\x80"
         "b",
         "a--b"},  // so do stray continuation bytes
    };
    for (const auto& c : cases) EXPECT_EQ(host_name_label(c.display_name), c.label) << c.display_name;
}

TEST(Advertisement, PrimaryTailscaleAddressPrefersIpv4) {
    EndpointSnapshot s;
    EXPECT_FALSE(primary_tailscale_address(s));
    s.tailscale_addresses = ips({"fd7a:115c:a1e0::1234"});
    EXPECT_EQ(primary_tailscale_address(s), ip("fd7a:115c:a1e0::1234"));
    s.tailscale_addresses = ips({"fd7a:115c:a1e0::1234", "100.101.102.103", "100.64.0.1"});
    EXPECT_EQ(primary_tailscale_address(s), ip("100.101.102.103"));
}

TEST(Advertisement, ServiceRecord) {
    AdvertisementConfig config{"0f8e-id", "Office PC #2", test_key(), 49183, nullptr};
    EndpointSnapshot s;
    s.lan_addresses = ips({"192.168.1.20", "fd12::5"});

    ServiceInfo lan_only = build_service_info(config, advertised_addresses(s), primary_tailscale_address(s));
    EXPECT_EQ(lan_only.service_type, "_korvex._tcp.local.");
    EXPECT_EQ(lan_only.instance_name, "Office PC #2");
    EXPECT_EQ(lan_only.host_name, "Office-PC--2.local.");
    EXPECT_EQ(lan_only.full_name(), "Office PC #2._korvex._tcp.local.");
    EXPECT_EQ(lan_only.port, 49183);
    EXPECT_EQ(lan_only.addresses, ips({"192.168.1.20", "fd12::5"}));
    const std::string fp = host_fingerprint(test_key());
    EXPECT_EQ(fp.size(), 16u);
    EXPECT_EQ(lan_only.properties,
              (Properties{{"v", "1"}, {"id", "0f8e-id"}, {"name", "Office PC #2"}, {"os", "windows"}, {"fp", fp}}));

    s.tailscale_addresses = ips({"fd7a:115c:a1e0::1234", "100.101.102.103"});
    ServiceInfo with_ts = build_service_info(config, advertised_addresses(s), primary_tailscale_address(s));
    EXPECT_EQ(with_ts.addresses, ips({"100.101.102.103", "192.168.1.20", "fd12::5", "fd7a:115c:a1e0::1234"}));
    EXPECT_EQ(with_ts.properties, (Properties{{"v", "1"},
                                              {"id", "0f8e-id"},
                                              {"name", "Office PC #2"},
                                              {"os", "windows"},
                                              {"ts", "100.101.102.103:49183"},
                                              {"fp", fp}}));

    s.tailscale_addresses = ips({"fd7a:115c:a1e0::1234"});
    ServiceInfo v6_ts = build_service_info(config, advertised_addresses(s), primary_tailscale_address(s));
    EXPECT_EQ(v6_ts.properties[4], (std::pair<std::string, std::string>{"ts", "[fd7a:115c:a1e0::1234]:49183"}));
}

// One step of a sequence of cycles: the snapshot of that cycle, what the
// responder does, and the calls expected of it.
struct Step {
    const char* what;
    std::vector<IpAddress> lan;
    std::vector<IpAddress> tailscale;
    std::optional<std::string> dns_name;
    bool refuse = false;
    bool lose = false;  // the responder reports the current registration as failed
    std::vector<std::string> calls;
    std::optional<std::string> ts_property;  // of the last registration
};

void run_steps(const std::vector<Step>& steps) {
    auto responder = std::make_shared<test::FakeAdvertiser>();
    AdvertisementConfig config{"id-1", "DESKTOP-4K2J", test_key(), 49182, responder};
    RegistrationRecord record;
    const std::string full = "DESKTOP-4K2J._korvex._tcp.local.";
    for (const auto& step : steps) {
        EndpointSnapshot s;
        s.lan_addresses = step.lan;
        s.tailscale_addresses = step.tailscale;
        s.tailscale_dns_name = step.dns_name;
        responder->refuse = step.refuse;
        if (step.lose && record.full_name) responder->lost.insert(*record.full_name);
        responder->log.clear();
        update_advertisement(s, config, record);
        std::vector<std::string> expected;
        for (const auto& call : step.calls) expected.push_back(call + " " + full);
        EXPECT_EQ(responder->log, expected) << step.what;
        if (step.refuse) {
            EXPECT_FALSE(record.full_name) << step.what;
        }
        if (!step.calls.empty() && step.calls.back() == "register" && !step.refuse) {
            ASSERT_FALSE(responder->registered.empty());
            const ServiceInfo& last = responder->registered.back();
            std::optional<std::string> ts;
            for (const auto& [key, value] : last.properties) {
                if (key == "ts") ts = value;
            }
            EXPECT_EQ(ts, step.ts_property) << step.what;
            EXPECT_EQ(record.full_name, full) << step.what;
            EXPECT_EQ(record.addresses, last.addresses) << step.what;
        }
    }
}

TEST(Advertisement, FollowsTheAddresses) {
    const auto lan = ips({"192.168.1.20"});
    const auto lan2 = ips({"192.168.1.21"});
    const auto ts = ips({"100.101.102.103"});
    run_steps({
        {"no address yet: nothing", {}, {}, {}, false, false, {}, {}},
        {"first address: first registration", lan, {}, {}, false, false, {"register"}, std::nullopt},
        {"no change", lan, {}, {}, false, false, {}, {}},
        {"only the DNS name changes", lan, {}, "host1.example", false, false, {}, {}},
        {"address change re-registers after unregistering",
         lan2,
         {},
         {},
         false,
         false,
         {"unregister", "register"},
         std::nullopt},
        {"no address: the old registration stays", {}, {}, {}, false, false, {}, {}},
        {"Tailscale comes up: ts is added",
         lan2,
         ts,
         {},
         false,
         false,
         {"unregister", "register"},
         "100.101.102.103:49182"},
        {"same again", lan2, ts, "host1.example", false, false, {}, {}},
    });
}

TEST(Advertisement, RefusedRegistrationIsRetriedNextCycle) {
    const auto lan = ips({"192.168.1.20"});
    const auto lan2 = ips({"10.0.0.5"});
    run_steps({
        {"first cycle refused", lan, {}, {}, true, false, {"register"}, {}},
        {"same addresses: tried again", lan, {}, {}, false, false, {"register"}, std::nullopt},
        {"then left alone", lan, {}, {}, false, false, {}, {}},
        {"change refused: old one is withdrawn first", lan2, {}, {}, true, false, {"unregister", "register"}, {}},
        {"retried with nothing to withdraw", lan2, {}, {}, false, false, {"register"}, std::nullopt},
    });
}

TEST(Advertisement, RegistrationTheResponderLostIsRegisteredAgain) {
    const auto lan = ips({"192.168.1.20"});
    run_steps({
        {"registered", lan, {}, {}, false, false, {"register"}, std::nullopt},
        {"lost: withdrawn and registered again", lan, {}, {}, false, true, {"unregister", "register"}, std::nullopt},
        {"settled", lan, {}, {}, false, false, {}, {}},
    });
}

TEST(Advertisement, PrimaryTailscaleChangeAloneReRegisters) {
    // The same sorted address list, but the primary Tailscale address (and
    // with it the `ts` property) differs.
    const auto ts_v6 = ips({"fd7a:115c:a1e0::1"});
    run_steps({
        {"v6 primary", ips({"100.64.0.9"}), ts_v6, {}, false, false, {"register"}, "[fd7a:115c:a1e0::1]:49182"},
        {"v4 primary, same sorted set",
         {},
         ips({"fd7a:115c:a1e0::1", "100.64.0.9"}),
         {},
         false,
         false,
         {"unregister", "register"},
         "100.64.0.9:49182"},
    });
}

}  // namespace
}  // namespace korvex
