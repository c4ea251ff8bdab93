#pragma once
// The periodic discovery task: one cycle on the blocking pool, then a pause,
// for as long as the runtime runs.
#include <asio/awaitable.hpp>
#include <asio/thread_pool.hpp>
#include <memory>

namespace korvex {
class DiscoveryCycle;
}

namespace korvex::net {

class HostShared;

asio::awaitable<void> run_discovery(std::shared_ptr<DiscoveryCycle> cycle, std::shared_ptr<HostShared> host,
                                    asio::thread_pool& blocking);

}  // namespace korvex::net
