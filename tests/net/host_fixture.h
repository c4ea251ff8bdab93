#pragma once
// A real host on 127.0.0.1 inside the test process: every task of the
// runtime, with the input going to a recording sink and the files to memory.
// Reads of the sink go through the host's lock, which the runtime takes for
// every injection.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "client/config.h"
#include "client/connection.h"
#include "net/host.h"
#include "platform/clock.h"
#include "platform/random_source.h"
#include "support/discovery_fakes.h"
#include "support/fakes.h"
#include "support/input_fakes.h"

namespace korvex::test {

using namespace std::chrono_literals;

class HostFixture : public ::testing::Test {
protected:
    void SetUp() override {
        env.vars["RC_DATA_DIR"] = "data";
        env.vars["COMPUTERNAME"] = "TEST-PC";
        system.addresses = ips({"127.0.0.1", "192.168.1.20"});
        net::HostPlatform platform{fs,   os_random(), system_clock(), env, protector, sink, sas,
                                   system, tailscale, nullptr};
        net::HostOptions options;
        options.first_port = 0;
        options.last_port = 0;
        auto started = net::start_host(platform, options, [](const HostEvent&) {}, [] {});
        ASSERT_TRUE(started) << started.error().text;
        host = std::move(*started);
    }
    void TearDown() override { net::stop_host(host); }

    net::HostShared& shared() { return *host.shared; }
    std::uint16_t port() const { return host.port; }

    // A copy of the sink's log, taken under the host's lock.
    std::vector<std::string> sink_log() {
        return shared().with_core([&](net::LockedCore&) { return sink.log; });
    }
    // Waits until the sink's log has at least `n` lines; the copy either way.
    std::vector<std::string> wait_for_sink(std::size_t n, std::chrono::milliseconds limit = 5s) {
        auto until = std::chrono::steady_clock::now() + limit;
        for (;;) {
            auto log = sink_log();
            if (log.size() >= n || std::chrono::steady_clock::now() > until) return log;
            std::this_thread::sleep_for(5ms);
        }
    }

    client::Connection connect() {
        client::Connection c;
        EXPECT_TRUE(c.connect("127.0.0.1", port(), 5s));
        return c;
    }

    // Pairs a new identity with a fresh code; the connection stays
    // established.
    client::ClientIdentity pair(client::Connection& c, std::string_view name = "Phone A") {
        client::ClientIdentity identity = client::new_client_identity(os_random());
        std::string code = net::start_pairing(shared());
        auto paired = c.pair(identity, code, name, "Model", shared().host_public());
        EXPECT_TRUE(paired) << (paired ? "" : paired.error().text);
        return identity;
    }

    MemoryFileSystem fs;
    FakeEnvironment env;
    FakeProtector protector;
    RecordingSink sink;
    FakeSas sas;
    FakeSystemInfo system;
    FakeTailscaleClient tailscale;
    net::StartupOutcome host;
};

}  // namespace korvex::test
