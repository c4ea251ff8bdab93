#pragma once
// The pairing URI the host shows as a QR code and the client reads back:
//   korvex://pair?v=1&id=ID&name=NAME&os=OS&lan=LAN&ts=TS&pk=PK&code=CODE
// One codec for both sides, so the offer and its reader never drift apart.
#include <span>
#include <string>
#include <string_view>

#include "core/crypto.h"
#include "core/messages.h"
#include "core/error.h"

namespace korvex {

inline constexpr std::string_view kPairingUriPrefix = "korvex://pair?";
inline constexpr std::string_view kPairingUriVersion = "1";

// What a pairing URI carries. `lan` and `ts` are endpoint texts ("addr:port"
// or "[v6]:port"), either may be empty.
struct PairingUri {
    std::string id;
    std::string name;
    std::string os;
    std::string lan;
    std::string ts;
    Key32 pk{};
    std::string code;  // six ASCII digits

    bool operator==(const PairingUri&) const = default;
};

// Letters, digits and "-._~" are kept; every other byte becomes "%XX" with
// upper-case digits, so each byte of a multi-byte character is encoded alone.
std::string percent_encode(std::string_view text);

// "%XX" (either case) back to its byte; every other character is kept as is
// ("+" included). A "%" without two hex digits after it is an error.
Result<std::string> percent_decode(std::string_view text);

// The endpoint a pairing offer names from one list of endpoint texts: the
// first IPv4 one in list order, else the first of the list (IPv6, written in
// brackets), else empty.
std::string choose_offer_endpoint(std::span<const std::string> endpoints);

// The URI of an offer whose endpoints are already chosen. `os` and `code` are
// written as they are; the caller passes six digits.
std::string build_pairing_uri(const PairingUri& offer);

// The host's offer: chooses the LAN and Tailscale endpoints from the two
// lists; `os` is the host's OS ("windows", "linux").
std::string build_pairing_uri(std::string_view host_id, std::string_view host_name,
                              std::span<const std::string> lan_endpoints,
                              std::span<const std::string> tailscale_endpoints, const Key32& host_ed25519_public,
                              std::string_view code,
                              std::string_view os = kOsType);

// Reads a pairing URI. Keys may come in any order and unknown keys are
// skipped; `v` must be 1, `id`, `pk` and `code` are required, the others are
// empty when absent. A key given twice, bad escapes, text that is not UTF-8,
// a `pk` that is not 64 hex digits or a `code` that is not six digits are
// refused with a one-line reason.
Result<PairingUri> parse_pairing_uri(std::string_view text);

}  // namespace korvex
