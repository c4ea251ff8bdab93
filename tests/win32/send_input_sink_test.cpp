// The INPUT records SendInputSink builds, seen through the SendInput seam.
#include "platform/win32/send_input_sink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/input_controller.h"
#include "support/input_fakes.h"

namespace korvex {
namespace {

class RecordingSender final : public InputRecordSender {
public:
    std::vector<std::vector<INPUT>> calls;
    void send(std::span<INPUT> records) override { calls.emplace_back(records.begin(), records.end()); }
};

struct MouseRecord {
    LONG dx, dy;
    DWORD data, flags;
};

class SendInputSinkTest : public testing::Test {
protected:
    RecordingSender sender;
    SendInputSink sink{sender};

    // The one mouse record of the only call so far.
    MouseRecord only_mouse() {
        EXPECT_EQ(sender.calls.size(), 1u);
        EXPECT_EQ(sender.calls.at(0).size(), 1u);
        const INPUT& r = sender.calls.at(0).at(0);
        EXPECT_EQ(r.type, static_cast<DWORD>(INPUT_MOUSE));
        EXPECT_EQ(r.mi.time, 0u);
        EXPECT_EQ(r.mi.dwExtraInfo, 0u);
        return {r.mi.dx, r.mi.dy, r.mi.mouseData, r.mi.dwFlags};
    }
};

TEST(SendInputRecord, IsTheSizeOfThePlatformRecord) { EXPECT_EQ(sizeof(INPUT), 40u); }

TEST_F(SendInputSinkTest, MouseRecords) {
    struct Case {
        const char* name;
        void (*act)(SendInputSink&);
        MouseRecord record;
    };
    const Case cases[] = {
        {"move", [](SendInputSink& s) { s.mouse_move(-7, 12); }, {-7, 12, 0, 0x0001}},
        {"left down", [](SendInputSink& s) { s.mouse_button(1, true); }, {0, 0, 0, 0x0002}},
        {"left up", [](SendInputSink& s) { s.mouse_button(1, false); }, {0, 0, 0, 0x0004}},
        {"right down", [](SendInputSink& s) { s.mouse_button(2, true); }, {0, 0, 0, 0x0008}},
        {"right up", [](SendInputSink& s) { s.mouse_button(2, false); }, {0, 0, 0, 0x0010}},
        {"middle down", [](SendInputSink& s) { s.mouse_button(3, true); }, {0, 0, 0, 0x0020}},
        {"middle up", [](SendInputSink& s) { s.mouse_button(3, false); }, {0, 0, 0, 0x0040}},
        {"wheel", [](SendInputSink& s) { s.wheel(-120); }, {0, 0, static_cast<DWORD>(-120), 0x0800}},
        {"hwheel", [](SendInputSink& s) { s.hwheel(5); }, {0, 0, 5, 0x1000}},
    };
    for (const auto& c : cases) {
        sender.calls.clear();
        c.act(sink);
        MouseRecord r = only_mouse();
        EXPECT_EQ(r.dx, c.record.dx) << c.name;
        EXPECT_EQ(r.dy, c.record.dy) << c.name;
        EXPECT_EQ(r.data, c.record.data) << c.name;
        EXPECT_EQ(r.flags, c.record.flags) << c.name;
    }
}

TEST_F(SendInputSinkTest, OtherButtonsSendNothing) {
    sink.mouse_button(0, true);
    sink.mouse_button(4, false);
    EXPECT_TRUE(sender.calls.empty());
}

TEST_F(SendInputSinkTest, KeyRecords) {
    struct Case {
        KeyCode code;
        bool down;
        DWORD flags;
    };
    const Case cases[] = {
        {{0x41, 0x1E, false}, true, 0},
        {{0x41, 0x1E, false}, false, 0x2},
        {{0x27, 0x4D, true}, true, 0x1},
        {{0x27, 0x4D, true}, false, 0x3},
        {{0xAF, 0, false}, true, 0},
    };
    for (const auto& c : cases) {
        sender.calls.clear();
        sink.key(c.code, c.down);
        ASSERT_EQ(sender.calls.size(), 1u);
        ASSERT_EQ(sender.calls[0].size(), 1u);
        const INPUT& r = sender.calls[0][0];
        EXPECT_EQ(r.type, static_cast<DWORD>(INPUT_KEYBOARD));
        EXPECT_EQ(r.ki.wVk, c.code.vk);
        EXPECT_EQ(r.ki.wScan, c.code.scan);
        EXPECT_EQ(r.ki.dwFlags, c.flags);
        EXPECT_EQ(r.ki.time, 0u);
        EXPECT_EQ(r.ki.dwExtraInfo, 0u);
    }
}

TEST_F(SendInputSinkTest, TypeTextOf300CharactersIsTwoCallsOf512And88) {
    std::u16string text(300, u'x');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(u'a' + i % 26);
    sink.type_text(text);
    ASSERT_EQ(sender.calls.size(), 2u);
    EXPECT_EQ(sender.calls[0].size(), 512u);
    EXPECT_EQ(sender.calls[1].size(), 88u);
    // Every unit in order, as a down/up pair of Unicode records.
    std::size_t unit = 0;
    for (const auto& call : sender.calls) {
        for (std::size_t i = 0; i < call.size(); i += 2, ++unit) {
            EXPECT_EQ(call[i].type, static_cast<DWORD>(INPUT_KEYBOARD));
            EXPECT_EQ(call[i].ki.wVk, 0);
            EXPECT_EQ(call[i].ki.wScan, text[unit]);
            EXPECT_EQ(call[i].ki.dwFlags, static_cast<DWORD>(KEYEVENTF_UNICODE));
            EXPECT_EQ(call[i + 1].ki.wScan, text[unit]);
            EXPECT_EQ(call[i + 1].ki.dwFlags, static_cast<DWORD>(KEYEVENTF_UNICODE | KEYEVENTF_KEYUP));
        }
    }
    EXPECT_EQ(unit, 300u);
}

TEST_F(SendInputSinkTest, TypeTextChunkBoundaries) {
    struct Case {
        std::size_t units;
        std::vector<std::size_t> calls;
    };
    const Case cases[] = {{0, {}}, {1, {2}}, {256, {512}}, {257, {512, 2}}, {768, {512, 512, 512}}};
    for (const auto& c : cases) {
        sender.calls.clear();
        sink.type_text(std::u16string(c.units, u'z'));
        std::vector<std::size_t> sizes;
        for (const auto& call : sender.calls) sizes.push_back(call.size());
        EXPECT_EQ(sizes, c.calls) << c.units;
    }
}

TEST_F(SendInputSinkTest, CharacterOutsideTheBmpIsTwoSurrogatePairs) {
    const char16_t emoji[] = {0xD83D, 0xDE00};
    sink.type_text(emoji);
    ASSERT_EQ(sender.calls.size(), 1u);
    const auto& r = sender.calls[0];
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].ki.wScan, 0xD83D);
    EXPECT_EQ(r[1].ki.wScan, 0xD83D);
    EXPECT_EQ(r[1].ki.dwFlags, static_cast<DWORD>(KEYEVENTF_UNICODE | KEYEVENTF_KEYUP));
    EXPECT_EQ(r[2].ki.wScan, 0xDE00);
    EXPECT_EQ(r[3].ki.wScan, 0xDE00);
}

