#pragma once
// Encryption of secrets at rest for the current user. On Windows it is DPAPI;
// on Linux the bytes pass through unchanged and the file's owner-only mode is
// the protection.
#include <memory>

#include "core/bytes.h"
#include "core/error.h"

namespace korvex {

class SecretProtector {
public:
    virtual ~SecretProtector() = default;
    virtual Result<Bytes> protect(ByteView plain) = 0;
    virtual Result<Bytes> unprotect(ByteView sealed) = 0;
};

std::unique_ptr<SecretProtector> make_os_secret_protector();

}  // namespace korvex
