// The Linux host as a real host on X: korvex-host under a private Xvfb,
// driven by korvex-remote over TCP and datagrams (and by the client library
// where the tool has no command for it), with an X client that owns the
// focused window and records what arrives.
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include "client/connection.h"
#include "client/events.h"
#include "core/pairing_uri.h"
#include "net/posix/child_process.h"
#include "net/posix/temp_dir.h"
#include "net/posix/x_probe.h"
#include "platform/random_source.h"

namespace korvex::test {
namespace {

using namespace std::chrono_literals;

struct ToolRun {
    std::optional<int> exit_code;
    std::string output;
};

class XHost : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(xvfb.started()) << "Xvfb did not start (the test command installs it)";
        probe = std::make_unique<XProbe>(xvfb.display());
        ASSERT_TRUE(probe->ready());
        observer = std::make_unique<XObserver>(xvfb.display());
        host = std::make_unique<ChildProcess>(
            KORVEX_HOST_PROGRAM,
            std::map<std::string, std::string>{{"RC_DATA_DIR", data.path()}, {"DISPLAY", xvfb.display()}});
        ASSERT_TRUE(host->started());
        auto listening = host->read_until(
            [](const std::string& l) { return l.starts_with("Korvex host listening on port "); }, 20s);
        ASSERT_TRUE(listening) << dump();
        port = listening->substr(std::string("Korvex host listening on port ").size());
        port = port.substr(0, port.find(' '));

        ASSERT_TRUE(host->write_line("status"));
        ASSERT_TRUE(host->read_until([&](const std::string& l) { return l == "Input: XTest on display " + xvfb.display(); },
                                     10s))
            << dump();

        // korvex-remote pairs from the URI the console prints.
        auto uri = pairing_uri();
        ASSERT_FALSE(uri.empty()) << dump();
        ToolRun paired = remote({"pair", uri, "--host", "127.0.0.1", "--port", port, "--name", "Remote Tool"});
        ASSERT_EQ(paired.exit_code, 0) << paired.output;
    }

    void TearDown() override {
        if (host && host->started() && !exited) {
            host->write_line("exit");
            host->wait_exit(20s);
        }
    }

    std::string dump() {
        std::string text;
        if (host)
            for (const auto& line : host->transcript()) text += line + "\n";
        return text;
    }

    std::string pairing_uri() {
        if (!host->write_line("pair")) return {};
        auto line = host->read_until([](const std::string& l) { return l.starts_with("Pairing URI: "); }, 10s);
        return line ? line->substr(std::string("Pairing URI: ").size()) : std::string();
    }

    ToolRun remote(std::vector<std::string> args) {
        ChildProcess tool(KORVEX_REMOTE_PROGRAM, {{"KORVEX_REMOTE_DIR", remote_dir.path()}}, args);
        ToolRun run;
        if (!tool.started()) return run;
        tool.read_until([](const std::string&) { return false; }, 20s);
        run.exit_code = tool.wait_exit(10s);
        for (const auto& line : tool.transcript()) run.output += line + "\n";
        return run;
    }

    // A second device paired through the client library, for what the tool
    // has no command for: a usage outside the vocabulary, sideways wheels, a
    // chord left held.
    client::Connection library_client() {
        auto offer = parse_pairing_uri(pairing_uri());
        client::Connection c;
        EXPECT_TRUE(offer);
        if (!offer) return c;
        EXPECT_TRUE(c.connect("127.0.0.1", static_cast<std::uint16_t>(std::stoi(port)), 5s));
        auto paired = c.pair(client::new_client_identity(os_random()), offer->code, "Library Phone", "Model", offer->pk);
        EXPECT_TRUE(paired) << paired.error().text;
        return c;
    }

    void send(client::Connection& c, InputEvent event) {
        event.seq = ++seq;
        ASSERT_TRUE(c.send_event(event));
    }

    // Keys and buttons the probe saw as (press, first keysym), without the
    // keycode and state.
    std::vector<std::pair<bool, unsigned long>> key_sequence() {
        std::vector<std::pair<bool, unsigned long>> out;
        for (const auto& k : probe->keys()) out.emplace_back(k.press, k.keysym);
        return out;
    }

    bool nothing_down() { return observer->keys_down().empty() && observer->buttons_down() == 0; }

