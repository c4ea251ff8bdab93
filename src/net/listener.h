#pragma once
// The host's listening sockets: one port number for TCP and UDP, IPv4 and,
// where the machine allows, IPv6.
#include <asio/awaitable.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ip/udp.hpp>
#include <cstdint>
#include <memory>
#include <optional>

#include "core/error.h"

namespace korvex::net {

class HostShared;

inline constexpr std::uint16_t kFirstPort = 49182;
inline constexpr std::uint16_t kLastPort = 49192;

struct ListenerSet {
    asio::ip::tcp::acceptor tcp_v4;
    asio::ip::udp::socket udp_v4;
    std::optional<asio::ip::tcp::acceptor> tcp_v6;
    std::optional<asio::ip::udp::socket> udp_v6;
    std::uint16_t tcp_port = 0;
    std::uint16_t udp_port = 0;
};

// Tries first_port..last_port in order (0 asks the system for any port);
// the error of the last port tried when all fail.
// The datagram sockets belong to `datagram_io`, the rest to `io`.
Result<ListenerSet> bind_listeners(asio::io_context& io, asio::io_context& datagram_io, std::uint16_t first_port,
                                   std::uint16_t last_port);

Result<asio::ip::udp::socket> bind_datagram_socket(asio::io_context& io, const asio::ip::udp::endpoint& endpoint);

// Admits local peers as sessions, closes the others; never returns.
asio::awaitable<void> run_accept_loop(asio::ip::tcp::acceptor acceptor, std::shared_ptr<HostShared> host);

}  // namespace korvex::net
