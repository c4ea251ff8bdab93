#include "platform/win32/send_input_sink.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/input_text.h"
#include "platform/win32/win32_support.h"

namespace korvex {
namespace {

class SystemInputDesktop final : public InputDesktop {
public:
    std::size_t send_input(std::span<INPUT> records) override {
        return SendInput(static_cast<UINT>(records.size()), records.data(), static_cast<int>(sizeof(INPUT)));
    }

    bool attach_to_input_desktop() override {
        // GENERIC_WRITE brings the journal-playback right SendInput needs.
        constexpr ACCESS_MASK kAccess = DESKTOP_CREATEMENU | DESKTOP_CREATEWINDOW | DESKTOP_ENUMERATE |
                                        DESKTOP_HOOKCONTROL | DESKTOP_WRITEOBJECTS | DESKTOP_READOBJECTS |
                                        DESKTOP_SWITCHDESKTOP | GENERIC_WRITE;
        HDESK desktop = OpenInputDesktop(0, FALSE, kAccess);
        if (desktop == nullptr) return false;  // the secure desktop, for one
        if (!SetThreadDesktop(desktop)) {
            CloseDesktop(desktop);
            return false;
        }
        attached().replace(desktop);
        return true;
    }

private:
    // The desktop this thread was last attached to by us; the one before is
    // closed once the thread has left it. The thread's first desktop is the
    // system's and never closed here.
    class AttachedDesktop {
    public:
        AttachedDesktop() = default;
        ~AttachedDesktop() {
            if (desktop_ != nullptr) CloseDesktop(desktop_);
        }
        AttachedDesktop(const AttachedDesktop&) = delete;
        AttachedDesktop& operator=(const AttachedDesktop&) = delete;
        void replace(HDESK desktop) {
            if (desktop_ != nullptr) CloseDesktop(desktop_);
            desktop_ = desktop;
        }

    private:
        HDESK desktop_ = nullptr;
    };

    static AttachedDesktop& attached() {
        thread_local AttachedDesktop desktop;
        return desktop;
    }
};

class SleepingClipboardOpener final : public ClipboardOpener {
public:
    bool open() override { return OpenClipboard(nullptr) != FALSE; }
    void pause(std::chrono::milliseconds how_long) override { Sleep(static_cast<DWORD>(how_long.count())); }
};

INPUT keyboard_record(WORD vk, WORD scan, DWORD flags) {
    INPUT record{};
    record.type = INPUT_KEYBOARD;
    record.ki.wVk = vk;
    record.ki.wScan = scan;
    record.ki.dwFlags = flags;
    return record;
}

}  // namespace

InputDesktop& os_input_desktop() {
    static SystemInputDesktop desktop;
    return desktop;
}

void DesktopFollowingSender::send(std::span<INPUT> records) {
    if (records.empty()) return;
    const std::size_t sent = desktop_.send_input(records);
    if (sent >= records.size()) return;
    if (!desktop_.attach_to_input_desktop()) return;
    (void)desktop_.send_input(records.subspan(sent));
}

InputRecordSender& os_input_record_sender() {
    static DesktopFollowingSender sender(os_input_desktop());
    return sender;
}

ClipboardOpener& os_clipboard_opener() {
    static SleepingClipboardOpener opener;
    return opener;
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

Status SendInputSink::set_clipboard(std::string_view utf8_text) {
    std::u16string units = utf8_to_utf16(utf8_text);
    units.push_back(u'\0');
    // Another program often holds the clipboard for a moment: try again for
    // a short, bounded time. A clipboard that stays busy keeps its old text,
    // and the caller must then not paste it.
    bool opened = clipboard_.open();
    for (int attempt = 1; !opened && attempt < kClipboardOpenAttempts; ++attempt) {
        clipboard_.pause(kClipboardRetryPause);
        opened = clipboard_.open();
    }
    if (!opened) return std::unexpected(win32::win32_error("OpenClipboard", GetLastError()));
    EmptyClipboard();
    const std::size_t bytes = units.size() * sizeof(char16_t);
    bool set = false;
    DWORD error = ERROR_SUCCESS;
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
        set = filled && SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
        if (!set) {
            error = GetLastError();
            GlobalFree(memory);
        }
    } else {
        error = GetLastError();
    }
    CloseClipboard();
    if (!set) return std::unexpected(win32::win32_error("SetClipboardData", error));
    return {};
}

void SendInputSink::adjust_brightness(bool up) { brightness_.press(up); }

}  // namespace korvex
