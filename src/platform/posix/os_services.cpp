// Linux implementations of the small OS seams: randomness, clock, environment
// and secret protection.
#include <sys/random.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "core/utf8.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/random_source.h"
#include "platform/secret_protector.h"

namespace korvex {
namespace {

class GetrandomSource final : public RandomSource {
public:
    void fill(std::span<std::uint8_t> out) override {
        std::size_t done = 0;
        while (done < out.size()) {
            ssize_t n = ::getrandom(out.data() + done, out.size() - done, 0);
            if (n < 0) {
                if (errno == EINTR) continue;
                std::fputs("Korvex: the system random generator failed\n", stderr);
                std::abort();
            }
            done += static_cast<std::size_t>(n);
        }
    }
};

class RealtimeClock final : public Clock {
public:
    std::uint64_t unix_now() const override {
        timespec ts{};
        ::clock_gettime(CLOCK_REALTIME, &ts);
        return ts.tv_sec < 0 ? 0 : static_cast<std::uint64_t>(ts.tv_sec);
    }
};

class ProcessEnvironment final : public Environment {
public:
    std::optional<std::string> get(std::string_view name) const override {
        const char* value = std::getenv(std::string(name).c_str());
        if (value == nullptr || !is_valid_utf8(value)) return std::nullopt;
        return std::string(value);
    }
};

// The file's owner-only mode is the protection here; the bytes pass unchanged.
class PassThroughProtector final : public SecretProtector {
public:
    Result<Bytes> protect(ByteView plain) override { return Bytes(plain.begin(), plain.end()); }
    Result<Bytes> unprotect(ByteView sealed) override { return Bytes(sealed.begin(), sealed.end()); }
};

}  // namespace

RandomSource& os_random() {
    static GetrandomSource source;
    return source;
}

const Clock& system_clock() {
    static const RealtimeClock clock;
    return clock;
}

const Environment& os_environment() {
    static const ProcessEnvironment env;
    return env;
}

std::unique_ptr<SecretProtector> make_os_secret_protector() { return std::make_unique<PassThroughProtector>(); }

}  // namespace korvex
