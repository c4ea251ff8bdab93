#include "core/ip_address.h"

#include <algorithm>
#include <vector>

namespace korvex {
namespace {

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<IpAddress::V4Bytes> parse_v4(std::string_view text) {
    IpAddress::V4Bytes out{};
    std::size_t part = 0;
    std::size_t pos = 0;
    while (true) {
        std::size_t start = pos;
        unsigned value = 0;
        while (pos < text.size() && is_digit(text[pos])) {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            if (value > 255) return std::nullopt;
            ++pos;
        }
        std::size_t digits = pos - start;
        // "01" could be read as octal by other parsers: refuse it rather than guess.
        if (digits == 0 || (digits > 1 && text[start] == '0')) return std::nullopt;
        out[part++] = static_cast<std::uint8_t>(value);
        if (part == 4) break;
        if (pos >= text.size() || text[pos] != '.') return std::nullopt;
        ++pos;
    }
    if (pos != text.size()) return std::nullopt;
    return out;
}

// Groups of one side of a "::" (or of the whole address). Only the last side
// may end in a dotted IPv4 part, which counts as two groups.
bool parse_v6_groups(std::string_view text, bool allow_v4_tail, std::vector<std::uint16_t>& out) {
    if (text.empty()) return true;
    std::size_t pos = 0;
    while (true) {
        std::size_t end = text.find(':', pos);
        std::string_view piece = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        if (end == std::string_view::npos && allow_v4_tail && piece.find('.') != std::string_view::npos) {
            auto v4 = parse_v4(piece);
            if (!v4) return false;
            out.push_back(static_cast<std::uint16_t>(((*v4)[0] << 8) | (*v4)[1]));
            out.push_back(static_cast<std::uint16_t>(((*v4)[2] << 8) | (*v4)[3]));
            return true;
        }
        if (piece.empty() || piece.size() > 4) return false;
        unsigned value = 0;
        for (char c : piece) {
            int v = hex_value(c);
            if (v < 0) return false;
            value = value * 16 + static_cast<unsigned>(v);
        }
        out.push_back(static_cast<std::uint16_t>(value));
        if (out.size() > 8) return false;
        if (end == std::string_view::npos) return true;
        pos = end + 1;
    }
}

std::optional<IpAddress::V6Bytes> parse_v6(std::string_view text) {
    std::vector<std::uint16_t> head;
    std::vector<std::uint16_t> tail;
    std::size_t gap = text.find("::");
    if (gap == std::string_view::npos) {
        if (!parse_v6_groups(text, true, head) || head.size() != 8) return std::nullopt;
    } else {
        std::string_view before = text.substr(0, gap);
        std::string_view after = text.substr(gap + 2);
        if (after.find("::") != std::string_view::npos) return std::nullopt;
        if (!parse_v6_groups(before, false, head) || !parse_v6_groups(after, true, tail)) return std::nullopt;
        // "::" stands for at least one zero group.
        if (head.size() + tail.size() > 7) return std::nullopt;
    }
    std::vector<std::uint16_t> groups = head;
    groups.resize(8 - tail.size(), 0);
    groups.insert(groups.end(), tail.begin(), tail.end());
    IpAddress::V6Bytes out{};
    for (std::size_t i = 0; i < 8; ++i) {
        out[2 * i] = static_cast<std::uint8_t>(groups[i] >> 8);
        out[2 * i + 1] = static_cast<std::uint8_t>(groups[i] & 0xFF);
    }
    return out;
}

bool is_v4_mapped(const IpAddress::V6Bytes& b) {
    return std::all_of(b.begin(), b.begin() + 10, [](std::uint8_t x) { return x == 0; }) && b[10] == 0xFF &&
           b[11] == 0xFF;
}

std::string v4_text(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return std::to_string(a) + '.' + std::to_string(b) + '.' + std::to_string(c) + '.' + std::to_string(d);
}

// 100.64.0.0/10: carrier-grade NAT space, which Tailscale uses too.
bool is_carrier_nat_v4(const IpAddress::V4Bytes& b) { return b[0] == 100 && b[1] >= 64 && b[1] <= 127; }

bool is_local_v4(const IpAddress::V4Bytes& b) {
    return b[0] == 10 || b[0] == 127 || is_carrier_nat_v4(b) || (b[0] == 169 && b[1] == 254) ||
           (b[0] == 172 && b[1] >= 16 && b[1] <= 31) || (b[0] == 192 && b[1] == 168);
}

}  // namespace

IpAddress IpAddress::v4(const V4Bytes& bytes) {
    IpAddress a;
    std::copy(bytes.begin(), bytes.end(), a.bytes_.begin());
    return a;
}

IpAddress IpAddress::v6(const V6Bytes& bytes) {
    IpAddress a;
    a.v6_ = true;
    a.bytes_ = bytes;
    return a;
}

std::optional<IpAddress> IpAddress::parse(std::string_view text) {
    if (text.find(':') != std::string_view::npos) {
        auto v6 = parse_v6(text);
        if (!v6) return std::nullopt;
        return IpAddress::v6(*v6);
    }
    auto v4 = parse_v4(text);
    if (!v4) return std::nullopt;
    return IpAddress::v4(*v4);
}

std::string IpAddress::to_string() const {
    if (!v6_) return v4_text(bytes_[0], bytes_[1], bytes_[2], bytes_[3]);
    if (is_v4_mapped(bytes_)) return "::ffff:" + v4_text(bytes_[12], bytes_[13], bytes_[14], bytes_[15]);
    std::array<unsigned, 8> groups{};
    for (std::size_t i = 0; i < 8; ++i) groups[i] = (unsigned{bytes_[2 * i]} << 8) | bytes_[2 * i + 1];
    // The longest run of zero groups (at least two), the first one on a tie.
    std::size_t best_start = 8, best_len = 0;
    for (std::size_t i = 0; i < 8;) {
        if (groups[i] != 0) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < 8 && groups[j] == 0) ++j;
        if (j - i > best_len) {
            best_start = i;
            best_len = j - i;
        }
        i = j;
    }
    if (best_len < 2) best_start = 8;
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < 8; ++i) {
        if (i == best_start) {
            out += "::";
            i += best_len - 1;
            continue;
        }
        if (!out.empty() && out.back() != ':') out.push_back(':');
        bool started = false;
        for (int shift = 12; shift >= 0; shift -= 4) {
            unsigned nibble = (groups[i] >> shift) & 0xF;
            if (nibble != 0 || started || shift == 0) {
                out.push_back(digits[nibble]);
                started = true;
            }
        }
    }
    return out;
}

