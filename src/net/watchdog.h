#pragma once
#include <asio/awaitable.hpp>
#include <memory>

namespace korvex::net {

class HostShared;
class WakeSignal;

// Ticks the input watchdog every 250 ms while clients are connected, and
// sleeps until one registers otherwise.
asio::awaitable<void> run_input_watchdog(std::shared_ptr<HostShared> host, std::shared_ptr<WakeSignal> wake);

}  // namespace korvex::net