    XvfbServer xvfb;
    TempDir data{"korvex-xhost"};
    TempDir remote_dir{"korvex-xremote"};
    std::unique_ptr<XProbe> probe;
    std::unique_ptr<XObserver> observer;
    std::unique_ptr<ChildProcess> host;
    std::string port;
    bool exited = false;
    std::uint64_t seq = 0;
};

TEST_F(XHost, TextKeysPointerWheelClipboardAndNothingLeftDown) {
    // Text over TCP: every character exactly once, Latin-1, the euro sign and
    // CJK through spare keycodes, the newline as Return.
    const std::u32string hello = U"Hello, w\u00F6rld \u20AC \u6F22\u5B57\n";
    probe->clear();
    ToolRun text = remote({"type", "Hello, wörld € 漢字\n"});
    ASSERT_EQ(text.exit_code, 0) << text.output;
    EXPECT_TRUE(probe->wait([&] { return probe->text().size() >= hello.size(); })) << probe->text().size();
    std::this_thread::sleep_for(100ms);  // nothing more arrives
    EXPECT_EQ(probe->text(), hello);

    // A longer text of many scripts: more distinct characters than spare
    // keycodes, so bindings are reused on the way.
    std::string long_text;
    std::u32string long_expected;
    for (char32_t cp = 0x4E00; cp < 0x4E00 + 120; ++cp) {
        long_expected.push_back(cp);
        long_expected.push_back(U'a' + (cp % 26));
    }
    long_expected += U"\u0416\u0438\u0437\u043D\u044C \u03B1\u03B2\u03B3 \u05E9\u05DC\u05D5\u05DD";
    for (char32_t cp : long_expected) {
        if (cp < 0x80) long_text.push_back(static_cast<char>(cp));
        else if (cp < 0x800) {
            long_text.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            long_text.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            long_text.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            long_text.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            long_text.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    probe->clear();
    ToolRun long_run = remote({"type", long_text});
    ASSERT_EQ(long_run.exit_code, 0) << long_run.output;
    EXPECT_TRUE(probe->wait([&] { return probe->text().size() >= long_expected.size(); }, 20s));
    EXPECT_EQ(probe->text(), long_expected);

    // Ctrl+Shift+T as one combination, modifiers pressed Shift then Ctrl and
    // released the other way round, over TCP and over datagrams.
    for (bool udp : {false, true}) {
        probe->clear();
        std::vector<std::string> args = {"key", "t", "--mods", "ctrl,shift"};
        if (udp) args.push_back("--udp");
        ToolRun chord = remote(args);
        ASSERT_EQ(chord.exit_code, 0) << chord.output;
        std::vector<std::pair<bool, unsigned long>> expected = {
            {true, XK_Shift_L}, {true, XK_Control_L}, {true, XK_t}, {false, XK_t}, {false, XK_Control_L},
            {false, XK_Shift_L}};
        EXPECT_TRUE(probe->wait([&] { return probe->keys().size() >= expected.size(); })) << udp;
        EXPECT_EQ(key_sequence(), expected) << (udp ? "udp" : "tcp");
        auto keys = probe->keys();
        ASSERT_GE(keys.size(), 3u);
        EXPECT_EQ(keys[2].state & (ShiftMask | ControlMask), unsigned(ShiftMask | ControlMask));
    }

    // Named keys: F12, Insert, arrows; keypad keys on the keypad.
    struct Named {
        std::string name;
        unsigned long keysym;  // first keysym of the key that must arrive
    };
    const Named named[] = {{"f12", XK_F12},   {"insert", XK_Insert}, {"up", XK_Up},
                           {"down", XK_Down}, {"left", XK_Left},     {"right", XK_Right},
                           {"numpad1", XK_KP_End}, {"numpad5", XK_KP_Begin}, {"numpadPlus", XK_KP_Add},
                           {"numpadDivide", XK_KP_Divide}};
    for (const auto& key : named) {
        probe->clear();
        ToolRun run = remote({"key", key.name, "--udp"});
        ASSERT_EQ(run.exit_code, 0) << run.output;
        EXPECT_TRUE(probe->wait([&] { return probe->keys().size() >= 2; })) << key.name;
        std::vector<std::pair<bool, unsigned long>> expected = {{true, key.keysym}, {false, key.keysym}};
        EXPECT_EQ(key_sequence(), expected) << key.name;
    }

    // Pointer: exact relative moves, TCP then datagrams.
    for (bool udp : {false, true}) {
        auto before = observer->pointer();
        std::vector<std::string> args = {"move", "37", "-12"};
        if (udp) args.push_back("--udp");
        ToolRun run = remote(args);
        ASSERT_EQ(run.exit_code, 0) << run.output;
        std::pair<int, int> expected{before.first + 37, before.second - 12};
        EXPECT_TRUE(probe->wait([&] { return observer->pointer() == expected; }))
            << observer->pointer().first << "," << observer->pointer().second;
    }

    // Buttons: ours are 1 left, 2 right, 3 middle; X's 1, 3, 2. The wheel:
    // 27 steps of scroll make one notch (27 x 4.5 = 121.5 units).
    probe->clear();
    for (const char* b : {"left", "right", "middle"}) ASSERT_EQ(remote({"click", b, "--udp"}).exit_code, 0);
    ASSERT_EQ(remote({"scroll", "27"}).exit_code, 0);
    ASSERT_EQ(remote({"scroll", "-27", "--udp"}).exit_code, 0);
    auto c = library_client();
    send(c, client::scroll_event(27, 0));   // the horizontal axis is inverted: left
    send(c, client::scroll_event(-27, 0));  // right
    std::vector<ButtonRecord> clicks = {{true, 1}, {false, 1}, {true, 3}, {false, 3}, {true, 2}, {false, 2},
                                        {true, 4}, {false, 4}, {true, 5}, {false, 5}, {true, 6}, {false, 6},
                                        {true, 7}, {false, 7}};
    EXPECT_TRUE(probe->wait([&] { return probe->buttons().size() >= clicks.size(); }));
    EXPECT_EQ(probe->buttons(), clicks);

    // A usage the vocabulary does not know injects nothing (Right Win, Num
    // Lock, keypad Enter), and a known one after them still arrives.
    probe->clear();
    for (std::uint16_t usage : {std::uint16_t{0xE7}, std::uint16_t{0x53}, std::uint16_t{0x58}}) {
        send(c, client::key_event(usage, client::KeyAction::Down));
        send(c, client::key_event(usage, client::KeyAction::Up));
    }
    send(c, client::key_event(0x04, client::KeyAction::Down));
    send(c, client::key_event(0x04, client::KeyAction::Up));
    EXPECT_TRUE(probe->wait([&] { return probe->keys().size() >= 2; }));
    std::vector<std::pair<bool, unsigned long>> only_a = {{true, XK_a}, {false, XK_a}};
    EXPECT_EQ(key_sequence(), only_a);

    // The clipboard: owned by the host, readable by another client, pasted
    // with Ctrl+V into the focused window.
    probe->clear();
    ToolRun clip = remote({"clip", "Clip w\u00f6rld \u6F22", "--paste"});
    ASSERT_EQ(clip.exit_code, 0) << clip.output;
    EXPECT_TRUE(probe->wait([&] { return probe->pasted().has_value(); }));
    EXPECT_EQ(probe->pasted(), "Clip w\u00f6rld \u6F22");
    std::vector<std::pair<bool, unsigned long>> paste = {
        {true, XK_Control_L}, {true, XK_v}, {false, XK_v}, {false, XK_Control_L}};
    EXPECT_EQ(key_sequence(), paste);
    EXPECT_EQ(observer->clipboard_text(), "Clip w\u00f6rld \u6F22");

    // The library client disconnects mid-chord: its session's end releases
    // everything it held.
    probe->clear();
    send(c, client::key_event(0xE0, client::KeyAction::Down));  // Left Ctrl
    send(c, client::key_event(0x16, client::KeyAction::Down, 1));  // Shift + s
    send(c, client::mouse_button_event(client::MouseButton::Left, true));
    EXPECT_TRUE(probe->wait([&] { return !observer->keys_down().empty() && observer->buttons_down() != 0; }));
    c.close();
    EXPECT_TRUE(probe->wait([&] { return nothing_down(); }, 5s)) << observer->keys_down().size();

    // Held again by a fresh session, then the host exits: nothing stays down.
    auto d = library_client();
    send(d, client::key_event(0xE1, client::KeyAction::Down));
    send(d, client::key_event(0x04, client::KeyAction::Down));
    send(d, client::mouse_button_event(client::MouseButton::Right, true));
    EXPECT_TRUE(probe->wait([&] { return observer->keys_down().size() >= 2 && observer->buttons_down() != 0; }));
    ASSERT_TRUE(host->write_line("exit"));
    EXPECT_EQ(host->wait_exit(20s), 0) << dump();
    exited = true;
    EXPECT_TRUE(nothing_down());
}

}  // namespace
}  // namespace korvex::test
