// A started host that stops itself: leaving its scope ends every task,
// releases what clients hold and closes the port.
#include "client/events.h"
#include "net/host_fixture.h"

namespace korvex::test {
namespace {

TEST(RunningHost, LeavingTheScopeStopsTheHostAndReleasesHeldInput) {
    MemoryFileSystem fs;
    FakeEnvironment env;
    env.vars["RC_DATA_DIR"] = "data";
    FakeProtector protector;
    RecordingSink sink;
    FakeSas sas;
    FakeSystemInfo system;
    system.addresses = ips({"127.0.0.1"});
    FakeTailscaleClient tailscale;
    net::HostPlatform platform{fs, os_random(), system_clock(), env, protector, sink, sas, system, tailscale, nullptr};
    net::HostOptions options;
    options.first_port = 0;
    options.last_port = 0;
    std::uint16_t port = 0;
    {
        auto started = net::start_running_host(platform, options, [](const HostEvent&) {}, [] {});
        ASSERT_TRUE(started) << started.error().text;
        net::RunningHost host = std::move(*started);  // the moved-from one must not stop it
        port = host.port();
        client::Connection c;
        ASSERT_TRUE(c.connect("127.0.0.1", port, 5s));
        client::ClientIdentity identity = client::new_client_identity(os_random());
        ASSERT_TRUE(c.pair(identity, net::start_pairing(host.shared()), "Phone", "", host.shared().host_public()));
        ASSERT_TRUE(c.send_event(numbered(client::key_event(0x04, client::KeyAction::Down), 1)));
        ASSERT_TRUE(eventually([&] {
            return host.shared().with_core([&](net::LockedCore&) { return sink.log.size() == 1; });
        }));
    }
    EXPECT_EQ(sink.log, (std::vector<std::string>{"a down", "a up"}));
    client::Connection late;
    EXPECT_FALSE(late.connect("127.0.0.1", port, 2s));
}

}  // namespace
}  // namespace korvex::test
