#include "core/pad_engine.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/input_controller.h"

namespace korvex {
namespace {

constexpr float kMoveSpeedPixels = 800.0f;    // per unit of a mouse-move binding's speed
constexpr float kStickMousePixels = 1400.0f;  // full deflection, sensitivity 1
constexpr float kStickScrollNotches = 12.0f;  // full deflection, sensitivity 1
constexpr float kStickFullScale = 32767.0f;
constexpr float kKeepCos = 0.258819f;   // cos 75 degrees: an active direction stays
constexpr float kPressCos = 0.382683f;  // cos 67.5 degrees: a direction becomes active
constexpr float kKeepMagnitude = 0.8f;  // of the dead zone, for an active direction
constexpr std::int32_t kWheelStep = 120;
constexpr std::uint8_t kFirstModifierUsage = 0xE0;

std::int32_t truncate_saturating(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

std::int32_t wheel_units(std::int32_t steps) {
    std::int64_t units = static_cast<std::int64_t>(steps) * kWheelStep;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(units, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

std::uint8_t increment(std::uint8_t& count) {
    std::uint8_t before = count;
    if (count < 255) ++count;
    return before;
}

// True when the count went from 1 to 0.
bool decrement(std::uint8_t& count) {
    if (count == 0) return false;
    return --count == 0;
}

}  // namespace

GamepadEngine::GamepadEngine(InputState& out, GamepadMapping mapping) : out_(out), mapping_(mapping) {}

void GamepadEngine::apply(const PadState& state) {
    if (virtual_pad_in_use()) {
        pad_->submit_pad_state(state);
        return;
    }
    apply_mapping(state);
}

void GamepadEngine::submit_neutral() {
    if (pad_) pad_->submit_neutral();
}

void GamepadEngine::install_mapping(const GamepadMapping& mapping, const PadState& current) {
    if (mapping.pad_output != mapping_.pad_output) {
        release_mapping();
        submit_neutral();
    }
    mapping_ = mapping;
    if (!current.neutral()) apply(current);
}

void GamepadEngine::apply_mapping(const PadState& state) {
    std::array<HeldOutput, kOutputCount> desired{};
    std::bitset<kPadSlotCount> pressed;
    float pvx = 0.0f, pvy = 0.0f;

    // 1. Pressed slots and what they hold.
    for (std::size_t i = 0; i < kPadSlotCount; ++i) {
        if (!slot_pressed(static_cast<PadSlot>(i), state)) continue;
        pressed.set(i);
        const Binding& b = mapping_.bindings[i];
        switch (b.kind) {
            case BindingKind::Key:
                if (b.usage() != 0) desired[i] = {HeldOutput::Kind::Key, b.usage(), b.mods()};
                break;
            case BindingKind::MouseButton:
                if (b.button() >= 1 && b.button() <= 3) desired[i] = {HeldOutput::Kind::Button, b.button(), 0};
                break;
            case BindingKind::MouseMove: {
                const float v = b.speed * kMoveSpeedPixels;
                switch (b.direction()) {
                    case PadDirection::Up: pvy -= v; break;
                    case PadDirection::Down: pvy += v; break;
                    case PadDirection::Left: pvx -= v; break;
                    case PadDirection::Right: pvx += v; break;
                }
                break;
            }
            default: break;
        }
    }

    // 2. Scroll bindings act once, on the press.
    for (std::size_t i = 0; i < kPadSlotCount; ++i) {
        const Binding& b = mapping_.bindings[i];
        if (b.kind != BindingKind::Scroll || !pressed.test(i) || pressed_.test(i)) continue;
        const std::int32_t units = kWheelStep * (b.amount() == 0 ? 1 : b.amount());
        switch (b.direction()) {
            case PadDirection::Up: out_.sink().wheel(units); break;
            case PadDirection::Down: out_.sink().wheel(-units); break;
            case PadDirection::Left: out_.sink().hwheel(-units); break;
            case PadDirection::Right: out_.sink().hwheel(units); break;
        }
    }

    // 3. Sticks.
    pointer_vx_ = pvx;
    pointer_vy_ = pvy;
    wheel_vx_ = 0.0f;
    wheel_vy_ = 0.0f;
    apply_stick(mapping_.left_stick, state.lx, state.ly, left_dirs_, kLeftStickOutputs, desired);
    apply_stick(mapping_.right_stick, state.rx, state.ry, right_dirs_, kRightStickOutputs, desired);

    // 4. Outputs whose holder changed: the old one up, the new one down.
    for (std::size_t p = 0; p < kOutputCount; ++p) {
        if (desired[p] == outputs_[p]) continue;
        release(outputs_[p]);
        press(desired[p]);
        outputs_[p] = desired[p];
    }

    // 5. State for the next run and the motion task.
    pressed_ = pressed;
    if (pointer_vx_ == 0.0f && pointer_vy_ == 0.0f && wheel_vx_ == 0.0f && wheel_vy_ == 0.0f) {
        clear_motion();
    } else {
        if (!motion_active_) {
            last_tick_.reset();
            motion_active_ = true;
            if (motion_started_) motion_started_();
        }
    }
}

void GamepadEngine::apply_stick(const StickSettings& stick, std::int16_t raw_x, std::int16_t raw_y,
                                std::array<bool, 4>& dirs, std::size_t first_output,
                                std::array<HeldOutput, kOutputCount>& desired) {
    const float x = std::max(static_cast<float>(raw_x) / kStickFullScale, -1.0f);
    const float y = std::max(static_cast<float>(raw_y) / kStickFullScale, -1.0f);  // positive is up
    const float m = std::sqrt(x * x + y * y);
    const float dz = stick.deadzone;
    const float s = stick.sensitivity;
    const float inv = stick.invert_y ? -1.0f : 1.0f;

    if (stick.mode != StickMode::Keys) dirs = {};
    switch (stick.mode) {
        case StickMode::Keys: {
            const float components[4] = {y, -y, -x, x};  // up, down, left, right
            for (std::size_t d = 0; d < 4; ++d) {
                bool active = false;
                if (m > 0.0f) {
                    const float cos = components[d] / m;
                    active = dirs[d] ? (m >= kKeepMagnitude * dz && cos >= kKeepCos) : (m >= dz && cos >= kPressCos);
                }
                dirs[d] = active;
                if (active && stick.keys[d] != 0) desired[first_output + d] = {HeldOutput::Kind::Key, stick.keys[d], 0};
            }
            break;
        }
        case StickMode::Mouse:
        case StickMode::Scroll: {
            if (!(m > dz)) break;
            const float t = std::min((m - dz) / std::max(1.0f - dz, 0.000001f), 1.0f);
            if (!(t > 0.0f)) break;
            if (stick.mode == StickMode::Mouse) {
                const float f = std::sqrt(t) * kStickMousePixels * s;
                pointer_vx_ += (x / m) * t * f;
                pointer_vy_ -= inv * (y / m) * t * f;
            } else {
                wheel_vx_ += (x / m) * t * kStickScrollNotches * s;
                wheel_vy_ += inv * (y / m) * t * kStickScrollNotches * s;
            }
            break;
        }
        case StickMode::Off:
        default: break;
    }
}

void GamepadEngine::press(const HeldOutput& output) {
    switch (output.kind) {
        case HeldOutput::Kind::Key:
            for (std::size_t i = 0; i < 4; ++i) {  // Ctrl, Shift, Alt, Win
                if ((output.mods & (1u << i)) == 0) continue;
                if (increment(modifier_counts_[i]) == 0)
                    out_.key_event(static_cast<std::uint16_t>(kFirstModifierUsage + i), kKeyDown, 0);
            }
            if (increment(key_counts_[output.code]) == 0) out_.key_event(output.code, kKeyDown, 0);
            break;
        case HeldOutput::Kind::Button:
            if (increment(button_counts_[output.code - 1]) == 0) out_.button_event(output.code, true, 0);
            break;
        case HeldOutput::Kind::None: break;
    }
}

void GamepadEngine::release(const HeldOutput& output) {
    switch (output.kind) {
        case HeldOutput::Kind::Key:
            if (decrement(key_counts_[output.code])) out_.key_event(output.code, kKeyUp, 0);
            for (std::size_t i = 4; i-- > 0;) {  // Win, Alt, Shift, Ctrl
                if ((output.mods & (1u << i)) == 0) continue;
                if (decrement(modifier_counts_[i]))
                    out_.key_event(static_cast<std::uint16_t>(kFirstModifierUsage + i), kKeyUp, 0);
            }
            break;
        case HeldOutput::Kind::Button:
            if (decrement(button_counts_[output.code - 1])) out_.button_event(output.code, false, 0);
            break;
        case HeldOutput::Kind::None: break;
    }
}

void GamepadEngine::release_mapping() {
    for (auto& output : outputs_) {
        release(output);
        output = {};
    }
    // Whatever a saturated count still holds.
    for (std::size_t usage = 0; usage < key_counts_.size(); ++usage) {
        if (key_counts_[usage] != 0) out_.key_event(static_cast<std::uint16_t>(usage), kKeyUp, 0);
    }
    for (std::size_t i = 4; i-- > 0;) {
        if (modifier_counts_[i] != 0) out_.key_event(static_cast<std::uint16_t>(kFirstModifierUsage + i), kKeyUp, 0);
    }
    for (std::uint8_t button = 1; button <= 3; ++button) {
        if (button_counts_[button - 1] != 0) out_.button_event(button, false, 0);
    }
    key_counts_.fill(0);
    modifier_counts_.fill(0);
    button_counts_.fill(0);
    pressed_.reset();
    left_dirs_ = {};
    right_dirs_ = {};
    pointer_vx_ = pointer_vy_ = wheel_vx_ = wheel_vy_ = 0.0f;
    clear_motion();
}

void GamepadEngine::clear_motion() {
    motion_active_ = false;
    pointer_ax_ = pointer_ay_ = wheel_ax_ = wheel_ay_ = 0.0;
}

void GamepadEngine::motion_tick(std::chrono::nanoseconds now) {
    if (pointer_vx_ == 0.0f && pointer_vy_ == 0.0f && wheel_vx_ == 0.0f && wheel_vy_ == 0.0f) {
        motion_active_ = false;
        return;
    }
    double dt = kFirstTickSeconds;
    if (last_tick_) {
        const auto since = now - *last_tick_;
        dt = since.count() <= 0 ? 0.0 : std::min(std::chrono::duration<double>(since).count(), kMaxTickSeconds);
    }
    last_tick_ = now;
    motion_step(dt);
}

void GamepadEngine::motion_step(double dt) {
    pointer_ax_ += pointer_vx_ * dt;
    pointer_ay_ += pointer_vy_ * dt;
    const std::int32_t wx = truncate_saturating(pointer_ax_);
    const std::int32_t wy = truncate_saturating(pointer_ay_);
    if (wx != 0 || wy != 0) {
        pointer_ax_ -= wx;
        pointer_ay_ -= wy;
        out_.sink().mouse_move(wx, wy);
    }
    wheel_ax_ += wheel_vx_ * dt;
    wheel_ay_ += wheel_vy_ * dt;
    const std::int32_t ny = truncate_saturating(wheel_ay_);
    if (ny != 0) {
        wheel_ay_ -= ny;
        out_.sink().wheel(wheel_units(ny));
    }
    const std::int32_t nx = truncate_saturating(wheel_ax_);
    if (nx != 0) {
        wheel_ax_ -= nx;
        out_.sink().hwheel(wheel_units(nx));
    }
}

void install_virtual_pad(InputController& input, GamepadEngine& engine, std::shared_ptr<VirtualPad> pad) {
    input.release_all();
    engine.set_virtual_pad(std::move(pad));
}

void install_mapping(InputController& input, GamepadEngine& engine, const GamepadMapping& mapping) {
    engine.install_mapping(mapping, input.pad_state());
}

}  // namespace korvex
