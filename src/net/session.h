#pragma once
#include <asio/awaitable.hpp>
#include <asio/ip/tcp.hpp>
#include <memory>

#include "net/handshake_gate.h"

namespace korvex::net {

class HostShared;

// One accepted connection, from the first handshake frame to the clean-up.
// The ticket counts it as unestablished until it is established; the
// handshake must be done 10 s after its accept time.
asio::awaitable<void> run_session(asio::ip::tcp::socket socket, std::shared_ptr<HostShared> host,
                                  HandshakeTicket ticket);

}  // namespace korvex::net
