// The Tailscale client on Linux: its local API on a Unix socket, and the
// "tailscale" tool run through run_child (its own process group, so that a
// kill after the time limit takes whatever it started along).
#include "platform/tailscale_client.h"

#include "platform/posix/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

namespace korvex {
namespace {

using Clock = std::chrono::steady_clock;

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    void reset() noexcept {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

Error errno_error(const std::string& context, int err) {
    return Error{context + ": " + std::strerror(err), static_cast<std::uint32_t>(err)};
}

// Milliseconds left until `deadline` for poll(), 0 once it has passed.
int remaining_ms(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, 1'000'000));
}

// Waits for `events` on `fd` until the deadline; false on time-out.
Result<bool> wait_for(int fd, short events, Clock::time_point deadline) {
    while (true) {
        int left = remaining_ms(deadline);
        if (left == 0) return false;
        pollfd p{fd, events, 0};
        int n = ::poll(&p, 1, left);
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return std::unexpected(errno_error("poll", errno));
    }
}

class PosixTailscaleClient final : public TailscaleClient {
public:
    explicit PosixTailscaleClient(TailscaleClientOptions options) : options_(std::move(options)) {
        if (options_.local_api_endpoint.empty()) options_.local_api_endpoint = default_local_api_endpoint();
    }

    Result<std::string> local_api_exchange(std::string_view request, std::chrono::milliseconds deadline_after,
                                           std::size_t max_bytes) override {
        const auto deadline = Clock::now() + deadline_after;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string& path = options_.local_api_endpoint;
        if (path.empty() || path.size() >= sizeof address.sun_path) return fail("local API socket path is too long");
        std::memcpy(address.sun_path, path.data(), path.size());

        UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!fd.valid()) return std::unexpected(errno_error("socket", errno));
        if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            if (errno != EINPROGRESS) return std::unexpected(errno_error("connect " + path, errno));
            KORVEX_TRY(bool ready, wait_for(fd.get(), POLLOUT, deadline));
            if (!ready) return fail("local API: time-out while connecting");
            int err = 0;
            socklen_t len = sizeof err;
            ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &len);
            if (err != 0) return std::unexpected(errno_error("connect " + path, err));
        }

        std::size_t sent = 0;
        while (sent < request.size()) {
            ssize_t n = ::send(fd.get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return std::unexpected(errno_error("local API: send", errno));
            KORVEX_TRY(bool ready, wait_for(fd.get(), POLLOUT, deadline));
            if (!ready) return fail("local API: time-out while sending");
        }

        std::string response;
        char buffer[16384];
        while (true) {
            ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
            if (n == 0) return response;
            if (n > 0) {
                if (response.size() + static_cast<std::size_t>(n) > max_bytes)
                    return fail("local API: response too long");
                response.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return std::unexpected(errno_error("local API: receive", errno));
            KORVEX_TRY(bool ready, wait_for(fd.get(), POLLIN, deadline));
            if (!ready) return fail("local API: time-out while reading the response");
        }
    }

    Result<CommandOutput> run_status_command(std::chrono::milliseconds time_limit, std::size_t max_bytes) override {
        KORVEX_TRY(posix::ChildResult ran, posix::run_child({options_.program, "status", "--json"}, time_limit, max_bytes));
        CommandOutput result;
        result.exit_code = ran.exit_code;
        result.standard_output = std::move(ran.standard_output);
        return result;
    }

private:
    TailscaleClientOptions options_;
};

}  // namespace

std::string default_local_api_endpoint() {
    // Distributions put the socket under /var/run or /run (often the same place).
    for (const char* path : {"/var/run/tailscale/tailscaled.sock", "/run/tailscale/tailscaled.sock"}) {
        struct stat st {};
        if (::stat(path, &st) == 0) return path;
    }
    return "/var/run/tailscale/tailscaled.sock";
}

std::unique_ptr<TailscaleClient> make_os_tailscale_client(TailscaleClientOptions options) {
    return std::make_unique<PosixTailscaleClient>(std::move(options));
}

}  // namespace korvex