// ---- the desktop re-attach ----

class FakeDesktop final : public InputDesktop {
public:
    static constexpr std::size_t kAll = SIZE_MAX;
    std::vector<std::size_t> answers;  // records taken by each call in turn; kAll once they run out
    bool attach_works = true;
    std::vector<std::vector<WORD>> calls;  // the wScan of each record of each call
    int attaches = 0;

    std::size_t send_input(std::span<INPUT> records) override {
        std::vector<WORD> scans;
        for (const INPUT& r : records) scans.push_back(r.ki.wScan);
        calls.push_back(scans);
        const std::size_t answer = calls.size() <= answers.size() ? answers[calls.size() - 1] : kAll;
        return std::min(answer, records.size());
    }
    bool attach_to_input_desktop() override {
        ++attaches;
        return attach_works;
    }
};

TEST(DesktopFollowingSender, ReattachesOnAShortCountAndRetriesOnce) {
    using Calls = std::vector<std::vector<WORD>>;
    struct Case {
        const char* name;
        std::vector<std::size_t> answers;
        bool attach_works;
        Calls calls;
        int attaches;
    };
    const Case cases[] = {
        {"all_in", {FakeDesktop::kAll}, true, {{1, 2, 3}}, 0},
        {"short_once_then_success", {0, FakeDesktop::kAll}, true, {{1, 2, 3}, {1, 2, 3}}, 1},
        {"short_twice_one_retry_only", {0, 0, 0}, true, {{1, 2, 3}, {1, 2, 3}}, 1},
        {"partly_in_the_rest_again", {2, FakeDesktop::kAll}, true, {{1, 2, 3}, {2, 3}}, 1},
        {"attach_fails_no_retry", {0, FakeDesktop::kAll}, false, {{1, 2, 3}}, 1},
    };
    for (const auto& c : cases) {
        FakeDesktop desktop;
        desktop.answers = c.answers;
        desktop.attach_works = c.attach_works;
        DesktopFollowingSender sender(desktop);
        SendInputSink sink(sender);
        sink.type_text(std::u16string{1, 2, 3});  // one call of six records
        Calls scans;
        for (const auto& call : desktop.calls) {
            std::vector<WORD> units;
            for (std::size_t i = 0; i < call.size(); i += 2) units.push_back(call[i]);
            scans.push_back(units);
        }
        // The unit of each down/up pair sent.
        EXPECT_EQ(scans, c.calls) << c.name;
        EXPECT_EQ(desktop.attaches, c.attaches) << c.name;
    }
}

