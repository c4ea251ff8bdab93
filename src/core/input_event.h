#pragma once
// The 20-byte binary input event carried by InputEvent frames and datagrams.
#include <cstdint>
#include <optional>

#include "core/bytes.h"

namespace korvex {

inline constexpr std::size_t kInputEventSize = 20;
inline constexpr std::uint8_t kInputEventVersion = 1;

struct InputEvent {
    std::uint8_t version = kInputEventVersion;
    std::uint8_t kind = 0;
    std::uint8_t mods = 0;
    std::uint8_t flags = 0;
    std::uint64_t seq = 0;
    ByteArray<8> payload{};
};

// Exactly 20 bytes with version 1, or nothing (such bodies are ignored).
std::optional<InputEvent> parse_input_event(ByteView body);
ByteArray<kInputEventSize> encode_input_event(const InputEvent& event);

}  // namespace korvex
