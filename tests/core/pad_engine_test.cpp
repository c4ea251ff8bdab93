// The mapping engine over the recording sink: press edges,
// reference counts, the 24 output positions, stick hysteresis, velocities
// and the motion step, installing mappings, and the pad kinds of the
// dispatcher wired to it.
#include "core/pad_engine.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/input_controller.h"
#include "core/key_vocabulary.h"
#include "support/input_fakes.h"

namespace korvex {
namespace {

using namespace std::chrono_literals;
using namespace korvex::test;
using Log = std::vector<std::string>;

std::uint8_t usage_of(std::string_view name) { return static_cast<std::uint8_t>(parse_key_name(name).value()); }

// A normalised stick value as the client sends it.
std::int16_t axis(double v) { return static_cast<std::int16_t>(std::lround(v * 32767.0)); }

PadState buttons(std::uint16_t bits, std::uint8_t dpad = 0, std::uint8_t lt = 0, std::uint8_t rt = 0) {
    PadState s;
    s.buttons = bits;
    s.dpad = dpad;
    s.left_trigger = lt;
    s.right_trigger = rt;
    return s;
}

PadState left_stick(double x, double y) {
    PadState s;
    s.lx = axis(x);
    s.ly = axis(y);
    return s;
}

PadState right_stick(double x, double y) {
    PadState s;
    s.rx = axis(x);
    s.ry = axis(y);
    return s;
}

// Left stick at distance m, `degrees` clockwise from straight up.
PadState left_polar(double m, double degrees) {
    const double r = degrees * 3.14159265358979323846 / 180.0;
    return left_stick(m * std::sin(r), m * std::cos(r));
}

constexpr std::uint16_t kA = 0x001, kB = 0x002, kX = 0x004, kY = 0x008, kLB = 0x010, kRB = 0x020;

class Engine : public testing::Test {
protected:
    Log apply(const PadState& s) {
        sink.take();
        engine.apply(s);
        return sink.take();
    }
    void use(GamepadMapping m) { engine.install_mapping(m, PadState{}); }
    Log tick(std::chrono::nanoseconds now) {
        sink.take();
        engine.motion_tick(now);
        return sink.take();
    }

