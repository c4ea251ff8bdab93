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

#include "core/discovery.h"

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
    enum class Mode { Respond, NeverAnswer, Trickle };

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

const std::string kStatusBody = R"({"Self":{"DNSName":"api-host.example.","TailscaleIPs":["100.101.102.103"]}})";

struct Fixture {
    TempDir dir;
    fs::path socket = dir.path() / "tailscaled.sock";
    ScopedEnv path{"PATH", fake_tailscale_dir().string() + ":/usr/bin:/bin"};
    std::unique_ptr<TailscaleClient> client = make_os_tailscale_client({socket.string(), "tailscale"});
};

TEST(PosixTailscaleClient, LocalApiSendsTheRequestAndReadsUntilClose) {
    Fixture f;
    const std::string response = "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n" + kStatusBody;
    LocalApiServer server(f.socket, LocalApiServer::Mode::Respond, response);
    auto got = f.client->local_api_exchange(kLocalApiStatusRequest, kLocalApiDeadline, kMaxStatusBytes);
    ASSERT_TRUE(got) << got.error().text;
    EXPECT_EQ(*got, response);
    EXPECT_EQ(server.request(),
              "GET /localapi/v0/status HTTP/1.0\r\nHost: local-tailscaled.sock\r\nSec-Tailscale: localapi\r\n"
              "Connection: close\r\n\r\n");
}

TEST(PosixTailscaleClient, LocalApiFailures) {
    {
        Fixture f;  // nobody listening
        auto got = f.client->local_api_exchange(kLocalApiStatusRequest, kLocalApiDeadline, kMaxStatusBytes);
        EXPECT_FALSE(got);
    }
    {
        Fixture f;
        LocalApiServer server(f.socket, LocalApiServer::Mode::Respond, "HTTP/1.0 200 OK\r\n\r\n" + kStatusBody);
        auto got = f.client->local_api_exchange(kLocalApiStatusRequest, kLocalApiDeadline, 40);
        ASSERT_FALSE(got);
        EXPECT_NE(got.error().text.find("too long"), std::string::npos) << got.error().text;
    }
    {
        Fixture f;
        auto client = make_os_tailscale_client({(f.dir.path() / std::string(200, 'x')).string(), "tailscale"});
        EXPECT_FALSE(client->local_api_exchange(kLocalApiStatusRequest, kLocalApiDeadline, kMaxStatusBytes));
    }
}

// The deadline covers the whole exchange: a server that never answers, or
// one that answers a byte at a time for ever, is given up on after 800 ms.
TEST(PosixTailscaleClient, SlowLocalApiIsAbandonedAfterTheDeadline) {
    for (auto mode : {LocalApiServer::Mode::NeverAnswer, LocalApiServer::Mode::Trickle}) {
        Fixture f;
        LocalApiServer server(f.socket, mode);
        const auto start = SteadyClock::now();
        auto got = f.client->local_api_exchange(kLocalApiStatusRequest, kLocalApiDeadline, kMaxStatusBytes);
        const auto elapsed = SteadyClock::now() - start;
        EXPECT_FALSE(got);
        EXPECT_GE(elapsed, 750ms);
        EXPECT_LT(elapsed, 5s);
    }
}

TEST(PosixTailscaleClient, StatusComesFromTheLocalApiOrElseFromTheCommand) {
    struct Case {
        const char* what;
        std::optional<std::string> api_response;  // none: the server never answers
        const char* command_mode;
        std::optional<std::string> dns_name;  // "-": no status
    };
    const Case cases[] = {
        {"200 accepted", "HTTP/1.0 200 OK\r\n\r\n" + kStatusBody, "fail", "api-host.example."},
        {"403 falls back to the command", "HTTP/1.0 403 Forbidden\r\n\r\n" + kStatusBody, "json",
         "fake-host.tail0000.ts.net."},
        {"silent server falls back to the command", std::nullopt, "json", "fake-host.tail0000.ts.net."},
        {"both fail", "HTTP/1.0 500 Internal Server Error\r\n\r\n", "fail", "-"},
    };
    for (const auto& c : cases) {
        Fixture f;
        ScopedEnv mode("KORVEX_FAKE_TAILSCALE_MODE", c.command_mode);
        LocalApiServer server(f.socket,
                              c.api_response ? LocalApiServer::Mode::Respond : LocalApiServer::Mode::NeverAnswer,
                              c.api_response.value_or(""));
        auto status = fetch_ts_status(*f.client, /*has_tailscale_address=*/true);
        if (c.dns_name == "-") {
            EXPECT_FALSE(status) << c.what;
            continue;
        }
        ASSERT_TRUE(status && status->self) << c.what;
        EXPECT_EQ(status->self->dns_name, c.dns_name) << c.what;
    }
}

TEST(PosixTailscaleClient, CommandOutcomes) {
    struct Case {
        const char* mode;
        bool ok;
        int exit_code;
    };
    const Case cases[] = {{"json", true, 0}, {"fail", true, 1}, {"", true, 2}};
    for (const auto& c : cases) {
        Fixture f;
        ScopedEnv mode("KORVEX_FAKE_TAILSCALE_MODE", c.mode);
        auto out = f.client->run_status_command(kStatusCommandLimit, kMaxStatusBytes);
        ASSERT_EQ(out.has_value(), c.ok) << c.mode;
        EXPECT_EQ(out->exit_code, c.exit_code) << c.mode;
        if (c.exit_code == 0) {
            // Standard output alone: what the tool wrote to standard error stays out.
            auto status = parse_ts_status(out->standard_output);
            ASSERT_TRUE(status) << out->standard_output;
            EXPECT_EQ(status->self->dns_name, "fake-host.tail0000.ts.net.");
        }
    }
}

TEST(PosixTailscaleClient, CommandMissingOrTooTalkative) {
    Fixture f;
    {
        TempDir empty;
        ScopedEnv path("PATH", empty.path().string());
        EXPECT_FALSE(f.client->run_status_command(kStatusCommandLimit, kMaxStatusBytes));
    }
    ScopedEnv mode("KORVEX_FAKE_TAILSCALE_MODE", "json");
    auto out = f.client->run_status_command(kStatusCommandLimit, 20);
    ASSERT_FALSE(out);
    EXPECT_NE(out.error().text.find("too much"), std::string::npos) << out.error().text;
}

TEST(PosixTailscaleClient, HungCommandIsKilledAtTheTimeLimit) {
    Fixture f;
    const fs::path beat = f.dir.path() / "beat";
    ScopedEnv mode("KORVEX_FAKE_TAILSCALE_MODE", "hang");
    ScopedEnv beat_env("KORVEX_FAKE_TAILSCALE_BEAT", beat.string());
    const auto start = SteadyClock::now();
    auto out = f.client->run_status_command(1s, kMaxStatusBytes);
    const auto elapsed = SteadyClock::now() - start;
    ASSERT_FALSE(out);
    EXPECT_GE(elapsed, 950ms);
    EXPECT_LT(elapsed, 5s);

    // The program really ran, and no longer does: its heartbeat has stopped.
    std::error_code ec;
    const auto size_then = fs::file_size(beat, ec);
    ASSERT_FALSE(ec) << "the fake tool never started";
    EXPECT_GT(size_then, 0u);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(fs::file_size(beat, ec), size_then);
}

}  // namespace
}  // namespace korvex
