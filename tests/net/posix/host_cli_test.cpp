// The Linux korvex-host as a user meets it: its command line, one host per
// data folder, end of input, headless pairing, and device names that must
// not reach the terminal raw.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "client/config.h"
#include "client/connection.h"
#include "core/pairing_uri.h"
#include "korvex_version.h"
#include "net/posix/child_process.h"
#include "net/posix/temp_dir.h"
#include "platform/random_source.h"

namespace korvex::test {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kListening = "Korvex host listening on port ";

std::string dump(const ChildProcess& child) {
    std::string text;
    for (const auto& line : child.transcript()) text += line + "\n";
    return text;
}

// A host on its own empty folder, without a display.
std::map<std::string, std::string> host_env(const TempDir& data) {
    return {{"RC_DATA_DIR", data.path()}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}};
}

std::optional<std::uint16_t> wait_listening(ChildProcess& host) {
    auto line = host.read_until([](const std::string& l) { return l.starts_with(kListening); }, 20s);
    if (!line) return std::nullopt;
    return static_cast<std::uint16_t>(std::stoi(line->substr(kListening.size())));
}

bool contains(const std::string& text, std::string_view part) { return text.find(part) != std::string::npos; }

TEST(HostCommandLine, OptionsTable) {
    TempDir data("korvex-cli");
    struct Case {
        std::vector<std::string> args;
        int exit_code;
        std::string expected;  // part of the output (standard output and error)
    };
    const Case cases[] = {
        {{"--help"}, 0, "Usage: korvex-host [--data-dir DIR] [--pair]"},
        {{"-h"}, 0, "--data-dir DIR"},
        {{"--version"}, 0, "korvex-host " + std::string(kVersion)},
        {{"--bogus"}, 2, "korvex-host: unknown option \"--bogus\""},
        {{"extra"}, 2, "korvex-host: unexpected argument \"extra\""},
        {{"--data-dir"}, 2, "korvex-host: --data-dir needs a folder"},
        {{"--data-dir="}, 2, "korvex-host: --data-dir needs a folder"},
        {{"--help", "--bogus"}, 2, "Try \"korvex-host --help\"."},
    };
    for (const auto& c : cases) {
        ChildProcess host(KORVEX_HOST_PROGRAM, host_env(data), c.args);
        ASSERT_TRUE(host.started());
        auto exit_code = host.wait_exit(20s);
        host.read_until([](const std::string&) { return false; }, 2s);
        EXPECT_EQ(exit_code, c.exit_code) << c.args[0] << "\n" << dump(host);
        EXPECT_TRUE(contains(dump(host), c.expected)) << c.args[0] << "\n" << dump(host);
    }
    // Nothing of a host was created by asking for help.
    EXPECT_TRUE(std::filesystem::is_empty(data.path()));
}

TEST(HostCommandLine, DataDirOptionAndOneHostPerFolder) {
    TempDir data("korvex-cli");
    const std::string folder = data.path() + "/given";
    ChildProcess first(KORVEX_HOST_PROGRAM, {{"RC_DATA_DIR", data.path() + "/ignored"}, {"DISPLAY", ""}},
                       {"--data-dir", folder});
    ASSERT_TRUE(wait_listening(first)) << dump(first);
    EXPECT_TRUE(contains(dump(first), "(data folder: " + folder + ")")) << dump(first);
    EXPECT_TRUE(std::filesystem::exists(folder + "/host_identity.bin"));

    ChildProcess second(KORVEX_HOST_PROGRAM, {{"DISPLAY", ""}}, {"--data-dir=" + folder});
    EXPECT_EQ(second.wait_exit(20s), 1);
    second.read_until([](const std::string&) { return false; }, 2s);
    EXPECT_TRUE(contains(dump(second), "another Korvex host is already running on the data folder " + folder))
        << dump(second);

    ASSERT_TRUE(first.write_line("exit"));
    EXPECT_EQ(first.wait_exit(20s), 0) << dump(first);
}

