// The Windows DNS-SD advertiser over a fake table of dnsapi functions whose
// completions come later from threads of their own, as the system's do.
#include "platform/win32/dns_service_advertiser.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/advertisement.h"
#include "support/discovery_fakes.h"

namespace korvex {
namespace {

using namespace std::chrono_literals;
using test::ips;

constexpr DWORD kPending = 9506;

// The fake behind the function table; one at a time (see Current).
struct FakeDns {
    std::mutex mutex;
    std::condition_variable changed;
    // Calls and completions in the order the advertiser saw them: a completion
    // is logged as it is delivered, before its callback runs.
    std::vector<std::string> log;
    // Completions whose callback has returned.
    std::vector<std::string> delivered;
    int instances_alive = 0;

    // What the last constructed instance was given.
    std::wstring name, host;
    std::optional<std::array<std::uint8_t, 4>> ip4;
    std::optional<std::array<std::uint8_t, 16>> ip6;
    WORD port = 0;
    std::vector<std::pair<std::wstring, std::wstring>> properties;

    DWORD register_result = kPending;
    DWORD register_status = ERROR_SUCCESS;
    std::chrono::milliseconds deregister_delay{200};
    bool hold_deregistrations = false;
    std::vector<PDNS_SERVICE_REGISTER_REQUEST> held;
    std::vector<std::thread> threads;

    void note(std::string entry) {
        std::lock_guard lock(mutex);
        log.push_back(std::move(entry));
        changed.notify_all();
    }
    bool wait_for_entry(const std::string& entry) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 5s,
                                [&] { return std::find(delivered.begin(), delivered.end(), entry) != delivered.end(); });
    }
    void release_held() {
        std::vector<PDNS_SERVICE_REGISTER_REQUEST> requests;
        {
            std::lock_guard lock(mutex);
            requests.swap(held);
        }
        for (auto* request : requests) complete_later(request, ERROR_SUCCESS, 0ms, "deregistered");
    }
    void complete_later(PDNS_SERVICE_REGISTER_REQUEST request, DWORD status, std::chrono::milliseconds delay,
                        std::string what);
    // Delivers what is held and waits for every completion thread.
    void finish() {
        release_held();
        std::vector<std::thread> running;
        {
            std::lock_guard lock(mutex);
            running.swap(threads);
        }
        for (auto& t : running) t.join();
    }
    ~FakeDns() { finish(); }
};

FakeDns* current = nullptr;

std::string narrow_ascii(const std::wstring& w) { return std::string(w.begin(), w.end()); }

PDNS_SERVICE_INSTANCE make_instance() {
    auto* instance = new DNS_SERVICE_INSTANCE{};
    std::lock_guard lock(current->mutex);
    ++current->instances_alive;
    return instance;
}

void FakeDns::complete_later(PDNS_SERVICE_REGISTER_REQUEST request, DWORD status, std::chrono::milliseconds delay,
                             std::string what) {
    std::lock_guard lock(mutex);
    threads.emplace_back([this, request, status, delay, what] {
        std::this_thread::sleep_for(delay);
        const std::string instance_name = narrow_ascii(request->pServiceInstance->pszInstanceName);
        // The system hands back an instance of its own, which the callee frees.
        PDNS_SERVICE_INSTANCE returned = make_instance();
        note(what + " " + instance_name);
        request->pRegisterCompletionCallback(status, request->pQueryContext, returned);
        std::lock_guard done(mutex);
        delivered.push_back(what + " " + instance_name);
        changed.notify_all();
    });
}

PDNS_SERVICE_INSTANCE WINAPI fake_construct(PCWSTR name, PCWSTR host, PIP4_ADDRESS ip4, PIP6_ADDRESS ip6, WORD port,
                                            WORD, WORD, DWORD count, PCWSTR* keys, PCWSTR* values) {
    PDNS_SERVICE_INSTANCE instance = make_instance();
    instance->pszInstanceName = _wcsdup(name);
    std::lock_guard lock(current->mutex);
    current->name = name;
    current->host = host;
    current->ip4.reset();
    current->ip6.reset();
    if (ip4 != nullptr) {
        std::array<std::uint8_t, 4> b{};
        std::memcpy(b.data(), ip4, 4);
        current->ip4 = b;
    }
    if (ip6 != nullptr) {
        std::array<std::uint8_t, 16> b{};
        std::memcpy(b.data(), ip6, 16);
        current->ip6 = b;
    }
    current->port = port;
    current->properties.clear();
    for (DWORD i = 0; i < count; ++i) current->properties.emplace_back(keys[i], values[i]);
    return instance;
}

