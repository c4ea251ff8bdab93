// The mapping file: every reading rule (aliases, clamps, members
// falling back one by one, the legacy "pad_output" file), the written form,
// the save/load round trip and the failures of saving.
#include "core/pad_mapping_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

#include "core/key_vocabulary.h"
#include "core/pad_commands.h"
#include "support/fakes.h"

namespace korvex {
namespace {

using test::bytes_of;
using test::MemoryFileSystem;

constexpr const char* kDir = "/data";
constexpr const char* kPath = "/data/gamepad_mapping.json";
constexpr const char* kLegacy = "/data/pad_output";

std::uint8_t usage_of(std::string_view name) { return static_cast<std::uint8_t>(parse_key_name(name).value()); }

GamepadMapping shooter() { return preset_mapping(Preset::Shooter); }

// The mapping with one slot's binding replaced.
GamepadMapping shooter_with(PadSlot slot, Binding b) {
    GamepadMapping m = shooter();
    m.binding(slot) = b;
    return m;
}

// A file holding only these bindings members.
std::string bindings_file(const std::string& members) { return R"({"preset":"shooter","bindings":{)" + members + "}}"; }

TEST(LoadMapping, NoFileGivesTheDefault) {
    MemoryFileSystem fs;
    EXPECT_EQ(load_mapping(fs, kDir), default_mapping());
}

TEST(LoadMapping, LegacyPadOutputFile) {
    const struct {
        const char* text;
        std::optional<Preset> preset;
    } cases[] = {
        {"wasdMouse", Preset::Shooter},   {"arrows", Preset::Arrows},         {"dualKeys", Preset::TwinStick},
        {"  arrows\r\n", Preset::Arrows}, {"\tdualKeys ", Preset::TwinStick}, {"Arrows", std::nullopt},
        {"dual keys", std::nullopt},      {"mouseOnly", std::nullopt},        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        MemoryFileSystem fs;
        fs.files[kLegacy] = bytes_of(c.text);
        GamepadMapping expected = c.preset ? preset_mapping(*c.preset) : default_mapping();
        EXPECT_EQ(load_mapping(fs, kDir), expected) << c.text;
        EXPECT_EQ(load_mapping(fs, kDir).pad_output, PadOutputMode::VirtualController);
    }
}

TEST(LoadMapping, LegacyFileOnlyWhenTheMappingFileCannotBeRead) {
    MemoryFileSystem fs;
    fs.files[kLegacy] = bytes_of("arrows");
    fs.files[kPath] = bytes_of("not json");  // read fine, but bad: the default, not the legacy choice
    EXPECT_EQ(load_mapping(fs, kDir), default_mapping());
    fs.files[kPath] = bytes_of(R"({"preset":"mouseOnly"})");
    EXPECT_EQ(load_mapping(fs, kDir), preset_mapping(Preset::MouseOnly));
    fs.files.erase(kPath);
    EXPECT_EQ(load_mapping(fs, kDir), preset_mapping(Preset::Arrows));
}

// A file system that fails to read one path.
class OneUnreadableFile final : public FileSystem {
public:
    MemoryFileSystem inner;
    std::string unreadable;
    char separator() const override { return '/'; }
    Result<std::optional<Bytes>> read_file(const std::string& path) override {
        if (path == unreadable) return fail("read refused");
        return inner.read_file(path);
    }
    Status write_file_flushed(const std::string& path, ByteView data) override {
        return inner.write_file_flushed(path, data);
    }
    Status rename_replace(const std::string& from, const std::string& to) override {
        return inner.rename_replace(from, to);
    }
    Status create_directories(const std::string& path) override { return inner.create_directories(path); }
};

TEST(LoadMapping, UnreadableMappingFileFallsBackToTheLegacyFile) {
    OneUnreadableFile fs;
    fs.unreadable = kPath;
    fs.inner.files[kPath] = bytes_of(R"({"preset":"mouseOnly"})");
    fs.inner.files[kLegacy] = bytes_of("dualKeys");
    EXPECT_EQ(load_mapping(fs, kDir), preset_mapping(Preset::TwinStick));
    fs.unreadable = kLegacy;
    fs.inner.files.erase(kPath);
    EXPECT_EQ(load_mapping(fs, kDir), default_mapping());
}

TEST(LoadMapping, DataFolderJoinedWithItsSeparator) {
    MemoryFileSystem fs;
    fs.files["gamepad_mapping.json"] = bytes_of(R"({"preset":"arrows"})");
    EXPECT_EQ(load_mapping(fs, ""), preset_mapping(Preset::Arrows));
    fs.files["/data/gamepad_mapping.json"] = bytes_of(R"({"preset":"twin"})");
    EXPECT_EQ(load_mapping(fs, "/data/"), preset_mapping(Preset::TwinStick));
}

TEST(ParseMapping, WholeDocumentRules) {
    const struct {
        const char* text;
        GamepadMapping expected;
    } cases[] = {
        {"", default_mapping()},
        {"not json", default_mapping()},
        {R"(["preset","arrows"])", default_mapping()},
        {R"("arrows")", default_mapping()},
        {"42", default_mapping()},
        {"null", default_mapping()},
        {R"({"preset":"arrows"} x)", default_mapping()},                               // trailing data
        {R"({"preset":"arrows","preset":"arrows"})", default_mapping()},               // a member given twice
        {R"({"preset":"arrows","leftStick":{"deadzone":1e999}})", default_mapping()},  // out of range: not JSON here
        {"{\"preset\":\"arrows\"}  \r\n\t ", preset_mapping(Preset::Arrows)},          // trailing white space
        {"  {\"preset\":\"arrows\"}", preset_mapping(Preset::Arrows)},
        {"{}", default_mapping()},
        {R"({"version":99,"unknown":[1,2,{"x":null}],"preset":"arrows"})", preset_mapping(Preset::Arrows)},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_mapping(c.text), c.expected) << c.text;
}

TEST(ParseMapping, Preset) {
    const struct {
        const char* text;
        Preset preset;
    } cases[] = {
        {R"({"preset":"shooter"})", Preset::Shooter},      {R"({"preset":"Mouse Only"})", Preset::MouseOnly},
        {R"({"preset":"twin_stick"})", Preset::TwinStick}, {R"({"preset":"ARROWS"})", Preset::Arrows},
        {R"({"preset":"fps"})", Preset::Shooter},          {R"({"preset":"WasdMouse"})", Preset::Shooter},
        {R"({"preset":"default"})", Preset::Shooter},      {R"({"preset":"emulator"})", Preset::Arrows},
        {R"({"preset":"mouse"})", Preset::MouseOnly},      {R"({"preset":"Desktop"})", Preset::MouseOnly},
        {R"({"preset":"twin"})", Preset::TwinStick},       {R"({"preset":"dual-keys"})", Preset::TwinStick},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_mapping(c.text), preset_mapping(c.preset)) << c.text;

    // Custom: shooter's values under the custom number.
    EXPECT_EQ(parse_mapping(R"({"preset":"custom"})"), preset_mapping(Preset::Custom));
    // Unknown or missing: shooter's values; called shooter while they are
    // shooter's, custom once the file changed them.
    for (const char* text : {R"({"preset":"racing"})", R"({"preset":3})", R"({"mode":"virtual"})"}) {
        EXPECT_EQ(parse_mapping(text), shooter()) << text;
    }
    GamepadMapping changed = parse_mapping(R"({"preset":"racing","bindings":{"a":"enter"}})");
    EXPECT_EQ(changed.preset, Preset::Custom);
    EXPECT_EQ(changed.binding(PadSlot::A), Binding::key(usage_of("enter")));
    EXPECT_EQ(changed.binding(PadSlot::B), shooter().binding(PadSlot::B));
    // A known preset stays itself even when the file changes its values.
    EXPECT_EQ(parse_mapping(R"({"preset":"arrows","bindings":{"a":"space"}})").preset, Preset::Arrows);
}

TEST(ParseMapping, PadOutputMode) {
    const struct {
        const char* mode;
        PadOutputMode expected;
    } cases[] = {
        {"virtual", PadOutputMode::VirtualController},    {"ViGEm", PadOutputMode::VirtualController},
        {"XInput", PadOutputMode::VirtualController},     {"XINPUT", PadOutputMode::VirtualController},
        {"controller", PadOutputMode::VirtualController}, {"keyboardMouse", PadOutputMode::KeyboardMouse},
        {"keyboard-mouse", PadOutputMode::KeyboardMouse}, {"Keyboard", PadOutputMode::KeyboardMouse},
        {"mapping", PadOutputMode::KeyboardMouse},        {"keys", PadOutputMode::KeyboardMouse},
        {"mouse", PadOutputMode::VirtualController},      {"", PadOutputMode::VirtualController},
    };
    for (const auto& c : cases) {
        std::string text = std::string(R"({"preset":"arrows","mode":")") + c.mode + "\"}";
        GamepadMapping m = parse_mapping(text);
        EXPECT_EQ(m.pad_output, c.expected) << c.mode;
        EXPECT_EQ(m.preset, Preset::Arrows);
    }
    EXPECT_EQ(parse_mapping(R"({"mode":1})").pad_output, PadOutputMode::VirtualController);
}

TEST(ParseMapping, BindingsAsText) {
    const struct {
        const char* members;
        GamepadMapping expected;
    } cases[] = {
        {R"("lt":"Page Up")", shooter_with(PadSlot::LT, Binding::key(usage_of("pageUp")))},
        {R"("lt":"not a key")", shooter()},
        {R"("lt":"none")", shooter_with(PadSlot::LT, Binding::nothing())},
        {R"("lt":"None")", shooter_with(PadSlot::LT, Binding::nothing())},
        {R"("lt":"")", shooter_with(PadSlot::LT, Binding::nothing())},
        {R"("lt":"   ")", shooter_with(PadSlot::LT, Binding::nothing())},
        {R"("a":"esc")", shooter_with(PadSlot::A, Binding::key(usage_of("escape")))},
        {R"("select":"f1")", shooter_with(PadSlot::Back, Binding::key(usage_of("f1")))},
        {R"("View":"f1")", shooter_with(PadSlot::Back, Binding::key(usage_of("f1")))},
        {R"("menu":"f2")", shooter_with(PadSlot::Start, Binding::key(usage_of("f2")))},
        {R"("options":"f2")", shooter_with(PadSlot::Start, Binding::key(usage_of("f2")))},
        {R"("up":"w")", shooter_with(PadSlot::DpadUp, Binding::key(usage_of("w")))},
        {R"("down":"s")", shooter_with(PadSlot::DpadDown, Binding::key(usage_of("s")))},
        {R"("left":"a")", shooter_with(PadSlot::DpadLeft, Binding::key(usage_of("a")))},
        {R"("right":"d")", shooter_with(PadSlot::DpadRight, Binding::key(usage_of("d")))},
        {R"("DPAD_UP":"w")", shooter_with(PadSlot::DpadUp, Binding::key(usage_of("w")))},
        {R"("guide":"w","paddle1":"x")", shooter()},
        {R"("a":5)", shooter()},
        {R"("a":null)", shooter()},
        {R"("a":["space"])", shooter()},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_mapping(bindings_file(c.members)), c.expected) << c.members;
    // "bindings" that is not an object is ignored as a whole.
    EXPECT_EQ(parse_mapping(R"({"preset":"shooter","bindings":["enter"]})"), shooter());
    EXPECT_EQ(parse_mapping(R"({"preset":"shooter","bindings":"enter"})"), shooter());
}

TEST(ParseMapping, BindingsAsObjects) {
    const std::uint8_t k = usage_of("k");
    const struct {
        const char* binding;
        Binding expected;  // for slot lt; shooter's own when unchanged
    } cases[] = {
        {R"({"type":"none"})", Binding::nothing()},
        {R"({"type":"off"})", Binding::nothing()},
        {R"({"type":"Nothing"})", Binding::nothing()},
        {R"({"type":"key","key":"k"})", Binding::key(k)},
        {R"({"type":"KEY","key":"K","mods":[]})", Binding::key(k)},
        {R"({"type":"key","key":"k","mods":["ctrl","shift","alt","win"]})", Binding::key(k, kMapAll)},
        {R"({"type":"key","key":"k","mods":["Control","OPTION"]})", Binding::key(k, kMapCtrl | kMapAlt)},
        {R"({"type":"key","key":"k","mods":["cmd"]})", Binding::key(k, kMapWin)},
        {R"({"type":"key","key":"k","mods":["meta","super","command"]})", Binding::key(k, kMapWin)},
        {R"({"type":"key","key":"k","mods":["hyper",1,null,"shift"]})", Binding::key(k, kMapShift)},
        {R"({"type":"key","key":"k","modifiers":["alt"]})", Binding::key(k, kMapAlt)},
        {R"({"type":"key","key":"k","mods":["ctrl"],"modifiers":["alt"]})", Binding::key(k, kMapCtrl)},
        {R"({"type":"key","key":"k","mods":"ctrl"})", Binding::key(k)},
        {R"({"type":"key","key":"k","mods":"ctrl","modifiers":["alt"]})", Binding::key(k)},
        {R"({"type":"key","key":"none"})", Binding::mouse_button(2)},
        {R"({"type":"key","key":"bogus"})", Binding::mouse_button(2)},
        {R"({"type":"key"})", Binding::mouse_button(2)},
        {R"({"type":"key","key":7})", Binding::mouse_button(2)},
        {R"({"type":"mouse","button":"left"})", Binding::mouse_button(1)},
        {R"({"type":"mouse","button":"Primary"})", Binding::mouse_button(1)},
        {R"({"type":"mouseButton","button":"secondary"})", Binding::mouse_button(2)},
        {R"({"type":"mouse_button","button":"middle"})", Binding::mouse_button(3)},
        {R"({"type":"mouse","button":"x1"})", Binding::mouse_button(2)},
        {R"({"type":"mouse","button":1})", Binding::mouse_button(2)},
        {R"({"type":"mouse"})", Binding::mouse_button(2)},
        {R"({"type":"mouseMove","direction":"up","speed":2.5})", Binding::mouse_move(PadDirection::Up, 2.5f)},
        {R"({"type":"move","dir":"Left"})", Binding::mouse_move(PadDirection::Left, 1.0f)},
        {R"({"type":"pointer","direction":"down","speed":10})", Binding::mouse_move(PadDirection::Down, 5.0f)},
        {R"({"type":"mousemove","direction":"right","speed":0})", Binding::mouse_move(PadDirection::Right, 0.1f)},
        {R"({"type":"move","direction":"right","speed":-3})", Binding::mouse_move(PadDirection::Right, 0.1f)},
        {R"({"type":"move","direction":"right","speed":"fast"})", Binding::mouse_move(PadDirection::Right, 1.0f)},
        {R"({"type":"move","direction":"north"})", Binding::mouse_button(2)},
        {R"({"type":"move","speed":2})", Binding::mouse_button(2)},
        {R"({"type":"move","direction":"north","dir":"up"})", Binding::mouse_button(2)},
        {R"({"type":"move","dir":"up","direction":"down"})", Binding::mouse_move(PadDirection::Down, 1.0f)},
        {R"({"type":"scroll","direction":"up","amount":3})", Binding::scroll(PadDirection::Up, 3)},
        {R"({"type":"wheel","dir":"down"})", Binding::scroll(PadDirection::Down, 1)},
        {R"({"type":"scroll","direction":"left","amount":0})", Binding::scroll(PadDirection::Left, 1)},
        {R"({"type":"scroll","direction":"left","amount":25})", Binding::scroll(PadDirection::Left, 10)},
        {R"({"type":"scroll","direction":"right","amount":2.6})", Binding::scroll(PadDirection::Right, 3)},
        {R"({"type":"scroll","direction":"right","amount":2.4})", Binding::scroll(PadDirection::Right, 2)},
        {R"({"type":"scroll","direction":"right","amount":"3"})", Binding::scroll(PadDirection::Right, 1)},
        {R"({"type":"scroll"})", Binding::mouse_button(2)},
        {R"({"type":"macro","keys":["a","b"]})", Binding::mouse_button(2)},
        {R"({"type":7})", Binding::mouse_button(2)},
        {R"({"key":"k"})", Binding::mouse_button(2)},
        {R"({})", Binding::mouse_button(2)},
    };
    ASSERT_EQ(shooter().binding(PadSlot::LT), Binding::mouse_button(2));
    for (const auto& c : cases) {
        GamepadMapping m = parse_mapping(bindings_file(std::string(R"("lt":)") + c.binding));
        EXPECT_EQ(m.binding(PadSlot::LT), c.expected) << c.binding;
        GamepadMapping rest = m;
        rest.binding(PadSlot::LT) = shooter().binding(PadSlot::LT);
        EXPECT_EQ(rest, shooter()) << c.binding;  // only that slot changed
    }
}

TEST(ParseMapping, InvalidMembersFallBackOneByOne) {
    GamepadMapping m = parse_mapping(R"({
        "preset": "arrows",
        "mode": "keyboard",
        "bindings": {
            "a": "k",
            "b": "bogus",
            "x": {"type": "mouse", "button": "sideways"},
            "y": {"type": "scroll", "direction": "up", "amount": 2}
        },
        "leftStick": {"mode": "sideways", "up": "i", "down": "bogus", "deadzone": "wide", "sensitivity": 2},
        "rightStick": 5
    })");
    GamepadMapping expected = preset_mapping(Preset::Arrows, PadOutputMode::KeyboardMouse);
    expected.binding(PadSlot::A) = Binding::key(usage_of("k"));
    expected.binding(PadSlot::Y) = Binding::scroll(PadDirection::Up, 2);
    expected.left_stick.keys[0] = usage_of("i");
    expected.left_stick.sensitivity = 2.0f;
    EXPECT_EQ(m, expected);
}

TEST(ParseMapping, Sticks) {
    const GamepadMapping base = shooter();
    struct Case {
        const char* stick;
        StickSettings expected;
    };
    auto left = [&](auto change) {
        StickSettings s = base.left_stick;
        change(s);
        return s;
    };
    const Case cases[] = {
        {R"({})", base.left_stick},
        {R"({"mode":"mouse"})", left([](StickSettings& s) { s.mode = StickMode::Mouse; })},
        {R"({"mode":"Scroll"})", left([](StickSettings& s) { s.mode = StickMode::Scroll; })},
        {R"({"mode":"off"})", left([](StickSettings& s) { s.mode = StickMode::Off; })},
        {R"({"mode":"none"})", left([](StickSettings& s) { s.mode = StickMode::Off; })},
        {R"({"mode":"Disabled"})", left([](StickSettings& s) { s.mode = StickMode::Off; })},
        {R"({"mode":"look"})", left([](StickSettings& s) { s.mode = StickMode::Mouse; })},
        {R"({"mode":"mouse_look"})", left([](StickSettings& s) { s.mode = StickMode::Mouse; })},
        {R"({"mode":"wheel"})", left([](StickSettings& s) { s.mode = StickMode::Scroll; })},
        {R"({"mode":"dpad"})", base.left_stick},
        {R"({"mode":2})", base.left_stick},
        {R"({"up":"none","down":"None"})", left([](StickSettings& s) { s.keys[0] = s.keys[1] = 0; })},
        {R"({"up":"i","down":"k","left":"j","right":"l"})", left([](StickSettings& s) {
             s.keys = {usage_of("i"), usage_of("k"), usage_of("j"), usage_of("l")};
         })},
        {R"({"left":"arrow left","right":"bogus","up":""})",
         left([](StickSettings& s) { s.keys[2] = usage_of("left"); })},
        {R"({"up":1})", base.left_stick},
        {R"({"deadzone":0.5})", left([](StickSettings& s) { s.deadzone = 0.5f; })},
        {R"({"deadzone":2})", left([](StickSettings& s) { s.deadzone = 0.9f; })},
        {R"({"deadzone":-0.1})", left([](StickSettings& s) { s.deadzone = 0.0f; })},
        {R"({"deadzone":0})", left([](StickSettings& s) { s.deadzone = 0.0f; })},
        {R"({"deadzone":"0.5"})", base.left_stick},
        {R"({"sensitivity":0})", left([](StickSettings& s) { s.sensitivity = 0.1f; })},
        {R"({"sensitivity":7})", left([](StickSettings& s) { s.sensitivity = 5.0f; })},
        {R"({"sensitivity":2.5})", left([](StickSettings& s) { s.sensitivity = 2.5f; })},
        {R"({"invertY":true})", left([](StickSettings& s) { s.invert_y = true; })},
        {R"({"invertY":1})", base.left_stick},
        {R"({"invertY":"yes"})", base.left_stick},
    };
    for (const auto& c : cases) {
        GamepadMapping m = parse_mapping(std::string(R"({"preset":"shooter","leftStick":)") + c.stick + "}");
        EXPECT_EQ(m.left_stick, c.expected) << c.stick;
        EXPECT_EQ(m.right_stick, base.right_stick) << c.stick;
    }
    // The right stick starts from the preset's right stick.
    GamepadMapping arrows = parse_mapping(R"({"preset":"mouseOnly","rightStick":{"invertY":true}})");
    StickSettings expected = preset_mapping(Preset::MouseOnly).right_stick;
    expected.invert_y = true;
    EXPECT_EQ(arrows.right_stick, expected);
    EXPECT_EQ(parse_mapping(R"({"preset":"mouseOnly","rightStick":[1]})"), preset_mapping(Preset::MouseOnly));
}

TEST(ParseMapping, TheExampleOfTheUserHelp) {
    // docs/GAMEPAD.md, "Example".
    GamepadMapping m = parse_mapping(R"({
  "version": 1,
  "mode": "keyboardMouse",
  "preset": "custom",
  "bindings": {
    "a": {"type": "key", "key": "space", "mods": []},
    "b": {"type": "key", "key": "c", "mods": ["ctrl"]},
    "x": {"type": "mouse", "button": "middle"},
    "y": {"type": "none"},
    "lb": {"type": "scroll", "direction": "up", "amount": 3},
    "rb": {"type": "scroll", "direction": "down", "amount": 3},
    "lt": {"type": "mouse", "button": "right"},
    "rt": {"type": "mouse", "button": "left"},
    "back": "tab",
    "start": "escape",
    "dpadUp": {"type": "mouseMove", "direction": "up", "speed": 0.5}
  },
  "leftStick": {
    "mode": "keys",
    "up": "w", "down": "s", "left": "a", "right": "d",
    "deadzone": 0.25, "sensitivity": 1.0, "invertY": false
  },
  "rightStick": {
    "mode": "mouse",
    "up": "none", "down": "none", "left": "none", "right": "none",
    "deadzone": 0.12, "sensitivity": 1.5, "invertY": true
  }
}
)");
    GamepadMapping expected = preset_mapping(Preset::Custom, PadOutputMode::KeyboardMouse);
    expected.binding(PadSlot::B) = Binding::key(usage_of("c"), kMapCtrl);
    expected.binding(PadSlot::X) = Binding::mouse_button(3);
    expected.binding(PadSlot::Y) = Binding::nothing();
    expected.binding(PadSlot::LB) = Binding::scroll(PadDirection::Up, 3);
    expected.binding(PadSlot::RB) = Binding::scroll(PadDirection::Down, 3);
    expected.binding(PadSlot::DpadUp) = Binding::mouse_move(PadDirection::Up, 0.5f);
    expected.right_stick.keys = {0, 0, 0, 0};
    expected.right_stick.sensitivity = 1.5f;
    expected.right_stick.invert_y = true;
    EXPECT_EQ(m, expected);
}

