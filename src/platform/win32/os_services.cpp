// Windows implementations of the small OS seams: randomness, clock, environment
// and secret protection (DPAPI).
#include <windows.h>
// After windows.h, which they build on.
#include <bcrypt.h>
#include <ntsecapi.h>
#include <wincrypt.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "core/time.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/random_source.h"
#include "platform/secret_protector.h"
#include "platform/win32/win32_support.h"

namespace korvex {
namespace {

class SystemRandom final : public RandomSource {
public:
    void fill(std::span<std::uint8_t> out) override {
        std::size_t done = 0;
        while (done < out.size()) {
            ULONG size = static_cast<ULONG>(std::min<std::size_t>(out.size() - done, 1u << 30));
            std::uint8_t* at = out.data() + done;
            // RtlGenRandom is the older door to the same generator, for systems
            // where the BCrypt provider cannot be loaded.
            if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, at, size, BCRYPT_USE_SYSTEM_PREFERRED_RNG)) &&
                !RtlGenRandom(at, size)) {
                std::fputs("Korvex: the system random generator failed\n", stderr);
                std::abort();
            }
            done += size;
        }
    }
};

class PreciseClock final : public Clock {
public:
    std::uint64_t unix_now() const override {
        FILETIME now{};
        GetSystemTimePreciseAsFileTime(&now);
        return unix_seconds_from_filetime(static_cast<std::uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime);
    }
};

class ProcessEnvironment final : public Environment {
public:
    std::optional<std::string> get(std::string_view name) const override {
        if (name.empty() || name.find('\0') != std::string_view::npos) return std::nullopt;
        auto wide_name = win32::widen(name);
        if (!wide_name) return std::nullopt;
        std::wstring value(64, L'\0');
        for (;;) {
            SetLastError(ERROR_SUCCESS);
            DWORD got = GetEnvironmentVariableW(wide_name->c_str(), value.data(), static_cast<DWORD>(value.size()));
            if (got == 0) {
                // 0 is also the length of a variable set to an empty value.
                if (GetLastError() != ERROR_SUCCESS) return std::nullopt;
                return std::string();
            }
            if (got < value.size()) {
                value.resize(got);
                return win32::narrow(value);
            }
            // Too small: `got` is the size needed, with the terminator. Loop, as the
            // variable may grow again before the next call.
            value.assign(got, L'\0');
        }
    }
};

// DPAPI, bound to the current user: no description, no extra entropy, never a
// prompt.
class DpapiProtector final : public SecretProtector {
public:
    // The text of a failure is the system's alone (message and code): it is
    // what the start-up error shows.
    Result<Bytes> protect(ByteView plain) override {
        if (plain.size() > ULONG_MAX)
            return std::unexpected(win32::win32_error("", ERROR_INVALID_PARAMETER));
        BYTE none = 0;
        DATA_BLOB in = blob_of(plain, none);
        DATA_BLOB out{};
        if (!CryptProtectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
            return std::unexpected(win32::win32_error("", GetLastError()));
        win32::LocalPtr<BYTE> owned(out.pbData);
        return Bytes(out.pbData, out.pbData + out.cbData);
    }

    Result<Bytes> unprotect(ByteView sealed) override {
        if (sealed.size() > ULONG_MAX)
            return std::unexpected(win32::win32_error("Cannot unprotect the secret", ERROR_INVALID_DATA));
        BYTE none = 0;
        DATA_BLOB in = blob_of(sealed, none);
        DATA_BLOB out{};
        if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
            return std::unexpected(win32::win32_error("Cannot unprotect the secret", GetLastError()));
        win32::LocalPtr<BYTE> owned(out.pbData);
        Bytes plain(out.pbData, out.pbData + out.cbData);
        // The system's copy of the secret should not outlive this call.
        if (out.pbData != nullptr) SecureZeroMemory(out.pbData, out.cbData);
        return plain;
    }

private:
    // DPAPI never writes through the input blob; it is only typed that way. An
    // empty input still gets a valid pointer.
    static DATA_BLOB blob_of(ByteView bytes, BYTE& none) {
        BYTE* data = bytes.empty() ? &none : const_cast<BYTE*>(bytes.data());
        return DATA_BLOB{static_cast<DWORD>(bytes.size()), data};
    }
};

}  // namespace

RandomSource& os_random() {
    static SystemRandom source;
    return source;
}

const Clock& system_clock() {
    static const PreciseClock clock;
    return clock;
}

const Environment& os_environment() {
    static const ProcessEnvironment env;
    return env;
}

std::unique_ptr<SecretProtector> make_os_secret_protector() { return std::make_unique<DpapiProtector>(); }

}  // namespace korvex
