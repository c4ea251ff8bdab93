#pragma once
// The paired-device store: the clients allowed to authenticate, kept in
// "paired_devices.json" with an HMAC over the client list under a key derived
// from the host seed, so a file edited by hand or copied from another host is
// refused.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/crypto.h"
#include "core/error.h"

namespace korvex {

class FileSystem;

struct PairedClientRecord {
    std::string client_id;
    std::string device_name;
    std::string device_model;
    std::string ed25519_public_key_hex;
    std::uint64_t paired_at_unix = 0;
    std::uint64_t last_seen_unix = 0;
    std::string last_remote_ip;

    bool operator==(const PairedClientRecord&) const = default;
};

struct PairedStore {
    std::string dir;
    std::string path;
    SecretKey store_key;
    std::vector<PairedClientRecord> clients;  // insertion order
};

// The clients array as compact JSON, the input of the store MAC.
std::string canonical_clients_text(const std::vector<PairedClientRecord>& clients);
std::string compute_store_hmac(const Key32& store_key, const std::vector<PairedClientRecord>& clients);
// The whole file, pretty-printed, with version 1 and the MAC.
std::string store_file_text(const Key32& store_key, const std::vector<PairedClientRecord>& clients);
// Parses a file and checks its MAC; any failure refuses the whole file.
Result<std::vector<PairedClientRecord>> parse_store_file(std::string_view text, const Key32& store_key);

// Never fails: a missing file gives an empty store; an unreadable, unparsable
// or unverifiable one is moved aside to paired_devices.json.rejected.
PairedStore load_store(FileSystem& fs, const std::string& dir, const Key32& host_seed);
Status save_store(FileSystem& fs, const PairedStore& store);

// Where the locked core hands the store over for writing. A pairing or a
// removal must be on disk before the client or the user is told; a refresh
// of lastSeenUnix may lag by a moment, so it need not hold up the lock.
class StoreSaver {
public:
    virtual ~StoreSaver() = default;
    // Writes the store before returning.
    virtual Status save_now(const PairedStore& store) = 0;
    // Writes the store soon; failures are dropped (the next change retries).
    virtual void save_soon(const PairedStore& store) = 0;
};

// Writes at once in both cases: for callers without a background writer.
class DirectStoreSaver final : public StoreSaver {
public:
    explicit DirectStoreSaver(FileSystem& fs) : fs_(fs) {}
    Status save_now(const PairedStore& store) override { return save_store(fs_, store); }
    void save_soon(const PairedStore& store) override { (void)save_store(fs_, store); }

private:
    FileSystem& fs_;
};

// The first record with exactly this id.
const PairedClientRecord* find_client(const PairedStore& store, std::string_view client_id);
PairedClientRecord* find_client(PairedStore& store, std::string_view client_id);
// Replaces the first record with the same id in place, or appends.
void upsert_client(PairedStore& store, PairedClientRecord record);
// Removes every record with this id, keeping the order of the rest; returns
// how many went.
std::size_t erase_client_records(PairedStore& store, std::string_view client_id);

}  // namespace korvex
