#pragma once
// The gamepad engine: sends the controlling client's pad
// state to the virtual controller or through the keyboard/mouse mapping,
// keeps the mapping's runtime state (pressed slots, held outputs, reference
// counts, stick directions, velocities) and runs the motion step that turns
// stick deflection into smooth pointer and wheel movement.
//
// It is the InputController's PadOutput and lives beside it behind the host's
// one core lock: every member is called with that lock held. It never reads a
// clock: the motion tick is given the time.
#include <array>
#include <bitset>
#include <chrono>
#include <functional>
#include <cstdint>
#include <memory>
#include <optional>

#include "core/input_pad.h"
#include "core/input_state.h"
#include "core/pad_mapping.h"
#include "core/pad_virtual.h"

namespace korvex {

class InputController;

class GamepadEngine final : public PadOutput {
public:
    // 16 slots, then left stick up, down, left, right, then right stick.
    static constexpr std::size_t kOutputCount = 24;
    static constexpr std::size_t kLeftStickOutputs = 16;
    static constexpr std::size_t kRightStickOutputs = 20;

    // The motion task's period, and the dt rules of one tick.
    static constexpr std::chrono::milliseconds kMotionPeriod{8};
    static constexpr double kFirstTickSeconds = 0.008;
    static constexpr double kMaxTickSeconds = 0.05;

    // What one output position holds.
    struct HeldOutput {
        enum class Kind : std::uint8_t { None, Key, Button };
        Kind kind = Kind::None;
        std::uint8_t code = 0;  // key: HID usage; button: 1..3
        MappingMods mods = 0;   // key only
        friend bool operator==(const HeldOutput&, const HeldOutput&) = default;
    };

    // `out` is the InputState the mapping presses keys and buttons through
    // (the controller's own, so that its book sees them) and whose sink takes
    // the pointer and wheel movement. It must outlive the engine.
    explicit GamepadEngine(InputState& out, GamepadMapping mapping = default_mapping());
    GamepadEngine(const GamepadEngine&) = delete;
    GamepadEngine& operator=(const GamepadEngine&) = delete;

    // PadOutput. apply is apply_mapping: the virtual controller
    // gets the state when it is the pad output and one is present; otherwise
    // the mapping runs.
    void apply(const PadState& state) override;
    void release_mapping() override;
    void submit_neutral() override;

    // install_mapping, given the controller's current pad state:
    // a change of pad output first releases the mapping and neutralises the
    // virtual controller; a pad state that is not neutral is applied anew.
    void install_mapping(const GamepadMapping& mapping, const PadState& current);
    const GamepadMapping& mapping() const { return mapping_; }

    // The virtual controller, replacing (and so dropping) any
    // earlier one. Use install_virtual_pad below, which releases first.
    void set_virtual_pad(std::shared_ptr<VirtualPad> pad) { pad_ = std::move(pad); }
    bool has_virtual_pad() const { return pad_ != nullptr; }
    // Whether pad state goes to the virtual controller now.
    bool virtual_pad_in_use() const {
        return pad_ != nullptr && mapping_.pad_output == PadOutputMode::VirtualController;
    }

    // One tick of the motion task: `now` is a monotonic time (any epoch).
    // Idle without velocities; otherwise dt is the time since the previous
    // tick, at most 0.05 s (0.008 s without a previous tick), then motion_step.
    void motion_tick(std::chrono::nanoseconds now);
    // Adds velocity x dt to the sub-pixel / sub-notch accumulators and
    // injects the whole pixels (mouse_move) and notches (wheel, hwheel).
    void motion_step(double dt_seconds);
    bool motion_active() const { return motion_active_; }
    // Called (under the host lock) when motion starts, so the motion task
    // can sleep while there is none.
    void set_motion_started(std::function<void()> hook) { motion_started_ = std::move(hook); }

    // Runtime state, for the user interface and tests.
    const std::array<HeldOutput, kOutputCount>& outputs() const { return outputs_; }
    const std::bitset<kPadSlotCount>& pressed_slots() const { return pressed_; }
    float pointer_velocity_x() const { return pointer_vx_; }
    float pointer_velocity_y() const { return pointer_vy_; }
    float wheel_velocity_x() const { return wheel_vx_; }
    float wheel_velocity_y() const { return wheel_vy_; }
    std::uint8_t key_count(std::uint8_t usage) const { return key_counts_[usage]; }
    // i: 0 Ctrl, 1 Shift, 2 Alt, 3 Win.
    std::uint8_t modifier_count(std::size_t i) const { return modifier_counts_[i & 3]; }
    std::uint8_t button_count(std::uint8_t button) const {
        return button >= 1 && button <= 3 ? button_counts_[button - 1] : 0;
    }

private:
    std::function<void()> motion_started_;
    void apply_mapping(const PadState& state);
    void apply_stick(const StickSettings& stick, std::int16_t raw_x, std::int16_t raw_y, std::array<bool, 4>& dirs,
                     std::size_t first_output, std::array<HeldOutput, kOutputCount>& desired);
    void press(const HeldOutput& output);
    void release(const HeldOutput& output);
    void clear_motion();

    InputState& out_;
    GamepadMapping mapping_;
    std::shared_ptr<VirtualPad> pad_;

    std::bitset<kPadSlotCount> pressed_;
    std::array<HeldOutput, kOutputCount> outputs_{};
    std::array<std::uint8_t, 256> key_counts_{};
    std::array<std::uint8_t, 4> modifier_counts_{};
    std::array<std::uint8_t, 3> button_counts_{};
    std::array<bool, 4> left_dirs_{};
    std::array<bool, 4> right_dirs_{};

    // Pixels and notches per second; the accumulators hold the parts not yet
    // injected.
    float pointer_vx_ = 0.0f, pointer_vy_ = 0.0f, wheel_vx_ = 0.0f, wheel_vy_ = 0.0f;
    double pointer_ax_ = 0.0, pointer_ay_ = 0.0, wheel_ax_ = 0.0, wheel_ay_ = 0.0;
    bool motion_active_ = false;
    std::optional<std::chrono::nanoseconds> last_tick_;
};

// Installing a virtual controller, with the core lock held: release_all on the controller,
// then install the pad (dropping any pad installed before).
void install_virtual_pad(InputController& input, GamepadEngine& engine, std::shared_ptr<VirtualPad> pad);

// install_mapping with the controller's current pad state; core lock held.
void install_mapping(InputController& input, GamepadEngine& engine, const GamepadMapping& mapping);

}  // namespace korvex