TEST(DesktopFollowingSender, EachCallGetsItsOwnSingleRetry) {
    FakeDesktop desktop;
    desktop.answers = {0, 0, 0, FakeDesktop::kAll};
    DesktopFollowingSender sender(desktop);
    SendInputSink sink(sender);
    sink.key({0x41, 0x1E, false}, true);
    sink.key({0x41, 0x1E, false}, false);
    EXPECT_EQ(desktop.calls.size(), 4u);
    EXPECT_EQ(desktop.attaches, 2);
    sink.mouse_move(1, 1);  // nothing short: no attach
    EXPECT_EQ(desktop.calls.size(), 5u);
    EXPECT_EQ(desktop.attaches, 2);
}

TEST(DesktopFollowingSender, EmptyCallsSendNothing) {
    FakeDesktop desktop;
    DesktopFollowingSender sender(desktop);
    sender.send({});
    EXPECT_TRUE(desktop.calls.empty());
}

TEST(InputDesktopSystem, AThreadAttachesToTheInputDesktop) {
    // A fresh thread (no windows, no hooks) can always be moved; this is the
    // real OpenInputDesktop and SetThreadDesktop.
    bool attached = false;
    std::thread([&] { attached = os_input_desktop().attach_to_input_desktop(); }).join();
    EXPECT_TRUE(attached);
}

// ---- the clipboard's retries ----

