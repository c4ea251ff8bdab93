#pragma once
// The periodic discovery task: one cycle on the blocking pool, then a pause
// on the runtime's timer, for as long as the runtime runs.
#include <asio/io_context.hpp>
#include <asio/thread_pool.hpp>
#include <memory>

namespace korvex {
class DiscoveryCycle;
}

namespace korvex::net {

class HostShared;

void spawn_discovery(asio::io_context& io, asio::thread_pool& blocking, std::shared_ptr<DiscoveryCycle> cycle,
                     std::shared_ptr<HostShared> host);

}  // namespace korvex::net
