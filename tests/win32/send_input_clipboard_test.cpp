// set_clipboard through the real clipboard of this session, also while
// another thread holds it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "core/input_controller.h"
#include "platform/win32/send_input_sink.h"
#include "platform/win32/win32_support.h"
#include "support/input_fakes.h"

namespace korvex {
namespace {

std::u16string clipboard_units(SIZE_T* size) {
    std::u16string out;
    if (!OpenClipboard(nullptr)) return out;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        *size = GlobalSize(data);
        if (auto* p = static_cast<const char16_t*>(GlobalLock(data))) {
            out.assign(p, *size / sizeof(char16_t));
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return out;
}

TEST(SendInputClipboard, StoresTheTextWithOneTerminatingNul) {
    struct Case {
        std::string utf8;
        std::u16string units;
    };
    const Case cases[] = {
        {"abc", std::u16string(u"abc\0", 4)},
        {"", std::u16string(1, u'\0')},
        {"\xC3\xA9\xF0\x9F\x98\x80", std::u16string(u"\u00E9\xD83D\xDE00\0", 4)},
    };
    SendInputSink sink;
    for (const auto& c : cases) {
        ASSERT_TRUE(sink.set_clipboard(c.utf8)) << c.utf8;
        SIZE_T size = 0;
        std::u16string units = clipboard_units(&size);
        EXPECT_EQ(size, c.units.size() * sizeof(char16_t)) << c.utf8;
        EXPECT_EQ(units, c.units) << c.utf8;
    }
}

// A second clipboard owner: a thread with a window of its own (as another
// program has) that opens the clipboard, holds it for a while and closes it.
class ClipboardHolder {
public:
    explicit ClipboardHolder(DWORD hold_ms) : opened_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        thread_ = std::thread([this, hold_ms] {
            HWND window = CreateWindowExW(0, L"STATIC", L"Korvex clipboard holder", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                          nullptr, nullptr, nullptr);
            held_ = window != nullptr && OpenClipboard(window) != FALSE;
            SetEvent(opened_.get());
            if (held_) {
                Sleep(hold_ms);
                CloseClipboard();
            }
            if (window != nullptr) DestroyWindow(window);
        });
        WaitForSingleObject(opened_.get(), INFINITE);
    }
    ~ClipboardHolder() { thread_.join(); }
    ClipboardHolder(const ClipboardHolder&) = delete;
    ClipboardHolder& operator=(const ClipboardHolder&) = delete;
    bool held() const { return held_; }

private:
    win32::UniqueHandle opened_;
    bool held_ = false;
    std::thread thread_;
};

class KeyRecorder final : public InputRecordSender {
public:
    std::vector<WORD> vks;
    void send(std::span<INPUT> records) override {
        for (const INPUT& r : records) vks.push_back(r.ki.wVk);
    }
};

TEST(SendInputClipboard, HeldByAnotherOwnerItIsSetAfterRetriesOrNotPastedAtAll) {
    struct Case {
        DWORD hold_ms;
        bool set;
    };
    // The bound is about 200 ms of retries.
    const Case cases[] = {{50, true}, {1000, false}};
    for (const auto& c : cases) {
        KeyRecorder keys;
        SendInputSink sink(keys);
        test::FakeSas sas;
        InputController controller(sink, sas);
        controller.add_client(1);
        ASSERT_TRUE(sink.set_clipboard("old"));
        double took_ms = 0;
        {
            ClipboardHolder holder(c.hold_ms);
            ASSERT_TRUE(holder.held());
            const auto start = std::chrono::steady_clock::now();
            controller.set_clipboard(1, "new", true, 1000);
            took_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        }
        std::printf("clipboard held %lu ms by another thread: %s after %.0f ms\n",
                    static_cast<unsigned long>(c.hold_ms), c.set ? "set" : "given up", took_ms);
        SIZE_T size = 0;
        EXPECT_EQ(clipboard_units(&size), c.set ? std::u16string(u"new\0", 4) : std::u16string(u"old\0", 4))
            << c.hold_ms;
        EXPECT_EQ(keys.vks, c.set ? (std::vector<WORD>{0xA2, 0x56, 0x56, 0xA2}) : std::vector<WORD>{}) << c.hold_ms;
        // The other owner really was in the way: the text went in only once
        // it let go. (Giving up is shown by the old text: after the other
        // owner let go it would have been set.)
        if (c.set) {
            EXPECT_GE(took_ms, 30.0);
        }
    }
}

}  // namespace
}  // namespace korvex
