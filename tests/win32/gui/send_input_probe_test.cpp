// SendInputSink against a real window: a probe that records the keyboard,
// character, mouse-button, wheel and menu messages it receives while it has
// the keyboard focus and the mouse capture.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "core/input_state.h"
#include "core/key_vocabulary.h"
#include "platform/win32/send_input_sink.h"

namespace korvex {
namespace {

// One message as a line: "keydown 25 ext", "syskeyup 12", "lbuttondown",
// "wheel -240", "hwheel 120", "keymenu".
std::string describe(UINT message, WPARAM wparam, LPARAM lparam) {
    const char* key = nullptr;
    switch (message) {
        case WM_KEYDOWN: key = "keydown"; break;
        case WM_KEYUP: key = "keyup"; break;
        case WM_SYSKEYDOWN: key = "syskeydown"; break;
        case WM_SYSKEYUP: key = "syskeyup"; break;
        default: break;
    }
    char line[64];
    if (key != nullptr) {
        // Bit 24 of the key message: the extended-key flag.
        std::snprintf(line, sizeof line, "%s %02X%s", key, static_cast<unsigned>(wparam),
                      (lparam & (1 << 24)) != 0 ? " ext" : "");
        return line;
    }
    switch (message) {
        case WM_LBUTTONDOWN: return "lbuttondown";
        case WM_LBUTTONUP: return "lbuttonup";
        case WM_RBUTTONDOWN: return "rbuttondown";
        case WM_RBUTTONUP: return "rbuttonup";
        case WM_MBUTTONDOWN: return "mbuttondown";
        case WM_MBUTTONUP: return "mbuttonup";
        case WM_MOUSEWHEEL: return "wheel " + std::to_string(GET_WHEEL_DELTA_WPARAM(wparam));
        case WM_MOUSEHWHEEL: return "hwheel " + std::to_string(GET_WHEEL_DELTA_WPARAM(wparam));
        case WM_SYSCOMMAND:
            if ((wparam & 0xFFF0) == SC_KEYMENU) return "keymenu";
            break;
        default: break;
    }
    return {};
}

class ProbeWindow {
public:
    std::vector<WPARAM> key_downs;
    std::u16string chars;
    std::vector<std::string> seen;  // the messages describe() knows, in order

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

    // Pumps for a little while longer, for messages that should not come.
    void settle() {
        pump_until([] { return false; }, 300);
    }

    bool focus() {
        ShowWindow(hwnd_, SW_SHOW);
        SetForegroundWindow(hwnd_);
        SetFocus(hwnd_);
        return pump_until([this] { return GetForegroundWindow() == hwnd_ && GetFocus() == hwnd_; });
    }

    // The pointer in the middle of the window and the mouse captured, so
    // that button and wheel messages come here.
    void capture_mouse() {
        RECT r{};
        GetWindowRect(hwnd_, &r);
        SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        SetCapture(hwnd_);
    }

