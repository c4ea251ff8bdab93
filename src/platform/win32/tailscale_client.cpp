// The Tailscale client on Windows: its local API is a named pipe (since
// version 1.34), and its command-line tool runs without a console window in
// a job object, so that a kill after the time limit takes whatever it
// started along.
#include "platform/tailscale_client.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "platform/win32/win32_support.h"

namespace korvex {
namespace {

using Clock = std::chrono::steady_clock;
using win32::UniqueHandle;
using win32::win32_error;

DWORD remaining_ms(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<DWORD>(std::clamp<decltype(left)>(left, 0, 1'000'000));
}

// One overlapped read or write, waited for until the deadline. A time-out
// cancels the operation and waits for the cancellation, so the OVERLAPPED
// never outlives its I/O. Gives the byte count, or the Win32 error (with
// ERROR_TIMEOUT for the deadline).
struct IoOutcome {
    DWORD bytes = 0;
    DWORD error = ERROR_SUCCESS;
};

IoOutcome overlapped_io(HANDLE pipe, bool write, void* data, DWORD size, Clock::time_point deadline) {
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event.valid()) return {0, GetLastError()};
    OVERLAPPED ov{};
    ov.hEvent = event.get();
    BOOL ok = write ? WriteFile(pipe, data, size, nullptr, &ov) : ReadFile(pipe, data, size, nullptr, &ov);
    if (!ok) {
        DWORD err = GetLastError();
        if (err != ERROR_IO_PENDING) return {0, err};
    }
    DWORD bytes = 0;
    if (WaitForSingleObject(event.get(), remaining_ms(deadline)) != WAIT_OBJECT_0) {
        CancelIoEx(pipe, &ov);
        GetOverlappedResult(pipe, &ov, &bytes, TRUE);
        return {0, ERROR_TIMEOUT};
    }
    if (!GetOverlappedResult(pipe, &ov, &bytes, FALSE)) {
        DWORD err = GetLastError();
        // A message longer than the buffer: the part read is data all the same.
        if (err != ERROR_MORE_DATA) return {bytes, err};
    }
    return {bytes, ERROR_SUCCESS};
}

// The first PATH folder holding `program` + ".exe". Only PATH is searched,
// never the current or the application folder.
std::optional<std::wstring> find_on_path(const std::wstring& program) {
    DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (size == 0) return std::nullopt;
    std::wstring path(size, L'\0');
    size = GetEnvironmentVariableW(L"PATH", path.data(), size);
    path.resize(size);
    const std::wstring file = program.ends_with(L".exe") ? program : program + L".exe";
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(L';', start);
        if (end == std::wstring::npos) end = path.size();
        std::wstring dir = path.substr(start, end - start);
        // PATH entries may come quoted.
        if (dir.size() >= 2 && dir.front() == L'"' && dir.back() == L'"') dir = dir.substr(1, dir.size() - 2);
        if (!dir.empty()) {
            std::wstring candidate = dir;
            if (candidate.back() != L'\\' && candidate.back() != L'/') candidate.push_back(L'\\');
            candidate += file;
            DWORD attributes = GetFileAttributesW(candidate.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return candidate;
        }
        start = end + 1;
    }
    return std::nullopt;
}

// Reads what a pipe holds right now without blocking. False once the pipe is
// closed at the other end and empty.
bool drain_available(HANDLE pipe, std::string* sink, std::size_t max_bytes, bool& overflow) {
    char buffer[16384];
    while (true) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
        if (available == 0) return true;
        DWORD got = 0;
        if (!ReadFile(pipe, buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr)) return false;
        if (sink != nullptr) {
            if (sink->size() + got > max_bytes)
                overflow = true;
            else
                sink->append(buffer, got);
        }
    }
}

class WindowsTailscaleClient final : public TailscaleClient {
public:
    explicit WindowsTailscaleClient(TailscaleClientOptions options) : options_(std::move(options)) {
        if (options_.local_api_endpoint.empty()) options_.local_api_endpoint = default_local_api_endpoint();
    }

    Result<std::string> local_api_exchange(std::string_view request, std::chrono::milliseconds deadline_after,
                                           std::size_t max_bytes) override {
        const auto deadline = Clock::now() + deadline_after;
        auto name = win32::widen(options_.local_api_endpoint);
        if (!name) return fail("local API pipe name is not valid text");

        UniqueHandle pipe;
        while (true) {
            pipe = UniqueHandle(CreateFileW(name->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_OVERLAPPED, nullptr));
            if (pipe.valid()) break;
            DWORD err = GetLastError();
            if (err != ERROR_PIPE_BUSY) return std::unexpected(win32_error("local API: cannot open the pipe", err));
            DWORD left = remaining_ms(deadline);
            if (left == 0) return fail("local API: time-out while connecting");
            WaitNamedPipeW(name->c_str(), left);
        }

        std::string out(request);
        std::size_t sent = 0;
        while (sent < out.size()) {
            IoOutcome r =
                overlapped_io(pipe.get(), true, out.data() + sent, static_cast<DWORD>(out.size() - sent), deadline);
            if (r.error != ERROR_SUCCESS) return std::unexpected(win32_error("local API: send", r.error));
            sent += r.bytes;
        }

        std::string response;
        std::vector<char> buffer(16384);
        while (true) {
            IoOutcome r = overlapped_io(pipe.get(), false, buffer.data(), static_cast<DWORD>(buffer.size()), deadline);
            // The server closing its end is the end of the response.
            if (r.error == ERROR_BROKEN_PIPE || r.error == ERROR_PIPE_NOT_CONNECTED || r.error == ERROR_HANDLE_EOF)
                return response;
            if (r.error != ERROR_SUCCESS) return std::unexpected(win32_error("local API: receive", r.error));
            if (response.size() + r.bytes > max_bytes) return fail("local API: response too long");
            response.append(buffer.data(), r.bytes);
        }
    }

