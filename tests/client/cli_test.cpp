#include "client/cli.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "client/config.h"
#include "client/events.h"
#include "client/fake_host.h"
#include "client/raw_server.h"
#include "client/text_messages.h"
#include "core/pairing_uri.h"
#include "korvex_version.h"

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
    for (auto version : {std::vector<std::string>{"--version"}, {"ping", "--version"}})
        EXPECT_EQ(parse(version).value().command, Command::Version);
}

TEST(CliParse, PairingCodesAsPeopleTypeThem) {
    struct Case {
        std::vector<std::string> args;
        std::string digits;
    };
    const Case cases[] = {
        {{"pair", "--host", "h", "--code", "824329"}, "824329"},
        {{"pair", "--host", "h", "--code", "824 329"}, "824329"},
        {{"pair", "--host", "h", "--code", "824-329"}, "824329"},
        {{"pair", "--host", "h", "--code", "824", "329"}, "824329"},  // unquoted: two words
        {{"pair", "--host", "h", "--code=007-001"}, "007001"},
    };
    for (const auto& c : cases) {
        auto r = parse(c.args);
        ASSERT_TRUE(r) << c.digits << ": " << r.error().text;
        EXPECT_EQ(r->code, c.digits);
    }
}

TEST(CliParse, HostsByNameAndThePortAlone) {
    auto port_only = parse({"ping", "--port", "49183"});
    ASSERT_TRUE(port_only) << port_only.error().text;
    EXPECT_FALSE(port_only->target);
    EXPECT_EQ(port_only->port, 49183);

    auto named = parse({"ping", "--host", "Test Desk"});
    ASSERT_TRUE(named);
    EXPECT_EQ(named->host_text, "Test Desk");

    auto forget = parse({"forget", "host-7f3a"});
    ASSERT_TRUE(forget);
    EXPECT_EQ(forget->command, Command::Forget);
    EXPECT_EQ(forget->host_text, "host-7f3a");

    auto from_stdin = parse({"clip", "-", "--paste"});
    ASSERT_TRUE(from_stdin);
    EXPECT_TRUE(from_stdin->text_from_stdin);
    EXPECT_TRUE(from_stdin->text.empty());
    auto dash_in_text = parse({"type", "-", "x"});
    ASSERT_TRUE(dash_in_text);
    EXPECT_FALSE(dash_in_text->text_from_stdin);
    EXPECT_EQ(dash_in_text->text, "- x");
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
        {{"type", "x", "--udp"},
         "--udp does not apply to type; it applies to key, move, click, scroll, media, edit, lock, cad, shortcut, "
         "release"},
        {{"ping", "--udp"}, "--udp does not apply to ping; it applies to key,"},
        {{"key", "a", "--paste"}, "--paste applies to clip only"},
        {{"ping", "--code", "123456"}, "--code applies to pair only"},
        {{"move", "1", "2", "--mods", "ctrl"}, "--mods applies to key and click only"},
        {{"pair"}, "pair needs a pairing URI, or --host and --code"},
        {{"pair", "--host", "h"}, "pair needs a pairing URI, or --host and --code"},
        {{"pair", "--host", "h", "--code", "12345"}, "six digits"},
        {{"pair", "korvex://pair?v=1&id=a&code=123456"}, "missing the key pk"},
        {{"pair", "korvex://x", "--code", "123456"}, "leave out --code"},
        {{"hosts", "--port", "5"}, "--port does not apply to hosts"},
        {{"keys", "--host", "vm"}, "--host does not apply to keys"},
        {{"forget"}, "usage: korvex-remote forget HOST"},
        {{"forget", "vm", "--port", "5"}, "--port does not apply to forget"},
        {{"pair", "--host", "h", "--code", "824  329"}, "the six digits the host shows (\"824 329\""},
        {{"pair", "--host", "h", "--code", "82-4329"}, "not \"82-4329\""},
        {{"pair", "--host", "h", "--code", "824", "32"}, "unexpected \"32\" after --code"},
        {{"pair", "korvex://pair?v=1"}, "put it in single quotes"},
        {{"pair", "korvex://pair?v=1&id=a&pk=00"}, "missing the key code; an unquoted URI is cut at the first \"&\""},
        {{"type", "\xff"}, "the text is not UTF-8"},
        {{"ping", "--host", "h:1", "--port", "5"}, "either in --host or with --port"},
        {{"ping", "--host", "h", "--port", "0"}, "not a port number"},
        {{"ping", "--host", "h", "--port", "65536"}, "not a port number"},
        {{"ping", "--host", "[::1"}, "closing bracket"},
        {{"ping", "--timeout", "0"}, "--timeout takes seconds from 0.001 to 3600, not \"0\""},
        {{"ping", "--timeout", "0.0001"}, "--timeout takes seconds from 0.001 to 3600"},
        {{"ping", "--timeout", "3601"}, "--timeout takes seconds from 0.001 to 3600, not \"3601\""},
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
        in.clear();
        in.str(input);
        CliContext ctx{fs, rng, env, in, out, err};
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
    std::string input;  // standard input of the next run
    std::istringstream in;
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
    EXPECT_NE(out.str().find("Pong from Test Desk (127.0.0.1:" + std::to_string(host.port()) + ") in "),
              std::string::npos)
        << out.str();

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

// Every {port} and {closed} in `text` replaced.
std::string with_ports(std::string text, std::uint16_t port, std::uint16_t closed) {
    for (auto [key, value] : {std::pair<std::string, std::uint16_t>{"{port}", port}, {"{closed}", closed}})
        for (auto at = text.find(key); at != std::string::npos; at = text.find(key))
            text.replace(at, key.size(), std::to_string(value));
    return text;
}

TEST_F(CliRun, CommandLinesAndWhatTheySay) {
    host.open_pairing("824329");
    ASSERT_EQ(run({"pair", "--host", "127.0.0.1:" + std::to_string(host.port()), "--code", "824 329"}), 0) << err.str();
    host.take_sink_log();
    const std::uint16_t closed = test::closed_port();
    const std::size_t clip_limit = clipboard_text_limit(false);
    const std::string over_limit(clip_limit + 1, 'a');

    struct Case {
        std::vector<std::string> args;
        std::string input;   // standard input
        int exit;
        std::string said;    // on standard output when exit is 0, else on standard error
        std::string typed;   // the host's input log, joined by "|"
    };
    const Case cases[] = {
        {{"--version"}, "", 0, "korvex-remote " + std::string(kVersion) + "\n", ""},
        {{"ping"}, "", 0, "Pong from Test Desk (127.0.0.1:{port}) in ", ""},
        {{"ping", "--host", "Test Desk"}, "", 0, "Pong from Test Desk (127.0.0.1:{port}) in ", ""},
        {{"ping", "--host", "host-7f3a"}, "", 0, "Pong from Test Desk (127.0.0.1:{port}) in ", ""},
        {{"ping", "--port", "{port}"}, "", 0, "Pong from Test Desk (127.0.0.1:{port}) in ", ""},
        {{"ping", "--port", "{closed}"}, "", 1, "connection refused by 127.0.0.1:{closed}", ""},
        {{"ping", "--host", "Test Desk", "--port", "{closed}"}, "", 1, "connection refused by 127.0.0.1:{closed}", ""},
        {{"type", "hello", "--udp"}, "", 2, "--udp does not apply to type; it applies to key, move, click,", ""},
        {{"ping", "--timeout", "0"}, "", 2, "--timeout takes seconds from 0.001 to 3600, not \"0\"", ""},
        {{"type", "-"}, "h\xC3\xA9llo\n", 0, "", "type 6"},
        {{"clip", "-", "--paste"}, "from a pipe\n", 0, "", "clipboard from a pipe\n|leftCtrl down|v down|v up|leftCtrl up"},
        {{"clip", "-"}, over_limit, 1,
         "standard input holds more than " + std::to_string(clip_limit) + " bytes; clip takes at most that", ""},
        {{"clip", over_limit}, "", 1,
         "the text is " + std::to_string(clip_limit + 1) + " bytes; clip takes at most " + std::to_string(clip_limit) +
             " bytes",
         ""},
        {{"forget", "nobody"}, "", 1, "no paired host has the name or id \"nobody\" (korvex-remote hosts lists them)", ""},
        {{"hosts"}, "", 0, "Test Desk  127.0.0.1:{port}  fingerprint ", ""},
        {{"forget", "Test Desk"}, "", 0, "Forgot Test Desk (id host-7f3a).", ""},
        {{"hosts"}, "", 0, "No paired hosts.\n", ""},
        {{"ping"}, "", 1, "no host is paired yet", ""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args;
        for (const auto& a : c.args) args.push_back(with_ports(a, host.port(), closed));
        std::string line = args.empty() ? "" : args[0] + (args.size() > 1 ? " " + args[1] : "");
        input = c.input;
        EXPECT_EQ(run(args), c.exit) << line << "\n" << err.str();
        const std::string said = c.exit == 0 ? out.str() : err.str();
        EXPECT_NE(said.find(with_ports(c.said, host.port(), closed)), std::string::npos) << line << ": " << said;
        // One line, and a pointer to --help after a usage error.
        if (c.exit != 0) {
            EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), c.exit == 2 ? 2 : 1) << said;
        }
        std::string typed;
        for (const auto& entry : host.take_sink_log()) typed += (typed.empty() ? "" : "|") + entry;
        EXPECT_EQ(typed, c.typed) << line;
    }
}

