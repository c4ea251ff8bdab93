#pragma once
// The process-wide input controller: which client controls the PC, replay
// and staleness checks, what each input event kind does, and the watchdog
// rules that release input a vanished client left held.
//
// A plain class without locking: the host keeps it behind its one core mutex
// and calls every member with that mutex held. Time comes in as monotonic
// milliseconds.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/input_event.h"
#include "core/input_pad.h"
#include "core/input_state.h"
#include "platform/input_sink.h"
#include "platform/sas_action.h"

namespace korvex {

// Input event kinds.
enum class InputKind : std::uint8_t {
    PointerMove = 1,
    MouseButton = 2,
    Scroll = 3,
    Key = 4,
    PinchZoom = 6,
    DesktopShortcut = 7,
    EditCommand = 8,
    SetModifiers = 9,
    Media = 10,
    PadSticks = 11,
    PadButtons = 12,
    ReleaseAll = 15,
};

// Last accepted sequence number and the 512 numbers up to it; shared by all
// kinds and both transports of one client.
class ReplayWindow {
public:
    static constexpr std::uint64_t kSize = 512;
    // True, and the number is used up, when seq is new and not too old.
    bool accept(std::uint64_t seq);
    std::uint64_t last_seq() const { return last_; }

private:
    bool test(std::uint64_t seq) const { return (bits_[slot(seq)] >> (seq % 64) & 1u) != 0; }
    void set(std::uint64_t seq) { bits_[slot(seq)] |= std::uint64_t{1} << (seq % 64); }
    void clear(std::uint64_t seq) { bits_[slot(seq)] &= ~(std::uint64_t{1} << (seq % 64)); }
    static std::size_t slot(std::uint64_t seq) { return static_cast<std::size_t>(seq % kSize / 64); }

    std::uint64_t last_ = 0;
    std::array<std::uint64_t, kSize / 64> bits_{};
};

// One established client's input bookkeeping. The session and the datagram
// channel add their own fields (datagram key, address, command queue).
struct ClientInputEntry {
    ReplayWindow replay;
    std::uint64_t last_sticks_seq = 0;
    std::uint64_t last_buttons_seq = 0;
    // Hands a SasResult body to this client's session, which sends it as a
    // frame. Unset: the reply is dropped.
    std::function<void(std::string sas_result)> outgoing;
};

// The Ctrl+Alt+Del reply waiting for delivery; a newer reply replaces an
// older one.
class PendingReplySlot {
public:
    void put(std::string reply);
    std::optional<std::string> take();

private:
    std::mutex mutex_;
    std::optional<std::string> reply_;
    // Lets the common empty case skip the mutex on every event.
    std::atomic<bool> filled_{false};
};

class InputController {
public:
    // Timings of the watchdog rules and the keep-awake pause, in ms.
    static constexpr std::uint64_t kZoomCtrlTimeoutMs = 250;
    static constexpr std::uint64_t kPadTimeoutMs = 1500;
    static constexpr std::uint64_t kIdleReleaseMs = 1500;
    static constexpr std::uint64_t kKeepAwakePauseMs = 30000;

    InputController(InputSink& sink, SasAction& sas) : state_(sink), sas_(sas) {}
    InputController(const InputController&) = delete;
    InputController& operator=(const InputController&) = delete;

    // Client table. add_client starts the entry at zero (replacing any old
    // one); remove_client releases the owner's input when it is the owner.
    ClientInputEntry& add_client(std::uint64_t client_id);
    void remove_client(std::uint64_t client_id);
    ClientInputEntry* find_client(std::uint64_t client_id);
    bool has_clients() const { return !clients_.empty(); }
    std::optional<std::uint64_t> owner() const { return owner_; }

    // One binary input event of a client. Events failing a check are dropped
    // without a word; the only reply is a Ctrl+Alt+Del result.
    void dispatch_event(std::uint64_t client_id, const InputEvent& event, std::uint64_t now_ms);

    // A Ping of the client: the owner's keep-alive counts as input, so the
    // idle release does not drop a chord it is still holding.
    void note_activity(std::uint64_t client_id, std::uint64_t now_ms) {
        if (owner_ == client_id) last_input_ms_ = now_ms;
    }

    // TextUtf8 and ClipboardSet.
    void type_text(std::uint64_t client_id, std::string_view utf8_text, std::uint64_t now_ms);
    void set_clipboard(std::uint64_t client_id, std::string_view utf8_text, bool auto_paste, std::uint64_t now_ms);

    // Set while a batch of datagrams is dispatched: moves are summed and
    // injected by flush_move at the end of the batch.
    void set_coalesce_moves(bool on) { coalesce_moves_ = on; }
    void flush_move() { state_.flush_move(); }

    // Releases everything held for the owner, the pad state and the movement
    // bookkeeping; the owner stays.
    void release_all();

    // One tick of the periodic watchdog.
    void input_watchdog(std::uint64_t now_ms);

    // Where pad state goes; none until a virtual controller or mapping is set.
    void set_pad_output(PadOutput* output) { pad_output_ = output; }

    const InputState& state() const { return state_; }
    // The book the gamepad mapping presses through, so that release_all and
    // the watchdog see what the mapping holds.
    InputState& state() { return state_; }
    const PadState& pad_state() const { return pad_; }
    float remainder_x() const { return remainder_x_; }
    float remainder_y() const { return remainder_y_; }
    std::uint64_t last_move_seq() const { return last_move_seq_; }

private:
    void dispatch_checked(std::uint64_t client_id, const InputEvent& event, std::uint64_t now_ms);
    void take_ownership(std::uint64_t client_id);
    void deliver_reply(std::uint64_t client_id);

    void pointer_move(const InputEvent& event, std::uint64_t now_ms);
    void scroll(const InputEvent& event);
    void pinch_zoom(const InputEvent& event, std::uint64_t now_ms);
    void desktop_shortcut(std::uint8_t number);
    void edit_command(std::uint8_t number);
    void set_modifiers(ModifierMask mask);
    void media(std::uint8_t number);
    void pad_sticks(const InputEvent& event, std::uint64_t now_ms);
    void pad_buttons(const InputEvent& event, std::uint64_t now_ms);
    void ctrl_alt_del();
    void release_zoom_ctrl();

    void apply_pad();

    InputState state_;
    SasAction& sas_;
    PadOutput* pad_output_ = nullptr;
    std::map<std::uint64_t, ClientInputEntry> clients_;
    std::optional<std::uint64_t> owner_;

    std::optional<std::uint64_t> last_input_ms_;
    std::uint64_t last_move_seq_ = 0;
    float remainder_x_ = 0.0f;
    float remainder_y_ = 0.0f;
    std::optional<std::uint64_t> last_move_ms_;
    std::optional<std::uint64_t> last_pinch_ms_;
    PadState pad_;
    std::optional<std::uint64_t> last_pad_ms_;
    bool coalesce_moves_ = false;

    PendingReplySlot pending_reply_;
};

}  // namespace korvex
