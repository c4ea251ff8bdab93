#include "client/cli.h"

#include <gtest/gtest.h>

#include <sstream>

#include "client/config.h"
#include "client/events.h"
#include "client/fake_host.h"
#include "core/pairing_uri.h"

namespace korvex::client {
namespace {

using namespace std::chrono_literals;
using Command = CliRequest::Command;

Result<CliRequest> parse(std::vector<std::string> args) { return parse_command_line(args); }

TEST(CliParse, CommandsAndTheirArguments) {
    auto key = parse({"key", "a", "--mods", "ctrl,shift"});
    ASSERT_TRUE(key) << key.error().text;
    EXPECT_EQ(key->command, Command::Events);
    ASSERT_EQ(key->events.size(), 2u);
    EXPECT_EQ(encode_input_event(key->events[0]), encode_input_event(key_event(0x04, KeyAction::Down, 3)));
    EXPECT_EQ(encode_input_event(key->events[1]), encode_input_event(key_event(0x04, KeyAction::Up, 3)));

    auto move = parse({"move", "-10", "2.5"});
    ASSERT_TRUE(move) << move.error().text;
    EXPECT_EQ(encode_input_event(move->events.at(0)), encode_input_event(pointer_move_event(-10.0f, 2.5f)));

    auto click = parse({"--udp", "click"});
    ASSERT_TRUE(click);
    EXPECT_TRUE(click->udp);
    EXPECT_EQ(click->events.size(), 2u);
    EXPECT_EQ(click->events[0].payload[0], 1) << "left by default";

    auto cad = parse({"cad"});
    ASSERT_TRUE(cad);
    EXPECT_TRUE(cad->wait_sas_result);
    EXPECT_EQ(cad->events.at(0).payload[0], kEditCtrlAltDel);

    auto media = parse({"media", "play-pause"});
    ASSERT_TRUE(media);
    EXPECT_EQ(media->events.at(0).kind, 10);
    EXPECT_EQ(media->events.at(0).payload[0], 4);

    auto type = parse({"type", "hello", "world"});
    ASSERT_TRUE(type);
    EXPECT_EQ(type->command, Command::Type);
    EXPECT_EQ(type->text, "hello world");

    auto dashes = parse({"type", "--", "--not-an-option"});
    ASSERT_TRUE(dashes);
    EXPECT_EQ(dashes->text, "--not-an-option");

    auto clip = parse({"clip", "x", "--paste"});
    ASSERT_TRUE(clip);
    EXPECT_TRUE(clip->paste);

    auto info = parse({"info", "[::1]:50000"});
    ASSERT_TRUE(info);
    EXPECT_EQ(info->target, (HostPort{"::1", 50000}));

    auto options = parse({"--host=192.168.1.9", "--port", "49183", "--timeout", "0.25", "--name", "Laptop", "ping"});
    ASSERT_TRUE(options) << options.error().text;
    EXPECT_EQ(options->command, Command::Ping);
    EXPECT_EQ(options->target, (HostPort{"192.168.1.9", 49183}));
    EXPECT_EQ(options->timeout, 250ms);
    EXPECT_EQ(options->device_name, "Laptop");

    auto pair_code = parse({"pair", "--host", "10.0.0.2:49190", "--code", "000123"});
    ASSERT_TRUE(pair_code) << pair_code.error().text;
    EXPECT_EQ(pair_code->code, "000123");
    EXPECT_EQ(pair_code->target, (HostPort{"10.0.0.2", 49190}));

    Key32 pk{};
    pk.fill(9);
    auto pair_uri =
        parse({"pair", build_pairing_uri(PairingUri{"id", "PC", "windows", "1.2.3.4:5", "", pk, "123456"})});
    ASSERT_TRUE(pair_uri) << pair_uri.error().text;
    EXPECT_EQ(pair_uri->uri->pk, pk);

    for (auto help : {std::vector<std::string>{}, {"--help"}, {"-h"}, {"help"}, {"key", "--help"}})
        EXPECT_EQ(parse(help).value().command, Command::Help);
}

TEST(CliParse, RefusalsAreOneClearLine) {
    struct Case {
        std::vector<std::string> args;
        std::string text;
    };
    const Case cases[] = {
        {{"fly"}, "unknown command \"fly\""},
        {{"ping", "--color"}, "unknown option --color"},
        {{"key"}, "usage: korvex-remote key NAME"},
        {{"key", "nosuch"}, "unknown key name \"nosuch\""},
        {{"key", "a", "--mods", "ctrl,hyper"}, "unknown modifier"},
        {{"move", "1"}, "usage: korvex-remote move DX DY"},
        {{"move", "1", "x"}, "DY must be a number"},
        {{"move", "inf", "1"}, "DX must be a number"},
        {{"click", "fourth"}, "unknown mouse button"},
        {{"media", "louder"}, "unknown media name \"louder\" (volume-up,"},
        {{"lock", "now"}, "usage: korvex-remote lock"},
        {{"type"}, "usage: korvex-remote type TEXT"},
        {{"type", "x", "--udp"}, "--udp applies to the event commands only"},
        {{"key", "a", "--paste"}, "--paste applies to clip only"},
        {{"ping", "--code", "123456"}, "--code applies to pair only"},
        {{"move", "1", "2", "--mods", "ctrl"}, "--mods applies to key and click only"},
        {{"pair"}, "pair needs a pairing URI, or --host and --code"},
        {{"pair", "--host", "h"}, "pair needs a pairing URI, or --host and --code"},
        {{"pair", "--host", "h", "--code", "12345"}, "six digits"},
        {{"pair", "korvex://pair?v=1&id=a&code=123456"}, "missing the key pk"},
        {{"pair", "korvex://x", "--code", "123456"}, "leave out --code"},
        {{"ping", "--port", "5"}, "--port needs --host"},
        {{"ping", "--host", "h:1", "--port", "5"}, "either in --host or with --port"},
        {{"ping", "--host", "h", "--port", "0"}, "not a port number"},
        {{"ping", "--host", "h", "--port", "65536"}, "not a port number"},
        {{"ping", "--host", "[::1"}, "closing bracket"},
        {{"ping", "--timeout", "0"}, "--timeout must be between"},
        {{"ping", "--timeout"}, "--timeout needs a value"},
        {{"ping", "--udp=1"}, "--udp takes no value"},
        {{"ping", "--name", "a", "--name", "b"}, "--name is given twice"},
        {{"info", "a", "--host", "b"}, "either as an argument or with --host"},
    };
    for (const auto& c : cases) {
        auto r = parse(c.args);
        ASSERT_FALSE(r) << c.text;
        EXPECT_NE(r.error().text.find(c.text), std::string::npos) << r.error().text;
        EXPECT_EQ(r.error().text.find('\n'), std::string::npos) << r.error().text;
    }
}

TEST(CliParse, HostPortTexts) {
    struct Case {
        std::string text;
        HostPort expected;
    };
    const Case cases[] = {
        {"192.168.1.20", {"192.168.1.20", 49182}},
        {"192.168.1.20:49190", {"192.168.1.20", 49190}},
        {"desk.local:1", {"desk.local", 1}},
        {"[fe80::1%eth0]:49183", {"fe80::1%eth0", 49183}},
        {"[::1]", {"::1", 49182}},
        {"fd7a:115c::5", {"fd7a:115c::5", 49182}},
    };
    for (const auto& c : cases) {
        auto hp = parse_host_port(c.text);
        ASSERT_TRUE(hp) << c.text;
        EXPECT_EQ(*hp, c.expected) << c.text;
        // Texts that named a port come back unchanged.
        if (c.text.find('%') == std::string::npos && c.text != "[::1]" && c.text != "fd7a:115c::5" &&
            c.text != "192.168.1.20") {
            EXPECT_EQ(format_host_port(*hp), c.text);
        }
    }
    for (std::string bad : {"", ":5", "[]:5", "h:", "h:x", "[::1]x", "h:65536"})
        EXPECT_FALSE(parse_host_port(bad)) << bad;
}

// The tool end to end against the test host, with its files in memory.
class CliRun : public ::testing::Test {
protected:
    void SetUp() override {
        crypto_init();
        env.vars["KORVEX_REMOTE_DIR"] = "/cfg";
    }

