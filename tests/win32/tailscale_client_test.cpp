// The Windows Tailscale client against a small HTTP server of the test on a
// named pipe, and against a fake "tailscale.exe" put on the PATH.
#include "platform/tailscale_client.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/discovery.h"

namespace korvex {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

std::optional<std::wstring> get_env(const wchar_t* name) {
    DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return std::nullopt;
    std::wstring value(size, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), size));
    return value;
}

class ScopedEnv {
public:
    ScopedEnv(const wchar_t* name, const std::wstring& value) : name_(name), old_(get_env(name)) {
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedEnv() { SetEnvironmentVariableW(name_, old_ ? old_->c_str() : nullptr); }

private:
    const wchar_t* name_;
    std::optional<std::wstring> old_;
};

fs::path program_dir() {
    wchar_t buffer[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(std::size(buffer)));
    return fs::path(std::wstring(buffer, n)).parent_path();
}

class TempDir {
public:
    TempDir() {
        static std::atomic<int> counter{0};
        path_ = fs::temp_directory_path() /
                ("korvex-ts-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++));
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::string unique_pipe_name() {
    static std::atomic<int> counter{0};
    return R"(\\.\pipe\korvex-test-tailscaled-)" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(counter++);
}

// Serves one connection on a named pipe: reads the request up to its blank
// line, then behaves as told.
class LocalApiServer {
public:
    enum class Mode { Respond, NeverAnswer, Trickle };

    LocalApiServer(const std::string& name, Mode mode, std::string response = {})
        : mode_(mode), response_(std::move(response)) {
        std::wstring wide(name.begin(), name.end());
        pipe_ = CreateNamedPipeW(wide.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr);
        if (pipe_ == INVALID_HANDLE_VALUE) ADD_FAILURE() << "CreateNamedPipeW failed: " << GetLastError();
        event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = std::thread([this] { serve(); });
    }
    ~LocalApiServer() {
        stop_ = true;
        thread_.join();
        CloseHandle(event_);
        CloseHandle(pipe_);
    }
    std::string request() const {
        std::lock_guard lock(mutex_);
        return request_;
    }

private:
    // Waits for an overlapped operation, giving up when the test ends.
    bool finish(OVERLAPPED& ov, BOOL started, DWORD& bytes) {
        if (!started && GetLastError() != ERROR_IO_PENDING) return GetLastError() == ERROR_PIPE_CONNECTED;
        while (WaitForSingleObject(event_, 20) == WAIT_TIMEOUT) {
            if (stop_) {
                CancelIoEx(pipe_, &ov);
                GetOverlappedResult(pipe_, &ov, &bytes, TRUE);
                return false;
            }
        }
        return GetOverlappedResult(pipe_, &ov, &bytes, FALSE) != FALSE;
    }

    bool io(bool write, char* data, DWORD size, DWORD& bytes) {
        OVERLAPPED ov{};
        ResetEvent(event_);
        ov.hEvent = event_;
        BOOL started = write ? WriteFile(pipe_, data, size, nullptr, &ov) : ReadFile(pipe_, data, size, nullptr, &ov);
        return finish(ov, started, bytes);
    }

    void serve() {
        OVERLAPPED ov{};
        ResetEvent(event_);
        ov.hEvent = event_;
        DWORD bytes = 0;
        if (!finish(ov, ConnectNamedPipe(pipe_, &ov), bytes)) return;
        std::string got;
        char buffer[1024];
        while (got.find("\r\n\r\n") == std::string::npos && io(false, buffer, sizeof buffer, bytes) && bytes > 0)
            got.append(buffer, bytes);
        {
            std::lock_guard lock(mutex_);
            request_ = got;
        }
        if (mode_ == Mode::Respond) {
            std::size_t sent = 0;
            while (sent < response_.size() &&
                   io(true, response_.data() + sent, static_cast<DWORD>(response_.size() - sent), bytes))
                sent += bytes;
            FlushFileBuffers(pipe_);
        } else if (mode_ == Mode::Trickle) {
            for (; !stop_;) {
                char c = ' ';
                if (!io(true, &c, 1, bytes)) break;
                std::this_thread::sleep_for(50ms);
            }
        } else {
            while (!stop_) std::this_thread::sleep_for(10ms);
        }
        DisconnectNamedPipe(pipe_);
    }

    Mode mode_;
    std::string response_;
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    HANDLE event_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::string request_;
};

const std::string kStatusBody = R"({"Self":{"DNSName":"api-host.example.","TailscaleIPs":["100.101.102.103"]}})";

struct Fixture {
    std::string pipe = unique_pipe_name();
    ScopedEnv path{L"PATH", (program_dir() / "fake-tailscale").wstring() + L";" + get_env(L"PATH").value_or(L"")};
    std::unique_ptr<TailscaleClient> client = make_os_tailscale_client({pipe, "tailscale"});
};

TEST(WindowsTailscaleClient, LocalApiSendsTheRequestAndReadsUntilClose) {
    Fixture f;
    const std::string response = "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n" + kStatusBody;
    LocalApiServer server(f.pipe, LocalApiServer::Mode::Respond, response);
    auto got = f.client->local_api_exchange(kLocalApiStatusRequest, kLocalApiDeadline, kMaxStatusBytes);
    ASSERT_TRUE(got) << got.error().text;
    EXPECT_EQ(*got, response);
    EXPECT_EQ(server.request(),
              "GET /localapi/v0/status HTTP/1.0\r\nHost: local-tailscaled.sock\r\nSec-Tailscale: localapi\r\n"
              "Connection: close\r\n\r\n");
}

TEST(WindowsTailscaleClient, LocalApiFailures) {
    {
        Fixture f;  // no such pipe
        EXPECT_FALSE(f.client->local_api_exchange(kLocalApiStatusRequest, kLocalApiDeadline, kMaxStatusBytes));
    }
    {
        Fixture f;
        LocalApiServer server(f.pipe, LocalApiServer::Mode::Respond, "HTTP/1.0 200 OK\r\n\r\n" + kStatusBody);
        auto got = f.client->local_api_exchange(kLocalApiStatusRequest, kLocalApiDeadline, 40);
        ASSERT_FALSE(got);
        EXPECT_NE(got.error().text.find("too long"), std::string::npos) << got.error().text;
    }
}

TEST(WindowsTailscaleClient, SlowLocalApiIsAbandonedAfterTheDeadline) {
    for (auto mode : {LocalApiServer::Mode::NeverAnswer, LocalApiServer::Mode::Trickle}) {
        Fixture f;
        LocalApiServer server(f.pipe, mode);
        const auto start = SteadyClock::now();
        auto got = f.client->local_api_exchange(kLocalApiStatusRequest, kLocalApiDeadline, kMaxStatusBytes);
        const auto elapsed = SteadyClock::now() - start;
        EXPECT_FALSE(got);
        EXPECT_GE(elapsed, 750ms);
        EXPECT_LT(elapsed, 5s);
    }
}

TEST(WindowsTailscaleClient, StatusComesFromTheLocalApiOrElseFromTheCommand) {
    struct Case {
        const char* what;
        std::optional<std::string> api_response;  // none: the server never answers
        const wchar_t* command_mode;
        std::optional<std::string> dns_name;  // "-": no status
    };
    const Case cases[] = {
        {"200 accepted", "HTTP/1.0 200 OK\r\n\r\n" + kStatusBody, L"fail", "api-host.example."},
        {"403 falls back to the command", "HTTP/1.0 403 Forbidden\r\n\r\n" + kStatusBody, L"json",
         "fake-host.tail0000.ts.net."},
        {"silent server falls back to the command", std::nullopt, L"json", "fake-host.tail0000.ts.net."},
        {"both fail", "HTTP/1.0 500 Internal Server Error\r\n\r\n", L"fail", "-"},
    };
    for (const auto& c : cases) {
        Fixture f;
        ScopedEnv mode(L"KORVEX_FAKE_TAILSCALE_MODE", c.command_mode);
        LocalApiServer server(f.pipe,
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

TEST(WindowsTailscaleClient, CommandOutcomes) {
    struct Case {
        const wchar_t* mode;
        int exit_code;
    };
    const Case cases[] = {{L"json", 0}, {L"fail", 1}, {L"unknown", 2}};
    for (const auto& c : cases) {
        Fixture f;
        ScopedEnv mode(L"KORVEX_FAKE_TAILSCALE_MODE", c.mode);
        auto out = f.client->run_status_command(kStatusCommandLimit, kMaxStatusBytes);
        ASSERT_TRUE(out) << out.error().text;
        EXPECT_EQ(out->exit_code, c.exit_code);
        if (c.exit_code == 0) {
            auto status = parse_ts_status(out->standard_output);
            ASSERT_TRUE(status) << out->standard_output;
            EXPECT_EQ(status->self->dns_name, "fake-host.tail0000.ts.net.");
        }
    }
}

TEST(WindowsTailscaleClient, CommandMissingOrTooTalkative) {
    Fixture f;
    {
        TempDir empty;
        ScopedEnv path(L"PATH", empty.path().wstring());
        EXPECT_FALSE(f.client->run_status_command(kStatusCommandLimit, kMaxStatusBytes));
    }
    ScopedEnv mode(L"KORVEX_FAKE_TAILSCALE_MODE", L"json");
    auto out = f.client->run_status_command(kStatusCommandLimit, 20);
    ASSERT_FALSE(out);
    EXPECT_NE(out.error().text.find("too much"), std::string::npos) << out.error().text;
}

TEST(WindowsTailscaleClient, HungCommandIsKilledAtTheTimeLimit) {
    Fixture f;
    TempDir dir;
    const fs::path beat = dir.path() / "beat";
    ScopedEnv mode(L"KORVEX_FAKE_TAILSCALE_MODE", L"hang");
    ScopedEnv beat_env(L"KORVEX_FAKE_TAILSCALE_BEAT", beat.wstring());
    const auto start = SteadyClock::now();
    auto out = f.client->run_status_command(1s, kMaxStatusBytes);
    const auto elapsed = SteadyClock::now() - start;
    ASSERT_FALSE(out);
    EXPECT_GE(elapsed, 950ms);
    EXPECT_LT(elapsed, 5s);

    std::error_code ec;
    const auto size_then = fs::file_size(beat, ec);
    ASSERT_FALSE(ec) << "the fake tool never started";
    EXPECT_GT(size_then, 0u);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(fs::file_size(beat, ec), size_then);
}

}  // namespace
}  // namespace korvex
