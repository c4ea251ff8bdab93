#pragma once
// The host identity: a stable id and the 32-byte seed every long-term key
// comes from, kept in "host_identity.bin" sealed for the current user.
#include <string>
#include <string_view>

#include "core/crypto.h"
#include "core/error.h"

namespace korvex {

class FileSystem;
class RandomSource;
class SecretProtector;

struct HostIdentity {
    std::string host_id;
    SecretKey seed;
};

// The file's plaintext: {"hostId":...,"seedHex":...}, compact.
std::string encode_identity_file(const HostIdentity& identity);
// Either case of seed digits; exactly 32 bytes; also the two-element array form.
Result<HostIdentity> decode_identity_file(std::string_view text);

// A random version-4 UUID in lower-case 8-4-4-4-12 form.
std::string new_host_id(RandomSource& rng);

// Loads the identity from `dir`, or creates and stores a new one when there is
// none. A file that exists but cannot be read back is first moved aside to
// "host_identity.bin.rejected" so the only copy of a key is never overwritten;
// if it cannot be moved, this fails instead of replacing it.
Result<HostIdentity> load_or_create_identity(FileSystem& fs, SecretProtector& protector, RandomSource& rng,
                                             const std::string& dir);

}  // namespace korvex
