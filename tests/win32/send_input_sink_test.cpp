// The INPUT records SendInputSink builds, seen through the SendInput seam.
#include "platform/win32/send_input_sink.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/input_commands.h"

namespace korvex {
namespace {

class RecordingSender final : public InputRecordSender {
public:
    std::vector<std::vector<INPUT>> calls;
    void send(std::span<INPUT> records) override { calls.emplace_back(records.begin(), records.end()); }
};

class RecordingStarter final : public BackgroundProcessStarter {
public:
    bool succeed = true;
    std::vector<std::wstring> applications, command_lines;
    bool start(std::wstring application, std::wstring command_line) override {
        applications.push_back(std::move(application));
        command_lines.push_back(std::move(command_line));
        return succeed;
    }
};

struct MouseRecord {
    LONG dx, dy;
    DWORD data, flags;
};

class SendInputSinkTest : public testing::Test {
protected:
    RecordingSender sender;
    RecordingStarter starter;
    SendInputSink sink{sender, starter};

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

TEST_F(SendInputSinkTest, BrightnessRunsPowerShellInTheBackground) {
    sink.adjust_brightness(false);
    ASSERT_EQ(starter.command_lines.size(), 1u);
    std::string expected = windows_command_line("powershell.exe", brightness_arguments(false));
    EXPECT_EQ(starter.command_lines[0], std::wstring(expected.begin(), expected.end()));
    EXPECT_NE(starter.applications[0].find(L"\\WindowsPowerShell\\v1.0\\powershell.exe"), std::wstring::npos);
    EXPECT_TRUE(sender.calls.empty());
}

TEST_F(SendInputSinkTest, BrightnessIsSkippedWhenNoThreadStarts) {
    starter.succeed = false;
    sink.adjust_brightness(true);  // returns, the host goes on
    sink.key({0x41, 0x1E, false}, true);
    EXPECT_EQ(sender.calls.size(), 1u);
}

}  // namespace
}  // namespace korvex
