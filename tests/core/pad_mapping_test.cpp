// The mapping model: slots and their pressed tests, the names,
// labels and aliases, and the five presets, checked against the preset tables
// written with key names.
#include "core/pad_mapping.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/key_vocabulary.h"

namespace korvex {
namespace {

std::uint8_t usage_of(std::string_view name) {
    auto usage = parse_key_name(name);
    EXPECT_TRUE(usage.has_value()) << name;
    return static_cast<std::uint8_t>(usage.value_or(0));
}

// "space", "mouse 2", "Alt+left", "nothing".
Binding binding_of(std::string_view text) {
    if (text == "nothing") return Binding::nothing();
    if (text.starts_with("mouse ")) return Binding::mouse_button(static_cast<std::uint8_t>(text.back() - '0'));
    if (text.starts_with("Alt+")) return Binding::key(usage_of(text.substr(4)), kMapAlt);
    return Binding::key(usage_of(text));
}

TEST(PadSlots, NamesLabelsAndOrder) {
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"a", "A"},
        {"b", "B"},
        {"x", "X"},
        {"y", "Y"},
        {"lb", "LB (left bumper)"},
        {"rb", "RB (right bumper)"},
        {"lt", "LT (left trigger)"},
        {"rt", "RT (right trigger)"},
        {"back", "Back / Select"},
        {"start", "Start"},
        {"l3", "L3 (left stick click)"},
        {"r3", "R3 (right stick click)"},
        {"dpadUp", "D-pad up"},
        {"dpadDown", "D-pad down"},
        {"dpadLeft", "D-pad left"},
        {"dpadRight", "D-pad right"},
    };
    ASSERT_EQ(expected.size(), kPadSlotCount);
    for (std::size_t i = 0; i < kPadSlotCount; ++i) {
        auto slot = static_cast<PadSlot>(i);
        EXPECT_EQ(slot_name(slot), expected[i].first);
        EXPECT_EQ(slot_label(slot), expected[i].second);
        EXPECT_EQ(parse_slot_name(expected[i].first), slot);
    }
}

TEST(PadSlots, ParsingNormalisesAndKnowsTheAliases) {
    EXPECT_EQ(parse_slot_name("DPAD_UP"), PadSlot::DpadUp);
    EXPECT_EQ(parse_slot_name(" d-pad right "), PadSlot::DpadRight);
    EXPECT_EQ(parse_slot_name("LB"), PadSlot::LB);
    EXPECT_EQ(parse_slot_name("select"), PadSlot::Back);
    EXPECT_EQ(parse_slot_name("View"), PadSlot::Back);
    EXPECT_EQ(parse_slot_name("menu"), PadSlot::Start);
    EXPECT_EQ(parse_slot_name("options"), PadSlot::Start);
    EXPECT_EQ(parse_slot_name("up"), PadSlot::DpadUp);
    EXPECT_EQ(parse_slot_name("down"), PadSlot::DpadDown);
    EXPECT_EQ(parse_slot_name("left"), PadSlot::DpadLeft);
    EXPECT_EQ(parse_slot_name("right"), PadSlot::DpadRight);
    EXPECT_EQ(parse_slot_name("guide"), std::nullopt);
    EXPECT_EQ(parse_slot_name(""), std::nullopt);
}