TEST_F(CliRun, WrongCodesSayWhatIsLeftAndWhenTheCodeIsRetired) {
    host.open_pairing("222222");
    for (int attempt = 1; attempt <= 4; ++attempt) {
        EXPECT_EQ(run({"pair", uri("333333")}), 1);
        EXPECT_EQ(err.str(),
                  "korvex-remote: wrong pairing code: it is not the code the host shows (invalid_code); the code is "
                  "still open, but the host retires it after 5 wrong tries in all\n")
            << attempt;
    }
    EXPECT_EQ(run({"pair", uri("333333")}), 1);
    EXPECT_NE(err.str().find("That was the last try: after 5 wrong codes the host retired the code. Start pairing on "
                             "the host again"),
              std::string::npos)
        << err.str();
    EXPECT_FALSE(host.active_code());
    EXPECT_EQ(run({"pair", uri("222222")}), 1);
    EXPECT_NE(err.str().find("the host is not pairing right now"), std::string::npos) << err.str();
    EXPECT_TRUE(host.paired().empty()) << "the checks never pair anything";
}

TEST_F(CliRun, ATimeOutIsSaidInWords) {
    test::RawServer silent({}, test::RawServer::Then::WaitForClient);
    std::string target = "127.0.0.1:" + std::to_string(silent.port());
    EXPECT_EQ(run({"info", target, "--timeout", "0.2"}), 1);
    EXPECT_EQ(err.str(), "korvex-remote: " + target +
                             " did not answer within 0.2 s; is the host running? --timeout waits longer\n");
}

