#pragma once
// Recording fakes for the discovery seams: adapter addresses, the Tailscale
// client and the mDNS responder.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/ip_address.h"
#include "platform/service_advertiser.h"
#include "platform/system_info.h"
#include "platform/tailscale_client.h"

namespace korvex::test {

inline IpAddress ip(std::string_view text) {
    auto parsed = IpAddress::parse(text);
    if (!parsed) {
        ADD_FAILURE() << "bad address in a test: " << text;
        return {};
    }
    return *parsed;
}

inline std::vector<IpAddress> ips(std::initializer_list<std::string_view> texts) {
    std::vector<IpAddress> out;
    for (auto t : texts) out.push_back(ip(t));
    return out;
}

class FakeSystemInfo final : public SystemInfo {
public:
    std::vector<IpAddress> addresses;
    bool fail = false;
    int calls = 0;
    Result<std::vector<IpAddress>> interface_addresses() override {
        ++calls;
        if (fail) return korvex::fail("enumeration refused");
        return addresses;
    }
};

// Answers from fields the test sets; counts what was asked.
class FakeTailscaleClient final : public TailscaleClient {
public:
    Result<std::string> api_response = korvex::fail("connection refused");
    Result<CommandOutput> command_output = korvex::fail("could not start tailscale");
    int api_calls = 0;
    int command_calls = 0;
    std::string last_request;
    std::chrono::milliseconds last_deadline{0};
    std::chrono::milliseconds last_time_limit{0};

    Result<std::string> local_api_exchange(std::string_view request, std::chrono::milliseconds deadline,
                                           std::size_t) override {
        ++api_calls;
        last_request = std::string(request);
        last_deadline = deadline;
        return api_response;
    }
    Result<CommandOutput> run_status_command(std::chrono::milliseconds time_limit, std::size_t) override {
        ++command_calls;
        last_time_limit = time_limit;
        return command_output;
    }
};

// Keeps a log of calls ("register NAME", "unregister NAME") and the services
// it holds; registration can be made to fail, and a held registration can be
// marked as lost.
class FakeAdvertiser final : public ServiceAdvertiser {
public:
    std::vector<std::string> log;
    std::vector<ServiceInfo> registered;  // every accepted registration, in order
    std::set<std::string> active;
    std::set<std::string> lost;
    bool refuse = false;

    Status register_service(const ServiceInfo& service) override {
        log.push_back("register " + service.full_name());
        if (refuse) return korvex::fail("refused");
        registered.push_back(service);
        active.insert(service.full_name());
        return {};
    }
    void unregister_service(const std::string& full_name) override {
        log.push_back("unregister " + full_name);
        active.erase(full_name);
        lost.erase(full_name);
    }
    bool registration_failed(const std::string& full_name) override {
        return !active.contains(full_name) || lost.contains(full_name);
    }
};

}  // namespace korvex::test