std::strong_ordering IpAddress::operator<=>(const IpAddress& other) const {
    if (v6_ != other.v6_) return v6_ ? std::strong_ordering::greater : std::strong_ordering::less;
    auto mine = bytes();
    auto theirs = other.bytes();
    return std::lexicographical_compare_three_way(mine.begin(), mine.end(), theirs.begin(), theirs.end());
}

IpAddress canonical_ip(const IpAddress& address) {
    if (address.is_v6() && is_v4_mapped(address.v6_bytes())) {
        const auto& b = address.v6_bytes();
        return IpAddress::v4(b[12], b[13], b[14], b[15]);
    }
    return address;
}

bool is_local_address(const IpAddress& address) {
    if (address.is_v4()) return is_local_v4(address.v4_bytes());
    const auto& b = address.v6_bytes();
    if (is_v4_mapped(b)) return is_local_v4({b[12], b[13], b[14], b[15]});
    const bool loopback = std::all_of(b.begin(), b.begin() + 15, [](std::uint8_t x) { return x == 0; }) && b[15] == 1;
    return loopback || (b[0] & 0xFE) == 0xFC || (b[0] == 0xFE && (b[1] & 0xC0) == 0x80);
}

bool is_tailscale_address(const IpAddress& address) {
    if (address.is_v4()) {
        return is_carrier_nat_v4(address.v4_bytes());
    }
    static constexpr std::array<std::uint8_t, 6> kPrefix = {0xFD, 0x7A, 0x11, 0x5C, 0xA1, 0xE0};
    return std::equal(kPrefix.begin(), kPrefix.end(), address.v6_bytes().begin());
}

bool is_admitted_peer(const IpAddress& peer, const std::optional<IpAddress>& arrived_on,
                      std::span<const IpAddress> own_tailscale) {
    const IpAddress p = canonical_ip(peer);
    if (!is_local_address(p)) return false;
    if (!p.is_v4() || !is_carrier_nat_v4(p.v4_bytes()) || !arrived_on) return true;
    const IpAddress local = canonical_ip(*arrived_on);
    for (const IpAddress& own : own_tailscale)
        if (canonical_ip(own) == local) return true;
    return false;
}

}  // namespace korvex