TEST(PadSlots, PressedTests) {
    const std::uint16_t bits[] = {0x001, 0x002, 0x004, 0x008, 0x010, 0x020};
    for (std::size_t i = 0; i < std::size(bits); ++i) {
        PadState s;
        s.buttons = bits[i];
        for (std::size_t j = 0; j < kPadSlotCount; ++j) {
            EXPECT_EQ(slot_pressed(static_cast<PadSlot>(j), s), i == j) << i << " " << j;
        }
    }
    PadState s;
    s.buttons = 0x200;
    EXPECT_TRUE(slot_pressed(PadSlot::Back, s));
    s.buttons = 0x100;
    EXPECT_TRUE(slot_pressed(PadSlot::Start, s));
    s.buttons = 0x040;
    EXPECT_TRUE(slot_pressed(PadSlot::L3, s));
    s.buttons = 0x080;
    EXPECT_TRUE(slot_pressed(PadSlot::R3, s));
    // Guide has no slot.
    s.buttons = 0x400;
    for (std::size_t j = 0; j < kPadSlotCount; ++j) EXPECT_FALSE(slot_pressed(static_cast<PadSlot>(j), s));

    PadState t;
    t.left_trigger = 63;
    t.right_trigger = 64;
    EXPECT_FALSE(slot_pressed(PadSlot::LT, t));
    EXPECT_TRUE(slot_pressed(PadSlot::RT, t));

    // D-pad: up 1, 2, 8; down 4, 5, 6; left 6, 7, 8; right 2, 3, 4.
    const char* expected[] = {"", "U", "UR", "R", "DR", "D", "DL", "L", "UL", ""};
    for (std::uint8_t d = 0; d < 10; ++d) {
        PadState p;
        p.dpad = d;
        std::string got;
        if (slot_pressed(PadSlot::DpadUp, p)) got += "U";
        if (slot_pressed(PadSlot::DpadDown, p)) got += "D";
        if (slot_pressed(PadSlot::DpadLeft, p)) got += "L";
        if (slot_pressed(PadSlot::DpadRight, p)) got += "R";
        EXPECT_EQ(got, expected[d]) << int(d);
    }
}

TEST(PadVocabulary, ModesDirectionsKindsOutputs) {
    const char* mode_names[] = {"off", "keys", "mouse", "scroll"};
    const char* mode_labels[] = {"Off", "Keys (4 directions)", "Mouse movement", "Scroll wheel"};
    for (std::uint8_t i = 0; i < 4; ++i) {
        EXPECT_EQ(stick_mode_name(static_cast<StickMode>(i)), mode_names[i]);
        EXPECT_EQ(stick_mode_label(static_cast<StickMode>(i)), mode_labels[i]);
        EXPECT_EQ(parse_stick_mode(mode_names[i]), static_cast<StickMode>(i));
    }
    EXPECT_EQ(parse_stick_mode("None"), StickMode::Off);
    EXPECT_EQ(parse_stick_mode("disabled"), StickMode::Off);
    EXPECT_EQ(parse_stick_mode("look"), StickMode::Mouse);
    EXPECT_EQ(parse_stick_mode("Mouse Look"), StickMode::Mouse);
    EXPECT_EQ(parse_stick_mode("wheel"), StickMode::Scroll);
    EXPECT_EQ(parse_stick_mode("dpad"), std::nullopt);

    const char* dir_names[] = {"up", "down", "left", "right"};
    const char* dir_labels[] = {"Up", "Down", "Left", "Right"};
    for (std::uint8_t i = 0; i < 4; ++i) {
        EXPECT_EQ(direction_name(static_cast<PadDirection>(i)), dir_names[i]);
        EXPECT_EQ(direction_label(static_cast<PadDirection>(i)), dir_labels[i]);
        EXPECT_EQ(parse_direction(dir_labels[i]), static_cast<PadDirection>(i));
    }
    EXPECT_EQ(parse_direction("north"), std::nullopt);

    EXPECT_EQ(binding_kind_name(BindingKind::Nothing), "none");
    EXPECT_EQ(binding_kind_name(BindingKind::Key), "key");
    EXPECT_EQ(binding_kind_name(BindingKind::MouseButton), "mouse");
    EXPECT_EQ(binding_kind_name(BindingKind::MouseMove), "mouseMove");
    EXPECT_EQ(binding_kind_name(BindingKind::Scroll), "scroll");

    EXPECT_EQ(mouse_button_name(1), "left");
    EXPECT_EQ(mouse_button_name(2), "right");
    EXPECT_EQ(mouse_button_name(3), "middle");
    EXPECT_EQ(parse_mouse_button("Primary"), 1);
    EXPECT_EQ(parse_mouse_button("secondary"), 2);
    EXPECT_EQ(parse_mouse_button("MIDDLE"), 3);
    EXPECT_EQ(parse_mouse_button("back"), std::nullopt);

    EXPECT_EQ(pad_output_name(PadOutputMode::VirtualController), "virtual");
    EXPECT_EQ(pad_output_name(PadOutputMode::KeyboardMouse), "keyboardMouse");
    for (const char* t : {"virtual", "ViGEm", "XInput", "controller"})
        EXPECT_EQ(parse_pad_output(t), PadOutputMode::VirtualController) << t;
    for (const char* t : {"keyboardMouse", "keyboard_mouse", "Keyboard", "mapping", "keys"})
        EXPECT_EQ(parse_pad_output(t), PadOutputMode::KeyboardMouse) << t;
    EXPECT_EQ(parse_pad_output("mouse"), std::nullopt);

    EXPECT_EQ(parse_mapping_modifier("Control"), kMapCtrl);
    EXPECT_EQ(parse_mapping_modifier("ctrl"), kMapCtrl);
    EXPECT_EQ(parse_mapping_modifier("SHIFT"), kMapShift);
    EXPECT_EQ(parse_mapping_modifier("option"), kMapAlt);
    for (const char* t : {"win", "cmd", "meta", "super", "command"}) EXPECT_EQ(parse_mapping_modifier(t), kMapWin) << t;
    EXPECT_EQ(parse_mapping_modifier("hyper"), 0);
}