    int run(std::vector<std::string> args) {
        out.str("");
        err.str("");
        CliContext ctx{fs, rng, env, out, err};
        return run_cli(args, ctx);
    }

    std::string uri(const std::string& code) {
        std::vector<std::string> lan = {"127.0.0.1:" + std::to_string(host.port())};
        return build_pairing_uri(host.host_id(), host.host_name, lan, {}, host.host_public(), code);
    }

    test::FakeHost host;
    test::MemoryFileSystem fs;
    test::CountingRandom rng{0x30};
    test::FakeEnvironment env;
    std::ostringstream out, err;
};

TEST_F(CliRun, PairThenSendInputOverBothTransports) {
    host.open_pairing("246810");
    ASSERT_EQ(run({"pair", uri("246810"), "--name", "Script"}), 0) << err.str();
    EXPECT_NE(out.str().find("Paired with Test Desk"), std::string::npos) << out.str();
    EXPECT_EQ(host.paired().at(0).device_name, "Script");
    auto known = decode_known_hosts(fs.text("/cfg/hosts.json"));
    ASSERT_TRUE(known);
    ASSERT_EQ(known->hosts.size(), 1u);
    EXPECT_EQ(known->hosts[0].endpoint, "127.0.0.1:" + std::to_string(host.port()));
    EXPECT_EQ(known->hosts[0].udp_port, host.udp_port());

    ASSERT_EQ(run({"ping"}), 0) << err.str();
    EXPECT_NE(out.str().find("Pong from Test Desk in "), std::string::npos) << out.str();

    host.take_sink_log();
    ASSERT_EQ(run({"key", "a", "--mods", "ctrl"}), 0) << err.str();
    EXPECT_EQ(host.take_sink_log(), (std::vector<std::string>{"leftCtrl down", "a down", "a up", "leftCtrl up"}));
    std::uint64_t first_last_seq = decode_known_hosts(fs.text("/cfg/hosts.json"))->hosts[0].last_seq;
    EXPECT_GT(first_last_seq, 0u) << "the numbers used are remembered";

    ASSERT_EQ(run({"--udp", "click", "right"}), 0) << err.str();
    EXPECT_EQ(host.take_sink_log(), (std::vector<std::string>{"button 2 down", "button 2 up"}));
    EXPECT_EQ(host.datagrams_dispatched(), 2);
    EXPECT_GT(decode_known_hosts(fs.text("/cfg/hosts.json"))->hosts[0].last_seq, first_last_seq);

    ASSERT_EQ(run({"type", "hi", "there"}), 0) << err.str();
    ASSERT_EQ(run({"clip", "copied", "--paste"}), 0) << err.str();
    auto log = host.take_sink_log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], "type 8");
    EXPECT_EQ(log[1], "clipboard copied");