    Result<CommandOutput> run_status_command(std::chrono::milliseconds time_limit, std::size_t max_bytes) override {
        const auto deadline = Clock::now() + time_limit;
        auto program_w = win32::widen(options_.program);
        if (!program_w) return fail("the program name is not valid text");
        auto exe = find_on_path(*program_w);
        if (!exe) return fail("could not start " + options_.program + ": not found on the PATH");

        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE out_read_raw = nullptr, out_write_raw = nullptr, err_read_raw = nullptr, err_write_raw = nullptr;
        if (!CreatePipe(&out_read_raw, &out_write_raw, &inherit, 0))
            return std::unexpected(win32_error("CreatePipe", GetLastError()));
        UniqueHandle out_read(out_read_raw), out_write(out_write_raw);
        if (!CreatePipe(&err_read_raw, &err_write_raw, &inherit, 0))
            return std::unexpected(win32_error("CreatePipe", GetLastError()));
        UniqueHandle err_read(err_read_raw), err_write(err_write_raw);
        SetHandleInformation(out_read.get(), HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(err_read.get(), HANDLE_FLAG_INHERIT, 0);
        UniqueHandle null_input(
            CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));
        if (!null_input.valid()) return std::unexpected(win32_error("open NUL", GetLastError()));

        // Only these three handles go to the child, whatever else is inheritable.
        HANDLE inherited[3] = {null_input.get(), out_write.get(), err_write.get()};
        SIZE_T list_size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &list_size);
        std::vector<unsigned char> list_storage(list_size);
        auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list_storage.data());
        if (!InitializeProcThreadAttributeList(attributes, 1, 0, &list_size))
            return std::unexpected(win32_error("InitializeProcThreadAttributeList", GetLastError()));
        struct ListGuard {
            LPPROC_THREAD_ATTRIBUTE_LIST list;
            ~ListGuard() { DeleteProcThreadAttributeList(list); }
        } list_guard{attributes};
        if (!UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof inherited,
                                       nullptr, nullptr))
            return std::unexpected(win32_error("UpdateProcThreadAttribute", GetLastError()));

        STARTUPINFOEXW startup{};
        startup.StartupInfo.cb = sizeof startup;
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = null_input.get();
        startup.StartupInfo.hStdOutput = out_write.get();
        startup.StartupInfo.hStdError = err_write.get();
        startup.lpAttributeList = attributes;

        std::wstring command_line = L"\"" + *exe + L"\" status --json";
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(exe->c_str(), command_line.data(), nullptr, nullptr, TRUE,
                            CREATE_NO_WINDOW | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                            &startup.StartupInfo, &info))
            return std::unexpected(win32_error("could not start " + options_.program, GetLastError()));
        UniqueHandle process(info.hProcess), thread(info.hThread);

        // The job ends with its handle: nothing the tool started outlives a kill.
        UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
        if (job.valid()) {
            JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
            limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
            SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
            AssignProcessToJobObject(job.get(), process.get());
        }
        ResumeThread(thread.get());
        out_write.close();
        err_write.close();
        null_input.close();

        auto kill = [&] {
            if (job.valid()) TerminateJobObject(job.get(), 1);
            TerminateProcess(process.get(), 1);
            WaitForSingleObject(process.get(), 5000);
        };

        CommandOutput result;
        bool out_open = true, err_open = true, overflow = false, exited = false;
        while (out_open || err_open) {
            if (out_open) out_open = drain_available(out_read.get(), &result.standard_output, max_bytes, overflow);
            // Standard error is read only so the tool never blocks on it.
            if (err_open) err_open = drain_available(err_read.get(), nullptr, 0, overflow);
            if (overflow) {
                kill();
                return fail(options_.program + " wrote too much and was stopped");
            }
            DWORD left = remaining_ms(deadline);
            if (left == 0) {
                kill();
                return fail(options_.program + " did not finish in time and was stopped");
            }
            // Anonymous pipes cannot be waited on: look again shortly, or at
            // once when the process has ended.
            if (out_open || err_open) {
                // Once it has ended, something it started may still hold the pipes.
                if (exited)
                    Sleep(std::min<DWORD>(left, 10));
                else
                    exited = WaitForSingleObject(process.get(), std::min<DWORD>(left, 10)) == WAIT_OBJECT_0;
            }
        }
        if (WaitForSingleObject(process.get(), remaining_ms(deadline)) != WAIT_OBJECT_0) {
            kill();
            return fail(options_.program + " did not finish in time and was stopped");
        }
        DWORD exit_code = 0;
        if (!GetExitCodeProcess(process.get(), &exit_code))
            return std::unexpected(win32_error("GetExitCodeProcess", GetLastError()));
        result.exit_code = static_cast<int>(exit_code);
        return result;
    }

private:
    TailscaleClientOptions options_;
};

}  // namespace

std::string default_local_api_endpoint() { return R"(\\.\pipe\ProtectedPrefix\Administrators\Tailscale\tailscaled)"; }

std::unique_ptr<TailscaleClient> make_os_tailscale_client(TailscaleClientOptions options) {
    return std::make_unique<WindowsTailscaleClient>(std::move(options));
}

}  // namespace korvex