TEST(ClampStickSettings, RangesAndNonFiniteValues) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        float deadzone, sensitivity, want_deadzone, want_sensitivity;
    } cases[] = {
        {0.3f, 1.5f, 0.3f, 1.5f}, {2.0f, 0.0f, 0.9f, 0.1f}, {-1.0f, 9.0f, 0.0f, 5.0f}, {nan, nan, 0.2f, 1.0f},
        {inf, inf, 0.2f, 1.0f},   {-inf, -inf, 0.2f, 1.0f}, {0.9f, 5.0f, 0.9f, 5.0f},  {0.0f, 0.1f, 0.0f, 0.1f},
    };
    for (const auto& c : cases) {
        StickSettings s;
        s.deadzone = c.deadzone;
        s.sensitivity = c.sensitivity;
        StickSettings out = clamp_stick_settings(s);
        EXPECT_EQ(out.deadzone, c.want_deadzone) << c.deadzone;
        EXPECT_EQ(out.sensitivity, c.want_sensitivity) << c.sensitivity;
    }
}

TEST(EncodeMapping, TheWrittenFormOfTheDefault) {
    const std::string expected = R"({
  "version": 1,
  "mode": "virtual",
  "preset": "shooter",
  "bindings": {
    "a": {
      "type": "key",
      "key": "space",
      "mods": []
    },
    "b": {
      "type": "key",
      "key": "leftCtrl",
      "mods": []
    },
    "x": {
      "type": "key",
      "key": "r",
      "mods": []
    },
    "y": {
      "type": "key",
      "key": "q",
      "mods": []
    },
    "lb": {
      "type": "key",
      "key": "g",
      "mods": []
    },
    "rb": {
      "type": "key",
      "key": "e",
      "mods": []
    },
    "lt": {
      "type": "mouse",
      "button": "right"
    },
    "rt": {
      "type": "mouse",
      "button": "left"
    },
    "back": {
      "type": "key",
      "key": "tab",
      "mods": []
    },
    "start": {
      "type": "key",
      "key": "escape",
      "mods": []
    },
    "l3": {
      "type": "key",
      "key": "leftShift",
      "mods": []
    },
    "r3": {
      "type": "key",
      "key": "v",
      "mods": []
    },
    "dpadUp": {
      "type": "key",
      "key": "up",
      "mods": []
    },
    "dpadDown": {
      "type": "key",
      "key": "down",
      "mods": []
    },
    "dpadLeft": {
      "type": "key",
      "key": "left",
      "mods": []
    },
    "dpadRight": {
      "type": "key",
      "key": "right",
      "mods": []
    }
  },
  "leftStick": {
    "mode": "keys",
    "up": "w",
    "down": "s",
    "left": "a",
    "right": "d",
    "deadzone": 0.25,
    "sensitivity": 1.0,
    "invertY": false
  },
  "rightStick": {
    "mode": "mouse",
    "up": "w",
    "down": "s",
    "left": "a",
    "right": "d",
    "deadzone": 0.12,
    "sensitivity": 1.0,
    "invertY": false
  }
})";
    EXPECT_EQ(encode_mapping(default_mapping()), expected);
}

