// The tray's and the console's gamepad commands: a preset keeping the pad
// output, the pad output keeping the rest; each installs, then saves.
#include "core/pad_commands.h"

#include <gtest/gtest.h>

#include "core/input_controller.h"
#include "core/pad_test_fakes.h"
#include "support/fakes.h"
#include "support/input_fakes.h"

namespace korvex {
namespace {

using namespace korvex::test;
using Log = std::vector<std::string>;

class PadCommands : public testing::Test {
protected:
    PadCommands() {
        controller.add_client(1);
        controller.set_pad_output(&engine);
        controller.dispatch_event(1, make_event(5, 1), 1000);
    }

    // Stands in for HostShared::with_core: runs f on the locked parts.
    auto locked() {
        return [this](auto f) {
            ++lock_count;
            return f(controller, engine);
        };
    }

    RecordingSink sink;
    FakeSas sas;
    InputController controller{sink, sas};
    InputState mapping_out{sink};
    GamepadEngine engine{mapping_out, preset_mapping(Preset::Shooter, PadOutputMode::KeyboardMouse)};
    MemoryFileSystem fs;
    int lock_count = 0;
};

TEST_F(PadCommands, PresetKeepsThePadOutputInstallsAndSaves) {
    ASSERT_TRUE(run_preset_command(locked(), fs, "/data", Preset::MouseOnly));
    EXPECT_EQ(lock_count, 1);
    EXPECT_EQ(engine.mapping(), preset_mapping(Preset::MouseOnly, PadOutputMode::KeyboardMouse));
    EXPECT_EQ(load_mapping(fs, "/data"), engine.mapping());
}

TEST_F(PadCommands, PresetReplacesEditedValues) {
    GamepadMapping edited = engine.mapping();
    edited.binding(PadSlot::A) = Binding::nothing();
    edited.preset = Preset::Custom;
    install_mapping(controller, engine, edited);
    GamepadMapping m = choose_preset(controller, engine, Preset::Shooter);
    EXPECT_EQ(m, preset_mapping(Preset::Shooter, PadOutputMode::KeyboardMouse));
    EXPECT_EQ(engine.mapping(), m);
}

TEST_F(PadCommands, PadOutputKeepsTheRest) {
    GamepadMapping edited = preset_mapping(Preset::Custom, PadOutputMode::KeyboardMouse);
    edited.left_stick.invert_y = true;
    install_mapping(controller, engine, edited);
    ASSERT_TRUE(run_pad_output_command(locked(), fs, "/data", PadOutputMode::VirtualController));
    GamepadMapping expected = edited;
    expected.pad_output = PadOutputMode::VirtualController;
    EXPECT_EQ(engine.mapping(), expected);
    EXPECT_EQ(load_mapping(fs, "/data"), expected);
}

TEST_F(PadCommands, OutputChangeReleasesWhatTheMappingHeld) {
    controller.dispatch_event(1, make_pad_buttons(2, 0x001, 0, 0, 0), 1000);
    EXPECT_EQ(sink.take().back(), "space down");
    choose_pad_output(controller, engine, PadOutputMode::VirtualController);
    // No virtual controller here, so the mapping takes the held A again.
    EXPECT_EQ(sink.take(), (Log{"space up", "space down"}));
}

TEST_F(PadCommands, OutputChangeSendsTheVirtualControllerItsNeutralReport) {
    FakePadBus bus;
    bus.devices = {PadDeviceScript{}};
    install_virtual_pad(controller, engine, open_virtual_pad(bus));
    controller.dispatch_event(1, make_pad_buttons(2, 0x001, 0, 0, 0), 1000);
    sink.take();
    choose_pad_output(controller, engine, PadOutputMode::VirtualController);
    EXPECT_EQ(sink.take(), (Log{"space up"}));
    std::vector<XusbReport> reports = bus.log->reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], XusbReport{});
    EXPECT_EQ(reports[1].buttons, 0x1000);
    choose_pad_output(controller, engine, PadOutputMode::KeyboardMouse);
    EXPECT_EQ(bus.log->reports().back(), XusbReport{});
    EXPECT_EQ(sink.take(), (Log{"space down"}));
}

TEST_F(PadCommands, SaveFailureLeavesTheMappingActive) {
    fs.fail_write = true;
    EXPECT_FALSE(run_preset_command(locked(), fs, "/data", Preset::Arrows));
    EXPECT_EQ(engine.mapping().preset, Preset::Arrows);
}

