#pragma once
// The host's count of connections that are not yet established (the caps
// are the core's), and the ticket one such connection holds.
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/connection_limits.h"

namespace korvex::net {

class HandshakeGate;

// Held by a session from accept until it is established or ends; also
// carries the accept time its handshake deadline counts from.
class HandshakeTicket {
public:
    HandshakeTicket() = default;
    HandshakeTicket(std::shared_ptr<HandshakeGate> gate, std::string peer)
        : gate_(std::move(gate)), peer_(std::move(peer)), accepted_at_(std::chrono::steady_clock::now()) {}
    HandshakeTicket(HandshakeTicket&& other) noexcept { *this = std::move(other); }
    HandshakeTicket& operator=(HandshakeTicket&& other) noexcept;
    ~HandshakeTicket() { release(); }

    std::chrono::steady_clock::time_point accepted_at() const { return accepted_at_; }
    void release();

private:
    std::shared_ptr<HandshakeGate> gate_;
    std::string peer_;
    std::chrono::steady_clock::time_point accepted_at_{};
};

class HandshakeGate : public std::enable_shared_from_this<HandshakeGate> {
public:
    // A ticket, or nothing when a cap is reached (the caller closes at once).
    std::optional<HandshakeTicket> admit(const std::string& peer) {
        std::lock_guard lock(mutex_);
        if (!count_.try_admit(peer)) return std::nullopt;
        return HandshakeTicket(shared_from_this(), peer);
    }
    void release(const std::string& peer) {
        std::lock_guard lock(mutex_);
        count_.release(peer);
    }
    std::size_t unestablished() const {
        std::lock_guard lock(mutex_);
        return count_.total();
    }

private:
    mutable std::mutex mutex_;
    UnestablishedConnections count_;
};

inline HandshakeTicket& HandshakeTicket::operator=(HandshakeTicket&& other) noexcept {
    if (this != &other) {
        release();
        gate_ = std::move(other.gate_);
        peer_ = std::move(other.peer_);
        accepted_at_ = other.accepted_at_;
        other.gate_.reset();
    }
    return *this;
}

inline void HandshakeTicket::release() {
    if (gate_) gate_->release(peer_);
    gate_.reset();
}

}  // namespace korvex::net
