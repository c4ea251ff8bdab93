// The Avahi responder against the real avahi-daemon: a registration is found
// by browsing and resolving, with its host name, port, TXT properties and
// address records, and is gone once withdrawn. Skipped (saying why) where no
// daemon is reachable; scripts/avahi-check.sh --daemons-only starts one.
#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>
#include <avahi-common/strlst.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "core/advertisement.h"
#include "core/discovery.h"
#include "platform/service_advertiser.h"
#include "support/discovery_fakes.h"

namespace korvex {
namespace {

using namespace std::chrono_literals;
using test::ips;

struct Resolved {
    std::string host;
    std::uint16_t port = 0;
    std::set<std::string> txt;
    std::set<std::string> addresses;
};

// A browsing client of its own on a simple poll, as another program on the
// machine would see the service.
class Browser {
public:
    Browser() {
        poll_ = avahi_simple_poll_new();
        int error = 0;
        client_ = avahi_client_new(avahi_simple_poll_get(poll_), AvahiClientFlags(0), nullptr, nullptr, &error);
        if (client_ == nullptr) error_ = avahi_strerror(error);
    }
    ~Browser() {
        if (client_ != nullptr) avahi_client_free(client_);
        avahi_simple_poll_free(poll_);
    }
    const std::string& error() const { return error_; }
    std::string own_host_name() const { return avahi_client_get_host_name_fqdn(client_); }

    // Browses _korvex._tcp until `instance` has been resolved with the
    // address families asked for, or the time is up.
    std::optional<Resolved> find(const std::string& instance, std::size_t address_count,
                                 std::chrono::milliseconds limit) {
        instance_ = instance;
        result_ = Resolved{};
        seen_ = false;
        AvahiServiceBrowser* browser =
            avahi_service_browser_new(client_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, "_korvex._tcp", nullptr,
                                      AvahiLookupFlags(0), &Browser::on_browse, this);
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline && (!seen_ || result_.addresses.size() < address_count))
            avahi_simple_poll_iterate(poll_, 50);
        avahi_service_browser_free(browser);
        if (!seen_) return std::nullopt;
        return result_;
    }

private:
    static void on_browse(AvahiServiceBrowser*, AvahiIfIndex iface, AvahiProtocol protocol, AvahiBrowserEvent event,
                          const char* name, const char* type, const char* domain, AvahiLookupResultFlags,
                          void* self_ptr) {
        auto* self = static_cast<Browser*>(self_ptr);
        if (event != AVAHI_BROWSER_NEW || name == nullptr || self->instance_ != name) return;
        // One resolver per address family, so both kinds of address record show.
        for (AvahiProtocol family : {AVAHI_PROTO_INET, AVAHI_PROTO_INET6}) {
            avahi_service_resolver_new(self->client_, iface, protocol, name, type, domain, family, AvahiLookupFlags(0),
                                       &Browser::on_resolve, self);
        }
    }

    static void on_resolve(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
                           const char*, const char*, const char*, const char* host, const AvahiAddress* address,
                           std::uint16_t port, AvahiStringList* txt, AvahiLookupResultFlags, void* self_ptr) {
        auto* self = static_cast<Browser*>(self_ptr);
        if (event == AVAHI_RESOLVER_FOUND) {
            self->seen_ = true;
            self->result_.host = host;
            self->result_.port = port;
            for (AvahiStringList* item = txt; item != nullptr; item = avahi_string_list_get_next(item)) {
                self->result_.txt.insert(std::string(reinterpret_cast<const char*>(avahi_string_list_get_text(item)),
                                                     avahi_string_list_get_size(item)));
            }
            char text[AVAHI_ADDRESS_STR_MAX];
            self->result_.addresses.insert(avahi_address_snprint(text, sizeof text, address));
        }
        avahi_service_resolver_free(resolver);
    }

