#pragma once
// Start-up of the host shared by the Windows and Linux programs: data folder,
// identity, store, runtime, listeners, host name, shared state and tasks.
// Each program adds only its own face (tray, console) around it.
#include <chrono>

#include <asio/io_context.hpp>
#include <asio/thread_pool.hpp>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/error.h"
#include "core/host_core.h"
#include "core/pad_virtual.h"
#include "platform/service_advertiser.h"
#include "net/host_platform.h"
#include "net/host_shared.h"
#include "net/listener.h"

namespace korvex {
class Environment;
class SecretProtector;
class SystemInfo;
class TailscaleClient;
class PadBus;
}  // namespace korvex

namespace korvex::net {

struct HostOptions {
    std::uint16_t first_port = kFirstPort;
    std::uint16_t last_port = kLastPort;
    unsigned worker_threads = 4;
    unsigned blocking_threads = 3;
    // How long an authentication's lastSeenUnix refresh waits before it is
    // written, taking every refresh of that time along: what a crash may
    // lose of them.
    std::chrono::milliseconds store_refresh_delay{1000};
};

// The asynchronous runtime: worker threads running one io_context, a
// thread for the datagrams and a small pool for blocking work. Destroying
// it stops every task.
class HostRuntime {
public:
    HostRuntime(unsigned workers, unsigned blocking);
    ~HostRuntime();
    HostRuntime(const HostRuntime&) = delete;
    HostRuntime& operator=(const HostRuntime&) = delete;

    asio::io_context& io() { return io_; }
    // The datagram sockets' own context and thread: a datagram goes from
    // the socket to the sink on the thread that saw it arrive, with no
    // hand-off between threads.
    asio::io_context& datagrams() { return datagrams_; }
    asio::thread_pool& blocking() { return blocking_; }
    void start();
    void stop();

private:
    asio::io_context io_;
    asio::executor_work_guard<asio::io_context::executor_type> work_;
    asio::io_context datagrams_{1};
    asio::executor_work_guard<asio::io_context::executor_type> datagram_work_;
    std::thread datagram_thread_;
    asio::thread_pool blocking_;
    std::vector<std::thread> blocking_threads_;
    unsigned worker_count_;
    std::vector<std::thread> workers_;
};

struct StartupOutcome {
    std::unique_ptr<HostRuntime> runtime;
    std::string host_name;
    std::string data_dir;
    std::shared_ptr<HostShared> shared;
    std::uint16_t port = 0;
    // Why the host is not advertised over mDNS, when it is not.
    std::optional<std::string> advertisement_error;
    // How the virtual controller's probe ended; pad_probe_notice gives the
    // tray's notice for it.
    PadProbeResult pad_probe = PadProbeResult::NoBus;
    // No bus driver was found (not: found, but the controller failed).
    bool vigem_missing = false;
};

// COMPUTERNAME, else HOSTNAME, else the platform's default; empty values are
// used as they are.
std::string resolve_host_name(const Environment& env);

Result<StartupOutcome> start_host(const HostPlatform& platform, const HostOptions& options,
                                  std::function<void(const HostEvent&)> notify_event,
                                  std::function<void()> notify_status_changed);

// Stops the runtime (every task), releases everything clients still hold
// and writes the store if a refresh is still waiting.
void stop_host(StartupOutcome& outcome);

// A started host that stops itself: destroying it runs stop_host's order.
// Moving leaves the source empty (its destruction then does nothing).
class RunningHost {
public:
    explicit RunningHost(StartupOutcome outcome) : outcome_(std::move(outcome)) {}
    ~RunningHost() { stop_host(outcome_); }
    RunningHost(RunningHost&&) noexcept = default;
    RunningHost& operator=(RunningHost&&) = delete;
    RunningHost(const RunningHost&) = delete;
    RunningHost& operator=(const RunningHost&) = delete;

    StartupOutcome& outcome() { return outcome_; }
    const StartupOutcome& outcome() const { return outcome_; }
    HostShared& shared() const { return *outcome_.shared; }
    std::uint16_t port() const { return outcome_.port; }
    const std::string& data_dir() const { return outcome_.data_dir; }

private:
    StartupOutcome outcome_;
};

// start_host, owned: the host stops when the result goes.
Result<RunningHost> start_running_host(const HostPlatform& platform, const HostOptions& options,
                                       std::function<void(const HostEvent&)> notify_event,
                                       std::function<void()> notify_status_changed);

// Draws a new pairing code (replacing any other) and returns it.
std::string start_pairing(HostShared& host);
void withdraw_pairing_code(HostShared& host);

}  // namespace korvex::net
