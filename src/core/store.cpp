#include "core/store.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "core/data_files.h"
#include "core/json.h"
#include "platform/file_system.h"

namespace korvex {
namespace {

void write_record(JsonWriter& w, const PairedClientRecord& r) {
    w.begin_object()
        .member("clientId", r.client_id)
        .member("deviceName", r.device_name)
        .member("deviceModel", r.device_model)
        .member("ed25519PublicKeyHex", r.ed25519_public_key_hex)
        .member("pairedAtUnix", r.paired_at_unix)
        .member("lastSeenUnix", r.last_seen_unix)
        .member("lastRemoteIp", r.last_remote_ip)
        .end_object();
}

void write_clients(JsonWriter& w, const std::vector<PairedClientRecord>& clients) {
    w.begin_array();
    for (const auto& record : clients) write_record(w, record);
    w.end_array();
}

Result<PairedClientRecord> read_record(const std::shared_ptr<const nlohmann::json>& owner, const nlohmann::json& value) {
    KORVEX_TRY(auto r, JsonRecord::from(owner, value,
                                        {"clientId", "deviceName", "deviceModel", "ed25519PublicKeyHex",
                                         "pairedAtUnix", "lastSeenUnix", "lastRemoteIp"}));
    PairedClientRecord record;
    KORVEX_TRY(record.client_id, r.string("clientId"));
    KORVEX_TRY(record.device_name, r.string("deviceName"));
    KORVEX_TRY(record.device_model, r.optional_string("deviceModel"));
    KORVEX_TRY(record.ed25519_public_key_hex, r.string("ed25519PublicKeyHex"));
    KORVEX_TRY(record.paired_at_unix, r.u64("pairedAtUnix"));
    KORVEX_TRY(record.last_seen_unix, r.u64("lastSeenUnix"));
    KORVEX_TRY(record.last_remote_ip, r.optional_string("lastRemoteIp"));
    return record;
}

}  // namespace

std::string canonical_clients_text(const std::vector<PairedClientRecord>& clients) {
    JsonWriter w;
    write_clients(w, clients);
    return w.take();
}

std::string compute_store_hmac(const Key32& store_key, const std::vector<PairedClientRecord>& clients) {
    return hex_lower(hmac_sha256(store_key, as_bytes(canonical_clients_text(clients))));
}

std::string store_file_text(const Key32& store_key, const std::vector<PairedClientRecord>& clients) {
    JsonWriter w(JsonWriter::Style::Pretty);
    w.begin_object().member("version", std::uint64_t{1}).key("clients");
    write_clients(w, clients);
    return w.member("hmacHex", compute_store_hmac(store_key, clients)).end_object().take();
}

Result<std::vector<PairedClientRecord>> parse_store_file(std::string_view text, const Key32& store_key) {
    KORVEX_TRY(auto file, JsonRecord::parse(text, {"version", "clients", "hmacHex"}));
    KORVEX_TRY(std::uint64_t version, file.u64("version"));
    if (version > 0xFFFFFFFFu) return fail("version is out of range");
    KORVEX_TRY(std::string mac, file.string("hmacHex"));
    const nlohmann::json* list = file.value("clients");
    if (list == nullptr || !list->is_array()) return fail("clients is missing or not an array");
    std::vector<PairedClientRecord> clients;
    for (const auto& item : *list) {
        KORVEX_TRY(auto record, read_record(file.owner(), item));
        clients.push_back(std::move(record));
    }
    // Compared as text: a MAC written in upper case is refused too.
    if (!ct_equal(as_bytes(compute_store_hmac(store_key, clients)), as_bytes(mac)))
        return fail("the client list does not match its MAC");
    return clients;
}

PairedStore load_store(FileSystem& fs, const std::string& dir, const Key32& host_seed) {
    PairedStore store;
    store.dir = dir;
    store.path = join_path(dir, kStoreFileName, fs.separator());
    store.store_key = derive_store_key(host_seed);
    auto data = fs.read_file(store.path);
    if (data && !*data) return store;
    if (data) {
        auto clients = parse_store_file(as_text(**data), store.store_key);
        if (clients) {
            store.clients = std::move(*clients);
            return store;
        }
    }
    // A failed move is ignored: the store starts empty either way.
    (void)fs.rename_replace(store.path, with_extension(store.path, "json.rejected"));
    return store;
}

Status save_store(FileSystem& fs, const PairedStore& store) {
    if (auto made = fs.create_directories(store.dir); !made) return made;
    return write_atomically(fs, store.path, as_bytes(store_file_text(store.store_key, store.clients)));
}

const PairedClientRecord* find_client(const PairedStore& store, std::string_view client_id) {
    auto it = std::find_if(store.clients.begin(), store.clients.end(),
                           [&](const PairedClientRecord& r) { return r.client_id == client_id; });
    return it == store.clients.end() ? nullptr : &*it;
}

PairedClientRecord* find_client(PairedStore& store, std::string_view client_id) {
    return const_cast<PairedClientRecord*>(find_client(std::as_const(store), client_id));
}

void upsert_client(PairedStore& store, PairedClientRecord record) {
    if (PairedClientRecord* existing = find_client(store, record.client_id)) {
        *existing = std::move(record);
    } else {
        store.clients.push_back(std::move(record));
    }
}

std::size_t erase_client_records(PairedStore& store, std::string_view client_id) {
    return std::erase_if(store.clients, [&](const PairedClientRecord& r) { return r.client_id == client_id; });
}

}  // namespace korvex
