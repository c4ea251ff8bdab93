#pragma once
#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>
#include <memory>

namespace korvex::net {

class HostShared;

// Receives sealed input datagrams in batches of up to 32, dispatches them
// under one lock, and acknowledges those that ask for it after unlocking.
void spawn_datagram_task(asio::io_context& io, asio::ip::udp::socket socket, std::shared_ptr<HostShared> host);

}  // namespace korvex::net
