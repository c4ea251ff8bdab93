#include "platform/posix/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

extern char** environ;

namespace korvex::posix {
namespace {

using Clock = std::chrono::steady_clock;

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) noexcept : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const noexcept { return fd_; }
    void reset() noexcept {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

Error errno_error(const std::string& context, int err) {
    return Error{context + ": " + std::strerror(err), static_cast<std::uint32_t>(err)};
}

// Milliseconds left until `deadline` for poll(), 0 once it has passed.
int remaining_ms(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, 1'000'000));
}

// The child's process group is killed and reaped unless it was reaped already.
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

}  // namespace

Result<ChildResult> run_child(const std::vector<std::string>& argv, std::chrono::milliseconds time_limit,
                              std::size_t max_output) {
    if (argv.empty()) return fail("no program to run");
    const std::string& program = argv.front();
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
    sigset_t empty, defaults;
    sigemptyset(&empty);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &empty);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    Child child;
    int rc = ::posix_spawnp(&child.pid, program.c_str(), &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        child.pid = -1;
        return std::unexpected(errno_error("could not start " + program, rc));
    }
    out_write.reset();
    err_write.reset();

    ChildResult result;
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
                if (result.standard_output.size() + static_cast<std::size_t>(got) > max_output)
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

    // Both outputs are closed; the program normally exits right after.
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

}  // namespace korvex::posix