VOID WINAPI fake_free(PDNS_SERVICE_INSTANCE instance) {
    if (instance == nullptr) return;
    free(instance->pszInstanceName);
    delete instance;
    std::lock_guard lock(current->mutex);
    --current->instances_alive;
}

DWORD WINAPI fake_register(PDNS_SERVICE_REGISTER_REQUEST request, PDNS_SERVICE_CANCEL) {
    const std::string name = narrow_ascii(request->pServiceInstance->pszInstanceName);
    current->note("register " + name);
    if (current->register_result != kPending) return current->register_result;
    current->complete_later(request, current->register_status, 10ms, "registered");
    return kPending;
}

DWORD WINAPI fake_deregister(PDNS_SERVICE_REGISTER_REQUEST request, PDNS_SERVICE_CANCEL) {
    const std::string name = narrow_ascii(request->pServiceInstance->pszInstanceName);
    current->note("deregister " + name);
    if (current->hold_deregistrations) {
        std::lock_guard lock(current->mutex);
        current->held.push_back(request);
    } else {
        current->complete_later(request, ERROR_SUCCESS, current->deregister_delay, "deregistered");
    }
    return kPending;
}

// Installs the fake for one test; outlives the advertiser of the test, so
// every completion has come before it goes.
struct Current {
    FakeDns fake;
    Current() { current = &fake; }
    ~Current() {
        fake.finish();
        EXPECT_EQ(fake.instances_alive, 0) << "instances not freed";
        current = nullptr;
    }
};

win32::DnsServiceApi fake_api() {
    win32::DnsServiceApi api;
    api.construct_instance = &fake_construct;
    api.free_instance = &fake_free;
    api.register_service = &fake_register;
    api.deregister_service = &fake_deregister;
    return api;
}

ServiceInfo service(std::vector<IpAddress> addresses) {
    AdvertisementConfig config{"id-1", "DESKTOP-4K2J", Key32{}, 49182, nullptr};
    return build_service_info(config, addresses, std::nullopt);
}

const std::string kFull = "DESKTOP-4K2J._korvex._tcp.local";

TEST(DnsServiceAdvertiser, RegistersTheFullNameAndOneAddressOfEachFamily) {
    Current c;
    {
        auto advertiser = win32::make_dns_service_advertiser(fake_api());
        ServiceInfo info = service(ips({"100.101.102.103", "192.168.1.20", "fd12::5", "fd7a:115c:a1e0::1234"}));
        ASSERT_TRUE(advertiser->register_service(info));
        {
            std::lock_guard lock(c.fake.mutex);
            EXPECT_EQ(c.fake.name, L"DESKTOP-4K2J._korvex._tcp.local");
            EXPECT_EQ(c.fake.host, L"DESKTOP-4K2J.local");
            EXPECT_EQ(c.fake.ip4, (std::array<std::uint8_t, 4>{100, 101, 102, 103}));
            EXPECT_EQ(c.fake.ip6, test::ip("fd12::5").v6_bytes());
            EXPECT_EQ(c.fake.port, 49182);
            ASSERT_EQ(c.fake.properties.size(), info.properties.size());
            for (std::size_t i = 0; i < info.properties.size(); ++i) {
                EXPECT_EQ(narrow_ascii(c.fake.properties[i].first), info.properties[i].first);
                EXPECT_EQ(narrow_ascii(c.fake.properties[i].second), info.properties[i].second);
            }
        }
        ASSERT_TRUE(c.fake.wait_for_entry("registered " + kFull));
        EXPECT_FALSE(advertiser->registration_failed(info.full_name()));

        // One family only: the other pointer stays empty.
        advertiser->unregister_service(info.full_name());
        ASSERT_TRUE(advertiser->register_service(service(ips({"192.168.1.20"}))));
        {
            std::lock_guard lock(c.fake.mutex);
            EXPECT_EQ(c.fake.ip4, (std::array<std::uint8_t, 4>{192, 168, 1, 20}));
            EXPECT_FALSE(c.fake.ip6);
        }
        advertiser->unregister_service(info.full_name());
        ASSERT_TRUE(advertiser->register_service(service(ips({"fd12::5"}))));
        {
            std::lock_guard lock(c.fake.mutex);
            EXPECT_FALSE(c.fake.ip4);
            EXPECT_TRUE(c.fake.ip6);
        }
    }
}

