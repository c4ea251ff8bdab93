#pragma once
#include <asio/awaitable.hpp>
#include <asio/ip/tcp.hpp>
#include <memory>

namespace korvex::net {

class HostShared;

// One accepted connection, from the first handshake frame to the clean-up.
asio::awaitable<void> run_session(asio::ip::tcp::socket socket, std::shared_ptr<HostShared> host);

}  // namespace korvex::net
