#pragma once
// A wake-up notification for one task: any thread may notify; the task waits
// with a time limit. The cancel is posted to the task's own executor, so a
// notification that races with the start of a wait is never lost: it runs
// either before the task looks at its condition or while it waits.
#include <asio/any_io_executor.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/awaitable.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <chrono>
#include <memory>

namespace korvex::net {

class WakeSignal : public std::enable_shared_from_this<WakeSignal> {
public:
    explicit WakeSignal(asio::any_io_executor executor) : timer_(std::move(executor)) {}

    void notify() {
        asio::post(timer_.get_executor(), [self = shared_from_this()] { self->timer_.cancel(); });
    }

    // The timer itself, for waits combined with other operations; a cancel
    // means "woken", expiry means "timed out".
    asio::steady_timer& timer() { return timer_; }

    // True when woken, false when the time ran out.
    asio::awaitable<bool> wait_for(std::chrono::steady_clock::duration limit) {
        timer_.expires_after(limit);
        auto [ec] = co_await timer_.async_wait(asio::experimental::as_tuple(asio::use_awaitable));
        co_return static_cast<bool>(ec);
    }

private:
    asio::steady_timer timer_;
};

}  // namespace korvex::net
