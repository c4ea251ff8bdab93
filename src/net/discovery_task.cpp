#include "net/discovery_task.h"

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

#include "core/discovery.h"
#include "net/host_shared.h"

namespace korvex::net {
namespace {

// Plain handlers rather than a coroutine: the cycle hops between two
// execution contexts, and a handler pending in either when the runtime is
// torn down is simply destroyed, whichever context goes first.
class DiscoveryTask : public std::enable_shared_from_this<DiscoveryTask> {
public:
    DiscoveryTask(asio::io_context& io, asio::thread_pool& blocking, std::shared_ptr<DiscoveryCycle> cycle,
                  std::shared_ptr<HostShared> host)
        : blocking_(blocking), pause_(io), cycle_(std::move(cycle)), host_(std::move(host)) {}

    // Interface enumeration, the local API and the command-line tool all
    // block, so a cycle runs on the pool; the next is scheduled only once
    // it has finished, so two never overlap.
    void run_cycle() {
        asio::post(blocking_, [self = shared_from_this()] {
            self->cycle_->run_cycle(self->host_->monotonic_ms());
            self->pause_.expires_after(kDiscoveryInterval);
            self->pause_.async_wait([self](const std::error_code& ec) {
                if (!ec) self->run_cycle();
            });
        });
    }

private:
    asio::thread_pool& blocking_;
    asio::steady_timer pause_;
    std::shared_ptr<DiscoveryCycle> cycle_;
    std::shared_ptr<HostShared> host_;
};

}  // namespace

void spawn_discovery(asio::io_context& io, asio::thread_pool& blocking, std::shared_ptr<DiscoveryCycle> cycle,
                     std::shared_ptr<HostShared> host) {
    std::make_shared<DiscoveryTask>(io, blocking, std::move(cycle), std::move(host))->run_cycle();
}

}  // namespace korvex::net
