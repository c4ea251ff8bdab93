// The Tailscale client on Linux: its local API on a Unix socket, and the
// "tailscale" tool run as a child in a process group of its own, so that a
// kill after the time limit takes whatever it started along.
#include "platform/tailscale_client.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

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

// A child's pipes and process; the destructor kills and reaps a child that
// is still there, so no path leaves a zombie or a stray tool behind.
struct Child {
    pid_t pid = -1;
    ~Child() {
        if (pid > 0) {
            ::kill(-pid, SIGKILL);
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
    }
};

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
        const auto deadline = Clock::now() + time_limit;
        int out_pipe[2] = {-1, -1};
        int err_pipe[2] = {-1, -1};
        if (::pipe2(out_pipe, O_CLOEXEC) != 0) return std::unexpected(errno_error("pipe", errno));
        UniqueFd out_read(out_pipe[0]), out_write(out_pipe[1]);
        if (::pipe2(err_pipe, O_CLOEXEC) != 0) return std::unexpected(errno_error("pipe", errno));
        UniqueFd err_read(err_pipe[0]), err_write(err_pipe[1]);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out_write.get(), 1);
        posix_spawn_file_actions_adddup2(&actions, err_write.get(), 2);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        // Its own process group, default signal handling and an empty mask,
        // whatever the host changed for itself.
        sigset_t empty, defaults;
        sigemptyset(&empty);
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigmask(&attr, &empty);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setpgroup(&attr, 0);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

        std::string program = options_.program;
        std::string arg_status = "status", arg_json = "--json";
        char* argv[] = {program.data(), arg_status.data(), arg_json.data(), nullptr};
        Child child;
        int rc = ::posix_spawnp(&child.pid, program.c_str(), &actions, &attr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
        if (rc != 0) {
            child.pid = -1;
            return std::unexpected(errno_error("could not start " + program, rc));
        }
        out_write.reset();
        err_write.reset();

        CommandOutput result;
        bool out_open = true, err_open = true;
        char buffer[16384];
        while (out_open || err_open) {
            int left = remaining_ms(deadline);
            if (left == 0) return fail(program + " did not finish in time and was stopped");
            pollfd fds[2] = {{out_open ? out_read.get() : -1, POLLIN, 0}, {err_open ? err_read.get() : -1, POLLIN, 0}};
            int n = ::poll(fds, 2, left);
            if (n < 0 && errno != EINTR) return std::unexpected(errno_error("poll", errno));
            if (n <= 0) continue;
            if (out_open && fds[0].revents != 0) {
                ssize_t got = ::read(out_read.get(), buffer, sizeof buffer);
                if (got > 0) {
                    if (result.standard_output.size() + static_cast<std::size_t>(got) > max_bytes)
                        return fail(program + " wrote too much and was stopped");
                    result.standard_output.append(buffer, static_cast<std::size_t>(got));
                } else if (got == 0 || errno != EINTR) {
                    out_open = false;
                }
            }
            if (err_open && fds[1].revents != 0) {
                // Read and dropped: nothing of it is shown anywhere.
                ssize_t got = ::read(err_read.get(), buffer, sizeof buffer);
                if (got == 0 || (got < 0 && errno != EINTR)) err_open = false;
            }
        }

        // Both outputs are closed; the tool normally exits right after.
        while (true) {
            int status = 0;
            pid_t done = ::waitpid(child.pid, &status, WNOHANG);
            if (done == child.pid) {
                child.pid = -1;
                if (!WIFEXITED(status)) return fail(program + " ended by a signal");
                result.exit_code = WEXITSTATUS(status);
                return result;
            }
            if (done < 0 && errno != EINTR) {
                int err = errno;
                child.pid = -1;
                return std::unexpected(errno_error("waitpid", err));
            }
            if (remaining_ms(deadline) == 0) return fail(program + " did not finish in time and was stopped");
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
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
