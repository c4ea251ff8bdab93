#pragma once
// What korvex-remote keeps between runs, in its own config folder: its
// identity (client id and Ed25519 seed, "identity.json", private to the user)
// and the hosts it paired with ("hosts.json").
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/crypto.h"
#include "core/error.h"

namespace korvex {
class Environment;
class FileSystem;
class RandomSource;
}  // namespace korvex

namespace korvex::client {

inline constexpr std::string_view kIdentityFile = "identity.json";
inline constexpr std::string_view kHostsFile = "hosts.json";

// KORVEX_REMOTE_DIR as given; on Windows (backslash separator) APPDATA\korvex-remote;
// else XDG_CONFIG_HOME/korvex-remote, else HOME (or ".")/.config/korvex-remote.
std::string client_config_dir(const Environment& env, char separator);

struct ClientIdentity {
    std::string client_id;  // a random version-4 UUID
    SecretKey seed;         // the Ed25519 private key registered at pairing

    Key32 public_key() const { return ed25519_public_key(seed); }
};

ClientIdentity new_client_identity(RandomSource& rng);
// {"clientId":...,"seedHex":...}, compact.
std::string encode_client_identity(const ClientIdentity& identity);
Result<ClientIdentity> decode_client_identity(std::string_view text);

// Reads the identity from `dir`, or makes and stores a new one when there is
// none. A file that exists but does not read back is an error: it may be the
// only copy of a key some host trusts, so it is never replaced silently.
Result<ClientIdentity> load_or_create_client_identity(FileSystem& fs, RandomSource& rng, const std::string& dir);

// A host this client paired with.
struct KnownHost {
    std::string host_id;
    std::string name;
    Key32 ed25519_public{};
    std::string endpoint;  // the last endpoint that answered, "addr:port" or "[v6]:port"
    std::uint16_t udp_port = 0;
    std::uint64_t paired_at_unix = 0;
    // The last event sequence number sent to this host, so a later run
    // starts above it even when the clock went back.
    std::uint64_t last_seq = 0;

    bool operator==(const KnownHost&) const = default;
};

struct KnownHosts {
    std::vector<KnownHost> hosts;  // the most recently paired last

    const KnownHost* find(std::string_view host_id) const;
    KnownHost* find(std::string_view host_id);
    // The hosts `text` names: the one with that id, else every one with that name.
    std::vector<const KnownHost*> named(std::string_view text) const;
    const KnownHost* most_recent() const { return hosts.empty() ? nullptr : &hosts.back(); }
    // Adds the host, or replaces the one with the same id, and makes it the most recent.
    void remember(KnownHost host);
    bool forget(std::string_view host_id);
};

// {"version":1,"hosts":[{hostId, name, ed25519PubHex, endpoint, udpPort,
// pairedAtUnix, lastSeq}, ...]}, pretty-printed.
std::string encode_known_hosts(const KnownHosts& hosts);
Result<KnownHosts> decode_known_hosts(std::string_view text);

// A missing file is an empty list.
Result<KnownHosts> load_known_hosts(FileSystem& fs, const std::string& dir);
Status save_known_hosts(FileSystem& fs, const std::string& dir, const KnownHosts& hosts);

}  // namespace korvex::client
