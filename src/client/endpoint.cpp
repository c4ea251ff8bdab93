#include "client/endpoint.h"

#include <charconv>

namespace korvex::client {

Result<std::uint16_t> parse_port(std::string_view text) {
    unsigned value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535)
        return fail("\"" + std::string(text) + "\" is not a port number (1 to 65535)");
    return static_cast<std::uint16_t>(value);
}

Result<HostPort> parse_host_port(std::string_view text, std::uint16_t default_port) {
    if (text.empty()) return fail("empty host");
    HostPort out;
    out.port = default_port;
    if (text.front() == '[') {
        auto close = text.find(']');
        if (close == std::string_view::npos) return fail("\"" + std::string(text) + "\" lacks the closing bracket");
        out.host = std::string(text.substr(1, close - 1));
        std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return fail("\"" + std::string(text) + "\": expected :PORT after the brackets");
            KORVEX_TRY(out.port, parse_port(rest.substr(1)));
        }
    } else {
        auto first = text.find(':');
        if (first != std::string_view::npos && text.find(':', first + 1) != std::string_view::npos) {
            out.host = std::string(text);  // a bare IPv6 address: no port can follow it unbracketed
        } else if (first != std::string_view::npos) {
            out.host = std::string(text.substr(0, first));
            KORVEX_TRY(out.port, parse_port(text.substr(first + 1)));
        } else {
            out.host = std::string(text);
        }
    }
    if (out.host.empty()) return fail("\"" + std::string(text) + "\" names no host");
    return out;
}

std::string format_host_port(std::string_view host, std::uint16_t port) {
    std::string out;
    if (host.find(':') != std::string_view::npos) {
        out = "[" + std::string(host) + "]";
    } else {
        out = std::string(host);
    }
    return out + ":" + std::to_string(port);
}

}  // namespace korvex::client