TEST(HostConsole, CommandsKeepTheCodeOpenAndEndOfInputKeepsServing) {
    TempDir data("korvex-cli");
    ChildProcess host(KORVEX_HOST_PROGRAM, host_env(data));
    auto port = wait_listening(host);
    ASSERT_TRUE(port) << dump(host);
    ASSERT_TRUE(host.write_line("pair"));
    auto uri_line = host.read_until([](const std::string& l) { return l.starts_with("Pairing URI: "); }, 10s);
    ASSERT_TRUE(uri_line) << dump(host);
    auto offer = parse_pairing_uri(uri_line->substr(std::string("Pairing URI: ").size()));
    ASSERT_TRUE(offer) << offer.error().text;
    EXPECT_EQ(offer->os, "linux");

    // Neither status nor a refused command withdraws the code.
    struct Case {
        std::string command;
        std::string answer;
    };
    const Case cases[] = {
        {"status", "Gamepad: keyboard / mouse mapping (no access to /dev/uinput), preset Shooter (WASD + mouse look)"},
        {"status", "Version: " + std::string(kVersion)},
        {"remove", "Usage: remove N, with one number from the list \"devices\" shows."},
        {"remove 1 2", "Usage: remove N, with one number from the list \"devices\" shows."},
        {"remove x", "Usage: remove N, with one number from the list \"devices\" shows."},
        {"remove 1", "No device number 1. Type \"devices\" to list them."},
        {"preset Mouse only", "Gamepad: keyboard / mouse mapping (no access to /dev/uinput), preset Mouse only (desktop)"},
        {"preset Twin stick (WASD + arrow keys)",
         "Gamepad: keyboard / mouse mapping (no access to /dev/uinput), preset Twin stick (WASD + arrow keys)"},
        {"preset nonsense",
         "Unknown preset \"nonsense\". Presets: 0 Shooter (WASD + mouse look), 1 Arrow keys / emulator, 2 Mouse only "
         "(desktop), 3 Twin stick (WASD + arrow keys)."},
        {"output virtual",
         "No virtual controller here (no access to /dev/uinput, see docs/GAMEPAD.md); the keyboard / mouse mapping "
         "stays in use."},
        {"devices", "No Paired Devices"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(host.write_line(c.command));
        EXPECT_TRUE(host.read_until([&](const std::string& l) { return l == c.answer; }, 10s))
            << c.command << "\n" << dump(host);
    }
    EXPECT_FALSE(contains(dump(host), "Pairing code withdrawn.")) << dump(host);

    // The code is still open: a device pairs with it, under a name made to
    // recolour the terminal and forge a line.
    client::ClientIdentity identity = client::new_client_identity(os_random());
    client::Connection c;
    ASSERT_TRUE(c.connect("127.0.0.1", *port, 5s));
    auto paired = c.pair(identity, offer->code, "Evil\x1b[31m\nPairing code: 000 000", "Model", offer->pk);
    ASSERT_TRUE(paired) << paired.error().text;
    EXPECT_EQ(paired->os_type, "linux");
    EXPECT_TRUE(host.read_until(
        [](const std::string& l) { return l == "Paired with Evil?[31m?Pairing code: 000 000."; }, 10s))
        << dump(host);
    ASSERT_TRUE(host.write_line("devices"));
    EXPECT_TRUE(host.read_until([](const std::string& l) { return l.starts_with("1. Evil?[31m?Pairing"); }, 10s))
        << dump(host);
    for (const auto& line : host.transcript()) EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;

    // Without a terminal the end of input leaves the host serving, and says
    // how to pair without a console.
    host.close_input();
    EXPECT_TRUE(host.read_until([](const std::string& l) { return contains(l, "korvex-host --pair"); }, 10s))
        << dump(host);
    EXPECT_FALSE(host.wait_exit(300ms));
    client::Connection again;
    ASSERT_TRUE(again.connect("127.0.0.1", *port, 5s));
    EXPECT_TRUE(again.authenticate(identity, offer->pk)) << again.last_reason();
}

TEST(HostConsole, PairOptionOpensACodeWithoutAConsole) {
    TempDir data("korvex-cli");
    ChildProcess host(KORVEX_HOST_PROGRAM, host_env(data), {"--pair"});
    auto port = wait_listening(host);
    ASSERT_TRUE(port) << dump(host);
    auto uri_line = host.read_until([](const std::string& l) { return l.starts_with("Pairing URI: "); }, 10s);
    ASSERT_TRUE(uri_line) << dump(host);
    EXPECT_TRUE(host.read_until([](const std::string& l) { return contains(l, "at most 5 minutes"); }, 10s))
        << dump(host);
    host.close_input();  // no console: the code stays open
    ASSERT_TRUE(host.read_until([](const std::string& l) { return contains(l, "serving until interrupted"); }, 10s));
    auto offer = parse_pairing_uri(uri_line->substr(std::string("Pairing URI: ").size()));
    ASSERT_TRUE(offer) << offer.error().text;
    client::Connection c;
    ASSERT_TRUE(c.connect("127.0.0.1", *port, 5s));
    auto paired = c.pair(client::new_client_identity(os_random()), offer->code, "Headless Phone", "", offer->pk);
    EXPECT_TRUE(paired) << paired.error().text;
    EXPECT_TRUE(host.read_until([](const std::string& l) { return l == "Paired with Headless Phone."; }, 10s))
        << dump(host);
}

}  // namespace
}  // namespace korvex::test
