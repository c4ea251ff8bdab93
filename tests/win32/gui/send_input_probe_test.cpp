// SendInputSink against a real window: a probe that records the WM_KEYDOWN
// and WM_CHAR messages it receives while it has the keyboard focus.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/key_vocabulary.h"
#include "platform/win32/send_input_sink.h"

namespace korvex {
namespace {

class ProbeWindow {
public:
    std::vector<WPARAM> key_downs;
    std::u16string chars;

    ProbeWindow() {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &ProbeWindow::procedure;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kClass;
        RegisterClassExW(&wc);
        hwnd_ = CreateWindowExW(0, kClass, L"Korvex input probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 300,
                                200, nullptr, nullptr, wc.hInstance, this);
    }
    ~ProbeWindow() {
        if (hwnd_ != nullptr) DestroyWindow(hwnd_);
        UnregisterClassW(kClass, GetModuleHandleW(nullptr));
    }
    ProbeWindow(const ProbeWindow&) = delete;
    ProbeWindow& operator=(const ProbeWindow&) = delete;

    HWND hwnd() const { return hwnd_; }

    // Pumps messages until `done` holds, or gives up after `limit_ms` so a
    // broken setup fails the test instead of hanging it.
    template <typename Done>
    bool pump_until(Done done, DWORD limit_ms = 10000) {
        const ULONGLONG give_up = GetTickCount64() + limit_ms;
        for (;;) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            if (done()) return true;
            if (GetTickCount64() >= give_up) return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
    }

    bool focus() {
        ShowWindow(hwnd_, SW_SHOW);
        SetForegroundWindow(hwnd_);
        SetFocus(hwnd_);
        return pump_until([this] { return GetForegroundWindow() == hwnd_ && GetFocus() == hwnd_; });
    }

private:
    static constexpr const wchar_t* kClass = L"KorvexInputProbe";

    static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<ProbeWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self != nullptr) {
            if (message == WM_KEYDOWN) self->key_downs.push_back(wparam);
            if (message == WM_CHAR) self->chars.push_back(static_cast<char16_t>(wparam));
        }
        return DefWindowProcW(hwnd, message, wparam, lparam);
    }

    HWND hwnd_ = nullptr;
};

class SendInputProbe : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(probe.hwnd(), nullptr);
        ASSERT_TRUE(probe.focus()) << "the probe window did not get the keyboard focus";
    }
    ProbeWindow probe;
    SendInputSink sink;
};

TEST_F(SendInputProbe, KeyReachesTheFocusedWindow) {
    KeyCode a = *usage_to_key_code(0x04);
    sink.key(a, true);
    sink.key(a, false);
    ASSERT_TRUE(probe.pump_until([&] { return !probe.key_downs.empty() && !probe.chars.empty(); }));
    EXPECT_EQ(probe.key_downs.front(), static_cast<WPARAM>('A'));
    EXPECT_EQ(probe.chars, u"a");
}

TEST_F(SendInputProbe, TypedTextArrivesAsCharacters) {
    const std::u16string text = u"Hi, Korvex! \u00E9";
    sink.type_text(text);
    ASSERT_TRUE(probe.pump_until([&] { return probe.chars.size() >= text.size(); }))
        << "got " << probe.chars.size() << " characters";
    EXPECT_EQ(probe.chars, text);
}

}  // namespace
}  // namespace korvex
