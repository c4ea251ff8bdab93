#pragma once
// The one shared host state. Everything mutable sits behind one mutex and is
// reached through `with_core`, which runs one step under the lock, then
// delivers the host events that step queued after unlocking.
#include <asio/ip/address.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/crypto.h"
#include "core/endpoints.h"
#include "core/frame.h"
#include "core/host_core.h"
#include "platform/host_info.h"
#include "core/identity.h"
#include "core/input_controller.h"
#include "core/pad_engine.h"
#include "net/handshake_gate.h"
#include "net/store_writer.h"
#include "net/wake_signal.h"

namespace korvex {
class Clock;
class FileSystem;
class RandomSource;
}  // namespace korvex

namespace korvex::net {

// What other tasks ask a session to do.
struct SessionCommand {
    enum class Kind { SendFrame, RemovedByUser };
    Kind kind;
    MessageType type = MessageType::SasResult;
    std::string body;
};

// The sending end of a session's unbounded command queue, and its wake-up.
class SessionChannel {
public:
    explicit SessionChannel(asio::any_io_executor executor) : wake_(std::make_shared<WakeSignal>(std::move(executor))) {}

    // False once the session has ended: the command is discarded.
    bool push(SessionCommand command);
    std::optional<SessionCommand> pop();
    bool has_pending();
    void close();
    WakeSignal& wake() { return *wake_; }

private:
    std::mutex mutex_;
    std::deque<SessionCommand> queue_;
    bool closed_ = false;
    std::shared_ptr<WakeSignal> wake_;
};

// What an established session adds to the client table, next to the
// controller's input bookkeeping under the same u64 id.
struct SessionEntry {
    std::string client_id;
    std::string display_name;
    SecretKey session_key;
    asio::ip::address peer_ip;
    std::shared_ptr<SessionChannel> channel;
};

// Everything the one lock guards.
struct LockedCore {
    // The engine presses through the controller's own book and is its pad
    // output; neither moves once built.
    LockedCore(InputSink& sink, SasAction& sas) : input(sink, sas), gamepad(input.state()) {
        input.set_pad_output(&gamepad);
    }
    LockedCore(const LockedCore&) = delete;
    LockedCore& operator=(const LockedCore&) = delete;

    HostCore core;
    InputController input;
    GamepadEngine gamepad;
    std::map<std::uint64_t, SessionEntry> sessions;
};

struct HostServices {
    FileSystem& fs;
    RandomSource& rng;
    const Clock& clock;
    InputSink& input_sink;
    SasAction& sas;
};

class HostShared {
public:
    HostShared(HostServices services, HostIdentity identity, std::string host_name, std::string device_type,
               PairedStore store)
        : services_(services),
          identity_(std::move(identity)),
          host_public_(ed25519_public_key(identity_.seed)),
          host_name_(std::move(host_name)),
          device_type_(std::move(device_type)),
          store_writer_(services.fs),
          locked_(services.input_sink, services.sas) {
        locked_.core.store = std::move(store);
    }

    const HostServices& services() const { return services_; }
    // Every write of the paired-device store goes through it.
    StoreWriter& store_writer() { return store_writer_; }
    const HostIdentity& identity() const { return identity_; }
    const Key32& host_public() const { return host_public_; }
    const std::string& host_name() const { return host_name_; }
    const std::string& device_type() const { return device_type_; }
    // "windows" or "linux", for the handshake replies and the pairing offer.
    std::string_view os_type() const { return os_terms().os_type; }
    std::uint16_t tcp_port() const { return tcp_port_; }
    std::uint16_t udp_port() const { return udp_port_; }
    void set_ports(std::uint16_t tcp, std::uint16_t udp) {
        tcp_port_ = tcp;
        udp_port_ = udp;
    }

    // Where the host is reached; the discovery task publishes, the
    // handshakes, the tray and the console read copies.
    SharedEndpointSnapshot& endpoints() const { return *endpoints_; }
    const std::shared_ptr<SharedEndpointSnapshot>& endpoints_handle() const { return endpoints_; }

    // Where host events go (the tray or the console); set before serving.
    void set_event_sink(std::function<void(const HostEvent&)> sink) { event_sink_ = std::move(sink); }

    // Runs f(LockedCore&) under the lock, then delivers the events it queued.
    template <typename F>
    auto with_core(F&& f) -> decltype(f(std::declval<LockedCore&>())) {
        std::vector<HostEvent> events;
        struct Deliver {
            HostShared& host;
            std::vector<HostEvent>& events;
            ~Deliver() { host.deliver(events); }
        } deliver{*this, events};
        std::lock_guard lock(mutex_);
        struct Collect {
            LockedCore& locked;
            std::vector<HostEvent>& events;
            ~Collect() { events.swap(locked.core.pending_events); }
        } collect{locked_, events};
        return f(locked_);
    }

    // Connections accepted but not yet established, under their caps.
    HandshakeGate& handshake_gate() const { return *handshake_gate_; }
    const std::shared_ptr<HandshakeGate>& handshake_gate_handle() const { return handshake_gate_; }

    // Woken when a client registers: the watchdog sleeps while none is there.
    void set_watchdog_wake(std::shared_ptr<WakeSignal> wake) { watchdog_wake_ = std::move(wake); }
    void wake_watchdog() {
        if (watchdog_wake_) watchdog_wake_->notify();
    }

    std::uint64_t monotonic_ms() const {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    }

private:
    void deliver(const std::vector<HostEvent>& events) {
        if (!event_sink_) return;
        for (const auto& event : events) event_sink_(event);
    }

    HostServices services_;
    HostIdentity identity_;
    Key32 host_public_;
    std::string host_name_;
    std::string device_type_;
    std::uint16_t tcp_port_ = 0;
    std::uint16_t udp_port_ = 0;

    std::shared_ptr<SharedEndpointSnapshot> endpoints_ = std::make_shared<SharedEndpointSnapshot>();
    std::shared_ptr<HandshakeGate> handshake_gate_ = std::make_shared<HandshakeGate>();

    std::function<void(const HostEvent&)> event_sink_;
    std::shared_ptr<WakeSignal> watchdog_wake_;
    StoreWriter store_writer_;

    std::mutex mutex_;
    LockedCore locked_;
};

// Removes a paired client from the store and ends its sessions: they leave
// the client table at once and are told "removed_by_user". The sessions end
// even when the store cannot be saved; the error says so, and the device
// comes back at the next start.
Status remove_client(HostShared& host, const std::string& client_id);
// The same, inside a step that already holds the lock.
Status remove_client(HostShared& host, LockedCore& locked, const std::string& client_id);
// Ends every session of `client_id` as a removal does ("removed_by_user"),
// inside a step that holds the lock; the store is left alone.
void end_sessions_of(LockedCore& locked, const std::string& client_id);

}  // namespace korvex::net
