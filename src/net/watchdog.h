#pragma once
// The periodic input tasks: the watchdog, and the gamepad's pointer motion.
#include <asio/awaitable.hpp>
#include <memory>

namespace korvex::net {

class HostShared;
class WakeSignal;

// Ticks the input watchdog every 250 ms while clients are connected, and
// sleeps until one registers otherwise.
asio::awaitable<void> run_input_watchdog(std::shared_ptr<HostShared> host, std::shared_ptr<WakeSignal> wake);

// Every 8 ms while the gamepad mapping's sticks move the pointer or the
// wheel: movement from the time since the last tick. Sleeps while there is
// no motion; the engine's motion-started hook wakes it.
asio::awaitable<void> run_motion_task(std::shared_ptr<HostShared> host, std::shared_ptr<WakeSignal> wake);

}  // namespace korvex::net
