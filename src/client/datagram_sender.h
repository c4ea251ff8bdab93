#pragma once
// Input events as sealed UDP datagrams to the host's datagram port. The host
// only accepts them from the address of a client whose TCP session is
// established, under that session's key, so the sender is made from such a
// connection (or from its parts, for tests).
//
//   auto sender = DatagramSender::open(connection);
//   InputEvent e = key_event(0x04, KeyAction::Down);
//   e.seq = 1001;
//   e.flags |= kDatagramAckRequested;   // wait for the acknowledgement
//   sender->send(e);
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "core/bytes.h"
#include "core/crypto.h"
#include "core/datagram.h"
#include "core/error.h"
#include "core/input_event.h"

namespace korvex::client {

class Connection;

class DatagramSender {
public:
    // How long send() waits for one acknowledgement, and how often it sends.
    static constexpr std::chrono::milliseconds kAckWait{300};
    static constexpr int kAckTries = 4;

    // To `host_address` (an IP address text, no brackets), port `udp_port`,
    // sealed with `session_key`.
    static Result<DatagramSender> open(std::string_view host_address, std::uint16_t udp_port, const Key32& session_key);
    // To the host of an established connection: its address, datagram port and session key.
    static Result<DatagramSender> open(const Connection& connection);

    ~DatagramSender();
    DatagramSender(DatagramSender&&) noexcept;
    DatagramSender& operator=(DatagramSender&&) noexcept;

    void set_ack_policy(std::chrono::milliseconds wait, int tries);

    // Seals and sends the event as it is. With the acknowledgement flag set
    // (flags bit 0) it waits for the host's acknowledgement of this seq,
    // sending the same datagram again after each wait, and fails when none
    // comes after the last try.
    Status send(const InputEvent& event);

    // ---- low-level hooks ----
    Status send_raw(ByteView bytes);
    // The next datagram from the host, up to 64 bytes, unchecked; nothing on time-out.
    Result<std::optional<Bytes>> receive_raw(std::chrono::milliseconds timeout);
    std::uint16_t local_port() const;

private:
    DatagramSender();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace korvex::client