TEST(Presets, NamesLabelsAliases) {
    const char* names[] = {"shooter", "arrows", "mouseOnly", "twinStick", "custom"};
    const char* labels[] = {"Shooter (WASD + mouse look)", "Arrow keys / emulator", "Mouse only (desktop)",
                            "Twin stick (WASD + arrow keys)", "Custom"};
    for (std::uint8_t i = 0; i < kPresetCount; ++i) {
        EXPECT_EQ(preset_name(static_cast<Preset>(i)), names[i]);
        EXPECT_EQ(preset_label(static_cast<Preset>(i)), labels[i]);
        EXPECT_EQ(parse_preset_name(names[i]), static_cast<Preset>(i));
    }
    EXPECT_EQ(parse_preset_name("Mouse_Only"), Preset::MouseOnly);
    EXPECT_EQ(parse_preset_name("TWIN-STICK"), Preset::TwinStick);
    for (const char* t : {"fps", "WASDMouse", "wasd-mouse", "default"})
        EXPECT_EQ(parse_preset_name(t), Preset::Shooter) << t;
    EXPECT_EQ(parse_preset_name("emulator"), Preset::Arrows);
    EXPECT_EQ(parse_preset_name("mouse"), Preset::MouseOnly);
    EXPECT_EQ(parse_preset_name("desktop"), Preset::MouseOnly);
    EXPECT_EQ(parse_preset_name("twin"), Preset::TwinStick);
    EXPECT_EQ(parse_preset_name("dualKeys"), Preset::TwinStick);
    EXPECT_EQ(parse_preset_name("racing"), std::nullopt);
}

TEST(Presets, Bindings) {
    // The preset table: rows in slot order; columns shooter, arrows, mouseOnly, twinStick.
    const std::vector<std::array<const char*, 4>> table = {
        {"space", "enter", "mouse 1", "space"},
        {"leftCtrl", "escape", "mouse 2", "e"},
        {"r", "space", "mouse 3", "q"},
        {"q", "tab", "enter", "r"},
        {"g", "z", "Alt+left", "leftShift"},
        {"e", "x", "Alt+right", "leftCtrl"},
        {"mouse 2", "leftShift", "leftCtrl", "z"},
        {"mouse 1", "leftCtrl", "mouse 1", "x"},
        {"tab", "backspace", "escape", "escape"},
        {"escape", "p", "leftWin", "enter"},
        {"leftShift", "e", "nothing", "c"},
        {"v", "q", "mouse 3", "v"},
        {"up", "up", "up", "1"},
        {"down", "down", "down", "3"},
        {"left", "left", "left", "4"},
        {"right", "right", "right", "2"},
    };
    ASSERT_EQ(table.size(), kPadSlotCount);
    for (std::uint8_t p = 0; p < 4; ++p) {
        GamepadMapping m = preset_mapping(static_cast<Preset>(p));
        EXPECT_EQ(m.preset, static_cast<Preset>(p));
        EXPECT_EQ(m.pad_output, PadOutputMode::VirtualController);
        for (std::size_t s = 0; s < kPadSlotCount; ++s) {
            EXPECT_EQ(m.bindings[s], binding_of(table[s][p])) << preset_name(m.preset) << " " << slot_name(PadSlot(s));
        }
    }
    // Custom has shooter's values under its own number.
    GamepadMapping custom = preset_mapping(Preset::Custom, PadOutputMode::KeyboardMouse);
    GamepadMapping shooter = preset_mapping(Preset::Shooter, PadOutputMode::KeyboardMouse);
    EXPECT_EQ(custom.preset, Preset::Custom);
    custom.preset = Preset::Shooter;
    EXPECT_EQ(custom, shooter);
}

