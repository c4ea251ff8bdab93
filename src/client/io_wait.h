#pragma once
// Blocking calls on top of Asio's asynchronous operations: start one
// operation, run the io_context until it completes or the time-out passes.
#include <asio/io_context.hpp>
#include <chrono>

namespace korvex::client {

// Runs `io` until `done` is set or `timeout` passes. On time-out `cancel`
// aborts the pending operation and its handler still runs before this
// returns, so nothing refers to the caller's locals afterwards. False after a
// cancel; the handler may then still report success when the operation
// completed just as the time ran out, so callers judge by its error code.
template <typename Cancel>
bool run_until(asio::io_context& io, std::chrono::milliseconds timeout, const bool& done, Cancel&& cancel) {
    io.restart();
    if (timeout.count() > 0)
        io.run_for(timeout);
    else
        io.poll();
    if (done) return true;
    cancel();
    io.restart();
    io.run();
    return false;
}

}  // namespace korvex::client
