#include "platform/win32/send_input_sink.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/input_commands.h"
#include "core/input_text.h"
#include "platform/win32/win32_support.h"

namespace korvex {
namespace {

class SendInputSender final : public InputRecordSender {
public:
    void send(std::span<INPUT> records) override {
        if (records.empty()) return;
        SendInput(static_cast<UINT>(records.size()), records.data(), static_cast<int>(sizeof(INPUT)));
    }
};

struct ChildLaunch {
    std::wstring application;
    std::wstring command_line;
};

DWORD WINAPI run_child(LPVOID parameter) {
    std::unique_ptr<ChildLaunch> launch(static_cast<ChildLaunch*>(parameter));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const wchar_t* application = launch->application.empty() ? nullptr : launch->application.c_str();
    if (!CreateProcessW(application, launch->command_line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &process)) {
        return 0;
    }
    win32::UniqueHandle process_handle(process.hProcess);
    win32::UniqueHandle thread_handle(process.hThread);
    WaitForSingleObject(process_handle.get(), INFINITE);
    return 0;
}

class ThreadProcessStarter final : public BackgroundProcessStarter {
public:
    bool start(std::wstring application, std::wstring command_line) override {
        auto launch = std::make_unique<ChildLaunch>(ChildLaunch{std::move(application), std::move(command_line)});
        HANDLE thread = CreateThread(nullptr, 0, run_child, launch.get(), 0, nullptr);
        if (thread == nullptr) return false;  // the launch is freed here; the change is skipped
        launch.release();                     // the thread owns it now
        CloseHandle(thread);
        return true;
    }
};

// PowerShell from System32 by full path, so that no program of that name in
// the current folder or on PATH runs instead.
std::wstring powershell_path() {
    wchar_t folder[MAX_PATH];
    UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    return std::wstring(folder, n) + L"\\WindowsPowerShell\\v1.0\\powershell.exe";
}

INPUT keyboard_record(WORD vk, WORD scan, DWORD flags) {
    INPUT record{};
    record.type = INPUT_KEYBOARD;
    record.ki.wVk = vk;
    record.ki.wScan = scan;
    record.ki.dwFlags = flags;
    return record;
}

}  // namespace

InputRecordSender& os_input_record_sender() {
    static SendInputSender sender;
    return sender;
}

BackgroundProcessStarter& os_background_process_starter() {
    static ThreadProcessStarter starter;
    return starter;
}

std::unique_ptr<InputSink> make_os_input_sink() { return std::make_unique<SendInputSink>(); }

std::optional<std::string_view> input_injection_notice() { return std::nullopt; }

void SendInputSink::send_mouse(LONG dx, LONG dy, DWORD data, DWORD flags) {
    INPUT record{};
    record.type = INPUT_MOUSE;
    record.mi.dx = dx;
    record.mi.dy = dy;
    record.mi.mouseData = data;
    record.mi.dwFlags = flags;
    sender_.send(std::span(&record, 1));
}

void SendInputSink::mouse_move(std::int32_t dx, std::int32_t dy) { send_mouse(dx, dy, 0, MOUSEEVENTF_MOVE); }

void SendInputSink::mouse_button(std::uint8_t button, bool down) {
    DWORD flags;
    switch (button) {
        case 1: flags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP; break;
        case 2: flags = down ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_RIGHTUP; break;
        case 3: flags = down ? MOUSEEVENTF_MIDDLEDOWN : MOUSEEVENTF_MIDDLEUP; break;
        default: return;
    }
    send_mouse(0, 0, 0, flags);
}

// mouseData is a DWORD that carries a signed wheel amount.
void SendInputSink::wheel(std::int32_t amount) {
    send_mouse(0, 0, static_cast<DWORD>(amount), MOUSEEVENTF_WHEEL);
}

void SendInputSink::hwheel(std::int32_t amount) {
    send_mouse(0, 0, static_cast<DWORD>(amount), MOUSEEVENTF_HWHEEL);
}

void SendInputSink::key(KeyCode code, bool down) {
    DWORD flags = (code.extended ? KEYEVENTF_EXTENDEDKEY : 0u) | (down ? 0u : KEYEVENTF_KEYUP);
    INPUT record = keyboard_record(code.vk, code.scan, flags);
    sender_.send(std::span(&record, 1));
}

void SendInputSink::type_text(std::span<const char16_t> units) {
    if (units.empty()) return;
    std::vector<INPUT> records;
    records.reserve(2 * std::min(units.size(), kTextChunkUnits));
    for (std::size_t at = 0; at < units.size(); at += kTextChunkUnits) {
        std::size_t n = std::min(kTextChunkUnits, units.size() - at);
        records.clear();
        // Surrogates go as their own down/up pairs, like any other unit.
        for (char16_t unit : units.subspan(at, n)) {
            records.push_back(keyboard_record(0, unit, KEYEVENTF_UNICODE));
            records.push_back(keyboard_record(0, unit, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP));
        }
        sender_.send(records);
    }
}

Status SendInputSink::lock_workstation() {
    if (LockWorkStation()) return {};
    return std::unexpected(win32::win32_error("LockWorkStation", GetLastError()));
}

void SendInputSink::keep_awake() {
    // Without ES_CONTINUOUS: reset the idle timers once, set no lasting state.
    SetThreadExecutionState(ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
}

void SendInputSink::set_clipboard(std::string_view utf8_text) {
    std::u16string units = utf8_to_utf16(utf8_text);
    units.push_back(u'\0');
    if (!OpenClipboard(nullptr)) return;
    EmptyClipboard();
    const std::size_t bytes = units.size() * sizeof(char16_t);
    if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
        bool filled = false;
        if (void* target = GlobalLock(memory)) {
            std::memcpy(target, units.data(), bytes);
            GlobalUnlock(memory);
            filled = true;
        }
        // A null handle would ask for delayed rendering and unfilled memory
        // would paste garbage: hand over only filled memory, free what the
        // clipboard did not take.
        if (!filled || SetClipboardData(CF_UNICODETEXT, memory) == nullptr) GlobalFree(memory);
    }
    CloseClipboard();
}

void SendInputSink::adjust_brightness(bool up) {
    std::string line = windows_command_line("powershell.exe", brightness_arguments(up));
    std::wstring command_line(line.begin(), line.end());  // the command is ASCII
    // If no thread can be started the change is skipped: brightness is not
    // worth ending the host for.
    (void)starter_.start(powershell_path(), std::move(command_line));
}

}  // namespace korvex
