#include "core/crypto.h"

#include <sodium.h>

#include <cstdlib>
#include <cstring>

#include "platform/random_source.h"

namespace korvex {

void crypto_init() {
    // sodium_init is thread-safe and idempotent; a failure leaves nothing usable.
    if (sodium_init() < 0) std::abort();
}

void random_bytes(RandomSource& rng, std::span<std::uint8_t> out) { rng.fill(out); }

Key32 x25519_public(const Key32& private_key) {
    Key32 pub{};
    crypto_scalarmult_base(pub.data(), private_key.data());
    return pub;
}

X25519KeyPair x25519_keypair(RandomSource& rng) {
    X25519KeyPair pair{};
    rng.fill(pair.private_key);
    pair.public_key = x25519_public(pair.private_key);
    return pair;
}

SecretKey x25519_shared(const Key32& private_key, const Key32& peer_public) {
    SecretKey shared;
    // libsodium refuses small-order points without writing the output; keep it zero then.
    if (crypto_scalarmult(shared.data(), private_key.data(), peer_public.data()) != 0) shared.fill(0);
    return shared;
}

namespace {
struct Ed25519Secret {
    unsigned char sk[crypto_sign_SECRETKEYBYTES];
    ~Ed25519Secret() { sodium_memzero(sk, sizeof sk); }
};
}  // namespace

Key32 ed25519_public_key(const Key32& seed) {
    Key32 pub{};
    Ed25519Secret secret;
    crypto_sign_seed_keypair(pub.data(), secret.sk, seed.data());
    return pub;
}

Signature ed25519_sign(const Key32& seed, ByteView message) {
    Key32 pub{};
    Ed25519Secret secret;
    crypto_sign_seed_keypair(pub.data(), secret.sk, seed.data());
    Signature sig{};
    crypto_sign_detached(sig.data(), nullptr, message.data(), message.size(), secret.sk);
    return sig;
}

bool ed25519_verify(const Key32& public_key, ByteView message, const Signature& signature) {
    // libsodium applies the strict checks: canonical S, no small-order keys.
    return crypto_sign_verify_detached(signature.data(), message.data(), message.size(), public_key.data()) == 0;
}

Key32 sha256(ByteView data) {
    Key32 out{};
    crypto_hash_sha256(out.data(), data.data(), data.size());
    return out;
}

Key32 hmac_sha256(ByteView key, ByteView data) {
    crypto_auth_hmacsha256_state state;
    crypto_auth_hmacsha256_init(&state, key.data(), key.size());
    crypto_auth_hmacsha256_update(&state, data.data(), data.size());
    Key32 out{};
    crypto_auth_hmacsha256_final(&state, out.data());
    sodium_memzero(&state, sizeof state);
    return out;
}

Bytes hkdf_sha256(ByteView ikm, ByteView salt, ByteView info, std::size_t length) {
    if (length > 255 * 32) std::abort();
    // Extract: an empty salt is a string of HashLen zeros.
    Key32 zero_salt{};
    Key32 prk = hmac_sha256(salt.empty() ? ByteView(zero_salt) : salt, ikm);
    Bytes okm;
    okm.reserve(length);
    Key32 block{};
    std::size_t block_len = 0;
    for (std::uint8_t counter = 1; okm.size() < length; ++counter) {
        crypto_auth_hmacsha256_state state;
        crypto_auth_hmacsha256_init(&state, prk.data(), prk.size());
        crypto_auth_hmacsha256_update(&state, block.data(), block_len);
        crypto_auth_hmacsha256_update(&state, info.data(), info.size());
        crypto_auth_hmacsha256_update(&state, &counter, 1);
        crypto_auth_hmacsha256_final(&state, block.data());
        sodium_memzero(&state, sizeof state);
        block_len = block.size();
        std::size_t take = std::min(block.size(), length - okm.size());
        okm.insert(okm.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(take));
    }
    wipe(prk);
    wipe(block);
    return okm;
}

bool ct_equal(ByteView a, ByteView b) {
    if (a.size() != b.size()) return false;
    std::uint8_t diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<std::uint8_t>(a[i] ^ b[i]);
    // Read through a volatile so the compiler cannot turn the loop into an early exit.
    volatile std::uint8_t sink = diff;
    return sink == 0;
}

void wipe(std::span<std::uint8_t> secret) { sodium_memzero(secret.data(), secret.size()); }

void wipe_text(std::string& text) {
    // capacity() covers the short-string buffer as well as a heap one.
    sodium_memzero(text.data(), text.capacity());
    text.clear();
}

bool is_all_zero(ByteView bytes) { return sodium_is_zero(bytes.data(), bytes.size()) == 1; }

std::string host_fingerprint(const Key32& host_ed25519_public) {
    Key32 digest = sha256(host_ed25519_public);
    return hex_lower(ByteView(digest).first(8));
}

SecretKey derive_store_key(const Key32& host_seed) {
    Bytes okm = hkdf_sha256(host_seed, {}, as_bytes("RC_PAIRED_STORE_HMAC_V1"), 32);
    SecretKey key;
    std::memcpy(key.data(), okm.data(), key.size());
    wipe(okm);
    return key;
}

ByteArray<12> make_nonce(NonceTag tag, std::uint64_t counter) {
    static constexpr char tags[4][5] = {"HTCP", "CTCP", "HUDP", "CUDP"};
    ByteArray<12> nonce{};
    std::memcpy(nonce.data(), tags[static_cast<int>(tag)], 4);
    for (int i = 0; i < 8; ++i) nonce[4 + i] = static_cast<std::uint8_t>(counter >> (8 * i));
    return nonce;
}

Bytes aead_seal(const Key32& key, const ByteArray<12>& nonce, ByteView aad, ByteView plaintext) {
    Bytes out(plaintext.size() + kTagSize);
    unsigned long long written = 0;
    crypto_aead_chacha20poly1305_ietf_encrypt(out.data(), &written, plaintext.data(), plaintext.size(), aad.data(),
                                              aad.size(), nullptr, nonce.data(), key.data());
    return out;
}

std::optional<Bytes> aead_open(const Key32& key, const ByteArray<12>& nonce, ByteView aad, ByteView sealed) {
    if (sealed.size() < kTagSize) return std::nullopt;
    Bytes out(sealed.size() - kTagSize);
    unsigned long long written = 0;
    if (crypto_aead_chacha20poly1305_ietf_decrypt(out.data(), &written, nullptr, sealed.data(), sealed.size(),
                                                  aad.data(), aad.size(), nonce.data(), key.data()) != 0)
        return std::nullopt;
    return out;
}

namespace {
// The AEAD's associated data: type, then the frame length field (header fields
// in that order, not in stream order).
ByteArray<5> frame_aad(std::uint8_t type, std::uint32_t length_field) {
    return {type, static_cast<std::uint8_t>(length_field), static_cast<std::uint8_t>(length_field >> 8),
            static_cast<std::uint8_t>(length_field >> 16), static_cast<std::uint8_t>(length_field >> 24)};
}
}  // namespace

std::optional<Bytes> SessionCrypto::seal_frame_body(std::uint8_t type, ByteView plaintext) {
    std::uint64_t counter = send_counter_++;
    if (plaintext.size() > kMaxSealedPlaintext) return std::nullopt;
    auto length_field = static_cast<std::uint32_t>(plaintext.size() + 1 + kTagSize);
    NonceTag tag = side_ == Side::Host ? NonceTag::HostTcp : NonceTag::ClientTcp;
    return aead_seal(key_, make_nonce(tag, counter), frame_aad(type, length_field), plaintext);
}

std::optional<Bytes> SessionCrypto::open_frame_body(std::uint8_t type, std::uint32_t length_field, ByteView sealed) {
    if (length_field < 1 + kTagSize) return std::nullopt;
    NonceTag tag = side_ == Side::Host ? NonceTag::ClientTcp : NonceTag::HostTcp;
    auto plain = aead_open(key_, make_nonce(tag, receive_counter_), frame_aad(type, length_field), sealed);
    if (plain) ++receive_counter_;
    return plain;
}

namespace {
void append_text(Bytes& out, std::string_view text) { append(out, as_bytes(text)); }
}  // namespace

Bytes pairing_transcript(std::string_view client_id, std::string_view host_id, const Key32& client_x25519,
                         const Key32& host_x25519, const Key32& client_ed25519, const Key32& host_ed25519,
                         const Nonce16& client_nonce, const Nonce16& host_nonce) {
    Bytes x;
    x.reserve(170 + client_id.size() + host_id.size());
    append_text(x, "RC_PAIR_V1");
    append_text(x, client_id);
    append_text(x, host_id);
    append(x, client_x25519);
    append(x, host_x25519);
    append(x, client_ed25519);
    append(x, host_ed25519);
    append(x, client_nonce);
    append(x, host_nonce);
    return x;
}

Bytes auth_transcript(std::string_view client_id, std::string_view host_id, const Key32& client_x25519,
                      const Key32& host_x25519, const Nonce16& client_nonce, const Nonce16& host_nonce) {
    Bytes t;
    t.reserve(106 + client_id.size() + host_id.size());
    append_text(t, "RC_AUTH_V1");
    append_text(t, client_id);
    append_text(t, host_id);
    append(t, client_x25519);
    append(t, host_x25519);
    append(t, client_nonce);
    append(t, host_nonce);
    return t;
}

PairingKeys derive_pairing_keys(const Key32& shared, std::string_view code_digits, ByteView pairing_transcript) {
    Bytes okm = hkdf_sha256(shared, as_bytes(code_digits), pairing_transcript, 64);
    PairingKeys keys{};
    std::memcpy(keys.session_key.data(), okm.data(), 32);
    std::memcpy(keys.confirm_key.data(), okm.data() + 32, 32);
    wipe(okm);
    return keys;
}

namespace {
Key32 confirm_mac(const Key32& confirm_key, std::string_view prefix, ByteView transcript) {
    Bytes input;
    input.reserve(prefix.size() + transcript.size());
    append_text(input, prefix);
    append(input, transcript);
    return hmac_sha256(confirm_key, input);
}
}  // namespace

Key32 client_confirm_mac(const Key32& confirm_key, ByteView pairing_transcript) {
    return confirm_mac(confirm_key, "CLIENT_CONFIRM", pairing_transcript);
}

Key32 host_confirm_mac(const Key32& confirm_key, ByteView pairing_transcript) {
    return confirm_mac(confirm_key, "HOST_CONFIRM", pairing_transcript);
}

SecretKey derive_auth_session_key(const Key32& shared, const Nonce16& client_nonce, const Nonce16& host_nonce,
                                  ByteView auth_transcript) {
    ByteArray<32> salt{};
    std::memcpy(salt.data(), client_nonce.data(), 16);
    std::memcpy(salt.data() + 16, host_nonce.data(), 16);
    Bytes okm = hkdf_sha256(shared, salt, auth_transcript, 32);
    SecretKey key;
    std::memcpy(key.data(), okm.data(), 32);
    wipe(okm);
    return key;
}

}  // namespace korvex
