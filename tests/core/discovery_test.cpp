#include "core/discovery.h"

#include <gtest/gtest.h>

#include "support/discovery_fakes.h"

namespace korvex {
namespace {

using test::ips;

const std::string kStatusJson =
    R"({"Self":{"DNSName":"host1.example.","TailscaleIPs":["100.101.102.103","fd7a:115c:a1e0::1234"]},)"
    R"("Peer":{"k":{"TailscaleIPs":["100.88.12.34"]}}})";
const std::string kOkResponse = "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n" + kStatusJson;

TEST(Discovery, RefreshDecision) {
    const auto ts = ips({"100.101.102.103"});
    const auto other_ts = ips({"100.101.102.104"});
    const std::vector<IpAddress> none;
    struct Case {
        const char* what;
        bool queried_before;
        std::uint64_t obtained_ms;
        std::vector<IpAddress> previous;
        std::vector<IpAddress> current;
        std::uint64_t now_ms;
        bool refresh;
    };
    const Case cases[] = {
        {"never queried", false, 0, none, none, 0, true},
        {"never queried, with Tailscale", false, 0, ts, ts, 5'000'000, true},
        {"fresh, with Tailscale", true, 100'000, ts, ts, 129'999, false},
        {"30 s old, with Tailscale", true, 100'000, ts, ts, 130'000, true},
        {"fresh, without Tailscale", true, 100'000, none, none, 159'999, false},
        {"30 s old is still fresh without Tailscale", true, 100'000, none, none, 130'000, false},
        {"60 s old, without Tailscale", true, 100'000, none, none, 160'000, true},
        {"address appeared", true, 100'000, none, ts, 100'000, true},
        {"address went away", true, 100'000, ts, none, 100'000, true},
        {"address changed", true, 100'000, ts, other_ts, 100'001, true},
        {"clock behind the cache", true, 100'000, ts, ts, 50'000, false},
    };
    for (const auto& c : cases) {
        DiscoveryState state;
        if (c.queried_before) state.cached = CachedTsStatus{std::nullopt, c.obtained_ms};
        state.previous_tailscale = c.previous;
        EXPECT_EQ(should_refresh_status(state, c.current, c.now_ms), c.refresh) << c.what;
    }
}

TEST(Discovery, FetchPrefersTheLocalApiAndFallsBackToTheCommand) {
    const Result<std::string> no_api = fail("connection refused");
    const Result<CommandOutput> command_ok = CommandOutput{0, R"({"Self":{"DNSName":"from-command."}})"};
    struct Case {
        const char* what;
        bool has_tailscale;
        Result<std::string> api;
        Result<CommandOutput> command;
        int api_calls;
        int command_calls;
        std::optional<std::string> dns_name;  // of Self; "-" for no status at all
    };
    const Case cases[] = {
        {"local API answers", true, kOkResponse, command_ok, 1, 0, "host1.example."},
        {"no Tailscale address: the local API is not tried", false, kOkResponse, command_ok, 0, 1, "from-command."},
        {"403 falls back", true, std::string("HTTP/1.0 403 Forbidden\r\n\r\n") + kStatusJson, command_ok, 1, 1,
         "from-command."},
        {"time-out falls back", true, Result<std::string>(fail("time-out")), command_ok, 1, 1, "from-command."},
        {"invalid JSON falls back", true, std::string("HTTP/1.0 200 OK\r\n\r\n{\"Self\":"), command_ok, 1, 1,
         "from-command."},
        {"short response falls back", true, std::string("HTTP/1."), command_ok, 1, 1, "from-command."},
        {"command exits 1", false, no_api, CommandOutput{1, kStatusJson}, 0, 1, "-"},
        {"command prints no JSON", false, no_api, CommandOutput{0, "Tailscale is stopped."}, 0, 1, "-"},
        {"command cannot start or is stopped", true, no_api, Result<CommandOutput>(fail("not found")), 1, 1, "-"},
        // A parsed document is used even when it has no Self: it then means no status.
        {"local API without Self", true, std::string("HTTP/1.0 200 OK\r\n\r\n{\"Self\":null}"), command_ok, 1, 0,
         std::nullopt},
    };
    for (const auto& c : cases) {
        test::FakeTailscaleClient client;
        client.api_response = c.api;
        client.command_output = c.command;
        auto status = fetch_ts_status(client, c.has_tailscale);
        EXPECT_EQ(client.api_calls, c.api_calls) << c.what;
        EXPECT_EQ(client.command_calls, c.command_calls) << c.what;
        if (c.dns_name == "-") {
            EXPECT_FALSE(status) << c.what;
            continue;
        }
        ASSERT_TRUE(status) << c.what;
        if (c.dns_name) {
            ASSERT_TRUE(status->self) << c.what;
            EXPECT_EQ(status->self->dns_name, c.dns_name) << c.what;
        } else {
            EXPECT_FALSE(status->self) << c.what;
        }
        if (c.api_calls > 0) {
            EXPECT_EQ(client.last_request, kLocalApiStatusRequest) << c.what;
            EXPECT_EQ(client.last_deadline, std::chrono::milliseconds(800)) << c.what;
        }
        if (c.command_calls > 0) {
            EXPECT_EQ(client.last_time_limit, std::chrono::seconds(10)) << c.what;
        }
    }
}

// A cycle over the fakes, counting the tray notifications.
struct CycleFixture {
    test::FakeSystemInfo system;
    test::FakeTailscaleClient tailscale;
    std::shared_ptr<SharedEndpointSnapshot> shared = std::make_shared<SharedEndpointSnapshot>();
    std::shared_ptr<test::FakeAdvertiser> advertiser = std::make_shared<test::FakeAdvertiser>();
    int notifications = 0;

