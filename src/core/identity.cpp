#include "core/identity.h"

#include "core/data_files.h"
#include "core/json.h"
#include "platform/file_system.h"
#include "platform/random_source.h"
#include "platform/secret_protector.h"

namespace korvex {
namespace {

void wipe_text(std::string& text) {
    wipe(std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(text.data()), text.size()));
    text.clear();
}

}  // namespace

std::string encode_identity_file(const HostIdentity& identity) {
    std::string seed_hex = hex_lower(identity.seed);
    std::string text = JsonWriter().begin_object().member("hostId", identity.host_id).member("seedHex", seed_hex)
                           .end_object().take();
    wipe_text(seed_hex);
    return text;
}

Result<HostIdentity> decode_identity_file(std::string_view text) {
    KORVEX_TRY(auto record, JsonRecord::parse(text, {"hostId", "seedHex"}));
    HostIdentity identity;
    KORVEX_TRY(identity.host_id, record.string("hostId"));
    KORVEX_TRY(identity.seed, record.hex<32>("seedHex"));
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
    auto plain = protector.unprotect(**data);
    if (!plain) return std::nullopt;
    std::string text(plain->begin(), plain->end());
    wipe(*plain);
    auto identity = decode_identity_file(text);
    wipe_text(text);
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
    if (auto written = write_atomically(fs, path, *sealed); !written) return std::unexpected(written.error());
    return identity;
}

}  // namespace korvex
