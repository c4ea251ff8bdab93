#include "core/discovery.h"

#include <algorithm>

#include "platform/tailscale_client.h"

namespace korvex {

bool should_refresh_status(const DiscoveryState& state, std::span<const IpAddress> current_tailscale,
                           std::uint64_t now_ms) {
    if (!state.cached) return true;
    if (!std::equal(current_tailscale.begin(), current_tailscale.end(), state.previous_tailscale.begin(),
                    state.previous_tailscale.end()))
        return true;
    // A clock that went backwards reads as a fresh cache, not as a huge age.
    const std::uint64_t age = now_ms >= state.cached->obtained_ms ? now_ms - state.cached->obtained_ms : 0;
    const std::uint64_t max_age =
        current_tailscale.empty() ? kStatusMaxAgeWithoutTailscaleMs : kStatusMaxAgeWithTailscaleMs;
    return age >= max_age;
}

std::optional<TsStatus> fetch_ts_status(TailscaleClient& client, bool has_tailscale_address) {
    if (has_tailscale_address) {
        // Room for the header block on top of the largest document read.
        constexpr std::size_t kMaxResponse = kMaxStatusBytes + (64u << 10);
        auto response = client.local_api_exchange(kLocalApiStatusRequest, kLocalApiDeadline, kMaxResponse);
        if (response) {
            if (auto body = local_api_response_body(*response)) {
                if (auto status = parse_ts_status(*body)) return std::move(*status);
            }
        }
    }
    auto output = client.run_status_command(kStatusCommandLimit, kMaxStatusBytes);
    if (!output || output->exit_code != 0) return std::nullopt;
    auto status = parse_ts_status(output->standard_output);
    if (!status) return std::nullopt;
    return std::move(*status);
}

DiscoveryCycle::DiscoveryCycle(SystemInfo& system, TailscaleClient& tailscale,
                               std::shared_ptr<SharedEndpointSnapshot> shared,
                               std::optional<AdvertisementConfig> advertisement,
                               std::function<void()> notify_status_changed)
    : system_(system),
      tailscale_(tailscale),
      shared_(std::move(shared)),
      advertisement_(std::move(advertisement)),
      notify_status_changed_(std::move(notify_status_changed)) {}

bool DiscoveryCycle::run_cycle(std::uint64_t now_ms) {
    EndpointSnapshot current = collect_local_endpoints(system_);

    if (should_refresh_status(state_, current.tailscale_addresses, now_ms)) {
        state_.cached = CachedTsStatus{fetch_ts_status(tailscale_, !current.tailscale_addresses.empty()), now_ms};
    }
    state_.previous_tailscale = current.tailscale_addresses;

    if (state_.cached && state_.cached->status) merge_ts_status(current, *state_.cached->status);

    const bool changed = shared_->publish(current);
    if (advertisement_) update_advertisement(current, *advertisement_, registration_);
    if (changed && notify_status_changed_) notify_status_changed_();
    return changed;
}

}  // namespace korvex