    AvahiSimplePoll* poll_ = nullptr;
    AvahiClient* client_ = nullptr;
    std::string error_;
    std::string instance_;
    Resolved result_;
    bool seen_ = false;
};

// Registers, retrying briefly while the client connects to the daemon.
Status register_soon(ServiceAdvertiser& advertiser, const ServiceInfo& info) {
    Status result = fail("not tried");
    for (int i = 0; i < 40; ++i) {
        result = advertiser.register_service(info);
        if (result || result.error().text.find("not running") == std::string::npos) return result;
        std::this_thread::sleep_for(50ms);
    }
    return result;
}

ServiceInfo test_service(const std::string& instance, const std::string& host) {
    AdvertisementConfig config{"0f8e-test-id", instance, Key32{}, 49190, nullptr};
    ServiceInfo info = build_service_info(config, ips({"192.168.77.5", "fd12::77"}), std::nullopt);
    info.host_name = host;
    return info;
}

TEST(AvahiAdvertiser, RegistrationIsFoundByBrowsingAndGoneAfterWithdrawal) {
    Browser browser;
    if (!browser.error().empty()) GTEST_SKIP() << "no avahi-daemon reachable (" << browser.error() << ")";
    auto advertiser = start_os_service_advertiser();
    ASSERT_TRUE(advertiser) << advertiser.error().text;

    const std::string instance = "Korvex avahi test " + std::to_string(::getpid());
    const std::string label = host_name_label(instance);
    ServiceInfo info = test_service(instance, label + ".local.");
    Status registered = register_soon(**advertiser, info);
    ASSERT_TRUE(registered) << registered.error().text;
    EXPECT_FALSE((*advertiser)->registration_failed(info.full_name()));

    auto found = browser.find(instance, 2, 10s);
    ASSERT_TRUE(found) << "the service was not found by browsing";
    EXPECT_EQ(found->host, label + ".local");
    EXPECT_EQ(found->port, 49190);
    EXPECT_EQ(found->addresses, (std::set<std::string>{"192.168.77.5", "fd12::77"}));
    EXPECT_EQ(found->txt.size(), 5u);
    for (const auto& [key, value] : info.properties) EXPECT_TRUE(found->txt.contains(key + "=" + value)) << key;

    (*advertiser)->unregister_service(info.full_name());
    EXPECT_TRUE((*advertiser)->registration_failed(info.full_name()));
    // Caches drop the records a second after the goodbye announcement.
    bool gone = false;
    const auto give_up = std::chrono::steady_clock::now() + 10s;
    while (!gone && std::chrono::steady_clock::now() < give_up) {
        gone = !browser.find(instance, 1, 500ms);
        if (!gone) std::this_thread::sleep_for(200ms);
    }
    EXPECT_TRUE(gone) << "the withdrawn service is still found";
}

// On Linux the display name is often the machine's own host name, for which
// the daemon already publishes addresses: the registration must not collide.
TEST(AvahiAdvertiser, ServiceOnTheDaemonsOwnHostName) {
    Browser browser;
    if (!browser.error().empty()) GTEST_SKIP() << "no avahi-daemon reachable (" << browser.error() << ")";
    auto advertiser = start_os_service_advertiser();
    ASSERT_TRUE(advertiser) << advertiser.error().text;

    const std::string own = browser.own_host_name();
    const std::string instance = "Korvex own host " + std::to_string(::getpid());
    ServiceInfo info = test_service(instance, own + ".");
    Status registered = register_soon(**advertiser, info);
    ASSERT_TRUE(registered) << registered.error().text;
    auto found = browser.find(instance, 1, 10s);
    ASSERT_TRUE(found) << "the service was not found by browsing";
    EXPECT_EQ(found->host, own);
    std::this_thread::sleep_for(500ms);  // a collision would show as a failed group by now
    EXPECT_FALSE((*advertiser)->registration_failed(info.full_name()));
}

TEST(AvahiAdvertiser, RefusedNamesAreErrors) {
    Browser browser;
    if (!browser.error().empty()) GTEST_SKIP() << "no avahi-daemon reachable (" << browser.error() << ")";
    auto advertiser = start_os_service_advertiser();
    ASSERT_TRUE(advertiser) << advertiser.error().text;
    // Longer than a DNS label may be.
    const std::string instance(70, 'k');
    EXPECT_FALSE(register_soon(**advertiser, test_service(instance, host_name_label(instance) + ".local.")));
    EXPECT_TRUE((*advertiser)->registration_failed(instance + "._korvex._tcp.local."));
}

// What the host does every cycle, with the real responder: the service
// follows the snapshot, `ts` appears with a Tailscale address.
TEST(AvahiAdvertiser, DiscoveryCycleAdvertisesAndFollowsTheAddresses) {
    Browser browser;
    if (!browser.error().empty()) GTEST_SKIP() << "no avahi-daemon reachable (" << browser.error() << ")";
    auto advertiser = start_os_service_advertiser();
    ASSERT_TRUE(advertiser) << advertiser.error().text;

    test::FakeSystemInfo system;
    system.addresses = ips({"192.168.77.9", "203.0.113.7"});
    test::FakeTailscaleClient tailscale;  // not installed
    const std::string instance = "Korvex cycle test " + std::to_string(::getpid());
    Key32 key{};
    key[0] = 1;
    AdvertisementConfig config{"cycle-id", instance, key, 49191,
                               std::shared_ptr<ServiceAdvertiser>(std::move(*advertiser))};
    DiscoveryCycle cycle(system, tailscale, std::make_shared<SharedEndpointSnapshot>(), config, nullptr);

    // The responder may still be connecting to the daemon: a failed
    // registration is simply tried again by the next cycle.
    std::uint64_t now = 0;
    for (int i = 0; i < 40 && !cycle.registration().full_name; ++i, now += 10'000) {
        cycle.run_cycle(now);
        if (!cycle.registration().full_name) std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(cycle.registration().full_name);
    auto found = browser.find(instance, 1, 10s);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->port, 49191);
    EXPECT_EQ(found->addresses, std::set<std::string>{"192.168.77.9"});
    EXPECT_TRUE(found->txt.contains("id=cycle-id"));
    EXPECT_TRUE(found->txt.contains("fp=" + host_fingerprint(key)));
    for (const auto& item : found->txt) EXPECT_FALSE(item.starts_with("ts=")) << item;

    system.addresses = ips({"192.168.77.9", "100.101.102.103"});
    cycle.run_cycle(now + 10'000);
    Resolved with_ts;
    const auto give_up = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < give_up) {
        auto again = browser.find(instance, 1, 2s);
        if (again && again->txt.contains("ts=100.101.102.103:49191")) {
            with_ts = *again;
            break;
        }
        std::this_thread::sleep_for(200ms);
    }
    // A resolver reports one address of each family, here either of the two.
    ASSERT_EQ(with_ts.addresses.size(), 1u) << "the service never showed its ts property";
    EXPECT_TRUE(with_ts.addresses.contains("100.101.102.103") || with_ts.addresses.contains("192.168.77.9"));
}

}  // namespace
}  // namespace korvex
