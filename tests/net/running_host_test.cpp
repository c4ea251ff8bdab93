// A started host that stops itself: leaving its scope ends every task,
// releases what clients hold and closes the port.
#include "app/tray_model.h"
#include "client/events.h"
#include "net/host_fixture.h"

namespace korvex::test {
namespace {

// The seams of one host with its own in-memory data folder.
struct FakePlatform {
    MemoryFileSystem fs;
    FakeEnvironment env;
    FakeProtector protector;
    RecordingSink sink;
    FakeSas sas;
    FakeSystemInfo system;
    FakeTailscaleClient tailscale;
    net::HostPlatform platform{fs, os_random(), system_clock(), env, protector, sink, sas, system, tailscale, nullptr};
    FakePlatform() {
        env.vars["RC_DATA_DIR"] = "data";
        system.addresses = ips({"127.0.0.1"});
    }
};

TEST(RunningHost, LeavingTheScopeStopsTheHostAndReleasesHeldInput) {
    FakePlatform seams;
    RecordingSink& sink = seams.sink;
    net::HostOptions options;
    options.first_port = 0;
    options.last_port = 0;
    std::uint16_t port = 0;
    {
        auto started = net::start_running_host(seams.platform, options, [](const HostEvent&) {}, [] {});
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

// With every port of its range held by another program the host does not
// start, and the tray's error box tells the user why in the system's words.
TEST(RunningHost, EveryPortTakenGivesTheStartUpErrorText) {
    FakePlatform first_seams, second_seams;
    net::HostOptions any;
    any.first_port = 0;
    any.last_port = 0;
    auto first = net::start_running_host(first_seams.platform, any, [](const HostEvent&) {}, [] {});
    ASSERT_TRUE(first) << first.error().text;

    net::HostOptions taken;
    taken.first_port = first->port();
    taken.last_port = first->port();
    auto second = net::start_running_host(second_seams.platform, taken, [](const HostEvent&) {}, [] {});
    ASSERT_FALSE(second);
    EXPECT_NE(second.error().os_code, 0u) << "the bind failure carries the system's code";
    std::string box = app::startup_failure_text(second.error().text);
    EXPECT_EQ(box, "Korvex could not start: " + second.error().text);
    EXPECT_GT(box.size(), std::string("Korvex could not start: ").size());
    // Nothing of the failed start stays behind: the first host still serves.
    client::Connection c;
    EXPECT_TRUE(c.connect("127.0.0.1", first->port(), 5s));
}

}  // namespace
}  // namespace korvex::test