// Fails the first `failures` opens, as a clipboard another program holds,
// then opens the real one.
class ScriptedOpener final : public ClipboardOpener {
public:
    int failures = 0;
    int opens = 0;
    std::chrono::milliseconds paused{0};
    bool open() override {
        if (++opens <= failures) {
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
        return OpenClipboard(nullptr) != FALSE;
    }
    void pause(std::chrono::milliseconds how_long) override { paused += how_long; }
};

std::u16string clipboard_text() {
    std::u16string out;
    if (!OpenClipboard(nullptr)) return u"(busy)";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (auto* p = static_cast<const char16_t*>(GlobalLock(data))) {
            out = p;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return out;
}

TEST(SendInputClipboardRetry, BusyClipboardIsRetriedWithinTheBoundAndNotPastedWhenItStaysBusy) {
    using namespace std::chrono_literals;
    struct Case {
        int failures;
        bool set;
        int opens;
        std::chrono::milliseconds paused;
    };
    const Case cases[] = {
        {0, true, 1, 0ms},
        {5, true, 6, 50ms},  // held for about 50 ms
        {20, true, 21, 200ms},
        {21, false, 21, 200ms},  // held for longer than the bound
        {1000, false, 21, 200ms},
    };
    for (const auto& c : cases) {
        RecordingSender sender;
        ScriptedOpener opener;
        opener.failures = c.failures;
        SendInputSink sink(sender, opener);
        test::FakeSas sas;
        InputController controller(sink, sas);
        controller.add_client(1);
        ASSERT_TRUE(SendInputSink(sender).set_clipboard("old"));
        sender.calls.clear();

        controller.set_clipboard(1, "new", true, 1000);
        EXPECT_EQ(opener.opens, c.opens) << c.failures;
        EXPECT_EQ(opener.paused, c.paused) << c.failures;
        EXPECT_EQ(clipboard_text(), c.set ? u"new" : u"old") << c.failures;
        // Ctrl+V only when the new text is there.
        std::vector<WORD> vks;
        for (const auto& call : sender.calls) {
            for (const INPUT& r : call) vks.push_back(r.ki.wVk);
        }
        EXPECT_EQ(vks, c.set ? (std::vector<WORD>{0xA2, 0x56, 0x56, 0xA2}) : std::vector<WORD>{}) << c.failures;
    }
}

TEST(SendInputClipboardRetry, TheSinkReportsWhetherTheTextWasSet) {
    RecordingSender sender;
    ScriptedOpener opener;
    opener.failures = 1000;
    EXPECT_FALSE(SendInputSink(sender, opener).set_clipboard("x"));
    opener.failures = 0;
    opener.opens = 0;
    EXPECT_TRUE(SendInputSink(sender, opener).set_clipboard("x"));
}

// ---- brightness: one worker, merged presses ----

// Records each change; a closed gate holds the factory or a change until
// the test opens it.
struct ChangeLog {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> changes;
    int running = 0, most_running = 0, made = 0;
    bool factory_gate = true, change_gate = true;
    DWORD made_on = 0;
    std::vector<DWORD> changed_on;

    void wait(const std::function<bool()>& done) {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), done));
    }
    void open(bool& gate) {
        {
            std::lock_guard lock(mutex);
            gate = true;
        }
        changed.notify_all();
    }
};

class LoggingChanger final : public win32::BrightnessChanger {
public:
    explicit LoggingChanger(std::shared_ptr<ChangeLog> log) : log_(std::move(log)) {}
    void change(int steps) override {
        std::unique_lock lock(log_->mutex);
        log_->most_running = std::max(log_->most_running, ++log_->running);
        log_->changes.push_back(steps);
        log_->changed_on.push_back(GetCurrentThreadId());
        log_->changed.notify_all();
        log_->changed.wait(lock, [&] { return log_->change_gate; });
        --log_->running;
        log_->changed.notify_all();
    }

private:
    std::shared_ptr<ChangeLog> log_;
};

win32::BrightnessWorker::Factory logging_factory(const std::shared_ptr<ChangeLog>& log) {
    return [log]() -> std::unique_ptr<win32::BrightnessChanger> {
        std::unique_lock lock(log->mutex);
        ++log->made;
        log->made_on = GetCurrentThreadId();
        log->changed.notify_all();
        log->changed.wait(lock, [&] { return log->factory_gate; });
        return std::make_unique<LoggingChanger>(log);
    };
}