TEST(EncodeMapping, EveryBindingKind) {
    GamepadMapping m = preset_mapping(Preset::Custom, PadOutputMode::KeyboardMouse);
    m.binding(PadSlot::A) = Binding::key(usage_of("k"), kMapAll);
    m.binding(PadSlot::B) = Binding::key(usage_of("a"), kMapShift | kMapWin);
    m.binding(PadSlot::X) = Binding::nothing();
    m.binding(PadSlot::Y) = Binding::mouse_button(3);
    m.binding(PadSlot::LB) = Binding::mouse_move(PadDirection::Left, 2.5f);
    m.binding(PadSlot::RB) = Binding::scroll(PadDirection::Down, 4);
    m.binding(PadSlot::LT) = Binding::mouse_move(PadDirection::Up, 0.1f);
    m.left_stick.keys = {0, 0, 0, 0};
    m.left_stick.deadzone = 0.33349f;  // three decimals
    m.right_stick.sensitivity = 2.0f / 3.0f;
    m.right_stick.invert_y = true;
    std::string text = encode_mapping(m);
    auto has = [&](const std::string& part) { return text.find(part) != std::string::npos; };
    EXPECT_TRUE(has(R"("mode": "keyboardMouse")"));
    EXPECT_TRUE(has(R"("preset": "custom")"));
    EXPECT_TRUE(
        has("\"key\": \"k\",\n      \"mods\": [\n        \"ctrl\",\n        \"shift\",\n        \"alt\",\n"
            "        \"win\"\n      ]"));
    EXPECT_TRUE(has("\"key\": \"a\",\n      \"mods\": [\n        \"shift\",\n        \"win\"\n      ]"));
    EXPECT_TRUE(has("\"x\": {\n      \"type\": \"none\"\n    }"));
    EXPECT_TRUE(has("\"y\": {\n      \"type\": \"mouse\",\n      \"button\": \"middle\"\n    }"));
    EXPECT_TRUE(
        has("\"lb\": {\n      \"type\": \"mouseMove\",\n      \"direction\": \"left\",\n      \"speed\": 2.5\n    }"));
    EXPECT_TRUE(
        has("\"rb\": {\n      \"type\": \"scroll\",\n      \"direction\": \"down\",\n      \"amount\": 4\n    }"));
    EXPECT_TRUE(has(R"("speed": 0.1)"));
    EXPECT_TRUE(has("\"up\": \"none\",\n    \"down\": \"none\""));
    EXPECT_TRUE(has(R"("deadzone": 0.333,)"));
    EXPECT_TRUE(has(R"("sensitivity": 0.667,)"));
    EXPECT_TRUE(has(R"("invertY": true)"));
}