TEST_F(CliRun, HostsOfTheSameNameNeedTheirId) {
    KnownHosts known;
    for (std::string id : {"id-one", "id-two"}) {
        KnownHost h;
        h.host_id = id;
        h.name = "Twin";
        h.endpoint = "127.0.0.1:" + std::to_string(test::closed_port());
        known.remember(h);
    }
    std::string text = encode_known_hosts(known);
    fs.files["/cfg/hosts.json"] = Bytes(text.begin(), text.end());
    for (std::vector<std::string> args : {std::vector<std::string>{"ping", "--host", "Twin"}, {"forget", "Twin"}}) {
        EXPECT_EQ(run(args), 1);
        EXPECT_EQ(err.str(),
                  "korvex-remote: 2 paired hosts are named \"Twin\": give the id instead (id-one, id-two)\n");
    }
    EXPECT_EQ(run({"forget", "id-one"}), 0) << err.str();
    EXPECT_EQ(decode_known_hosts(fs.text("/cfg/hosts.json"))->hosts.size(), 1u);
}

// A stream whose every write fails, as on a full disk.
struct FullDisk : std::streambuf {
    int overflow(int) override { return traits_type::eof(); }
};

TEST_F(CliRun, OutputThatCannotBeWrittenFails) {
    FullDisk full;
    std::ostream full_out(&full);
    for (std::vector<std::string> args : {std::vector<std::string>{"hosts"}, {"keys"}, {"--version"}, {"--help"}}) {
        err.str("");
        CliContext ctx{fs, rng, env, in, full_out, err};
        EXPECT_EQ(run_cli(args, ctx), 1) << args[0];
        EXPECT_EQ(err.str(), "korvex-remote: cannot write the output\n");
        full_out.clear();
    }
}

// The README's korvex-remote lines run as written, with the pairing URI the
// host printed in place of the one abridged there and this host's address.
std::vector<std::string> readme_command_lines() {
    std::ifstream file(KORVEX_README);
    std::vector<std::string> lines;
    bool in_code = false;
    for (std::string line; std::getline(file, line);) {
        if (line.starts_with("```")) in_code = !in_code;
        else if (in_code && line.find("korvex-remote ") != std::string::npos) lines.push_back(line);
    }
    return lines;
}

// A line of the README split as the shell would: words, quotes, a comment,
// and "echo WORDS |" before the program as its standard input.
struct ShellLine {
    std::vector<std::string> words;
    std::string input;
};

ShellLine shell_split(const std::string& line) {
    ShellLine out;
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    char quote = 0;
    auto end_word = [&] {
        if (in_word) words.push_back(word);
        word.clear();
        in_word = false;
    };
    for (char c : line) {
        if (quote) {
            if (c == quote) quote = 0;
            else word += c;
        } else if (c == '\'' || c == '"') {
            quote = c;
            in_word = true;
        } else if (c == ' ') {
            end_word();
        } else if (c == '#' && !in_word) {
            break;
        } else if (c == '|' && !in_word) {
            EXPECT_FALSE(words.empty() || words[0] != "echo") << line;
            for (std::size_t i = 1; i < words.size(); ++i) out.input += (i > 1 ? " " : "") + words[i];
            out.input += "\n";
            words.clear();
        } else {
            word += c;
            in_word = true;
        }
    }
    end_word();
    // The program's path as the README gives it; the arguments follow.
    if (!words.empty() && words[0].ends_with("korvex-remote")) out.words.assign(words.begin() + 1, words.end());
    return out;
}

TEST_F(CliRun, TheReadmeExamplesRunAsWritten) {
    auto lines = readme_command_lines();
    ASSERT_GE(lines.size(), 4u) << "README not found at " << KORVEX_README;
    host.open_pairing("551199");
    for (const auto& line : lines) {
        ShellLine command = shell_split(line);
        ASSERT_FALSE(command.words.empty()) << line;
        for (auto& word : command.words)
            if (word.starts_with("korvex://pair?")) word = uri("551199");
        input = command.input;
        EXPECT_EQ(run(command.words), 0) << line << "\n" << err.str();
    }
    EXPECT_FALSE(host.paired().empty());
}

}  // namespace
}  // namespace korvex::client
