#pragma once
// The discovery cycle: every 10 seconds the interfaces are read, the Tailscale
// status is refreshed when it is due, the shared snapshot is published, the
// mDNS advertisement follows it, and the tray hears of real changes only.
//
// The decisions are pure functions of (state, addresses, now); the I/O goes
// through the SystemInfo, TailscaleClient and ServiceAdvertiser seams, so the
// cycle itself is plain blocking code that the runtime runs on its blocking
// pool, with a monotonic millisecond clock passed in.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "core/advertisement.h"
#include "core/endpoints.h"
#include "core/tailscale_status.h"

namespace korvex {

class SystemInfo;
class TailscaleClient;

// Pause between the end of one cycle and the start of the next.
inline constexpr std::chrono::seconds kDiscoveryInterval{10};
// Connection, request and response of the local API together.
inline constexpr std::chrono::milliseconds kLocalApiDeadline{800};
// A hung command-line tool must not stall discovery for ever.
inline constexpr std::chrono::seconds kStatusCommandLimit{10};
// Age at which the cached status is refreshed, with and without a Tailscale
// address on the interfaces.
inline constexpr std::uint64_t kStatusMaxAgeWithTailscaleMs = 30'000;
inline constexpr std::uint64_t kStatusMaxAgeWithoutTailscaleMs = 60'000;

struct CachedTsStatus {
    std::optional<TsStatus> status;  // none: no status was available
    std::uint64_t obtained_ms = 0;
};

struct DiscoveryState {
    std::optional<CachedTsStatus> cached;       // none before the first query
    std::vector<IpAddress> previous_tailscale;  // interface Tailscale addresses of the last cycle
};

// Whether this cycle asks the Tailscale client: before the first query, when
// the interface Tailscale addresses changed since the last cycle, or when
// the cached status is 30 s old (with Tailscale addresses) or 60 s old
// (without).
bool should_refresh_status(const DiscoveryState& state, std::span<const IpAddress> current_tailscale,
                           std::uint64_t now_ms);

// Asks the local API first when the interfaces show a Tailscale address,
// and the command-line tool when there is none or the local API fails in any
// way. Nothing when neither yields a status document.
std::optional<TsStatus> fetch_ts_status(TailscaleClient& client, bool has_tailscale_address);

class DiscoveryCycle {
public:
    // `advertisement` is absent when the responder could not be started.
    // `notify_status_changed` posts the tray's refresh; it must not block.
    DiscoveryCycle(SystemInfo& system, TailscaleClient& tailscale, std::shared_ptr<SharedEndpointSnapshot> shared,
                   std::optional<AdvertisementConfig> advertisement, std::function<void()> notify_status_changed);

    // One cycle. Blocking (interface enumeration, up to 0.8 s of local API
    // and up to 10 s of the command-line tool): run it on the blocking pool,
    // never two at once. True when the published snapshot changed.
    bool run_cycle(std::uint64_t now_ms);

    const DiscoveryState& state() const { return state_; }
    const RegistrationRecord& registration() const { return registration_; }

private:
    SystemInfo& system_;
    TailscaleClient& tailscale_;
    std::shared_ptr<SharedEndpointSnapshot> shared_;
    std::optional<AdvertisementConfig> advertisement_;
    std::function<void()> notify_status_changed_;
    DiscoveryState state_;
    RegistrationRecord registration_;
};

}  // namespace korvex
