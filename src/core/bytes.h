#pragma once
// Byte strings, hexadecimal text and little-endian integers.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvex {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

template <std::size_t N>
using ByteArray = std::array<std::uint8_t, N>;

inline ByteView as_bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

inline std::string_view as_text(ByteView bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Two lower-case digits per byte.
std::string hex_lower(ByteView bytes);

// Either case; refuses odd digit counts and non-hex characters.
std::optional<Bytes> hex_decode(std::string_view text);

// Exactly out.size() bytes written straight into `out` (no copy on the way,
// so a secret can be decoded into its own storage); false otherwise, with
// `out` partly written.
bool hex_decode_into(std::string_view text, std::span<std::uint8_t> out);

// Exactly N bytes, or nothing.
template <std::size_t N>
std::optional<ByteArray<N>> hex_decode_exact(std::string_view text) {
    ByteArray<N> out{};
    if (!hex_decode_into(text, out)) return std::nullopt;
    return out;
}

inline void put_u32_le(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline void put_u64_le(Bytes& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline std::uint32_t get_u32_le(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline std::uint64_t get_u64_le(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

inline void append(Bytes& out, ByteView bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

}  // namespace korvex