TEST(BrightnessWorker, TenQuickPressesAreOneChangeOfTenSteps) {
    auto log = std::make_shared<ChangeLog>();
    log->factory_gate = false;  // the worker is still starting while the presses come
    {
        win32::BrightnessWorker worker(logging_factory(log));
        for (int i = 0; i < 10; ++i) worker.press(true);
        log->open(log->factory_gate);
        log->wait([&] { return log->changes.size() == 1 && log->running == 0; });
    }
    EXPECT_EQ(log->changes, (std::vector<int>{10}));
    EXPECT_EQ(log->made, 1);
}

TEST(BrightnessWorker, PressesDuringAChangeAreMergedIntoTheNextAndNoTwoChangesOverlap) {
    auto log = std::make_shared<ChangeLog>();
    {
        win32::BrightnessWorker worker(logging_factory(log));
        {
            std::lock_guard lock(log->mutex);
            log->change_gate = false;
        }
        worker.press(false);
        log->wait([&] { return log->changes.size() == 1; });
        // The first change runs; everything pressed now waits for it.
        for (int i = 0; i < 7; ++i) worker.press(true);
        worker.press(false);
        log->open(log->change_gate);
        log->wait([&] { return log->changes.size() == 2 && log->running == 0; });
        // Presses that cancel out while a change runs start no change.
        {
            std::lock_guard lock(log->mutex);
            log->change_gate = false;
        }
        worker.press(true);
        log->wait([&] { return log->changes.size() == 3; });
        worker.press(true);
        worker.press(false);
        log->open(log->change_gate);
        log->wait([&] { return log->running == 0; });
        worker.press(false);
        log->wait([&] { return log->changes.size() == 4 && log->running == 0; });
    }
    EXPECT_EQ(log->changes, (std::vector<int>{-1, 6, 1, -1}));
    EXPECT_EQ(log->most_running, 1);
    // One worker thread made the changer and ran every change.
    for (DWORD id : log->changed_on) EXPECT_EQ(id, log->made_on);
    EXPECT_NE(log->made_on, GetCurrentThreadId());
}

TEST(BrightnessWorker, ThePressReturnsAtOnceAndTheSinkGoesThroughTheWorker) {
    auto log = std::make_shared<ChangeLog>();
    {
        std::lock_guard lock(log->mutex);
        log->change_gate = false;  // a change that takes as long as the test likes
    }
    RecordingSender sender;
    {
        SendInputSink sink(sender, os_clipboard_opener(), logging_factory(log));
        sink.adjust_brightness(true);
        log->wait([&] { return log->changes.size() == 1; });
        sink.adjust_brightness(false);  // returns while the change still runs
        sink.key({0x41, 0x1E, false}, true);
        EXPECT_EQ(sender.calls.size(), 1u);
        log->open(log->change_gate);
    }
    EXPECT_EQ(log->changes.front(), 1);
}

TEST(BrightnessWmi, AChangeOverComReturnsWithoutMonitorsToSet) {
    // Under Wine (and on most desktops with external monitors) no monitor
    // offers WMI brightness: the change finds none and ends. The figure is
    // the cost of one change over COM (query, no set).
    double first_ms = 0, second_ms = 0;
    std::thread([&] {
        auto changer = win32::make_wmi_brightness_changer();
        auto t0 = std::chrono::steady_clock::now();
        changer->change(1);
        auto t1 = std::chrono::steady_clock::now();
        changer->change(-1);
        auto t2 = std::chrono::steady_clock::now();
        first_ms = std::chrono::duration<double, std::milli>(t1 - t0).count();
        second_ms = std::chrono::duration<double, std::milli>(t2 - t1).count();
    }).join();
    std::printf("brightness over WMI/COM: first change %.1f ms (connects), next %.1f ms\n", first_ms, second_ms);
}

}  // namespace
}  // namespace korvex