TEST(SaveMapping, RoundTripOfEveryPresetAndOutput) {
    for (std::uint8_t p = 0; p < kPresetCount; ++p) {
        for (auto output : {PadOutputMode::VirtualController, PadOutputMode::KeyboardMouse}) {
            MemoryFileSystem fs;
            GamepadMapping m = preset_mapping(static_cast<Preset>(p), output);
            ASSERT_TRUE(save_mapping(fs, kDir, m));
            EXPECT_EQ(load_mapping(fs, kDir), m) << int(p);
            EXPECT_EQ(fs.files.count("/data/gamepad_mapping.json.tmp"), 0u);
        }
    }
}

TEST(SaveMapping, RoundTripOfAnEditedMapping) {
    GamepadMapping m = preset_mapping(Preset::Custom, PadOutputMode::KeyboardMouse);
    m.binding(PadSlot::A) = Binding::key(usage_of("k"), kMapCtrl | kMapAlt);
    m.binding(PadSlot::B) = Binding::key(usage_of("rightAlt"), kMapWin);
    m.binding(PadSlot::X) = Binding::nothing();
    m.binding(PadSlot::Y) = Binding::mouse_button(3);
    m.binding(PadSlot::LB) = Binding::mouse_move(PadDirection::Left, 2.5f);
    m.binding(PadSlot::RB) = Binding::mouse_move(PadDirection::Down, 0.1f);
    m.binding(PadSlot::LT) = Binding::mouse_move(PadDirection::Up, 4.7f);
    m.binding(PadSlot::RT) = Binding::scroll(PadDirection::Right, 10);
    m.binding(PadSlot::DpadUp) = Binding::scroll(PadDirection::Up, 1);
    m.left_stick = {StickMode::Scroll, {0, usage_of("numpad2"), 0, usage_of("f12")}, 0.6f, 0.1f, true};
    m.right_stick = {StickMode::Off, {usage_of("grave"), 0, 0, 0}, 0.0f, 5.0f, false};
    MemoryFileSystem fs;
    ASSERT_TRUE(save_mapping(fs, kDir, m));
    EXPECT_EQ(load_mapping(fs, kDir), m);
    // Saving the loaded mapping writes the same text.
    std::string first = fs.text(kPath);
    ASSERT_TRUE(save_mapping(fs, kDir, load_mapping(fs, kDir)));
    EXPECT_EQ(fs.text(kPath), first);
}