    // The lines of `seen` that match one of the prefixes.
    std::vector<std::string> seen_of(std::initializer_list<const char*> prefixes) const {
        std::vector<std::string> out;
        for (const auto& line : seen) {
            for (const char* p : prefixes) {
                if (line.rfind(p, 0) == 0) {
                    out.push_back(line);
                    break;
                }
            }
        }
        return out;
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
            std::string line = describe(message, wparam, lparam);
            if (!line.empty()) self->seen.push_back(line);
            // The menu a lone Alt opens would start a modal menu loop: seeing
            // the request is enough.
            if (message == WM_SYSCOMMAND && (wparam & 0xFFF0) == SC_KEYMENU) return 0;
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
    void TearDown() override { ReleaseCapture(); }

    bool pump_until_seen(std::size_t lines) {
        return probe.pump_until([&] { return probe.seen.size() >= lines; });
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

TEST_F(SendInputProbe, TextOutsideTheBmpArrivesAsItsSurrogatePair) {
    const std::u16string text = u"a\U0001F600b";  // a, the two halves of the emoji, b
    ASSERT_EQ(text.size(), 4u);
    sink.type_text(text);
    ASSERT_TRUE(probe.pump_until([&] { return probe.chars.size() >= text.size(); }))
        << "got " << probe.chars.size() << " characters";
    EXPECT_EQ(probe.chars, text);
}

TEST_F(SendInputProbe, ExtendedKeysCarryTheExtendedBit) {
    struct Case {
        std::uint16_t usage;
        const char* down;
        const char* up;
    };
    // Right Ctrl reaches a window as the generic VK_CONTROL; the extended bit
    // is what tells it from Left Ctrl.
    const Case cases[] = {
        {0x50, "keydown 25 ext", "keyup 25 ext"},   // Left arrow
        {0x52, "keydown 26 ext", "keyup 26 ext"},   // Up arrow
        {0x49, "keydown 2D ext", "keyup 2D ext"},   // Insert
        {0x4C, "keydown 2E ext", "keyup 2E ext"},   // Delete
        {0xE4, "keydown 11 ext", "keyup 11 ext"},   // Right Ctrl
        {0xE0, "keydown 11", "keyup 11"},           // Left Ctrl: not extended
        {0x5C, "keydown 64", "keyup 64"},           // Num 4: not extended
    };
    for (const auto& c : cases) {
        probe.seen.clear();
        KeyCode code = *usage_to_key_code(c.usage);
        sink.key(code, true);
        sink.key(code, false);
        ASSERT_TRUE(pump_until_seen(2)) << c.down;
        EXPECT_EQ(probe.seen, (std::vector<std::string>{c.down, c.up}));
    }
}

TEST_F(SendInputProbe, ThreeMouseButtons) {
    probe.capture_mouse();
    for (std::uint8_t button = 1; button <= 3; ++button) {
        sink.mouse_button(button, true);
        sink.mouse_button(button, false);
    }
    ASSERT_TRUE(pump_until_seen(6)) << "saw " << probe.seen.size();
    EXPECT_EQ(probe.seen, (std::vector<std::string>{"lbuttondown", "lbuttonup", "rbuttondown", "rbuttonup",
                                                    "mbuttondown", "mbuttonup"}));
}

TEST_F(SendInputProbe, WheelsWithTheirDeltas) {
    probe.capture_mouse();
    sink.wheel(120);
    sink.wheel(-240);
    sink.hwheel(-5);
    sink.hwheel(360);
    ASSERT_TRUE(probe.pump_until([&] { return probe.seen_of({"wheel", "hwheel"}).size() >= 4; }))
        << "saw " << probe.seen.size();
    EXPECT_EQ(probe.seen_of({"wheel", "hwheel"}),
              (std::vector<std::string>{"wheel 120", "wheel -240", "hwheel -5", "hwheel 360"}));
}

// The mask of a lone Win or Alt released by the host, as a window sees it:
// the unassigned key E8 goes down and up between the key-down and key-up, and
// the lone Alt no longer asks for the menu bar. The client's own Alt press
// and release still does.
TEST_F(SendInputProbe, MaskSequenceOfAHostRelease) {
    const std::initializer_list<const char*> keys = {"keydown", "keyup", "syskeydown", "syskeyup", "keymenu"};
    struct Case {
        const char* name;
        bool by_host;
        ModifierMask modifier;
        std::vector<std::string> vks;  // key and menu lines without their message kind
    };
    const Case cases[] = {
        {"host_alt", true, kModAlt, {"12 down", "E8 down", "E8 up", "12 up"}},
        {"host_win", true, kModWin, {"5B down ext", "E8 down", "E8 up", "5B up ext"}},
        {"client_alt", false, kModAlt, {"12 down", "12 up", "keymenu"}},
    };
    for (const auto& c : cases) {
        probe.seen.clear();
        InputState state(sink);
        if (c.by_host) {
            state.press_modifiers(c.modifier);  // a latched modifier
            state.release_all();                // as the watchdog does
        } else {
            state.key_event(0xE2, kKeyDown, 0);
            state.key_event(0xE2, kKeyUp, 0);
        }
        ASSERT_TRUE(probe.pump_until([&] { return probe.seen_of(keys).size() >= c.vks.size(); })) << c.name;
        probe.settle();
        std::vector<std::string> vks;
        for (const auto& line : probe.seen_of(keys)) {
            if (line == "keymenu") {
                vks.push_back(line);
                continue;
            }
            // "syskeydown 12" -> "12 down"
            const bool down = line.find("down") != std::string::npos;
            std::string rest = line.substr(line.find(' ') + 1);
            const std::size_t ext = rest.find(" ext");
            std::string vk = rest.substr(0, ext);
            vks.push_back(vk + (down ? " down" : " up") + (ext != std::string::npos ? " ext" : ""));
        }
        EXPECT_EQ(vks, c.vks) << c.name;
    }
}

}  // namespace
}  // namespace korvex
