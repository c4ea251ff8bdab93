#include "net/discovery_task.h"

#include <asio/co_spawn.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "core/discovery.h"
#include "net/host_shared.h"

namespace korvex::net {

asio::awaitable<void> run_discovery(std::shared_ptr<DiscoveryCycle> cycle, std::shared_ptr<HostShared> host,
                                    asio::thread_pool& blocking) {
    asio::steady_timer pause(co_await asio::this_coro::executor);
    for (;;) {
        // Interface enumeration, the local API and the command-line tool all
        // block; they run on the pool so no worker waits on them. One cycle
        // at a time: the next starts only after this one is awaited.
        const std::uint64_t now = host->monotonic_ms();
        co_await asio::co_spawn(
            blocking, [cycle, now]() -> asio::awaitable<void> {
                cycle->run_cycle(now);
                co_return;
            },
            asio::use_awaitable);
        pause.expires_after(kDiscoveryInterval);
        auto [ec] = co_await pause.async_wait(asio::experimental::as_tuple(asio::use_awaitable));
        if (ec) co_return;
    }
}

}  // namespace korvex::net
