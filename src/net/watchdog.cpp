#include "net/watchdog.h"

#include <asio/this_coro.hpp>

#include "net/host_shared.h"

namespace korvex::net {

asio::awaitable<void> run_input_watchdog(std::shared_ptr<HostShared> host, std::shared_ptr<WakeSignal> wake) {
    using namespace std::chrono_literals;
    // Ticks use a timer of their own: registrations must not delay them.
    asio::steady_timer tick(co_await asio::this_coro::executor);
    for (;;) {
        bool any = host->with_core([](LockedCore& locked) { return locked.input.has_clients(); });
        if (!any) {
            // A registration wakes us; the long limit only bounds the sleep.
            co_await wake->wait_for(1h);
            continue;
        }
        tick.expires_after(250ms);
        co_await tick.async_wait(asio::experimental::as_tuple(asio::use_awaitable));
        std::uint64_t now = host->monotonic_ms();
        host->with_core([now](LockedCore& locked) { locked.input.input_watchdog(now); });
    }
}

asio::awaitable<void> run_motion_task(std::shared_ptr<HostShared> host, std::shared_ptr<WakeSignal> wake) {
    asio::steady_timer tick(co_await asio::this_coro::executor);
    for (;;) {
        // Idle ticks would wake a worker and take the lock 125 times a
        // second for nothing, in the way of everyone's input. The check and
        // the wait run in one step of this strand, so a start is not missed.
        if (!host->with_core([](LockedCore& locked) { return locked.gamepad.motion_active(); })) {
            co_await wake->wait_for(std::chrono::hours(1));
            continue;
        }
        tick.expires_after(GamepadEngine::kMotionPeriod);
        auto [ec] = co_await tick.async_wait(asio::experimental::as_tuple(asio::use_awaitable));
        if (ec) co_return;
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        host->with_core([now](LockedCore& locked) { locked.gamepad.motion_tick(now); });
    }
}

}  // namespace korvex::net
