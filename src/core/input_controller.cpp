#include "core/input_controller.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "core/input_text.h"

namespace korvex {
namespace {

constexpr float kMoveClamp = 20000.0f;
constexpr float kScrollFactor = 4.5f;
constexpr float kPinchFactor = 600.0f;
constexpr std::uint16_t kVkLeftCtrl = 0xA2;
constexpr std::uint16_t kVkLeftWin = 0x5B;

float payload_f32(const InputEvent& event, std::size_t at) {
    return std::bit_cast<float>(get_u32_le(event.payload.data() + at));
}

std::int16_t payload_i16(const InputEvent& event, std::size_t at) {
    return static_cast<std::int16_t>(event.payload[at] | event.payload[at + 1] << 8);
}

std::uint16_t payload_u16(const InputEvent& event, std::size_t at) {
    return static_cast<std::uint16_t>(event.payload[at] | event.payload[at + 1] << 8);
}

// Toward zero, saturating at the i32 range; v is finite.
std::int32_t truncate_saturating(float v) {
    if (v >= 2147483648.0f) return std::numeric_limits<std::int32_t>::max();
    if (v <= -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

// Half away from zero, saturating; v is finite or infinite.
std::int32_t round_saturating(float v) { return truncate_saturating(std::round(v)); }

bool valid_amount(float v) { return std::isfinite(v) && v != 0.0f; }

std::uint64_t elapsed(std::uint64_t now_ms, std::uint64_t then_ms) { return now_ms > then_ms ? now_ms - then_ms : 0; }

}  // namespace

bool ReplayWindow::accept(std::uint64_t seq) {
    if (seq == 0) return false;
    if (seq <= last_) {
        if (last_ - seq >= kSize || test(seq)) return false;
        set(seq);
        return true;
    }
    if (seq - last_ < kSize) {
        // Counted, not compared with seq: seq may be the largest u64.
        for (std::uint64_t n = 1; n <= seq - last_; ++n) clear(last_ + n);
    } else {
        bits_.fill(0);
    }
    last_ = seq;
    set(seq);
    return true;
}

void PendingReplySlot::put(std::string reply) {
    std::lock_guard lock(mutex_);
    reply_ = std::move(reply);
    filled_.store(true, std::memory_order_release);
}

std::optional<std::string> PendingReplySlot::take() {
    if (!filled_.load(std::memory_order_acquire)) return std::nullopt;
    std::lock_guard lock(mutex_);
    filled_.store(false, std::memory_order_relaxed);
    std::optional<std::string> out = std::move(reply_);
    reply_.reset();
    return out;
}

ClientInputEntry& InputController::add_client(std::uint64_t client_id) {
    // Client ids are never reused; an entry that exists keeps its window so
    // that a second registration cannot reopen old sequence numbers.
    return clients_.try_emplace(client_id).first->second;
}

void InputController::remove_client(std::uint64_t client_id) {
    clients_.erase(client_id);
    if (owner_ == client_id) {
        release_all();
        owner_.reset();
    }
}

ClientInputEntry* InputController::find_client(std::uint64_t client_id) {
    auto it = clients_.find(client_id);
    return it == clients_.end() ? nullptr : &it->second;
}

void InputController::dispatch_event(std::uint64_t client_id, const InputEvent& event, std::uint64_t now_ms) {
    dispatch_checked(client_id, event, now_ms);
    deliver_reply(client_id);
}

void InputController::deliver_reply(std::uint64_t client_id) {
    std::optional<std::string> reply = pending_reply_.take();
    if (!reply) return;
    ClientInputEntry* entry = find_client(client_id);
    if (entry != nullptr && entry->outgoing) entry->outgoing(std::move(*reply));
}

void InputController::take_ownership(std::uint64_t client_id) {
    if (owner_ == client_id) return;
    release_all();
    owner_ = client_id;
}

void InputController::dispatch_checked(std::uint64_t client_id, const InputEvent& event, std::uint64_t now_ms) {
    ClientInputEntry* entry = find_client(client_id);
    if (entry == nullptr) return;
    const std::uint64_t seq = event.seq;
    if (!entry->replay.accept(seq)) return;

    const auto kind = static_cast<InputKind>(event.kind);
    // Pad events are state, not steps: an older one must never overwrite a
    // newer one, whatever the window let through.
    if (kind == InputKind::PadSticks) {
        if (seq <= entry->last_sticks_seq) return;
        entry->last_sticks_seq = seq;
    } else if (kind == InputKind::PadButtons) {
        if (seq <= entry->last_buttons_seq) return;
        entry->last_buttons_seq = seq;
    }

    take_ownership(client_id);

    if (kind == InputKind::PointerMove) {
        pointer_move(event, now_ms);
        return;
    }
    state_.flush_move();
    last_input_ms_ = now_ms;
    const auto mods = static_cast<ModifierMask>(event.mods & kModAll);
    const auto& p = event.payload;
    switch (kind) {
        case InputKind::MouseButton: state_.button_event(p[0], p[1] != 0, mods); break;
        case InputKind::Scroll: scroll(event); break;
        case InputKind::Key: state_.key_event(payload_u16(event, 0), p[2], mods); break;
        case InputKind::PinchZoom: pinch_zoom(event, now_ms); break;
        case InputKind::DesktopShortcut: desktop_shortcut(p[0]); break;
        case InputKind::EditCommand: edit_command(p[0]); break;
        case InputKind::SetModifiers: set_modifiers(static_cast<ModifierMask>(p[0] & kModAll)); break;
        case InputKind::Media: media(p[0]); break;
        case InputKind::PadSticks: pad_sticks(event, now_ms); break;
        case InputKind::PadButtons: pad_buttons(event, now_ms); break;
        case InputKind::ReleaseAll: release_all(); break;
        default: break;  // unknown kinds only use up their number and take control
    }
}

void InputController::pointer_move(const InputEvent& event, std::uint64_t now_ms) {
    last_input_ms_ = now_ms;
    // Moves never go backwards, even when the window lets an older one in.
    if (event.seq <= last_move_seq_) return;
    last_move_seq_ = event.seq;
    float dx = payload_f32(event, 0);
    float dy = payload_f32(event, 4);
    if (!std::isfinite(dx) || !std::isfinite(dy)) return;

    if (!last_move_ms_ || elapsed(now_ms, *last_move_ms_) > kKeepAwakePauseMs) state_.sink().keep_awake();
    last_move_ms_ = now_ms;

    float x = std::clamp(dx, -kMoveClamp, kMoveClamp) + remainder_x_;
    float y = std::clamp(dy, -kMoveClamp, kMoveClamp) + remainder_y_;
    std::int32_t ix = truncate_saturating(x);
    std::int32_t iy = truncate_saturating(y);
    remainder_x_ = x - std::trunc(x);
    remainder_y_ = y - std::trunc(y);
    if (ix == 0 && iy == 0) return;
    if (coalesce_moves_) {
        state_.add_pending_move(ix, iy);
    } else {
        state_.sink().mouse_move(ix, iy);
    }
}

void InputController::scroll(const InputEvent& event) {
    float horizontal = payload_f32(event, 0);
    float vertical = payload_f32(event, 4);
    if (valid_amount(vertical)) {
        std::int32_t v = round_saturating(vertical * kScrollFactor);
        if (v != 0) state_.sink().wheel(v);
    }
    // Horizontal is inverted: content follows the finger.
    if (valid_amount(horizontal)) {
        std::int32_t h = round_saturating(horizontal * -kScrollFactor);
        if (h != 0) state_.sink().hwheel(h);
    }
}

void InputController::pinch_zoom(const InputEvent& event, std::uint64_t now_ms) {
    const std::uint8_t phase = event.flags >> 4;
    const float amount = payload_f32(event, 0);
    const bool valid = valid_amount(amount);
    if (phase == 3 || phase == 5) {  // end, cancel
        release_zoom_ctrl();
        return;
    }
    if (phase == 1 && state_.zoom_ctrl_held()) {
        last_pinch_ms_ = now_ms;
        return;
    }
    if ((phase == 1 || (phase == 2 && valid)) && !state_.zoom_ctrl_held()) {
        // A Ctrl the user already holds serves the wheel as well.
        if ((state_.held_modifiers() & kModCtrl) == 0) state_.press_zoom_ctrl();
    }
    last_pinch_ms_ = now_ms;
    if (phase == 2 && valid) {
        std::int32_t n = round_saturating(amount * kPinchFactor);
        if (n != 0) state_.sink().wheel(n);
    }
}

void InputController::release_zoom_ctrl() {
    state_.release_zoom_ctrl();
    last_pinch_ms_.reset();
}

void InputController::desktop_shortcut(std::uint8_t number) {
    static constexpr std::uint16_t kWin[] = {kVkLeftWin};
    static constexpr std::uint16_t kCtrlWin[] = {kVkLeftCtrl, kVkLeftWin};
    switch (number) {
        case 1: state_.send_chord(kWin, 0x09); break;      // task view
        case 2: state_.send_chord(kWin, 0x44); break;      // show desktop
        case 3: state_.send_chord(kCtrlWin, 0x27); break;  // next virtual desktop
        case 4: state_.send_chord(kCtrlWin, 0x25); break;  // previous virtual desktop
        default: break;
    }
}

void InputController::edit_command(std::uint8_t number) {
    static constexpr std::uint16_t kCtrl[] = {kVkLeftCtrl};
    // Commands 1..7: Ctrl + C, V, X, Z, Y, A, F.
    static constexpr std::uint16_t kCtrlKeys[] = {0x43, 0x56, 0x58, 0x5A, 0x59, 0x41, 0x46};
    if (number >= 1 && number <= 7) {
        state_.send_chord(kCtrl, kCtrlKeys[number - 1]);
    } else if (number == 8) {
        (void)state_.sink().lock_workstation();  // nothing to tell the client
    } else if (number == 9) {
        ctrl_alt_del();
    }
}

void InputController::ctrl_alt_del() { pending_reply_.put(encode_sas_result(sas_.send_sas(), sas_.unavailable_text())); }

void InputController::set_modifiers(ModifierMask mask) {
    ModifierMask held = state_.held_modifiers();
    state_.release_modifiers(static_cast<ModifierMask>(held & ~mask));
    state_.press_modifiers(static_cast<ModifierMask>(mask & ~state_.held_modifiers()));
}

void InputController::media(std::uint8_t number) {
    // Commands 1..6: volume up, volume down, mute, play/pause, next, previous.
    static constexpr std::uint16_t kMediaVks[] = {0xAF, 0xAE, 0xAD, 0xB3, 0xB0, 0xB1};
    if (number >= 1 && number <= 6) {
        state_.tap_key(vk_to_key_code(kMediaVks[number - 1]));
    } else if (number == 7 || number == 8) {
        state_.sink().adjust_brightness(number == 7);
    }
}

void InputController::pad_sticks(const InputEvent& event, std::uint64_t now_ms) {
    PadState next = pad_;
    next.lx = payload_i16(event, 0);
    next.ly = payload_i16(event, 2);
    next.rx = payload_i16(event, 4);
    next.ry = payload_i16(event, 6);
    last_pad_ms_ = now_ms;
    if (next == pad_) return;
    pad_ = next;
    apply_pad();
}

void InputController::pad_buttons(const InputEvent& event, std::uint64_t now_ms) {
    const auto& p = event.payload;
    PadState next = pad_;
    next.buttons = static_cast<std::uint16_t>(payload_u16(event, 0) & 0x07FF);
    next.dpad = p[4] <= 8 ? p[4] : 0;
    next.left_trigger = p[5];
    next.right_trigger = p[6];
    last_pad_ms_ = now_ms;
    if (next == pad_) return;
    pad_ = next;
    apply_pad();
}

void InputController::apply_pad() {
    if (pad_output_ != nullptr) pad_output_->apply(pad_);
}

void InputController::type_text(std::uint64_t client_id, std::string_view utf8_text, std::uint64_t now_ms) {
    take_ownership(client_id);
    last_input_ms_ = now_ms;
    std::u16string units = utf8_to_utf16(utf8_text);
    if (!units.empty()) state_.sink().type_text(units);
}

void InputController::set_clipboard(std::uint64_t client_id, std::string_view utf8_text, bool auto_paste,
                                    std::uint64_t now_ms) {
    take_ownership(client_id);
    last_input_ms_ = now_ms;
    // A clipboard that could not be set still holds the old text: pasting
    // it would put something the client never sent into the focused window.
    if (state_.sink().set_clipboard(utf8_text) && auto_paste) {
        static constexpr std::uint16_t kCtrl[] = {kVkLeftCtrl};
        state_.send_chord(kCtrl, 0x56);
    }
}

void InputController::release_all() {
    state_.flush_move();
    pad_ = PadState{};
    last_pad_ms_.reset();
    if (pad_output_ != nullptr) {
        InputState::HostRelease by_host(state_);
        pad_output_->release_mapping();
        pad_output_->submit_neutral();
    }
    state_.release_all();
    last_pinch_ms_.reset();
    last_move_seq_ = 0;
    remainder_x_ = 0.0f;
    remainder_y_ = 0.0f;
}

void InputController::input_watchdog(std::uint64_t now_ms) {
    if (state_.zoom_ctrl_held() && (!last_pinch_ms_ || elapsed(now_ms, *last_pinch_ms_) > kZoomCtrlTimeoutMs)) {
        release_zoom_ctrl();
    }
    if (!pad_.neutral() && (!last_pad_ms_ || elapsed(now_ms, *last_pad_ms_) > kPadTimeoutMs)) {
        pad_ = PadState{};
        if (pad_output_ != nullptr) {
            InputState::HostRelease by_host(state_);
            pad_output_->apply(pad_);
            pad_output_->submit_neutral();
        }
    }
    if (state_.anything_held() && (!last_input_ms_ || elapsed(now_ms, *last_input_ms_) > kIdleReleaseMs)) {
        release_all();
    }
}

}  // namespace korvex