TEST(PadCommandArguments, Presets) {
    EXPECT_EQ(parse_preset_argument("0"), Preset::Shooter);
    EXPECT_EQ(parse_preset_argument("1"), Preset::Arrows);
    EXPECT_EQ(parse_preset_argument(" 2 "), Preset::MouseOnly);
    EXPECT_EQ(parse_preset_argument("3"), Preset::TwinStick);
    EXPECT_EQ(parse_preset_argument("4"), std::nullopt);
    EXPECT_EQ(parse_preset_argument("custom"), std::nullopt);
    EXPECT_EQ(parse_preset_argument("twin-stick"), Preset::TwinStick);
    EXPECT_EQ(parse_preset_argument("emulator"), Preset::Arrows);
    EXPECT_EQ(parse_preset_argument(""), std::nullopt);
    EXPECT_EQ(parse_preset_argument("12"), std::nullopt);
    // The labels the status line shows, whole or up to the parenthesis.
    EXPECT_EQ(parse_preset_argument("Shooter"), Preset::Shooter);
    EXPECT_EQ(parse_preset_argument("Shooter (WASD + mouse look)"), Preset::Shooter);
    EXPECT_EQ(parse_preset_argument("Arrow keys / emulator"), Preset::Arrows);
    EXPECT_EQ(parse_preset_argument("mouse only"), Preset::MouseOnly);
    EXPECT_EQ(parse_preset_argument("Twin stick (WASD + arrow keys)"), Preset::TwinStick);
    EXPECT_EQ(parse_preset_argument("Custom"), std::nullopt);
    EXPECT_EQ(preset_choices_text(),
              "0 Shooter (WASD + mouse look), 1 Arrow keys / emulator, 2 Mouse only (desktop), 3 Twin stick (WASD + "
              "arrow keys)");
}

TEST(PadCommandArguments, Outputs) {
    EXPECT_EQ(parse_pad_output_argument("virtual"), PadOutputMode::VirtualController);
    EXPECT_EQ(parse_pad_output_argument("mapping"), PadOutputMode::KeyboardMouse);
    EXPECT_EQ(parse_pad_output_argument("keyboardMouse"), PadOutputMode::KeyboardMouse);
    EXPECT_EQ(parse_pad_output_argument("vigem"), PadOutputMode::VirtualController);
    EXPECT_EQ(parse_pad_output_argument("both"), std::nullopt);
}

TEST(PadCommandStatus, Line) {
    RecordingSink sink;
    InputState out(sink);
    GamepadEngine engine(out);
    EXPECT_EQ(gamepad_status_line(engine),
              "Gamepad: keyboard / mouse mapping (ViGEmBus driver not installed), preset Shooter (WASD + mouse look)");
    FakePadBus bus;
    bus.devices = {PadDeviceScript{}};
    engine.set_virtual_pad(open_virtual_pad(bus));
    EXPECT_EQ(gamepad_status_line(engine),
              "Gamepad: virtual controller (ViGEmBus), preset Shooter (WASD + mouse look)");
    engine.install_mapping(preset_mapping(Preset::Custom, PadOutputMode::KeyboardMouse), PadState{});
    EXPECT_EQ(gamepad_status_line(engine), "Gamepad: keyboard / mouse mapping, preset Custom");
}

TEST(PadCommandStatus, LineFromSnapshotValuesInTheWordsOfEachSystem) {
    EXPECT_EQ(gamepad_status_line(PadOutputMode::KeyboardMouse, false, Preset::Arrows, kLinuxTerms),
              "Gamepad: keyboard / mouse mapping (no access to /dev/uinput), preset Arrow keys / emulator");
    EXPECT_EQ(gamepad_status_line(PadOutputMode::VirtualController, true, Preset::Shooter, kLinuxTerms),
              "Gamepad: virtual controller (uinput), preset Shooter (WASD + mouse look)");
    EXPECT_EQ(gamepad_status_line(PadOutputMode::KeyboardMouse, false, Preset::Shooter, kWindowsTerms),
              "Gamepad: keyboard / mouse mapping (ViGEmBus driver not installed), preset Shooter (WASD + mouse look)");
    EXPECT_EQ(gamepad_status_line(PadOutputMode::KeyboardMouse, true, Preset::Custom, kWindowsTerms),
              "Gamepad: keyboard / mouse mapping, preset Custom");
}

}  // namespace
}  // namespace korvex
