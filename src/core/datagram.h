#pragma once
// The sealed input datagram (client to host, 36 bytes) and its
// acknowledgement (host to client, 28 bytes). Both sides use these; nothing
// here allocates, so the host can run it for every datagram it receives.
//
// Datagram: version, kind, mods, flags, u64 seq (LE), 8 sealed payload bytes,
// 16-byte tag; nonce "CUDP" + seq, AAD bytes 0..11.
// Acknowledgement: 01 FE 00 00, u64 seq (LE), tag over an empty plaintext;
// nonce "HUDP" + seq, AAD bytes 0..11.
#include <cstdint>
#include <optional>

#include "core/bytes.h"
#include "core/crypto.h"
#include "core/input_event.h"

namespace korvex {

inline constexpr std::size_t kInputDatagramSize = 36;
inline constexpr std::size_t kDatagramAckSize = 28;
inline constexpr std::uint8_t kDatagramAckKind = 0xFE;
// Flags bit 0: the client wants an acknowledgement.
inline constexpr std::uint8_t kDatagramAckRequested = 0x01;

using InputDatagram = ByteArray<kInputDatagramSize>;
using DatagramAck = ByteArray<kDatagramAckSize>;

// Seals the event as it is: its version byte goes out unchanged.
InputDatagram seal_input_datagram(const Key32& key, const InputEvent& event);

// The event, when `datagram` is exactly 36 bytes with version 1 and its tag
// verifies under `key`; nothing otherwise.
std::optional<InputEvent> open_input_datagram(const Key32& key, ByteView datagram);

DatagramAck build_datagram_ack(const Key32& key, std::uint64_t seq);

// True when `ack` is exactly 28 bytes of 01 FE 00 00, carries `seq` and its
// tag verifies under `key`.
bool verify_datagram_ack(const Key32& key, ByteView ack, std::uint64_t seq);

}  // namespace korvex
