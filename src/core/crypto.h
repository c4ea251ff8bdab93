#pragma once
// Primitives and key schedule of the protocol: X25519, Ed25519, SHA-256,
// HMAC-SHA-256, HKDF-SHA-256 and ChaCha20-Poly1305, all over libsodium.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/bytes.h"

namespace korvex {

class RandomSource;

using Key32 = ByteArray<32>;
using Nonce16 = ByteArray<16>;
using Signature = ByteArray<64>;

// Overwrites secrets in a way the compiler cannot drop (sodium_memzero).
void wipe(std::span<std::uint8_t> secret);
// Wipes a text's whole buffer (the inline one of short strings too), then empties it.
void wipe_text(std::string& text);
// Constant time (sodium_is_zero): for the all-zero checks of shared secrets.
bool is_all_zero(ByteView bytes);

// The one type secrets live in: N bytes that wipe themselves when they go,
// so copies, moves and temporaries leave nothing behind. Reads as the plain
// array it wraps.
template <std::size_t N>
struct Secret : ByteArray<N> {
    Secret() : ByteArray<N>{} {}
    Secret(const ByteArray<N>& bytes) : ByteArray<N>(bytes) {}  // NOLINT: taking a plain copy in is the point
    Secret(const Secret&) = default;
    Secret& operator=(const Secret&) = default;
    Secret& operator=(const ByteArray<N>& bytes) {
        ByteArray<N>::operator=(bytes);
        return *this;
    }
    ~Secret() { wipe(std::span<std::uint8_t>(this->data(), N)); }
};
using SecretKey = Secret<32>;

inline constexpr std::size_t kTagSize = 16;
// Plaintext limit of one sealed frame: keeps the frame length field at 65536.
inline constexpr std::size_t kMaxSealedPlaintext = 0xFFEF;

// Makes sure libsodium is initialised; cheap after the first call.
void crypto_init();

void random_bytes(RandomSource& rng, std::span<std::uint8_t> out);

struct X25519KeyPair {
    SecretKey private_key;
    Key32 public_key;
};
X25519KeyPair x25519_keypair(RandomSource& rng);
// All zero when the peer key is of small order: callers treat that as a failed handshake.
SecretKey x25519_shared(const Key32& private_key, const Key32& peer_public);
Key32 x25519_public(const Key32& private_key);

Key32 ed25519_public_key(const Key32& seed);
Signature ed25519_sign(const Key32& seed, ByteView message);
bool ed25519_verify(const Key32& public_key, ByteView message, const Signature& signature);

Key32 sha256(ByteView data);
Key32 hmac_sha256(ByteView key, ByteView data);
// RFC 5869 with SHA-256; a length above 8160 is a programming error (abort).
Bytes hkdf_sha256(ByteView ikm, ByteView salt, ByteView info, std::size_t length);

// False when lengths differ; otherwise compares every byte without an early exit.
bool ct_equal(ByteView a, ByteView b);

// First 16 lower-case hex digits of SHA-256 over the host's Ed25519 public key.
std::string host_fingerprint(const Key32& host_ed25519_public);

// Key of the paired-device store's MAC.
SecretKey derive_store_key(const Key32& host_seed);

// Direction tags at the start of every 12-byte nonce.
enum class NonceTag { HostTcp, ClientTcp, HostUdp, ClientUdp };
ByteArray<12> make_nonce(NonceTag tag, std::uint64_t counter);

// RFC 8439 AEAD; ciphertext and tag are written back to back.
Bytes aead_seal(const Key32& key, const ByteArray<12>& nonce, ByteView aad, ByteView plaintext);
std::optional<Bytes> aead_open(const Key32& key, const ByteArray<12>& nonce, ByteView aad, ByteView sealed);

// Which side of the TCP stream this end is: it seals with its own tag and
// opens with the peer's.
enum class Side { Host, Client };

// Session key and frame counters of one established session.
class SessionCrypto {
public:
    SessionCrypto(const Key32& key, Side side) : key_(key), side_(side) {}
    SessionCrypto(const SessionCrypto&) = delete;
    SessionCrypto& operator=(const SessionCrypto&) = delete;

    const Key32& key() const { return key_; }
    std::uint64_t send_counter() const { return send_counter_; }
    std::uint64_t receive_counter() const { return receive_counter_; }

    // Ciphertext + tag, or nothing when the plaintext is above the limit. The
    // send counter advances either way, so a nonce is never used twice.
    std::optional<Bytes> seal_frame_body(std::uint8_t type, ByteView plaintext);
    // Plaintext, or nothing; the receive counter advances only on success.
    std::optional<Bytes> open_frame_body(std::uint8_t type, std::uint32_t length_field, ByteView sealed);

private:
    SecretKey key_;
    Side side_;
    std::uint64_t send_counter_ = 0;
    std::uint64_t receive_counter_ = 0;
};

// The two transcripts that are signed, MACed and fed to HKDF. No length
// prefixes: the fixed-size fields keep them apart.
Bytes pairing_transcript(std::string_view client_id, std::string_view host_id, const Key32& client_x25519,
                         const Key32& host_x25519, const Key32& client_ed25519, const Key32& host_ed25519,
                         const Nonce16& client_nonce, const Nonce16& host_nonce);
Bytes auth_transcript(std::string_view client_id, std::string_view host_id, const Key32& client_x25519,
                      const Key32& host_x25519, const Nonce16& client_nonce, const Nonce16& host_nonce);

struct PairingKeys {
    SecretKey session_key;
    SecretKey confirm_key;
};
// HKDF(shared, salt = the six code digits, info = X), split in halves.
PairingKeys derive_pairing_keys(const Key32& shared, std::string_view code_digits, ByteView pairing_transcript);
Key32 client_confirm_mac(const Key32& confirm_key, ByteView pairing_transcript);
Key32 host_confirm_mac(const Key32& confirm_key, ByteView pairing_transcript);
// HKDF(shared, salt = client nonce || host nonce, info = T).
SecretKey derive_auth_session_key(const Key32& shared, const Nonce16& client_nonce, const Nonce16& host_nonce,
                                  ByteView auth_transcript);

}  // namespace korvex
