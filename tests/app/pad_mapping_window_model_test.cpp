// The mapping window's rules without a window: display texts, editing, the
// Save state, changes from the tray, and the key capture's decisions.
#include <gtest/gtest.h>

#include <set>

#include "app/pad_mapping_window_model.h"

namespace korvex::app {
namespace {

constexpr std::uint8_t kK = 0x0E, kA = 0x04, kW = 0x1A, kLeftShift = 0xE1;

TEST(MappingWindowTexts, BindingDisplayTexts) {
    struct Case {
        Binding binding;
        const char* text;
    };
    const Case cases[] = {
        {Binding::nothing(), "Nothing"},
        {Binding::key(kK), "K"},
        {Binding::key(kK, kMapCtrl), "Ctrl+K"},
        {Binding::key(kA, kMapWin | kMapAlt | kMapShift | kMapCtrl), "Ctrl+Shift+Alt+Win+A"},
        {Binding::key(0x2C, kMapShift | kMapWin), "Shift+Win+Space"},
        {Binding::key(kLeftShift), "Left Shift"},
        {Binding::key(0), "-"},
        {Binding::mouse_button(1), "Left mouse"},
        {Binding::mouse_button(2), "Right mouse"},
        {Binding::mouse_button(3), "Middle mouse"},
        {Binding::mouse_button(7), "Mouse ?"},
        {Binding::mouse_move(PadDirection::Left, 2.5f), "Move mouse left"},
        {Binding::mouse_move(PadDirection::Up, 1.0f), "Move mouse up"},
        {Binding::scroll(PadDirection::Down, 1), "Wheel down"},
        {Binding::scroll(PadDirection::Right, 3), "Wheel right x3"},
        {Binding::scroll(PadDirection::Up, 10), "Wheel up x10"},
    };
    for (const auto& c : cases) EXPECT_EQ(binding_display_text(c.binding), c.text) << c.text;

    EXPECT_EQ(stick_direction_text(PadDirection::Up, kW), "Up: W");
    EXPECT_EQ(stick_direction_text(PadDirection::Right, 0), "Right: -");
    EXPECT_EQ(deadzone_text(25), "25 %");
    EXPECT_EQ(sensitivity_text(15), "1.5x");
    EXPECT_EQ(sensitivity_text(1), "0.1x");
    EXPECT_EQ(deadzone_position(0.9f), 60);  // the file allows more than the trackbar shows
    EXPECT_EQ(sensitivity_position(0.12f), 1);
}

TEST(MappingWindowTexts, Explanation) {
    EXPECT_EQ(mapping_explanation(PadOutputMode::KeyboardMouse, true),
              "Controller input is turned into the keys and mouse actions below.");
    EXPECT_EQ(mapping_explanation(PadOutputMode::KeyboardMouse, false),
              "Controller input is turned into the keys and mouse actions below.");
    EXPECT_EQ(mapping_explanation(PadOutputMode::VirtualController, false),
              "ViGEmBus driver not installed, so the keyboard / mouse mapping below is used. See docs/GAMEPAD.md.");
    EXPECT_EQ(mapping_explanation(PadOutputMode::VirtualController, true),
              "Games see a virtual Xbox 360-style controller. The mapping below is used only in keyboard / mouse "
              "mode.");
}

TEST(MappingWindowLayout, IdsAndPlaces) {
    std::set<int> ids;
    const ControlSpec* save = nullptr;
    const ControlSpec* last_slot_combo = nullptr;
    const ControlSpec* right_invert = nullptr;
    for (const auto& c : mapping_window_controls()) {
        if (c.id != 0) {
            EXPECT_TRUE(ids.insert(c.id).second) << "duplicate id " << c.id;
        }
        EXPECT_LE(c.x + c.width, kMappingClientWidth96) << c.text;
        if (c.kind != ControlClass::ComboBox) {
            EXPECT_LE(c.y + c.height, kMappingClientHeight96) << c.text;
        }
        if (c.id == kIdSave) save = &c;
        if (c.id == slot_control_id(kIdSlotAction, 15)) last_slot_combo = &c;
        if (c.id == stick_control_id(kIdStickInvertY, 1)) right_invert = &c;
    }
    // 16 rows of 3 ids, 2 sticks of 10, 6 others.
    EXPECT_EQ(ids.size(), 16u * 3 + 2 * 10 + 6);
    ASSERT_TRUE(save && last_slot_combo && right_invert);
    EXPECT_EQ(save->kind, ControlClass::DefaultButton);
    EXPECT_EQ((std::array{save->x, save->y, save->width, save->height}), (std::array{696, 484, 82, 25}));
    EXPECT_EQ((std::array{last_slot_combo->x, last_slot_combo->y, last_slot_combo->width}), (std::array{382, 435, 102}));
    // Inside the right stick's group box (508, 298, 360 x 178).
    EXPECT_GE(right_invert->y, 298);
    EXPECT_LE(right_invert->y + right_invert->height, 298 + 178);
    EXPECT_EQ(action_item_texts().size(), 13u);
    EXPECT_EQ(action_item_texts()[12], "Nothing");
    EXPECT_EQ(preset_item_texts()[3], "Twin stick (WASD + arrow keys)");
    EXPECT_EQ(stick_mode_item_texts()[1], "Keys (4 directions)");
}

GamepadMapping shooter() { return preset_mapping(Preset::Shooter, PadOutputMode::KeyboardMouse); }

TEST(MappingEdit, EditingRules) {
    struct Case {
        const char* what;
        void (*edit)(MappingEdit&);
        void (*expect)(GamepadMapping&);  // applied to the shooter preset
        bool custom;
    };
    const Case cases[] = {
        {"left mouse", [](MappingEdit& e) { e.choose_action(2, ActionItem::LeftMouse); },
         [](GamepadMapping& m) { m.bindings[2] = Binding::mouse_button(1); }, true},
        {"middle mouse", [](MappingEdit& e) { e.choose_action(2, ActionItem::MiddleMouse); },
         [](GamepadMapping& m) { m.bindings[2] = Binding::mouse_button(3); }, true},
        {"wheel left, amount 1", [](MappingEdit& e) { e.choose_action(2, ActionItem::WheelLeft); },
         [](GamepadMapping& m) { m.bindings[2] = Binding::scroll(PadDirection::Left, 1); }, true},
        {"move from a key: speed 1", [](MappingEdit& e) { e.choose_action(2, ActionItem::MoveUp); },
         [](GamepadMapping& m) { m.bindings[2] = Binding::mouse_move(PadDirection::Up, 1.0f); }, true},
        {"nothing", [](MappingEdit& e) { e.choose_action(2, ActionItem::Nothing); },
         [](GamepadMapping& m) { m.bindings[2] = Binding::nothing(); }, true},
        {"keyboard key on a key binding keeps it", [](MappingEdit& e) { e.choose_action(2, ActionItem::KeyboardKey); },
         [](GamepadMapping&) {}, false},
        {"stick mode", [](MappingEdit& e) { e.set_stick_mode(1, StickMode::Scroll); },
         [](GamepadMapping& m) { m.right_stick.mode = StickMode::Scroll; }, true},
        {"dead zone", [](MappingEdit& e) { e.set_deadzone(0, 40); },
         [](GamepadMapping& m) { m.left_stick.deadzone = 0.4f; }, true},
        {"dead zone at its value", [](MappingEdit& e) { e.set_deadzone(0, 25); }, [](GamepadMapping&) {}, false},
        {"sensitivity", [](MappingEdit& e) { e.set_sensitivity(1, 25); },
         [](GamepadMapping& m) { m.right_stick.sensitivity = 2.5f; }, true},
        {"invert y", [](MappingEdit& e) { e.set_invert_y(1, true); },
         [](GamepadMapping& m) { m.right_stick.invert_y = true; }, true},
        {"output keeps the preset", [](MappingEdit& e) { e.choose_output(PadOutputMode::VirtualController); },
         [](GamepadMapping& m) { m.pad_output = PadOutputMode::VirtualController; }, false},
        {"preset", [](MappingEdit& e) { e.choose_preset(Preset::Arrows); },
         [](GamepadMapping& m) { m = preset_mapping(Preset::Arrows, PadOutputMode::KeyboardMouse); }, false},
        {"custom keeps the bindings",
         [](MappingEdit& e) {
             e.choose_action(2, ActionItem::Nothing);
             e.choose_preset(Preset::Custom);
         },
         [](GamepadMapping& m) { m.bindings[2] = Binding::nothing(); }, true},
        {"reset after edits: shooter, output kept",
         [](MappingEdit& e) {
             e.choose_preset(Preset::MouseOnly);
             e.set_invert_y(0, true);
             e.reset_to_defaults();
         },
         [](GamepadMapping&) {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MappingEdit edit(shooter());
        c.edit(edit);
        GamepadMapping expected = shooter();
        c.expect(expected);
        if (c.custom) expected.preset = Preset::Custom;
        EXPECT_EQ(edit.edited(), expected);
        EXPECT_EQ(edit.saved(), shooter());
        EXPECT_EQ(edit.view().save_enabled, edit.edited() != shooter());
    }
}

TEST(MappingEdit, MoveSpeedAndKeyboardKeyCapture) {
    GamepadMapping m = shooter();
    m.bindings[4] = Binding::mouse_move(PadDirection::Up, 2.5f);
    MappingEdit edit(m);
    EXPECT_FALSE(edit.choose_action(4, ActionItem::MoveLeft));
    EXPECT_EQ(edit.edited().bindings[4], Binding::mouse_move(PadDirection::Left, 2.5f));
    EXPECT_EQ(edit.edited().preset, Preset::Custom);

    // "Keyboard key" on a non-key binding asks for a capture and changes nothing yet.
    EXPECT_TRUE(edit.choose_action(4, ActionItem::KeyboardKey));
    EXPECT_EQ(edit.edited().bindings[4].kind, BindingKind::MouseMove);
    EXPECT_EQ(edit.view().slots[4].action, static_cast<int>(ActionItem::MoveLeft));
}

TEST(MappingEdit, CaptureTargets) {
    MappingEdit edit(shooter());
    edit.start_capture(CaptureTarget::for_slot(3));
    MappingView v = edit.view();
    EXPECT_EQ(v.slots[3].change, "Press a key");
    EXPECT_EQ(v.slots[2].change, "Change...");
    EXPECT_FALSE(v.save_enabled);
    edit.capture_result(kK, kMapCtrl);
    EXPECT_FALSE(edit.capture().active());
    v = edit.view();
    EXPECT_EQ(v.slots[3].binding, "Ctrl+K");
    EXPECT_EQ(v.slots[3].change, "Change...");
    EXPECT_EQ(edit.edited().preset, Preset::Custom);
    EXPECT_TRUE(v.save_enabled);

    // A stick direction drops the modifiers.
    edit.start_capture(CaptureTarget::for_stick(1, PadDirection::Left));
    EXPECT_EQ(edit.view().sticks[1].directions[2], "Press a key");
    edit.capture_result(kK, kMapCtrl | kMapShift);
    EXPECT_EQ(edit.edited().right_stick.keys[2], kK);
    EXPECT_EQ(edit.view().sticks[1].directions[2], "Left: K");

    // Stopped without a result (deactivation): nothing changes; a late result is ignored.
    const GamepadMapping before = edit.edited();
    edit.start_capture(CaptureTarget::for_slot(0));
    edit.stop_capture();
    edit.capture_result(kA, 0);
    EXPECT_EQ(edit.edited(), before);
    EXPECT_EQ(edit.view().slots[0].change, "Change...");
}

TEST(MappingEdit, EnabledStatesByStickMode) {
    struct Case {
        StickMode mode;
        bool directions, deadzone, sensitivity, invert;
    };
    const Case cases[] = {
        {StickMode::Off, false, false, false, false},
        {StickMode::Keys, true, true, false, false},
        {StickMode::Mouse, false, true, true, true},
        {StickMode::Scroll, false, true, true, true},
    };
    for (const auto& c : cases) {
        MappingEdit edit(shooter());
        edit.set_stick_mode(0, c.mode);
        const StickView s = edit.view().sticks[0];
        EXPECT_EQ(s.mode, static_cast<int>(c.mode));
        EXPECT_EQ(s.directions_enabled, c.directions);
        EXPECT_EQ(s.deadzone_enabled, c.deadzone);
        EXPECT_EQ(s.sensitivity_enabled, c.sensitivity);
        EXPECT_EQ(s.invert_enabled, c.invert);
    }
    const StickView right = MappingEdit(shooter()).view().sticks[1];
    EXPECT_EQ(right.deadzone, 12);
    EXPECT_EQ(right.deadzone_text, "12 %");
    EXPECT_EQ(right.sensitivity, 10);
    EXPECT_EQ(right.sensitivity_text, "1.0x");
    EXPECT_EQ(right.directions[0], "Up: W");
}

TEST(MappingEdit, SaveStateAndExternalChanges) {
    // Editing back to the saved values disables Save again.
    MappingEdit edit(shooter());
    edit.set_invert_y(0, true);
    EXPECT_TRUE(edit.view().save_enabled);
    edit.set_invert_y(0, false);
    edit.choose_preset(Preset::Shooter);
    EXPECT_FALSE(edit.view().save_enabled);
    edit.choose_output(PadOutputMode::VirtualController);
    EXPECT_TRUE(edit.view().save_enabled);
    edit.mark_saved();
    EXPECT_FALSE(edit.view().save_enabled);
    EXPECT_EQ(edit.saved().pad_output, PadOutputMode::VirtualController);

    struct Case {
        const char* what;
        bool pending_edit;
        GamepadMapping external;
        bool expect_followed;
        bool save_enabled;
    };
    GamepadMapping virtual_shooter = preset_mapping(Preset::Shooter, PadOutputMode::VirtualController);
    GamepadMapping arrows_km = preset_mapping(Preset::Arrows, PadOutputMode::KeyboardMouse);
    const Case cases[] = {
        {"no edits: the edit follows", false, virtual_shooter, true, false},
        {"no edits, a preset from the tray", false, arrows_km, true, false},
        {"pending edits stay, the baseline moves", true, virtual_shooter, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MappingEdit e(shooter(), false);
        if (c.pending_edit) e.set_deadzone(0, 40);
        const GamepadMapping edited_before = e.edited();
        e.external_change(c.external, true);
        EXPECT_EQ(e.saved(), c.external);
        EXPECT_EQ(e.edited(), c.expect_followed ? c.external : edited_before);
        const MappingView v = e.view();
        EXPECT_EQ(v.save_enabled, c.save_enabled);
        EXPECT_EQ(v.output, static_cast<int>(e.edited().pad_output));
        EXPECT_EQ(v.explanation, mapping_explanation(e.edited().pad_output, true));
    }
    // The edit that matches the new baseline by chance is no longer unsaved.
    MappingEdit e(shooter());
    e.choose_output(PadOutputMode::VirtualController);
    e.external_change(virtual_shooter, false);
    EXPECT_FALSE(e.view().save_enabled);
}

TEST(KeyCapture, HookDecisions) {
    constexpr std::uint16_t kVkK = 'K', kVkA = 'A', kVkLCtrl = 0xA2, kVkRCtrl = 0xA3, kVkLShift = 0xA0,
                            kVkLWin = 0x5B, kVkRWin = 0x5C, kVkReturn = 0x0D, kVkEsc = 0x1B, kVkVolume = 0xAF;
    EXPECT_EQ(captured_usage_of_vk(kVkK), kK);
    EXPECT_EQ(captured_usage_of_vk(kVkReturn), 0x28);
    EXPECT_EQ(captured_usage_of_vk(kVkRCtrl), 0xE4);
    EXPECT_EQ(captured_usage_of_vk(kVkRWin), 0);  // not in the captured range
    EXPECT_EQ(captured_usage_of_vk(kVkVolume), 0);

    using M = KeyMessage;
    struct Step {
        std::uint16_t vk;
        KeyMessage message;
        bool injected;
        bool swallow;
        std::optional<CaptureResult> result;
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"Ctrl held, then K",
         {{kVkLCtrl, M::Down, false, true, {}}, {kVkK, M::Down, false, true, CaptureResult{kK, kMapCtrl}}}},
        {"Left Shift alone",
         {{kVkLShift, M::Down, false, true, {}}, {kVkLShift, M::Up, false, true, CaptureResult{kLeftShift, 0}}}},
        {"Shift, A, both released: Shift's key-up swallowed, A's passed",
         {{kVkLShift, M::Down, false, true, {}},
          {kVkA, M::Down, false, true, CaptureResult{kA, kMapShift}},
          {kVkA, M::Up, false, false, {}},
          {kVkLShift, M::Up, false, true, {}}}},
        {"right Ctrl counts as Ctrl, Left Win as Win",
         {{kVkRCtrl, M::Down, false, true, {}},
          {kVkLWin, M::Down, false, true, {}},
          {kVkK, M::Down, false, true, CaptureResult{kK, kMapCtrl | kMapWin}}}},
        {"a modifier released that was never seen passes",
         {{kVkLCtrl, M::Up, false, false, {}}}},
        {"injected keys pass and change nothing",
         {{kVkLCtrl, M::Down, true, false, {}},
          {kVkK, M::Down, true, false, {}},
          {kVkA, M::Down, false, true, CaptureResult{kA, 0}}}},
        {"Esc is a key like any other", {{kVkEsc, M::Down, false, true, CaptureResult{0x29, 0}}}},
        {"a key without a usage passes", {{kVkVolume, M::Down, false, false, {}}}},
        {"other messages of a modifier are swallowed", {{kVkLShift, M::Other, false, true, {}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        KeyCapture capture;
        for (const auto& s : c.steps) {
            HookDecision d = capture.on_key(s.vk, s.message, s.injected);
            EXPECT_EQ(d.swallow, s.swallow) << s.vk;
            EXPECT_EQ(d.result, s.result) << s.vk;
        }
    }
}

}  // namespace
}  // namespace korvex::app
