#include "core/datagram.h"

#include <sodium.h>

#include <cstring>

namespace korvex {
namespace {

// Both layouts start with 12 header bytes that are the AEAD's associated data.
constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kPayloadSize = 8;

void put_u64(std::uint8_t* out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void write_ack_header(DatagramAck& ack, std::uint64_t seq) {
    ack[0] = kInputEventVersion;
    ack[1] = kDatagramAckKind;
    ack[2] = 0;
    ack[3] = 0;
    put_u64(ack.data() + 4, seq);
}

}  // namespace

InputDatagram seal_input_datagram(const Key32& key, const InputEvent& event) {
    InputDatagram out{};
    out[0] = event.version;
    out[1] = event.kind;
    out[2] = event.mods;
    out[3] = event.flags;
    put_u64(out.data() + 4, event.seq);
    auto nonce = make_nonce(NonceTag::ClientUdp, event.seq);
    unsigned long long tag_size = 0;
    crypto_aead_chacha20poly1305_ietf_encrypt_detached(
        out.data() + kHeaderSize, out.data() + kHeaderSize + kPayloadSize, &tag_size, event.payload.data(),
        kPayloadSize, out.data(), kHeaderSize, nullptr, nonce.data(), key.data());
    return out;
}

std::optional<InputEvent> open_input_datagram(const Key32& key, ByteView datagram) {
    if (datagram.size() != kInputDatagramSize || datagram[0] != kInputEventVersion) return std::nullopt;
    InputEvent event;
    event.version = datagram[0];
    event.kind = datagram[1];
    event.mods = datagram[2];
    event.flags = datagram[3];
    event.seq = get_u64_le(datagram.data() + 4);
    auto nonce = make_nonce(NonceTag::ClientUdp, event.seq);
    if (crypto_aead_chacha20poly1305_ietf_decrypt_detached(event.payload.data(), nullptr, datagram.data() + kHeaderSize,
                                                           kPayloadSize, datagram.data() + kHeaderSize + kPayloadSize,
                                                           datagram.data(), kHeaderSize, nonce.data(), key.data()) != 0)
        return std::nullopt;
    return event;
}

DatagramAck build_datagram_ack(const Key32& key, std::uint64_t seq) {
    DatagramAck ack{};
    write_ack_header(ack, seq);
    auto nonce = make_nonce(NonceTag::HostUdp, seq);
    unsigned long long tag_size = 0;
    std::uint8_t empty = 0;  // the plaintext is empty; libsodium still wants a buffer
    crypto_aead_chacha20poly1305_ietf_encrypt_detached(&empty, ack.data() + kHeaderSize, &tag_size, &empty, 0,
                                                       ack.data(), kHeaderSize, nullptr, nonce.data(), key.data());
    return ack;
}

bool verify_datagram_ack(const Key32& key, ByteView ack, std::uint64_t seq) {
    if (ack.size() != kDatagramAckSize) return false;
    DatagramAck expected_header{};
    write_ack_header(expected_header, seq);
    // The header is public; only the tag needs a constant-time check, which the AEAD does.
    if (std::memcmp(ack.data(), expected_header.data(), kHeaderSize) != 0) return false;
    auto nonce = make_nonce(NonceTag::HostUdp, seq);
    std::uint8_t empty = 0;
    return crypto_aead_chacha20poly1305_ietf_decrypt_detached(&empty, nullptr, &empty, 0, ack.data() + kHeaderSize,
                                                              ack.data(), kHeaderSize, nonce.data(), key.data()) == 0;
}

}  // namespace korvex
