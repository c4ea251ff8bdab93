#include "core/host_core.h"

#include <cstdio>

#include "core/crypto.h"
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
    std::string code(digits);
    wipe(std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(digits), sizeof digits));
    return code;
}

namespace {

// The code is a secret: its text is wiped before it is dropped or replaced.
void drop_code(PairingCode& pairing) {
    if (pairing.code) wipe_text(*pairing.code);
    pairing.code.reset();
}

}  // namespace

std::string new_pairing_code(HostCore& core, RandomSource& rng) {
    drop_code(core.pairing);
    core.pairing.code = draw_pairing_code(rng);
    core.pairing.failed_attempts = 0;
    return *core.pairing.code;
}

void clear_pairing_code(HostCore& core) { drop_code(core.pairing); }

void record_pairing_failure(HostCore& core) {
    if (!core.pairing.code) return;
    if (++core.pairing.failed_attempts >= kMaxPairingFailures) {
        drop_code(core.pairing);
        core.queue(HostEvent::Kind::PairingCodeRetired);
    }
}

}  // namespace korvex