    RecordingSink sink;
    InputState out{sink};
    GamepadEngine engine{out, preset_mapping(Preset::Shooter, PadOutputMode::KeyboardMouse)};
};

TEST_F(Engine, KeyBindingPressAndRelease) {
    EXPECT_EQ(apply(buttons(kA)), (Log{"space down"}));
    EXPECT_EQ(engine.key_count(usage_of("space")), 1);
    EXPECT_TRUE(engine.pressed_slots().test(0));
    EXPECT_EQ(apply(buttons(kA)), Log{});  // unchanged: nothing
    EXPECT_EQ(apply(PadState{}), (Log{"space up"}));
    EXPECT_EQ(engine.key_count(usage_of("space")), 0);
    // The key went through the InputState's book.
    EXPECT_FALSE(out.is_key_held(usage_of("space")));
    apply(buttons(kA));
    EXPECT_TRUE(out.is_key_held(usage_of("space")));
}

TEST_F(Engine, TwoSlotsHoldingTheSameKey) {
    GamepadMapping m = engine.mapping();
    m.binding(PadSlot::X) = Binding::key(usage_of("space"));
    use(m);
    EXPECT_EQ(apply(buttons(kA)), (Log{"space down"}));
    EXPECT_EQ(apply(buttons(kA | kX)), Log{});
    EXPECT_EQ(engine.key_count(usage_of("space")), 2);
    EXPECT_EQ(apply(buttons(kX)), Log{});  // space stays down
    EXPECT_EQ(engine.key_count(usage_of("space")), 1);
    EXPECT_EQ(apply(PadState{}), (Log{"space up"}));
}

TEST_F(Engine, ModifiersOfAKeyBinding) {
    use(preset_mapping(Preset::MouseOnly, PadOutputMode::KeyboardMouse));
    EXPECT_EQ(apply(buttons(kLB)), (Log{"leftAlt down", "left down"}));
    EXPECT_EQ(apply(PadState{}), (Log{"left up", "leftAlt up"}));
    // Both bumpers share the Alt.
    EXPECT_EQ(apply(buttons(kLB | kRB)), (Log{"leftAlt down", "left down", "right down"}));
    EXPECT_EQ(engine.modifier_count(2), 2);
    EXPECT_EQ(apply(buttons(kRB)), (Log{"left up"}));
    EXPECT_EQ(apply(PadState{}), (Log{"right up", "leftAlt up"}));
    EXPECT_EQ(engine.modifier_count(2), 0);
}

TEST_F(Engine, ModifierOrderCtrlShiftAltWinDownAndBack) {
    GamepadMapping m = engine.mapping();
    m.binding(PadSlot::A) = Binding::key(usage_of("k"), kMapAll);
    use(m);
    EXPECT_EQ(apply(buttons(kA)), (Log{"leftCtrl down", "leftShift down", "leftAlt down", "leftWin down", "k down"}));
    EXPECT_EQ(apply(PadState{}), (Log{"k up", "leftWin up", "leftAlt up", "leftShift up", "leftCtrl up"}));
}

TEST_F(Engine, MouseButtonsAndTriggers) {
    // Shooter: LT is the right button, RT the left one; a trigger counts above 63.
    EXPECT_EQ(apply(buttons(0, 0, 63, 0)), Log{});
    EXPECT_EQ(apply(buttons(0, 0, 64, 0)), (Log{"button 2 down"}));
    EXPECT_EQ(apply(buttons(0, 0, 64, 255)), (Log{"button 1 down"}));
    EXPECT_EQ(apply(PadState{}), (Log{"button 2 up", "button 1 up"}));
    // mouseOnly: A and RT both hold the left button.
    use(preset_mapping(Preset::MouseOnly, PadOutputMode::KeyboardMouse));
    EXPECT_EQ(apply(buttons(kA, 0, 0, 200)), (Log{"button 1 down"}));
    EXPECT_EQ(engine.button_count(1), 2);
    EXPECT_EQ(apply(buttons(kA)), Log{});
    EXPECT_EQ(apply(PadState{}), (Log{"button 1 up"}));
}

TEST_F(Engine, DpadPositions) {
    EXPECT_EQ(apply(buttons(0, 2)), (Log{"up down", "right down"}));
    EXPECT_EQ(apply(buttons(0, 4)), (Log{"up up", "down down"}));
    EXPECT_EQ(apply(buttons(0, 9)), (Log{"down up", "right up"}));  // not a position
}

TEST_F(Engine, ScrollBindingActsOnlyOnThePress) {
    GamepadMapping m = engine.mapping();
    m.binding(PadSlot::A) = Binding::scroll(PadDirection::Up, 3);
    m.binding(PadSlot::B) = Binding::scroll(PadDirection::Down, 1);
    m.binding(PadSlot::X) = Binding::scroll(PadDirection::Left, 2);
    m.binding(PadSlot::Y) = Binding::scroll(PadDirection::Right, 0);  // 0 counts as 1
    use(m);
    EXPECT_EQ(apply(buttons(kA)), (Log{"wheel 360"}));
    EXPECT_EQ(apply(buttons(kA)), Log{});
    EXPECT_EQ(apply(buttons(kA, 0, 255)), (Log{"button 2 down"}));  // held: no second step
    EXPECT_EQ(apply(buttons(kA | kB | kX | kY)), (Log{"wheel -120", "hwheel -240", "hwheel 120", "button 2 up"}));
    EXPECT_EQ(apply(PadState{}), Log{});
    EXPECT_EQ(apply(buttons(kA)), (Log{"wheel 360"}));
}

TEST_F(Engine, ScrollEdgesComeBeforeTheOutputs) {
    GamepadMapping m = engine.mapping();
    m.binding(PadSlot::B) = Binding::scroll(PadDirection::Up, 1);
    use(m);
    EXPECT_EQ(apply(buttons(kA | kB)), (Log{"wheel 120", "space down"}));
}

TEST_F(Engine, NothingAndKeyZeroHoldNothing) {
    GamepadMapping m = engine.mapping();
    m.binding(PadSlot::A) = Binding::nothing();
    m.binding(PadSlot::B) = Binding::key(0, kMapCtrl);
    use(m);
    EXPECT_EQ(apply(buttons(kA | kB)), Log{});
    EXPECT_TRUE(engine.pressed_slots().test(0));
    EXPECT_TRUE(engine.pressed_slots().test(1));
}

TEST_F(Engine, BindingChangeWhileHeldSwapsTheOutput) {
    apply(buttons(kA));
    sink.take();
    engine.install_mapping(preset_mapping(Preset::Arrows, PadOutputMode::KeyboardMouse), buttons(kA));
    EXPECT_EQ(sink.take(), (Log{"space up", "enter down"}));
}

TEST_F(Engine, StickKeysDiagonal) {
    // deadzone 0.25 at (0.3, 0.3): m about 0.42, up and right both active.
    EXPECT_EQ(apply(left_stick(0.3, 0.3)), (Log{"w down", "d down"}));
    EXPECT_EQ(engine.outputs()[16].code, usage_of("w"));
    EXPECT_EQ(engine.outputs()[19].code, usage_of("d"));
    EXPECT_EQ(apply(left_stick(0.0, 0.3)), (Log{"d up"}));
    EXPECT_EQ(apply(left_stick(-0.5, -0.5)), (Log{"w up", "s down", "a down"}));
    EXPECT_EQ(apply(PadState{}), (Log{"s up", "a up"}));
    // Below the dead zone: nothing.
    EXPECT_EQ(apply(left_stick(0.0, 0.24)), Log{});
    // -32768 counts as -1.
    PadState full;
    full.lx = -32768;
    EXPECT_EQ(apply(full), (Log{"a down"}));
}

TEST_F(Engine, StickKeysHysteresisOfTheMagnitude) {
    // Active at m = 0.25, stays down to 0.2 (0.8 of the dead zone), goes below.
    EXPECT_EQ(apply(left_stick(0.0, 0.26)), (Log{"w down"}));
    EXPECT_EQ(apply(left_stick(0.0, 0.205)), Log{});
    EXPECT_EQ(apply(left_stick(0.0, 0.195)), (Log{"w up"}));
    // Not active: 0.21 is not enough to start.
    EXPECT_EQ(apply(left_stick(0.0, 0.21)), Log{});
    EXPECT_EQ(apply(left_stick(0.0, 0.25)), (Log{"w down"}));
}

TEST_F(Engine, StickKeysHysteresisOfTheAngle) {
    // Up becomes active within 67.5 degrees and stays so up to 75.
    EXPECT_EQ(apply(left_polar(0.8, 0)), (Log{"w down"}));
    EXPECT_EQ(apply(left_polar(0.8, 70)), (Log{"d down"}));  // up kept, right joins
    EXPECT_EQ(apply(left_polar(0.8, 74)), Log{});
    EXPECT_EQ(apply(left_polar(0.8, 76)), (Log{"w up"}));
    EXPECT_EQ(apply(left_polar(0.8, 70)), Log{});  // 70 is not enough to start again
    EXPECT_EQ(apply(left_polar(0.8, 66)), (Log{"w down"}));
    EXPECT_EQ(apply(PadState{}), (Log{"w up", "d up"}));
}

TEST_F(Engine, RightStickPositions) {
    use(preset_mapping(Preset::Arrows, PadOutputMode::KeyboardMouse));  // right stick keys w s a d
    EXPECT_EQ(apply(right_stick(0.0, -1.0)), (Log{"s down"}));
    EXPECT_EQ(engine.outputs()[21].code, usage_of("s"));
    EXPECT_EQ(apply(right_stick(1.0, 0.0)), (Log{"s up", "d down"}));
    EXPECT_EQ(engine.outputs()[23].code, usage_of("d"));
    // A direction without a key is active but holds nothing.
    GamepadMapping m = engine.mapping();
    m.right_stick.keys[3] = 0;
    engine.install_mapping(m, right_stick(1.0, 0.0));
    EXPECT_EQ(sink.take(), (Log{"d up"}));
}

TEST_F(Engine, LeavingKeysModeClearsTheDirections) {
    apply(left_stick(0.0, 1.0));
    GamepadMapping m = engine.mapping();
    m.left_stick.mode = StickMode::Off;
    sink.take();
    engine.install_mapping(m, left_stick(0.0, 1.0));
    EXPECT_EQ(sink.take(), (Log{"w up"}));
    m.left_stick.mode = StickMode::Keys;
    m.left_stick.deadzone = 0.9f;
    // Directions were cleared: 0.8 < 0.9 does not start again.
    engine.install_mapping(m, left_stick(0.0, 0.8));
    EXPECT_EQ(sink.take(), Log{});
}

TEST_F(Engine, StickMouseVelocityAndMotion) {
    // Shooter's right stick: mouse, dead zone 0.12. Full right: 1400 px/s.
    EXPECT_EQ(apply(right_stick(1.0, 0.0)), Log{});
    EXPECT_FLOAT_EQ(engine.pointer_velocity_x(), 1400.0f);
    EXPECT_FLOAT_EQ(engine.pointer_velocity_y(), 0.0f);
    EXPECT_TRUE(engine.motion_active());
    // About 11 pixels every 8 ms tick, the fractions carried over.
    Log moves;
    for (int i = 0; i < 5; ++i) {
        for (auto& line : tick(std::chrono::milliseconds(1000 + 8 * i))) moves.push_back(line);
    }
    EXPECT_EQ(moves, (Log{"move 11 0", "move 11 0", "move 11 0", "move 11 0", "move 12 0"}));
    // Stick up: pointer up (negative y).
    apply(right_stick(0.0, 1.0));
    EXPECT_FLOAT_EQ(engine.pointer_velocity_y(), -1400.0f);
    // Half way out of the dead zone: t = 0.5, speed sqrt(t) * t * 1400.
    const double m = 0.12 + 0.5 * 0.88;
    apply(right_stick(m, 0.0));
    EXPECT_NEAR(engine.pointer_velocity_x(), std::sqrt(0.5) * 0.5 * 1400.0, 0.5);
    // Inside the dead zone: nothing, idle.
    apply(right_stick(0.1, 0.0));
    EXPECT_EQ(engine.pointer_velocity_x(), 0.0f);
    EXPECT_FALSE(engine.motion_active());
}

TEST_F(Engine, StickMouseInvertYAndSensitivity) {
    GamepadMapping m = engine.mapping();
    m.right_stick.invert_y = true;
    m.right_stick.sensitivity = 2.0f;
    use(m);
    apply(right_stick(0.0, 1.0));
    EXPECT_FLOAT_EQ(engine.pointer_velocity_y(), 2800.0f);  // pushing up moves the pointer down
}

TEST_F(Engine, StickScroll) {
    use(preset_mapping(Preset::MouseOnly, PadOutputMode::KeyboardMouse));  // right stick scroll, dz 0.2
    apply(right_stick(0.0, 1.0));
    EXPECT_FLOAT_EQ(engine.wheel_velocity_y(), 12.0f);
    EXPECT_FLOAT_EQ(engine.wheel_velocity_x(), 0.0f);
    // 12 notches/s: a whole notch after 1/12 s; ticks of at most 0.05 s.
    EXPECT_EQ(tick(0ms), Log{});                 // 0.008 s: 0.096
    EXPECT_EQ(tick(50ms), Log{});                // 0.05 s: 0.696
    EXPECT_EQ(tick(100ms), (Log{"wheel 120"}));  // 1.296
    apply(right_stick(-1.0, 0.0));
    EXPECT_FLOAT_EQ(engine.wheel_velocity_x(), -12.0f);
    EXPECT_EQ(tick(150ms), Log{});  // 0.296 - 0.6 + 0.6: the wheel y rest stays, x reaches -0.6
    EXPECT_EQ(tick(200ms), (Log{"hwheel -120"}));
    // Invert Y turns the vertical wheel around.
    GamepadMapping m = engine.mapping();
    m.right_stick.invert_y = true;
    engine.install_mapping(m, right_stick(0.0, 1.0));
    EXPECT_FLOAT_EQ(engine.wheel_velocity_y(), -12.0f);
}

TEST_F(Engine, MouseMoveBindings) {
    GamepadMapping m = engine.mapping();
    m.binding(PadSlot::A) = Binding::mouse_move(PadDirection::Up, 1.0f);
    m.binding(PadSlot::B) = Binding::mouse_move(PadDirection::Right, 2.5f);
    m.binding(PadSlot::X) = Binding::mouse_move(PadDirection::Left, 0.5f);
    m.binding(PadSlot::Y) = Binding::mouse_move(PadDirection::Down, 1.0f);
    use(m);
    apply(buttons(kA | kB));
    EXPECT_FLOAT_EQ(engine.pointer_velocity_x(), 2000.0f);
    EXPECT_FLOAT_EQ(engine.pointer_velocity_y(), -800.0f);
    EXPECT_EQ(tick(1s), (Log{"move 16 -6"}));  // 0.008 s
    apply(buttons(kA | kB | kX | kY));
    EXPECT_FLOAT_EQ(engine.pointer_velocity_x(), 1600.0f);
    EXPECT_FLOAT_EQ(engine.pointer_velocity_y(), 0.0f);
    // Mouse moves add to the right stick's velocity.
    PadState both = buttons(kB);
    both.rx = 32767;
    apply(both);
    EXPECT_FLOAT_EQ(engine.pointer_velocity_x(), 3400.0f);
}

TEST_F(Engine, MotionTickTimes) {
    apply(right_stick(1.0, 0.0));
    EXPECT_EQ(tick(10s), (Log{"move 11 0"}));         // no previous tick: 0.008 s
    EXPECT_EQ(tick(11s), (Log{"move 70 0"}));         // a second later: capped at 0.05 s (70.2)
    EXPECT_EQ(tick(11s + 20ms), (Log{"move 28 0"}));  // 28 + 0.2 + 0.2
    EXPECT_EQ(tick(11s), Log{});                      // time going back: dt 0
    // Idle: ticks do nothing and the accumulators are emptied.
    apply(PadState{});
    EXPECT_FALSE(engine.motion_active());
    EXPECT_EQ(tick(12s), Log{});
    // Active again: the previous tick time is forgotten, the first dt is 0.008 s.
    apply(right_stick(1.0, 0.0));
    EXPECT_EQ(tick(30s), (Log{"move 11 0"}));
}

TEST_F(Engine, MotionStepAlone) {
    apply(right_stick(-1.0, 0.0));
    sink.take();
    engine.motion_step(0.25);
    EXPECT_EQ(sink.take(), (Log{"move -350 0"}));
    engine.motion_step(0.0001);  // -0.14: nothing yet
    EXPECT_EQ(sink.take(), Log{});
}

TEST_F(Engine, ReleaseMappingReleasesEverythingAndResets) {
    use(preset_mapping(Preset::MouseOnly, PadOutputMode::KeyboardMouse));
    PadState s = buttons(kA | kLB, 1);
    s.lx = 32767;  // left stick mouse
    apply(s);
    EXPECT_TRUE(engine.motion_active());
    sink.take();
    engine.release_mapping();
    EXPECT_EQ(sink.take(), (Log{"button 1 up", "left up", "leftAlt up", "up up"}));
    EXPECT_FALSE(engine.motion_active());
    EXPECT_EQ(engine.pointer_velocity_x(), 0.0f);
    EXPECT_TRUE(engine.pressed_slots().none());
    for (const auto& o : engine.outputs()) EXPECT_EQ(o, GamepadEngine::HeldOutput{});
    EXPECT_EQ(engine.modifier_count(2), 0);
    EXPECT_EQ(engine.button_count(1), 0);
    EXPECT_EQ(tick(1s), Log{});
    // Pressed anew after the reset, scroll edges included.
    EXPECT_EQ(apply(buttons(kA)), (Log{"button 1 down"}));
}

TEST_F(Engine, InstallMappingOutputChangeReleases) {
    apply(buttons(kA));
    sink.take();
    // Keyboard/mouse -> virtual controller, without a pad: released, then pressed again by the mapping.
    engine.install_mapping(preset_mapping(Preset::Shooter, PadOutputMode::VirtualController), buttons(kA));
    EXPECT_EQ(sink.take(), (Log{"space up", "space down"}));
    // A neutral pad is not applied.
    engine.install_mapping(preset_mapping(Preset::Arrows, PadOutputMode::KeyboardMouse), PadState{});
    EXPECT_EQ(sink.take(), (Log{"space up"}));
    EXPECT_EQ(engine.mapping(), preset_mapping(Preset::Arrows, PadOutputMode::KeyboardMouse));
}

// ---- the dispatcher's pad kinds wired to the engine ----

class MappedController : public testing::Test {
protected:
    MappedController() {
        controller.add_client(1);
        controller.set_pad_output(&engine);
        controller.dispatch_event(1, make_event(5, 1), 1000);  // take control
        sink.take();
    }
    Log send(const InputEvent& event, std::uint64_t now = 1000) {
        sink.take();
        controller.dispatch_event(1, event, now);
        return sink.take();
    }

