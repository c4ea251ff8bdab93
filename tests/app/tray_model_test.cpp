// The tray's menu model, commands and tooltip, from status snapshots.
#include <gtest/gtest.h>

#include "app/tray_model.h"

namespace korvex::app {
namespace {

using Kind = MenuItem::Kind;

net::HostStatus base_status() {
    net::HostStatus s;
    s.host_name = "Desk";
    s.lan_text = "192.168.1.20";
    s.tailscale_text = "Not connected";
    s.pad = {true, PadOutputMode::VirtualController, Preset::Shooter};
    return s;
}

const MenuItem& find_submenu(const TrayMenu& menu, std::string_view text) {
    for (const auto& item : menu.items)
        if (item.kind == Kind::Submenu && item.text == text) return item;
    ADD_FAILURE() << "no submenu " << text;
    static MenuItem none;
    return none;
}

// One line per item: text, id, flags; submenus indented.
void describe(const std::vector<MenuItem>& items, std::string indent, std::string& out) {
    for (const auto& item : items) {
        if (item.kind == Kind::Separator) {
            out += indent + "---\n";
            continue;
        }
        out += indent + item.text + " [" + std::to_string(item.id) + "]" + (item.checked ? " checked" : "") +
               (item.disabled ? " disabled" : "") + "\n";
        if (item.kind == Kind::Submenu) describe(item.children, indent + "  ", out);
    }
}

TEST(TrayMenu, WholeMenuWithTwoDevicesOneOnline) {
    auto status = base_status();
    status.devices = {{"c1", "Pixel", true}, {"c2", "iPad & Co", false}};
    status.controller = "Pixel";
    std::string text;
    describe(build_tray_menu(status, true, false).items, "", text);
    EXPECT_EQ(text,
              "Korvex \u2014 Desk [0] disabled\n"
              "LAN: 192.168.1.20 \u00b7 Tailscale: Not connected [0] disabled\n"
              "Status: Controlled by Pixel [0] disabled\n"
              "---\n"
              "Pair New Device\u2026 [1001]\n"
              "Paired Devices [0]\n"
              "  Pixel (Online) [0]\n"
              "    Remove Device [2000]\n"
              "  iPad & Co (Offline) [0]\n"
              "    Remove Device [2001]\n"
              "---\n"
              "Gamepad output [0]\n"
              "  Virtual controller (ViGEmBus) [3100] checked\n"
              "  Keyboard / mouse mapping [3101]\n"
              "  ---\n"
              "  Shooter (WASD + mouse look) [3000] checked\n"
              "  Arrow keys / emulator [3001]\n"
              "  Mouse only (desktop) [3002]\n"
              "  Twin stick (WASD + arrow keys) [3003]\n"
              "Gamepad Mapping\u2026 [3102]\n"
              "---\n"
              "Start on Windows Login [1002] checked\n"
              "Run with Administrator Access (Control UAC/Admin Windows) [1003]\n"
              "---\n"
              "Exit Korvex [1099]\n");
}

TEST(TrayMenu, CasesFromTheSnapshot) {
    struct Case {
        const char* what;
        void (*change)(net::HostStatus&);
        const char* submenu;  // nullptr: the top level
        std::string expected_line;
    };
    const Case cases[] = {
        {"no devices", [](net::HostStatus&) {}, "Paired Devices", "No Paired Devices [0] disabled\n"},
        {"IPv6-only LAN, no Tailscale",
         [](net::HostStatus& s) { s.lan_text = "fd12::5"; },
         nullptr, "LAN: fd12::5 \u00b7 Tailscale: Not connected [0] disabled\n"},
        {"Tailscale present",
         [](net::HostStatus& s) { s.tailscale_text = "100.64.0.7"; },
         nullptr, "LAN: 192.168.1.20 \u00b7 Tailscale: 100.64.0.7 [0] disabled\n"},
        {"ready", [](net::HostStatus&) {}, nullptr, "Status: Ready [0] disabled\n"},
        {"driver absent",
         [](net::HostStatus& s) { s.pad = {false, PadOutputMode::KeyboardMouse, Preset::Arrows}; },
         "Gamepad output",
         "Virtual controller (ViGEmBus driver not installed) [0] disabled\n"
         "Keyboard / mouse mapping [3101] checked\n"},
        {"mapping output chosen",
         [](net::HostStatus& s) { s.pad.output = PadOutputMode::KeyboardMouse; },
         "Gamepad output",
         "Virtual controller (ViGEmBus) [3100]\nKeyboard / mouse mapping [3101] checked\n"},
        {"custom preset",
         [](net::HostStatus& s) { s.pad.preset = Preset::Custom; },
         "Gamepad output", "Twin stick (WASD + arrow keys) [3003]\nCustom [0] checked disabled\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto status = base_status();
        c.change(status);
        auto menu = build_tray_menu(status, false, true);
        std::string text;
        describe(c.submenu ? find_submenu(menu, c.submenu).children : menu.items, "", text);
        EXPECT_NE(text.find(c.expected_line), std::string::npos) << text;
        if (std::string_view(c.what) != "custom preset") {
            EXPECT_EQ(text.find("Custom"), std::string::npos);
        }
    }
}

TEST(TrayMenu, CommandsDecodeAgainstTheMenuTheyCameFrom) {
    auto status = base_status();
    status.devices = {{"c1", "Pixel", true}, {"c2", "Tab", false}};
    auto menu = build_tray_menu(status, true, false);
    using K = TrayCommand::Kind;
    EXPECT_EQ(decode_command(0, menu).kind, K::None);
    EXPECT_EQ(decode_command(1001, menu).kind, K::Pair);
    auto run = decode_command(1002, menu);
    EXPECT_EQ(run.kind, K::SetRunEntry);
    EXPECT_FALSE(run.enable);  // shown present: the command removes it
    auto task = decode_command(1003, menu);
    EXPECT_EQ(task.kind, K::ToggleLogonTask);
    EXPECT_FALSE(task.task_present);
    EXPECT_EQ(decode_command(1099, menu).kind, K::Exit);
    EXPECT_EQ(decode_command(2001, menu).client_id, "c2");
    EXPECT_EQ(decode_command(2002, menu).kind, K::None);  // outside the remembered list
    EXPECT_EQ(decode_command(3002, menu).preset, Preset::MouseOnly);
    EXPECT_EQ(decode_command(3004, menu).kind, K::None);  // custom has no command
    EXPECT_EQ(decode_command(3100, menu).output, PadOutputMode::VirtualController);
    EXPECT_EQ(decode_command(3101, menu).output, PadOutputMode::KeyboardMouse);
    EXPECT_EQ(decode_command(3102, menu).kind, K::MappingWindow);
    EXPECT_EQ(decode_command(1500, menu).kind, K::None);
}

TEST(TrayTooltip, ReadyControlledAndTheCutAt127Units) {
    auto status = base_status();
    EXPECT_EQ(tooltip_text(status), u"Korvex - Ready");
    status.controller = "Pixel 8";
    EXPECT_EQ(tooltip_text(status), u"Korvex - Controlled by Pixel 8");

    const std::string prefix = "Korvex - Controlled by ";  // 23 units
    status.controller = std::string(200, 'x');
    auto cut = tooltip_text(status);
    EXPECT_EQ(cut.size(), 127u);
    EXPECT_EQ(cut.substr(0, 23), u"Korvex - Controlled by ");

    // An emoji (two units) whose pair would hold units 127 and 128: it is
    // left out whole rather than split, so the tip ends after 126 units.
    status.controller = std::string(103, 'y') + "\xF0\x9F\x98\x80" + "z";
    cut = tooltip_text(status);
    EXPECT_EQ(cut.size(), 126u);
    EXPECT_EQ(cut.back(), u'y');
    // One unit earlier, the pair fits exactly.
    status.controller = std::string(102, 'y') + "\xF0\x9F\x98\x80" + "z";
    cut = tooltip_text(status);
    EXPECT_EQ(cut.size(), 127u);
    EXPECT_EQ(cut.substr(125), u"\U0001F600");
}

TEST(TrayNotify, EventsToMessages) {
    using K = HostEvent::Kind;
    EXPECT_EQ(host_notify_code(K::DevicePaired), 1u);
    EXPECT_EQ(host_notify_code(K::PairingCodeRetired), 2u);
    EXPECT_EQ(host_notify_code(K::DeviceConnected), 3u);
    EXPECT_EQ(host_notify_code(K::DeviceDisconnected), 3u);
    EXPECT_EQ(host_notify_code(K::PairedListChanged), 3u);
}

TEST(TrayTooltip, Utf16Conversion) {
    EXPECT_EQ(utf16_prefix("Caf\xC3\xA9 \xE2\x82\xAC", 100), u"Caf\u00e9 \u20ac");
    EXPECT_EQ(utf16_prefix("a\xFF" "b", 100), u"a\uFFFDb");          // stray byte
    EXPECT_EQ(utf16_prefix("\xC0\x80", 100), u"\uFFFD\uFFFD");        // overlong
    EXPECT_EQ(utf16_prefix("\xED\xA0\x80", 100), u"\uFFFD\uFFFD\uFFFD");  // surrogate
    EXPECT_EQ(utf16_prefix("ab\xE2\x82", 100), u"ab\uFFFD\uFFFD");    // cut short
    EXPECT_EQ(utf16_prefix("abc", 2), u"ab");
}

}  // namespace
}  // namespace korvex::app