TEST(DnsServiceAdvertiser, NewRegistrationWaitsForTheWithdrawalToComplete) {
    Current c;
    std::vector<std::string> log;
    {
        auto advertiser = win32::make_dns_service_advertiser(fake_api());
        const ServiceInfo first = service(ips({"192.168.1.20"}));
        ASSERT_TRUE(advertiser->register_service(first));
        ASSERT_TRUE(c.fake.wait_for_entry("registered " + kFull));
        advertiser->unregister_service(first.full_name());
        ASSERT_TRUE(advertiser->register_service(service(ips({"192.168.1.21"}))));
        std::lock_guard lock(c.fake.mutex);
        log = c.fake.log;
    }
    // The late withdrawal of the old registration came before the new one.
    EXPECT_EQ(log, (std::vector<std::string>{"register " + kFull, "registered " + kFull, "deregister " + kFull,
                                             "deregistered " + kFull, "register " + kFull}));
}

TEST(DnsServiceAdvertiser, WithdrawalThatDoesNotCompleteHoldsBackTheNextRegistration) {
    Current c;
    {
        auto advertiser = win32::make_dns_service_advertiser(fake_api(), 300ms);
        const ServiceInfo info = service(ips({"192.168.1.20"}));
        ASSERT_TRUE(advertiser->register_service(info));
        ASSERT_TRUE(c.fake.wait_for_entry("registered " + kFull));
        c.fake.hold_deregistrations = true;
        advertiser->unregister_service(info.full_name());
        EXPECT_FALSE(advertiser->register_service(info));
        {
            std::lock_guard lock(c.fake.mutex);
            EXPECT_EQ(std::count(c.fake.log.begin(), c.fake.log.end(), "register " + kFull), 1);
        }
        c.fake.hold_deregistrations = false;
        c.fake.release_held();
        ASSERT_TRUE(c.fake.wait_for_entry("deregistered " + kFull));
        EXPECT_TRUE(advertiser->register_service(info));
    }
}

TEST(DnsServiceAdvertiser, FailuresAreReported) {
    Current c;
    {
        auto advertiser = win32::make_dns_service_advertiser(fake_api());
        const ServiceInfo info = service(ips({"192.168.1.20"}));
        // Refused at once.
        c.fake.register_result = ERROR_INVALID_PARAMETER;
        EXPECT_FALSE(advertiser->register_service(info));
        EXPECT_TRUE(advertiser->registration_failed(info.full_name()));
        // Accepted, then failed in its completion.
        c.fake.register_result = kPending;
        c.fake.register_status = ERROR_TIMEOUT;
        ASSERT_TRUE(advertiser->register_service(info));
        ASSERT_TRUE(c.fake.wait_for_entry("registered " + kFull));
        EXPECT_TRUE(advertiser->registration_failed(info.full_name()));
    }
}

// Every instance, ours and the ones the completions hand back, is freed, also
// when the advertiser goes away with a withdrawal still outstanding.
TEST(DnsServiceAdvertiser, NothingLeaks) {
    Current c;
    {
        auto advertiser = win32::make_dns_service_advertiser(fake_api(), 100ms);
        ASSERT_TRUE(advertiser->register_service(service(ips({"192.168.1.20"}))));
        ASSERT_TRUE(c.fake.wait_for_entry("registered " + kFull));
        c.fake.hold_deregistrations = true;
    }
    c.fake.finish();
    EXPECT_EQ(c.fake.instances_alive, 0);
}

TEST(DnsServiceAdvertiser, ResponderStartsOnlyWhereTheSystemHasTheFunctions) {
    auto api = win32::load_dns_service_api();
    auto advertiser = start_os_service_advertiser();
    EXPECT_EQ(api.has_value(), advertiser.has_value());
    if (!api) std::printf("no DNS-SD responder here: %s\n", api.error().text.c_str());
}

}  // namespace
}  // namespace korvex
