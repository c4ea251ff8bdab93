#include "client/config.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "core/data_files.h"
#include "core/identity.h"
#include "core/json.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/random_source.h"

namespace korvex::client {
namespace {

constexpr std::string_view kFolderName = "korvex-remote";

void wipe_text(std::string& text) {
    wipe(std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(text.data()), text.size()));
    text.clear();
}

std::optional<std::string> non_empty(const Environment& env, std::string_view name) {
    auto value = env.get(name);
    if (!value || value->empty()) return std::nullopt;
    return value;
}

Result<KnownHost> read_host(const std::shared_ptr<const nlohmann::json>& owner, const nlohmann::json& value) {
    KORVEX_TRY(auto r,
               JsonRecord::from(owner, value,
                                {"hostId", "name", "ed25519PubHex", "endpoint", "udpPort", "pairedAtUnix", "lastSeq"}));
    KnownHost host;
    KORVEX_TRY(host.host_id, r.string("hostId"));
    KORVEX_TRY(host.name, r.optional_string("name"));
    KORVEX_TRY(host.ed25519_public, r.hex<32>("ed25519PubHex"));
    KORVEX_TRY(host.endpoint, r.optional_string("endpoint"));
    std::uint64_t udp_port = 0;
    if (r.has("udpPort")) {
        KORVEX_TRY(udp_port, r.u64("udpPort"));
    }
    if (udp_port > 0xFFFF) return fail("udpPort is out of range");
    host.udp_port = static_cast<std::uint16_t>(udp_port);
    if (r.has("pairedAtUnix")) {
        KORVEX_TRY(host.paired_at_unix, r.u64("pairedAtUnix"));
    }
    if (r.has("lastSeq")) {
        KORVEX_TRY(host.last_seq, r.u64("lastSeq"));
    }
    return host;
}

}  // namespace

std::string client_config_dir(const Environment& env, char separator) {
    if (auto dir = env.get("KORVEX_REMOTE_DIR")) return *dir;
    if (separator == '\\') {
        if (auto appdata = non_empty(env, "APPDATA")) return join_path(*appdata, kFolderName, separator);
    }
    if (auto xdg = non_empty(env, "XDG_CONFIG_HOME")) return join_path(*xdg, kFolderName, separator);
    std::string home = non_empty(env, "HOME").value_or(".");
    return join_path(join_path(home, ".config", separator), kFolderName, separator);
}

ClientIdentity new_client_identity(RandomSource& rng) {
    ClientIdentity identity;
    identity.client_id = new_host_id(rng);  // the same random UUID form
    rng.fill(identity.seed);
    return identity;
}

std::string encode_client_identity(const ClientIdentity& identity) {
    std::string seed_hex = hex_lower(identity.seed);
    std::string text = JsonWriter()
                           .begin_object()
                           .member("clientId", identity.client_id)
                           .member("seedHex", seed_hex)
                           .end_object()
                           .take();
    wipe_text(seed_hex);
    return text;
}

Result<ClientIdentity> decode_client_identity(std::string_view text) {
    KORVEX_TRY(auto record, JsonRecord::parse(text, {"clientId", "seedHex"}));
    ClientIdentity identity;
    KORVEX_TRY(identity.client_id, record.string("clientId"));
    if (identity.client_id.empty() || identity.client_id.size() > 128) return fail("clientId must be 1 to 128 bytes");
    KORVEX_TRY(identity.seed, record.hex<32>("seedHex"));
    return identity;
}

Result<ClientIdentity> load_or_create_client_identity(FileSystem& fs, RandomSource& rng, const std::string& dir) {
    const std::string path = join_path(dir, kIdentityFile, fs.separator());
    auto data = fs.read_file(path);
    if (!data) return std::unexpected(data.error());
    if (*data) {
        std::string text(as_text(**data));
        wipe(**data);
        auto identity = decode_client_identity(text);
        wipe_text(text);
        if (!identity)
            return fail("the identity file " + path + " is damaged (" + identity.error().text +
                        "); move it away to start with a new identity and pair again");
        return identity;
    }
    ClientIdentity identity = new_client_identity(rng);
    if (auto made = fs.create_directories(dir); !made) return std::unexpected(made.error());
    std::string text = encode_client_identity(identity);
    auto written = write_atomically(fs, path, as_bytes(text));
    wipe_text(text);
    if (!written) return std::unexpected(written.error());
    return identity;
}

const KnownHost* KnownHosts::find(std::string_view host_id) const {
    auto it = std::find_if(hosts.begin(), hosts.end(), [&](const KnownHost& h) { return h.host_id == host_id; });
    return it == hosts.end() ? nullptr : &*it;
}

KnownHost* KnownHosts::find(std::string_view host_id) {
    return const_cast<KnownHost*>(std::as_const(*this).find(host_id));
}

std::vector<const KnownHost*> KnownHosts::named(std::string_view text) const {
    if (const KnownHost* by_id = find(text)) return {by_id};
    std::vector<const KnownHost*> out;
    for (const auto& h : hosts)
        if (h.name == text) out.push_back(&h);
    return out;
}

void KnownHosts::remember(KnownHost host) {
    forget(host.host_id);
    hosts.push_back(std::move(host));
}

bool KnownHosts::forget(std::string_view host_id) {
    return std::erase_if(hosts, [&](const KnownHost& h) { return h.host_id == host_id; }) > 0;
}

std::string encode_known_hosts(const KnownHosts& known) {
    JsonWriter w(JsonWriter::Style::Pretty);
    w.begin_object().member("version", std::uint64_t{1}).key("hosts").begin_array();
    for (const auto& h : known.hosts) {
        w.begin_object()
            .member("hostId", h.host_id)
            .member("name", h.name)
            .member("ed25519PubHex", hex_lower(h.ed25519_public))
            .member("endpoint", h.endpoint)
            .member("udpPort", std::uint64_t{h.udp_port})
            .member("pairedAtUnix", h.paired_at_unix)
            .member("lastSeq", h.last_seq)
            .end_object();
    }
    w.end_array().end_object();
    std::string text = w.take();
    text.push_back('\n');
    return text;
}

Result<KnownHosts> decode_known_hosts(std::string_view text) {
    KORVEX_TRY(auto file, JsonRecord::parse(text, {"version", "hosts"}));
    const nlohmann::json* list = file.value("hosts");
    if (list == nullptr || !list->is_array()) return fail("hosts is missing or not an array");
    KnownHosts known;
    for (const auto& item : *list) {
        KORVEX_TRY(auto host, read_host(file.owner(), item));
        known.hosts.push_back(std::move(host));
    }
    return known;
}

Result<KnownHosts> load_known_hosts(FileSystem& fs, const std::string& dir) {
    const std::string path = join_path(dir, kHostsFile, fs.separator());
    auto data = fs.read_file(path);
    if (!data) return std::unexpected(data.error());
    if (!*data) return KnownHosts{};
    auto known = decode_known_hosts(as_text(**data));
    if (!known) return fail("the paired-hosts file " + path + " cannot be read: " + known.error().text);
    return known;
}

Status save_known_hosts(FileSystem& fs, const std::string& dir, const KnownHosts& hosts) {
    if (auto made = fs.create_directories(dir); !made) return made;
    return write_atomically(fs, join_path(dir, kHostsFile, fs.separator()), as_bytes(encode_known_hosts(hosts)));
}

}  // namespace korvex::client
