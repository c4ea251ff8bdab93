#include "core/pairing_uri.h"

#include <array>
#include <optional>

#include "core/messages.h"
#include "core/utf8.h"

namespace korvex {
namespace {

bool is_unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool is_six_digits(std::string_view code) {
    if (code.size() != 6) return false;
    for (char c : code)
        if (c < '0' || c > '9') return false;
    return true;
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = text[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (a != prefix[i]) return false;
    }
    return true;
}

std::string_view trim(std::string_view text) {
    constexpr std::string_view kSpace = " \t\r\n";
    auto first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) return {};
    auto last = text.find_last_not_of(kSpace);
    return text.substr(first, last - first + 1);
}

// The order the host writes them in; also the set of keys a reader knows.
constexpr std::array<std::string_view, 8> kKeys = {"v", "id", "name", "os", "lan", "ts", "pk", "code"};

}  // namespace

std::string percent_encode(std::string_view text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (is_unreserved(c)) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kDigits[c >> 4]);
            out.push_back(kDigits[c & 0x0F]);
        }
    }
    return out;
}

Result<std::string> percent_decode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        int hi = i + 1 < text.size() ? hex_value(text[i + 1]) : -1;
        int lo = i + 2 < text.size() ? hex_value(text[i + 2]) : -1;
        if (hi < 0 || lo < 0) return fail("bad percent escape at character " + std::to_string(i + 1));
        out.push_back(static_cast<char>(hi << 4 | lo));
        i += 2;
    }
    return out;
}

std::string choose_offer_endpoint(std::span<const std::string> endpoints) {
    for (const auto& endpoint : endpoints)
        if (!endpoint.empty() && endpoint.front() != '[') return endpoint;
    return endpoints.empty() ? std::string() : endpoints.front();
}

std::string build_pairing_uri(const PairingUri& offer) {
    std::string uri(kPairingUriPrefix);
    uri += "v=";
    uri += kPairingUriVersion;
    uri += "&id=" + percent_encode(offer.id);
    uri += "&name=" + percent_encode(offer.name);
    uri += "&os=" + offer.os;
    uri += "&lan=" + percent_encode(offer.lan);
    uri += "&ts=" + percent_encode(offer.ts);
    uri += "&pk=" + hex_lower(offer.pk);
    uri += "&code=" + offer.code;
    return uri;
}

std::string build_pairing_uri(std::string_view host_id, std::string_view host_name,
                              std::span<const std::string> lan_endpoints,
                              std::span<const std::string> tailscale_endpoints, const Key32& host_ed25519_public,
                              std::string_view code, std::string_view os) {
    PairingUri offer;
    offer.id = host_id;
    offer.name = host_name;
    offer.os = os;
    offer.lan = choose_offer_endpoint(lan_endpoints);
    offer.ts = choose_offer_endpoint(tailscale_endpoints);
    offer.pk = host_ed25519_public;
    offer.code = code;
    return build_pairing_uri(offer);
}

Result<PairingUri> parse_pairing_uri(std::string_view text) {
    text = trim(text);
    if (!starts_with_ignoring_case(text, "korvex:"))
        return fail("not a pairing URI: it must start with korvex://pair?");
    if (!starts_with_ignoring_case(text, kPairingUriPrefix))
        return fail("not a pairing URI: expected korvex://pair? at the start");
    std::string_view query = text.substr(kPairingUriPrefix.size());
    // A fragment is never part of an offer; drop it like any URI reader would.
    if (auto hash = query.find('#'); hash != std::string_view::npos) query = query.substr(0, hash);

    std::array<std::optional<std::string>, kKeys.size()> values;
    while (!query.empty()) {
        auto amp = query.find('&');
        std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (pair.empty()) continue;
        auto eq = pair.find('=');
        std::string_view key = pair.substr(0, eq);
        std::string_view raw = eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1);
        std::size_t index = 0;
        while (index < kKeys.size() && kKeys[index] != key) ++index;
        if (index == kKeys.size()) continue;  // a later version may add keys
        if (values[index]) return fail("pairing URI has the key " + std::string(key) + " twice");
        auto decoded = percent_decode(raw);
        if (!decoded) return fail("pairing URI value of " + std::string(key) + ": " + decoded.error().text);
        if (!is_valid_utf8(*decoded)) return fail("pairing URI value of " + std::string(key) + " is not UTF-8 text");
        values[index] = std::move(*decoded);
    }
    auto take = [&](std::string_view key) -> std::optional<std::string> {
        for (std::size_t i = 0; i < kKeys.size(); ++i)
            if (kKeys[i] == key) return values[i];
        return std::nullopt;
    };

    for (std::string_view key : {"v", "id", "pk", "code"})
        if (!take(key)) return fail("pairing URI is missing the key " + std::string(key));
    if (*take("v") != kPairingUriVersion)
        return fail("pairing URI version " + *take("v") + " is not supported (this program reads version 1)");

    PairingUri uri;
    uri.id = *take("id");
    if (uri.id.empty()) return fail("pairing URI has an empty host id");
    uri.name = take("name").value_or("");
    uri.os = take("os").value_or("");
    uri.lan = take("lan").value_or("");
    uri.ts = take("ts").value_or("");
    auto pk = hex_decode_exact<32>(*take("pk"));
    if (!pk) return fail("pairing URI key pk is not 64 hex digits");
    uri.pk = *pk;
    uri.code = *take("code");
    if (!is_six_digits(uri.code)) return fail("pairing URI code is not six digits");
    return uri;
}

}  // namespace korvex