    RecordingSink sink;
    FakeSas sas;
    InputController controller{sink, sas};
    // The engine presses through an InputState of its own on the same sink
    // here; the host gives it the controller's (see the report).
    InputState mapping_out{sink};
    GamepadEngine engine{mapping_out};
};

TEST_F(MappedController, PadEventsDriveTheMapping) {
    EXPECT_EQ(send(make_pad_buttons(2, 0x001, 0, 0, 0)), (Log{"space down"}));
    EXPECT_EQ(send(make_sticks(3, 0, axis(1.0), 0, 0)), (Log{"w down"}));
    EXPECT_EQ(send(make_sticks(4, 0, 0, 0, 0)), (Log{"w up"}));
    EXPECT_EQ(send(make_pad_buttons(5, 0, 0, 0, 0)), (Log{"space up"}));
}

TEST_F(MappedController, ReleaseAllReleasesTheMapping) {
    send(make_pad_buttons(2, 0x001 | 0x010, 0, 0, 0));
    EXPECT_EQ(send(make_event(15, 3)), (Log{"space up", "g up"}));
    EXPECT_TRUE(controller.pad_state().neutral());
}

TEST_F(MappedController, WatchdogNeutralisesAStalePad) {
    send(make_pad_buttons(2, 0x001, 0, 0, 0), 1000);
    sink.take();
    controller.input_watchdog(2400);
    EXPECT_EQ(sink.take(), Log{});
    controller.input_watchdog(2501);
    EXPECT_EQ(sink.take(), (Log{"space up"}));
}

TEST_F(MappedController, StickMotionThroughTheTick) {
    send(make_sticks(2, 0, 0, 32767, 0));
    EXPECT_TRUE(engine.motion_active());
    sink.take();
    engine.motion_tick(5s);
    EXPECT_EQ(sink.take(), (Log{"move 11 0"}));
}

TEST_F(MappedController, InstallMappingUsesTheControllersPadState) {
    send(make_pad_buttons(2, 0x001, 0, 0, 0));
    sink.take();
    install_mapping(controller, engine, preset_mapping(Preset::Arrows));
    EXPECT_EQ(sink.take(), (Log{"space up", "enter down"}));
}

}  // namespace
}  // namespace korvex
