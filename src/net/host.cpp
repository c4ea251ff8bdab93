#include "net/host.h"

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>

#include "core/advertisement.h"
#include "core/data_files.h"
#include "core/discovery.h"
#include "core/endpoints.h"
#include "core/pad_mapping_file.h"
#include "core/identity.h"
#include "core/store.h"
#include "net/datagram_task.h"
#include "net/discovery_task.h"
#include "net/watchdog.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/host_info.h"
#include "platform/service_advertiser.h"

namespace korvex::net {

HostRuntime::HostRuntime(unsigned workers, unsigned blocking)
    : work_(asio::make_work_guard(io_)),
      datagram_work_(asio::make_work_guard(datagrams_)),
      blocking_(0),
      worker_count_(workers) {
    // The pool's threads are ours, attached to it, so each takes its role
    // before it runs any job.
    for (unsigned i = 0; i < blocking; ++i) {
        blocking_threads_.emplace_back([this] {
            set_thread_role(ThreadRole::Network);
            blocking_.attach();
        });
    }
}

void HostRuntime::start() {
    for (unsigned i = 0; i < worker_count_; ++i) {
        workers_.emplace_back([this] {
            set_thread_role(ThreadRole::Network);
            io_.run();
        });
    }
    datagram_thread_ = std::thread([this] {
        set_thread_role(ThreadRole::Input);
        datagrams_.run();
    });
}

void HostRuntime::stop() {
    work_.reset();
    io_.stop();
    for (auto& worker : workers_) worker.join();
    workers_.clear();
    datagram_work_.reset();
    datagrams_.stop();
    if (datagram_thread_.joinable()) datagram_thread_.join();
    blocking_.stop();
    for (auto& thread : blocking_threads_) thread.join();
    blocking_threads_.clear();
}

HostRuntime::~HostRuntime() { stop(); }

std::string resolve_host_name(const Environment& env) {
    if (auto name = env.get("COMPUTERNAME")) return *name;
    if (auto name = env.get("HOSTNAME")) return *name;
    return default_host_name();
}

Result<StartupOutcome> start_host(const HostPlatform& platform, const HostOptions& options,
                                  std::function<void(const HostEvent&)> notify_event,
                                  std::function<void()> notify_status_changed) {
    crypto_init();
    StartupOutcome outcome;
    outcome.data_dir = data_dir(platform.env, platform.fs.separator());
    KORVEX_TRY(HostIdentity identity, load_or_create_identity(platform.fs, platform.protector, platform.rng, outcome.data_dir));
    PairedStore store = load_store(platform.fs, outcome.data_dir, identity.seed);

    outcome.runtime = std::make_unique<HostRuntime>(options.worker_threads, options.blocking_threads);
    asio::io_context& io = outcome.runtime->io();
    KORVEX_TRY(ListenerSet listeners, bind_listeners(io, outcome.runtime->datagrams(), options.first_port, options.last_port));
    outcome.port = listeners.tcp_port;
    outcome.host_name = resolve_host_name(platform.env);

    HostServices services{platform.fs, platform.rng, platform.clock, platform.input_sink, platform.sas};
    auto shared = std::make_shared<HostShared>(services, std::move(identity), outcome.host_name, device_type(),
                                               std::move(store));
    shared->set_ports(listeners.tcp_port, listeners.udp_port);
    shared->store_writer().set_poster([&io, &pool = outcome.runtime->blocking(),
                                       delay = options.store_refresh_delay](std::function<void()> job) {
        auto timer = std::make_shared<asio::steady_timer>(io, delay);
        timer->async_wait([timer, &pool, job = std::move(job)](std::error_code) mutable {
            asio::post(pool, std::move(job));
        });
    });
    shared->set_event_sink(std::move(notify_event));
    // A missing or bad mapping file gives the defaults; the probe of the
    // driver may take seconds, so neither runs under the lock.
    const GamepadMapping mapping = load_mapping(platform.fs, outcome.data_dir);
    shared->with_core([&](LockedCore& locked) { install_mapping(locked.input, locked.gamepad, mapping); });
    const PadProbe probe = platform.pad_bus ? probe_virtual_pad(*platform.pad_bus) : PadProbe{};
    const std::shared_ptr<VirtualPad>& pad = probe.pad;
    outcome.pad_probe = probe.result;
    outcome.vigem_missing = probe.result == PadProbeResult::NoBus;
    if (pad) shared->with_core([&](LockedCore& locked) { install_virtual_pad(locked.input, locked.gamepad, pad); });

    // The first menu and the first handshakes already list the addresses.
    shared->endpoints().publish(collect_local_endpoints(platform.system));
    outcome.shared = shared;

    std::optional<AdvertisementConfig> advertisement;
    if (platform.start_responder) {
        auto responder = platform.start_responder();
        if (responder) {
            advertisement = AdvertisementConfig{shared->identity().host_id, outcome.host_name, shared->host_public(),
                                                listeners.tcp_port, std::shared_ptr<ServiceAdvertiser>(std::move(*responder)),
                                                std::string(shared->os_type())};
        } else {
            outcome.advertisement_error = responder.error().text;
        }
    }
    auto discovery = std::make_shared<DiscoveryCycle>(platform.system, platform.tailscale, shared->endpoints_handle(),
                                                      std::move(advertisement), std::move(notify_status_changed));

    auto watchdog_strand = asio::make_strand(io);
    auto watchdog_wake = std::make_shared<WakeSignal>(watchdog_strand);
    shared->set_watchdog_wake(watchdog_wake);

    asio::co_spawn(io, run_accept_loop(std::move(listeners.tcp_v4), shared), asio::detached);
    if (listeners.tcp_v6) asio::co_spawn(io, run_accept_loop(std::move(*listeners.tcp_v6), shared), asio::detached);
    asio::io_context& datagram_io = outcome.runtime->datagrams();
    spawn_datagram_task(datagram_io, std::move(listeners.udp_v4), shared);
    if (listeners.udp_v6) spawn_datagram_task(datagram_io, std::move(*listeners.udp_v6), shared);
    auto motion_strand = asio::make_strand(io);
    auto motion_wake = std::make_shared<WakeSignal>(motion_strand);
    shared->with_core([&](LockedCore& locked) {
        locked.gamepad.set_motion_started([weak = std::weak_ptr<WakeSignal>(motion_wake)] {
            if (auto wake = weak.lock()) wake->notify();
        });
    });
    asio::co_spawn(motion_strand, run_motion_task(shared, std::move(motion_wake)), asio::detached);
    asio::co_spawn(watchdog_strand, run_input_watchdog(shared, watchdog_wake), asio::detached);
    spawn_discovery(io, outcome.runtime->blocking(), std::move(discovery), shared);

    outcome.runtime->start();
    return outcome;
}

void stop_host(StartupOutcome& outcome) {
    // Tasks first: an event dispatched after the release would press a key
    // that stays down once the process has gone.
    if (outcome.runtime) outcome.runtime->stop();
    if (outcome.shared) {
        outcome.shared->with_core([](LockedCore& locked) {
            locked.input.release_all();
            // Sessions stopped with the runtime never ran their clean-up;
            // their entries and the watchdog's wake-up hold timers of the
            // runtime's io_context, so they must go before it does.
            locked.sessions.clear();
        });
        outcome.shared->set_watchdog_wake(nullptr);
        outcome.shared->store_writer().set_poster(nullptr);
        outcome.shared->store_writer().flush();
    }
    outcome.runtime.reset();
}

Result<RunningHost> start_running_host(const HostPlatform& platform, const HostOptions& options,
                                       std::function<void(const HostEvent&)> notify_event,
                                       std::function<void()> notify_status_changed) {
    KORVEX_TRY(StartupOutcome outcome,
               start_host(platform, options, std::move(notify_event), std::move(notify_status_changed)));
    return Result<RunningHost>(std::in_place, std::move(outcome));
}

std::string start_pairing(HostShared& host) {
    return host.with_core([&](LockedCore& locked) { return new_pairing_code(locked.core, host.services().rng); });
}

void withdraw_pairing_code(HostShared& host) {
    host.with_core([](LockedCore& locked) { clear_pairing_code(locked.core); });
}

}  // namespace korvex::net
