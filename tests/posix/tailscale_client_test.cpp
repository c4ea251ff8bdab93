// The Linux Tailscale client against a small HTTP server of the test on a
// Unix socket, and against a fake "tailscale" program put on the PATH.
#include "platform/tailscale_client.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "support/tailscale_client_cases.h"

namespace korvex {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "korvex-ts-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Sets an environment variable for the test's lifetime.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// Serves one connection on a Unix socket: reads the request up to its blank
// line, then behaves as told.
class LocalApiServer {
public:
    using Mode = test::tailscale_cases::ServerMode;

    LocalApiServer(const fs::path& socket_path, Mode mode, std::string response = {})
        : mode_(mode), response_(std::move(response)) {
        listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socket_path.c_str(), sizeof address.sun_path - 1);
        if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listen_fd_, 4) != 0)
            ADD_FAILURE() << "cannot listen on " << socket_path << ": " << std::strerror(errno);
        thread_ = std::thread([this] { serve(); });
    }
    ~LocalApiServer() {
        stop_ = true;
        thread_.join();
        ::close(listen_fd_);
    }
    std::string request() const {
        std::lock_guard lock(mutex_);
        return request_;
    }

private:
    bool wait_readable(int fd) {
        while (!stop_) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) return true;
        }
        return false;
    }

    void serve() {
        if (!wait_readable(listen_fd_)) return;
        int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        std::string got;
        char buffer[1024];
        while (got.find("\r\n\r\n") == std::string::npos && wait_readable(fd)) {
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        {
            std::lock_guard lock(mutex_);
            request_ = got;
        }
        if (mode_ == Mode::Respond) {
            ::send(fd, response_.data(), response_.size(), MSG_NOSIGNAL);
        } else if (mode_ == Mode::Trickle) {
            // A byte every 50 ms: each read is quick, the whole never ends.
            const std::string head = "HTTP/1.0 200 OK\r\n\r\n{\"Self\":{}}";
            for (std::size_t i = 0; !stop_; ++i) {
                char c = i < head.size() ? head[i] : ' ';
                if (::send(fd, &c, 1, MSG_NOSIGNAL) != 1) break;
                std::this_thread::sleep_for(50ms);
            }
        } else {
            while (!stop_) std::this_thread::sleep_for(10ms);
        }
        ::close(fd);
    }

    Mode mode_;
    std::string response_;
    int listen_fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::string request_;
};

fs::path fake_tailscale_dir() {
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return self.parent_path() / "fake-tailscale";
}

struct PosixPlatform {
    struct Fixture {
        TempDir temp;
        fs::path socket = temp.path() / "tailscaled.sock";
        ScopedEnv path{"PATH", fake_tailscale_dir().string() + ":/usr/bin:/bin"};
        std::unique_ptr<TailscaleClient> client = make_os_tailscale_client({socket.string(), "tailscale"});
        const fs::path& dir() const { return temp.path(); }
    };
    struct Server : LocalApiServer {
        Server(const Fixture& f, Mode mode, std::string response) : LocalApiServer(f.socket, mode, std::move(response)) {}
    };
    struct Env : ScopedEnv {
        Env(const char* name, const std::string& value) : ScopedEnv(name, value) {}
    };
    static std::unique_ptr<ScopedEnv> empty_path(const Fixture& f) {
        fs::create_directories(f.dir() / "empty");
        return std::make_unique<ScopedEnv>("PATH", (f.dir() / "empty").string());
    }
};

KORVEX_TAILSCALE_CLIENT_CASES(PosixTailscaleClient, PosixPlatform)

// A socket path longer than the address structure holds is refused, not cut.
TEST(PosixTailscaleClient, OverlongSocketPathIsRefused) {
    PosixPlatform::Fixture f;
    auto client = make_os_tailscale_client({(f.dir() / std::string(200, 'x')).string(), "tailscale"});
    EXPECT_FALSE(client->local_api_exchange(kLocalApiStatusRequest, kLocalApiDeadline, kMaxStatusBytes));
}

}  // namespace
}  // namespace korvex