TEST(Presets, Sticks) {
    struct Row {
        Preset preset;
        StickMode left_mode;
        const char* left_keys[4];
        float left_dz;
        StickMode right_mode;
        const char* right_keys[4];
        float right_dz;
    };
    const Row rows[] = {
        {Preset::Shooter, StickMode::Keys, {"w", "s", "a", "d"}, 0.25f, StickMode::Mouse, {"w", "s", "a", "d"}, 0.12f},
        {Preset::Custom, StickMode::Keys, {"w", "s", "a", "d"}, 0.25f, StickMode::Mouse, {"w", "s", "a", "d"}, 0.12f},
        {Preset::Arrows,
         StickMode::Keys,
         {"up", "down", "left", "right"},
         0.3f,
         StickMode::Keys,
         {"w", "s", "a", "d"},
         0.3f},
        {Preset::MouseOnly,
         StickMode::Mouse,
         {"w", "s", "a", "d"},
         0.15f,
         StickMode::Scroll,
         {"up", "down", "left", "right"},
         0.2f},
        {Preset::TwinStick,
         StickMode::Keys,
         {"w", "s", "a", "d"},
         0.25f,
         StickMode::Keys,
         {"up", "down", "left", "right"},
         0.25f},
    };
    for (const Row& row : rows) {
        GamepadMapping m = preset_mapping(row.preset);
        SCOPED_TRACE(std::string(preset_name(row.preset)));
        EXPECT_EQ(m.left_stick.mode, row.left_mode);
        EXPECT_EQ(m.right_stick.mode, row.right_mode);
        EXPECT_FLOAT_EQ(m.left_stick.deadzone, row.left_dz);
        EXPECT_FLOAT_EQ(m.right_stick.deadzone, row.right_dz);
        for (std::size_t d = 0; d < 4; ++d) {
            EXPECT_EQ(m.left_stick.keys[d], usage_of(row.left_keys[d]));
            EXPECT_EQ(m.right_stick.keys[d], usage_of(row.right_keys[d]));
        }
        for (const StickSettings* s : {&m.left_stick, &m.right_stick}) {
            EXPECT_FLOAT_EQ(s->sensitivity, 1.0f);
            EXPECT_FALSE(s->invert_y);
        }
    }
}

TEST(Presets, DefaultIsShooterWithTheVirtualController) {
    GamepadMapping m = default_mapping();
    EXPECT_EQ(m, preset_mapping(Preset::Shooter, PadOutputMode::VirtualController));
    EXPECT_EQ(m.preset, Preset::Shooter);
    EXPECT_EQ(m.pad_output, PadOutputMode::VirtualController);
}

TEST(Binding, EightBytesAndAccessors) {
    static_assert(sizeof(Binding) == 8);
    Binding k = Binding::key(0x04, kMapCtrl | kMapWin | 0xF0);
    EXPECT_EQ(k.kind, BindingKind::Key);
    EXPECT_EQ(k.usage(), 0x04);
    EXPECT_EQ(k.mods(), kMapCtrl | kMapWin);
    Binding mv = Binding::mouse_move(PadDirection::Left, 2.5f);
    EXPECT_EQ(mv.direction(), PadDirection::Left);
    EXPECT_FLOAT_EQ(mv.speed, 2.5f);
    Binding sc = Binding::scroll(PadDirection::Down, 3);
    EXPECT_EQ(sc.direction(), PadDirection::Down);
    EXPECT_EQ(sc.amount(), 3);
    EXPECT_EQ(Binding::mouse_button(2).button(), 2);
}

}  // namespace
}  // namespace korvex