    DiscoveryCycle make(bool advertise = true) {
        std::optional<AdvertisementConfig> config;
        if (advertise) config = AdvertisementConfig{"host-id", "DESKTOP-4K2J", Key32{}, 49182, advertiser};
        return DiscoveryCycle(system, tailscale, shared, config, [this] { ++notifications; });
    }
};

TEST(Discovery, CycleMergesPublishesAdvertisesAndNotifiesOnlyOnChange) {
    CycleFixture f;
    f.system.addresses = ips({"192.168.1.20", "127.0.0.1", "100.101.102.103", "fe80::1", "fd12::5"});
    f.tailscale.api_response = kOkResponse;
    DiscoveryCycle cycle = f.make();

    EXPECT_TRUE(cycle.run_cycle(1'000));
    EndpointSnapshot s = f.shared->read();
    EXPECT_EQ(s.lan_addresses, ips({"192.168.1.20", "fd12::5"}));
    EXPECT_EQ(s.tailscale_addresses, ips({"100.101.102.103", "fd7a:115c:a1e0::1234"}));
    EXPECT_EQ(s.tailscale_peers, ips({"100.88.12.34"}));
    EXPECT_EQ(s.tailscale_dns_name, "host1.example");
    EXPECT_EQ(f.notifications, 1);
    EXPECT_EQ(f.tailscale.api_calls, 1);
    ASSERT_EQ(f.advertiser->registered.size(), 1u);
    // The advertisement follows the merged snapshot, sorted.
    EXPECT_EQ(f.advertiser->registered[0].addresses,
              ips({"100.101.102.103", "192.168.1.20", "fd12::5", "fd7a:115c:a1e0::1234"}));

    // Same data ten seconds later: the cached status is merged again, no query,
    // no notification, no re-registration.
    EXPECT_FALSE(cycle.run_cycle(11'000));
    EXPECT_EQ(f.shared->read(), s);
    EXPECT_EQ(f.notifications, 1);
    EXPECT_EQ(f.tailscale.api_calls, 1);
    EXPECT_EQ(f.advertiser->log.size(), 1u);

    // 30 s after the query the status is asked for again.
    EXPECT_FALSE(cycle.run_cycle(31'000));
    EXPECT_EQ(f.tailscale.api_calls, 2);
    EXPECT_EQ(f.notifications, 1);
}

TEST(Discovery, ChangedTailscaleAddressRefreshesAtOnce) {
    CycleFixture f;
    f.system.addresses = ips({"192.168.1.20"});
    f.tailscale.command_output = CommandOutput{1, ""};  // Tailscale not running
    DiscoveryCycle cycle = f.make();

    cycle.run_cycle(0);
    EXPECT_EQ(f.tailscale.api_calls, 0);
    EXPECT_EQ(f.tailscale.command_calls, 1);
    cycle.run_cycle(10'000);
    EXPECT_EQ(f.tailscale.command_calls, 1);

    // Tailscale comes up: queried in the very next cycle, through the local API.
    f.system.addresses = ips({"192.168.1.20", "100.101.102.103"});
    f.tailscale.api_response = kOkResponse;
    EXPECT_TRUE(cycle.run_cycle(20'000));
    EXPECT_EQ(f.tailscale.api_calls, 1);
    EXPECT_EQ(f.tailscale.command_calls, 1);
    EXPECT_EQ(f.shared->read().tailscale_dns_name, "host1.example");
    EXPECT_EQ(cycle.state().previous_tailscale, ips({"100.101.102.103"}));
}

TEST(Discovery, WithoutTailscaleTheCommandRunsOncePerMinute) {
    CycleFixture f;
    f.system.addresses = ips({"192.168.1.20"});
    DiscoveryCycle cycle = f.make();
    for (std::uint64_t t = 0; t <= 130'000; t += 10'000) cycle.run_cycle(t);
    EXPECT_EQ(f.tailscale.command_calls, 3);  // at 0, 60 and 120 s
    EXPECT_EQ(f.tailscale.api_calls, 0);
    EXPECT_EQ(f.notifications, 1);
}

TEST(Discovery, UnavailableStatusLeavesInterfaceDataOnly) {
    CycleFixture f;
    f.system.addresses = ips({"192.168.1.20", "100.101.102.103"});
    f.tailscale.api_response = std::string("HTTP/1.0 200 OK\r\n\r\n{}");  // no Self
    DiscoveryCycle cycle = f.make();
    cycle.run_cycle(0);
    EndpointSnapshot expected;
    expected.lan_addresses = ips({"192.168.1.20"});
    expected.tailscale_addresses = ips({"100.101.102.103"});
    EXPECT_EQ(f.shared->read(), expected);
}

TEST(Discovery, StatusGoingAwayIsPublishedAndNotified) {
    CycleFixture f;
    f.system.addresses = ips({"192.168.1.20", "100.101.102.103"});
    f.tailscale.api_response = kOkResponse;
    DiscoveryCycle cycle = f.make();
    cycle.run_cycle(0);
    EXPECT_EQ(f.notifications, 1);

    f.tailscale.api_response = fail("refused");
    f.tailscale.command_output = CommandOutput{1, ""};
    EXPECT_TRUE(cycle.run_cycle(30'000));
    EXPECT_FALSE(f.shared->read().tailscale_dns_name);
    EXPECT_TRUE(f.shared->read().tailscale_peers.empty());
    EXPECT_EQ(f.notifications, 2);
}

TEST(Discovery, FailedEnumerationPublishesAnEmptySnapshot) {
    CycleFixture f;
    f.system.addresses = ips({"192.168.1.20"});
    DiscoveryCycle cycle = f.make();
    cycle.run_cycle(0);
    ASSERT_EQ(f.advertiser->registered.size(), 1u);

    f.system.fail = true;
    EXPECT_TRUE(cycle.run_cycle(10'000));
    EXPECT_EQ(f.shared->read(), EndpointSnapshot{});
    EXPECT_EQ(f.notifications, 2);
    // The advertisement keeps its last addresses.
    EXPECT_EQ(f.advertiser->log.size(), 1u);
    EXPECT_TRUE(cycle.registration().full_name);
}

TEST(Discovery, WithoutResponderNothingIsAdvertised) {
    CycleFixture f;
    f.system.addresses = ips({"192.168.1.20"});
    DiscoveryCycle cycle = f.make(/*advertise=*/false);
    EXPECT_TRUE(cycle.run_cycle(0));
    EXPECT_TRUE(f.advertiser->log.empty());
    EXPECT_FALSE(cycle.registration().full_name);
}

}  // namespace
}  // namespace korvex
