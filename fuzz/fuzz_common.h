#pragma once
// What the harnesses and the seed generator must agree on: the fixed keys,
// the in-memory host a handshake runs against, and the client that makes the
// seeds. Everything is deterministic, so a seed recorded once replays the same
// conversation in every run.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "core/crypto.h"
#include "core/handshake.h"
#include "core/host_core.h"
#include "core/identity.h"
#include "core/messages.h"
#include "core/store.h"
#include "support/fakes.h"

// A broken invariant: report it the way libFuzzer reports a crash.
#define KORVEX_FUZZ_CHECK(cond)                                                                 \
    do {                                                                                        \
        if (!(cond)) {                                                                          \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #cond);   \
            std::abort();                                                                       \
        }                                                                                       \
    } while (0)

namespace korvex::fuzz {

inline Key32 filled_key(std::uint8_t value) {
    Key32 key{};
    key.fill(value);
    return key;
}

// Session key of the frame harness and datagram key of client 1 (client 2
// uses kDatagramKey2).
inline const Key32 kSessionKey = filled_key(0x11);
inline const Key32 kDatagramKey2 = filled_key(0x22);
// Store MAC key of the store harness (derived from this seed).
inline const Key32 kStoreSeed = filled_key(0x42);

// ---- the handshake's host ----

inline constexpr std::string_view kPeerIp = "192.168.1.7";
inline constexpr std::string_view kPairingCode = "000123";
inline constexpr std::uint64_t kNowUnix = 1700000000;
inline constexpr std::string_view kStoredClientId = "phone-1";

// Byte 0 of a handshake input: the host's state when the connection opens.
namespace host_flags {
inline constexpr std::uint8_t kCodeActive = 0x01;    // the pairing code 000123 is open
inline constexpr std::uint8_t kClientStored = 0x02;  // "phone-1" is paired
inline constexpr std::uint8_t kSaveFails = 0x04;     // every store write fails
inline constexpr std::uint8_t kBadStoredKey = 0x08;  // the stored record's key is not 64 hex digits
// Bits 4..6: failed pairing attempts already counted (0..7).
inline std::uint8_t failed_attempts(std::uint8_t flags) { return static_cast<std::uint8_t>(flags >> 4 & 7); }
}  // namespace host_flags

// The paired client's long-term key and the fresh keys of its connection.
struct FuzzClient {
    Key32 seed = filled_key(0x5C);
    Key32 ed_public{};
    X25519KeyPair ephemeral{};
    Nonce16 nonce{};
    std::string client_id{kStoredClientId};

    FuzzClient() {
        crypto_init();
        ed_public = ed25519_public_key(seed);
        ephemeral.private_key = filled_key(0x33);
        ephemeral.public_key = x25519_public(ephemeral.private_key);
        nonce.fill(0x44);
    }
};

// One connection's host: identity, endpoints, locked core and files, built
// the same way for every input.
struct FuzzHost {
    HostIdentity identity;
    Key32 host_public{};
    std::vector<std::string> lan{"192.168.1.20:49182"};
    std::vector<std::string> ts{"100.101.102.103:49182", "desk.example.ts.net:49182"};
    test::CountingRandom rng{7};
    test::MemoryFileSystem fs;
    DirectStoreSaver saver{fs};
    HostCore core;

    explicit FuzzHost(std::uint8_t flags) {
        crypto_init();
        identity.host_id = "3f0c2a4e-7d61-4b8e-9a57-0c1d2e3f4a5b";
        identity.seed = filled_key(0x21);
        host_public = ed25519_public_key(identity.seed);
        core.store.dir = "/data";
        core.store.path = "/data/paired_devices.json";
        core.store.store_key = derive_store_key(identity.seed);
        if (flags & host_flags::kCodeActive) core.pairing.code = std::string(kPairingCode);
        core.pairing.failed_attempts = host_flags::failed_attempts(flags);
        if (flags & host_flags::kClientStored) {
            FuzzClient client;
            std::string key_hex = hex_lower(client.ed_public);
            if (flags & host_flags::kBadStoredKey) key_hex.pop_back();
            core.store.clients.push_back(
                {client.client_id, "Phone A", "Pixel", key_hex, kNowUnix - 100, kNowUnix - 50, "192.168.1.9"});
        }
        fs.fail_write = (flags & host_flags::kSaveFails) != 0;
    }

    HandshakeOutcome step(HandshakeState& state, std::uint8_t type, ByteView body) {
        HandshakeContext ctx{identity, host_public, "Desk", 49182, lan, ts, "desktop", rng, saver, kNowUnix};
        return handle_handshake_frame(state, type, body, core, ctx, kPeerIp);
    }
};

}  // namespace korvex::fuzz
