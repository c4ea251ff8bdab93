// The Linux console host as a child process: pairing from the URI it
// prints, the device list, removal and exit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "client/config.h"
#include "client/connection.h"
#include "core/pairing_uri.h"
#include "net/posix/child_process.h"
#include "net/posix/temp_dir.h"
#include "platform/random_source.h"

namespace korvex::test {
namespace {

using namespace std::chrono_literals;

bool starts_with(const std::string& line, std::string_view prefix) { return line.starts_with(prefix); }

TEST(ConsoleHost, PairsListsRemovesAndExits) {
    TempDir data("korvex-console");
    ASSERT_FALSE(data.path().empty());
    // No display: the host must not reach for the desktop of whoever runs the
    // tests.
    ChildProcess host(KORVEX_HOST_PROGRAM, {{"RC_DATA_DIR", data.path()}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
    ASSERT_TRUE(host.started());
    auto dump = [&] {
        std::string text;
        for (const auto& line : host.transcript()) text += line + "\n";
        return text;
    };

    auto listening =
        host.read_until([](const std::string& l) { return starts_with(l, "Korvex host listening on port "); }, 20s);
    ASSERT_TRUE(listening) << dump();
    const auto port =
        static_cast<std::uint16_t>(std::stoi(listening->substr(std::string("Korvex host listening on port ").size())));

    ASSERT_TRUE(host.write_line("pair"));
    auto uri_line = host.read_until([](const std::string& l) { return starts_with(l, "Pairing URI: "); }, 10s);
    ASSERT_TRUE(uri_line) << dump();
    auto offer = parse_pairing_uri(uri_line->substr(std::string("Pairing URI: ").size()));
    ASSERT_TRUE(offer) << offer.error().text;

    client::ClientIdentity identity = client::new_client_identity(os_random());
    client::Connection c;
    ASSERT_TRUE(c.connect("127.0.0.1", port, 5s));
    auto paired = c.pair(identity, offer->code, "Console Phone", "Model", offer->pk);
    ASSERT_TRUE(paired) << paired.error().text;
    auto pong = c.ping(99);
    ASSERT_TRUE(pong) << pong.error().text;
    EXPECT_EQ(*pong, 99u);
    ASSERT_TRUE(host.read_until([](const std::string& l) { return l == "Console Phone connected."; }, 10s)) << dump();

    ASSERT_TRUE(host.write_line("devices"));
    auto listed = host.read_until([](const std::string& l) { return starts_with(l, "1. "); }, 10s);
    ASSERT_TRUE(listed) << dump();
    EXPECT_EQ(*listed, "1. Console Phone (Online)");

    ASSERT_TRUE(host.write_line("remove 1"));
    auto closed = c.receive(10s);
    EXPECT_FALSE(closed);
    EXPECT_EQ(c.last_reason(), "removed_by_user");
    EXPECT_FALSE(c.receive_frame(10s));
    EXPECT_EQ(c.last_failure(), client::Failure::Closed);
    EXPECT_TRUE(host.read_until([](const std::string& l) { return l == "Device removed."; }, 10s)) << dump();

    ASSERT_TRUE(host.write_line("devices"));
    EXPECT_TRUE(host.read_until([](const std::string& l) { return l == "No Paired Devices"; }, 10s)) << dump();

    ASSERT_TRUE(host.write_line("exit"));
    EXPECT_EQ(host.wait_exit(20s), 0) << dump();
}

}  // namespace
}  // namespace korvex::test
