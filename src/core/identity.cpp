#include "core/identity.h"

#include "core/data_files.h"
#include <nlohmann/json.hpp>
#include <vector>

#include "core/json.h"
#include "platform/file_system.h"
#include "platform/random_source.h"
#include "platform/secret_protector.h"

namespace korvex {
std::string encode_identity_file(const HostIdentity& identity) {
    // Written with placeholder digits, which are then overwritten in place:
    // no growing buffer ever holds a part of the seed.
    constexpr std::string_view kDigits = "0123456789abcdef";
    std::string text = JsonWriter().begin_object().member("hostId", identity.host_id)
                           .member("seedHex", std::string(2 * identity.seed.size(), '0')).end_object().take();
    std::size_t at = text.size() - 2 - 2 * identity.seed.size();
    for (std::uint8_t byte : identity.seed) {
        text[at++] = kDigits[byte >> 4];
        text[at++] = kDigits[byte & 0x0F];
    }
    return text;
}

namespace {

// A string token of the file: where its characters (inside the quotes) are.
struct StringToken {
    std::size_t begin;
    std::size_t end;
};

// The text with every string value replaced by "#<n>", n counting the
// values in order; member names stay. Invalid JSON stays invalid enough for
// the parser to refuse it: an unterminated string is copied as it is.
std::string mask_string_values(std::string_view text, std::vector<StringToken>& values) {
    std::string masked;
    masked.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '"') {
            masked.push_back(text[i++]);
            continue;
        }
        std::size_t end = i + 1;
        while (end < text.size() && text[end] != '"') end += text[end] == '\\' ? 2 : 1;
        if (end >= text.size()) {
            masked.append(text.substr(i));
            break;
        }
        std::size_t next = end + 1;
        while (next < text.size() && (text[next] == ' ' || text[next] == '\t' || text[next] == '\n' || text[next] == '\r'))
            ++next;
        if (next < text.size() && text[next] == ':') {
            masked.append(text.substr(i, end + 1 - i));
        } else {
            masked.append("\"#" + std::to_string(values.size()) + "\"");
            values.push_back({i + 1, end});
        }
        i = end + 1;
    }
    return masked;
}

// The value a placeholder stands for.
Result<StringToken> placeholder_token(const JsonRecord& record, std::string_view field,
                                      const std::vector<StringToken>& values) {
    KORVEX_TRY(std::string placeholder, record.string(field));
    std::size_t index = 0;
    for (char c : std::string_view(placeholder).substr(1)) index = index * 10 + static_cast<std::size_t>(c - '0');
    if (index >= values.size()) return fail("member " + std::string(field) + " is not a string");
    return values[index];
}

}  // namespace

Result<HostIdentity> decode_identity_file(std::string_view text) {
    // The seed must not pass through the JSON library: its parser keeps
    // every token it reads in buffers it frees unwiped. It parses a copy
    // whose string values are placeholders, which settles the structure and
    // the member rules; every value but the seed is then checked as a JSON
    // string of its own, and the seed's digits go from the caller's text
    // straight into the secret.
    std::vector<StringToken> values;
    const std::string masked = mask_string_values(text, values);
    KORVEX_TRY(auto record, JsonRecord::parse(masked, {"hostId", "seedHex"}));
    KORVEX_TRY(StringToken id_token, placeholder_token(record, "hostId", values));
    KORVEX_TRY(StringToken seed_token, placeholder_token(record, "seedHex", values));
    HostIdentity identity;
    for (const StringToken& token : values) {
        if (token.begin == seed_token.begin) continue;
        auto doc = parse_json_document(text.substr(token.begin - 1, token.end - token.begin + 2));
        if (!doc || !(*doc)->is_string()) return fail("a string of the identity file is not valid JSON");
        if (token.begin == id_token.begin) identity.host_id = (*doc)->get<std::string>();
    }
    if (!hex_decode_into(text.substr(seed_token.begin, seed_token.end - seed_token.begin), identity.seed))
        return fail("member seedHex is not 64 hex digits");
    return identity;
}

std::string new_host_id(RandomSource& rng) {
    ByteArray<16> b{};
    rng.fill(b);
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);
    std::string hex = hex_lower(b);
    return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
           hex.substr(20);
}

namespace {

// Nothing when the file is missing or does not read back as an identity.
std::optional<HostIdentity> read_identity(FileSystem& fs, SecretProtector& protector, const std::string& path,
                                          bool& file_exists) {
    auto data = fs.read_file(path);
    file_exists = !data || data->has_value();
    if (!data || !*data) return std::nullopt;
    // Where the file is not encrypted (Linux) the read buffer is the plain
    // text: both buffers are wiped.
    auto plain = protector.unprotect(**data);
    wipe(**data);
    if (!plain) return std::nullopt;
    auto identity = decode_identity_file(as_text(*plain));
    wipe(*plain);
    if (!identity) return std::nullopt;
    return std::move(*identity);
}

}  // namespace

Result<HostIdentity> load_or_create_identity(FileSystem& fs, SecretProtector& protector, RandomSource& rng,
                                             const std::string& dir) {
    const std::string path = join_path(dir, kIdentityFileName, fs.separator());
    bool file_exists = false;
    if (auto identity = read_identity(fs, protector, path, file_exists)) return std::move(*identity);

    if (file_exists) {
        // Keep the unreadable file: a passing failure (a locked file, a DPAPI
        // hiccup) must not destroy the host's only key.
        auto moved = fs.rename_replace(path, with_extension(path, "bin.rejected"));
        if (!moved) {
            return fail("The host identity file cannot be read and cannot be moved aside: " + moved.error().text,
                        moved.error().os_code);
        }
    }

    if (auto created = fs.create_directories(dir); !created) return std::unexpected(created.error());
    HostIdentity identity;
    identity.host_id = new_host_id(rng);
    rng.fill(identity.seed);
    std::string text = encode_identity_file(identity);
    auto sealed = protector.protect(as_bytes(text));
    wipe_text(text);
    if (!sealed) return std::unexpected(sealed.error());
    auto written = write_atomically(fs, path, *sealed);
    wipe(*sealed);  // the plain text itself where the file is not encrypted
    if (!written) return std::unexpected(written.error());
    return identity;
}

}  // namespace korvex
