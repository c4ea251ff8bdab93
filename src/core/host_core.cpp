#include "core/host_core.h"

#include <cstdio>

#include "platform/random_source.h"

namespace korvex {

std::string draw_pairing_code(RandomSource& rng) {
    std::uint32_t value = 0;
    do {
        ByteArray<4> raw{};
        rng.fill(raw);
        value = get_u32_le(raw.data());
    } while (value > 4293999999u);
    char digits[8];
    std::snprintf(digits, sizeof digits, "%06u", static_cast<unsigned>(value % 1000000u));
    return digits;
}

std::string new_pairing_code(HostCore& core, RandomSource& rng) {
    core.pairing.code = draw_pairing_code(rng);
    core.pairing.failed_attempts = 0;
    return *core.pairing.code;
}

void clear_pairing_code(HostCore& core) { core.pairing.code.reset(); }

void record_pairing_failure(HostCore& core) {
    if (!core.pairing.code) return;
    if (++core.pairing.failed_attempts >= kMaxPairingFailures) {
        core.pairing.code.reset();
        core.queue(HostEvent::Kind::PairingCodeRetired);
    }
}

}  // namespace korvex