TEST(SaveMapping, Failures) {
    {
        MemoryFileSystem fs;
        fs.fail_mkdir = true;
        EXPECT_FALSE(save_mapping(fs, kDir, default_mapping()));
        EXPECT_TRUE(fs.files.empty());
    }
    {
        MemoryFileSystem fs;
        fs.files[kPath] = bytes_of("old");
        fs.fail_write = true;
        EXPECT_FALSE(save_mapping(fs, kDir, default_mapping()));
        EXPECT_EQ(fs.text(kPath), "old");
    }
    {
        MemoryFileSystem fs;
        fs.files[kPath] = bytes_of("old");
        fs.fail_rename = true;
        EXPECT_FALSE(save_mapping(fs, kDir, default_mapping()));
        EXPECT_EQ(fs.text(kPath), "old");
        // The temporary file is "gamepad_mapping.json" followed by ".tmp", left behind.
        EXPECT_EQ(fs.text("/data/gamepad_mapping.json.tmp"), encode_mapping(default_mapping()));
    }
}

TEST(SaveMapping, NeverTouchesTheLegacyFile) {
    MemoryFileSystem fs;
    fs.files[kLegacy] = bytes_of("arrows");
    ASSERT_TRUE(save_mapping(fs, kDir, preset_mapping(Preset::MouseOnly)));
    EXPECT_EQ(fs.text(kLegacy), "arrows");
    EXPECT_EQ(load_mapping(fs, kDir), preset_mapping(Preset::MouseOnly));
}

}  // namespace
}  // namespace korvex
