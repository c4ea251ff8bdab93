#pragma once
// The host's mutable core: everything the one host lock guards apart from
// the input controller, and the small rules that act on it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/store.h"

namespace korvex {

class RandomSource;

// What the tray (or the Linux console) hears about; queued under the lock and
// delivered in order after it is released.
struct HostEvent {
    enum class Kind : std::uint8_t {
        DevicePaired = 0,
        PairingCodeRetired = 1,
        DeviceConnected = 2,
        DeviceDisconnected = 3,
        PairedListChanged = 4,
    };
    Kind kind;
    std::string text;  // device or display name where the kind has one
};

struct PairingCode {
    std::optional<std::string> code;  // six ASCII digits while a pairing is open
    std::uint8_t failed_attempts = 0;
};

inline constexpr std::uint8_t kMaxPairingFailures = 5;

struct HostCore {
    PairedStore store;
    PairingCode pairing;
    std::uint64_t next_client_id = 1;
    std::vector<HostEvent> pending_events;

    void queue(HostEvent::Kind kind, std::string text = {}) { pending_events.push_back({kind, std::move(text)}); }
};

// Six digits from a uniformly drawn 32-bit value: values above 4293999999
// are redrawn so every code is equally likely.
std::string draw_pairing_code(RandomSource& rng);
// Installs a fresh code, replacing any earlier one, and returns it.
std::string new_pairing_code(HostCore& core, RandomSource& rng);
void clear_pairing_code(HostCore& core);
// Counts a failed confirmation; the fifth retires the code.
void record_pairing_failure(HostCore& core);

}  // namespace korvex