    ASSERT_EQ(run({"hosts"}), 0);
    EXPECT_NE(out.str().find("Test Desk"), std::string::npos);
    EXPECT_NE(out.str().find("(default)"), std::string::npos);
}

TEST_F(CliRun, CtrlAltDelPrintsTheHostsAnswer) {
    host.open_pairing("135790");
    ASSERT_EQ(run({"pair", uri("135790")}), 0) << err.str();
    host.set_sas_outcome(SasOutcome::Ok);
    EXPECT_EQ(run({"cad"}), 0) << err.str();
    EXPECT_EQ(out.str(), "Ctrl+Alt+Del sent\n");
    host.set_sas_outcome(SasOutcome::PolicyMissing);
    EXPECT_EQ(run({"cad"}), 1);
    EXPECT_NE(err.str().find("SoftwareSASGeneration"), std::string::npos) << err.str();
}

TEST_F(CliRun, PairWithHostAndCode) {
    host.open_pairing("000001");
    std::string target = "127.0.0.1:" + std::to_string(host.port());
    ASSERT_EQ(run({"pair", "--host", target, "--code", "000001"}), 0) << err.str();
    EXPECT_NE(out.str().find("not checked"), std::string::npos) << out.str();
    ASSERT_EQ(run({"info", target}), 0) << err.str();
    EXPECT_NE(out.str().find("Paired:        yes"), std::string::npos) << out.str();
}

TEST_F(CliRun, RefusalsGiveOneLineAndExitStatus) {
    // Nothing paired yet.
    EXPECT_EQ(run({"ping"}), 1);
    EXPECT_NE(err.str().find("no host is paired yet"), std::string::npos) << err.str();

    // No code open on the host.
    EXPECT_EQ(run({"pair", uri("111111")}), 1);
    EXPECT_NE(err.str().find("no_active_code"), std::string::npos) << err.str();

    // A wrong code.
    host.open_pairing("222222");
    EXPECT_EQ(run({"pair", uri("333333")}), 1);
    EXPECT_NE(err.str().find("invalid_code"), std::string::npos) << err.str();

    // A host this device was removed from.
    host.open_pairing("444444");
    ASSERT_EQ(run({"pair", uri("444444")}), 0) << err.str();
    auto identity = decode_client_identity(fs.text("/cfg/identity.json"));
    ASSERT_TRUE(identity);
    host.remove_client(identity->client_id);
    EXPECT_EQ(run({"ping"}), 1);
    EXPECT_NE(err.str().find("unpaired"), std::string::npos) << err.str();

    // Usage errors.
    EXPECT_EQ(run({"key"}), 2);
    EXPECT_EQ(err.str(),
              "korvex-remote: usage: korvex-remote key NAME [--mods ctrl,shift,alt,win]\n"
              "Try \"korvex-remote --help\".\n");
    EXPECT_EQ(run({}), 2);
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_NE(out.str().find("Usage: korvex-remote"), std::string::npos);
}

}  // namespace
}  // namespace korvex::client
