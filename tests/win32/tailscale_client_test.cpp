// The Windows Tailscale client against a small HTTP server of the test on a
// named pipe, and against a fake "tailscale.exe" put on the PATH.
#include "platform/tailscale_client.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "support/tailscale_client_cases.h"

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
    using Mode = test::tailscale_cases::ServerMode;

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

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

struct WindowsPlatform {
    struct Fixture {
        TempDir temp;
        std::string pipe = unique_pipe_name();
        ScopedEnv path{L"PATH", (program_dir() / "fake-tailscale").wstring() + L";" + get_env(L"PATH").value_or(L"")};
        std::unique_ptr<TailscaleClient> client = make_os_tailscale_client({pipe, "tailscale"});
        const fs::path& dir() const { return temp.path(); }
    };
    struct Server : LocalApiServer {
        Server(const Fixture& f, Mode mode, std::string response) : LocalApiServer(f.pipe, mode, std::move(response)) {}
    };
    // Test values are ASCII.
    struct Env : ScopedEnv {
        Env(const char* name, const std::string& value) : ScopedEnv(name_of(name), widen(value)) {}
        static const wchar_t* name_of(const char* name) {
            static std::mutex mutex;
            static std::map<std::string, std::wstring> names;
            std::lock_guard lock(mutex);
            return names.try_emplace(name, widen(name)).first->second.c_str();
        }
    };
    static std::unique_ptr<ScopedEnv> empty_path(const Fixture& f) {
        fs::create_directories(f.dir() / "empty");
        return std::make_unique<ScopedEnv>(L"PATH", (f.dir() / "empty").wstring());
    }
};

KORVEX_TAILSCALE_CLIENT_CASES(WindowsTailscaleClient, WindowsPlatform)

}  // namespace
}  // namespace korvex
