#include "core/input_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/json.h"
#include "support/input_fakes.h"

namespace korvex {
namespace {

using namespace korvex::test;
using Log = std::vector<std::string>;

constexpr std::uint64_t kA = 1, kB = 2;
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

class Controller : public testing::Test {
protected:
    Controller() {
        controller.add_client(kA).outgoing = [this](std::string body) { replies_a.push_back(std::move(body)); };
        controller.add_client(kB).outgoing = [this](std::string body) { replies_b.push_back(std::move(body)); };
        controller.set_pad_output(&pad);
    }

    // Dispatches for client A and returns what was injected.
    Log send(const InputEvent& event, std::uint64_t now = 1000, std::uint64_t client = kA) {
        sink.take();
        controller.dispatch_event(client, event, now);
        return sink.take();
    }
    // A key event that always shows whether it got through.
    bool accepted(std::uint64_t seq, std::uint64_t client = kA) {
        return !send(make_key(seq, 0x04, 2), 1000, client).empty();
    }

    RecordingSink sink;
    FakeSas sas;
    RecordingPadOutput pad;
    InputController controller{sink, sas};
    std::vector<std::string> replies_a, replies_b;
};

TEST(ReplayWindow, Table) {
    struct Step {
        std::uint64_t seq;
        bool accepted;
    };
    const std::vector<std::vector<Step>> cases = {
        {{5, true}, {5, false}, {4, true}, {4, false}, {700, true}, {188, false}, {189, true}, {189, false}},
        {{0, false}, {1, true}, {0, false}},
        {{1000, true}, {489, true}, {488, false}, {1000, false}, {999, true}},
        // a jump of 512 or more clears the whole set
        {{10, true}, {600, true}, {100, true}, {88, false}, {2000, true}, {1489, true}, {1488, false}},
        // numbers reused after the window moved on are new again in their slot
        {{3, true}, {515, true}, {3, false}, {4, true}},
        // the largest sequence number does not wrap the window
        {{std::numeric_limits<std::uint64_t>::max() - 3, true},
         {std::numeric_limits<std::uint64_t>::max(), true},
         {std::numeric_limits<std::uint64_t>::max() - 1, true},
         {std::numeric_limits<std::uint64_t>::max(), false},
         {1, false}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        ReplayWindow window;
        for (const auto& step : cases[i]) EXPECT_EQ(window.accept(step.seq), step.accepted) << i << " seq " << step.seq;
    }
}

TEST_F(Controller, ReplayWindowThroughDispatch) {
    EXPECT_TRUE(accepted(5));
    EXPECT_FALSE(accepted(5));
    EXPECT_TRUE(accepted(4));
    EXPECT_TRUE(accepted(700));
    EXPECT_FALSE(accepted(188));
    EXPECT_TRUE(accepted(189));
    // Each client has its own window.
    EXPECT_TRUE(accepted(5, kB));
}

TEST_F(Controller, EventsOfUnknownClientsAreDropped) {
    EXPECT_TRUE(send(make_key(1, 0x04, 1), 1000, 99).empty());
    EXPECT_FALSE(controller.owner().has_value());
    controller.remove_client(kA);
    controller.remove_client(kB);
    EXPECT_TRUE(send(make_key(1, 0x04, 1)).empty());
}

TEST_F(Controller, OwnerChangeReleasesTheOldOwnersInputFirst) {
    InputEvent latch = make_command(9, 1, kModShift);
    EXPECT_EQ(send(latch), (Log{"leftShift down"}));
    EXPECT_EQ(controller.owner(), kA);
    EXPECT_EQ(send(make_move(1, 5.0f, 0.0f), 1010, kB), (Log{"leftShift up", "keep_awake", "move 5 0"}));
    EXPECT_EQ(controller.owner(), kB);
    // A's next event takes control back and releases nothing B did not hold.
    EXPECT_EQ(send(make_key(2, 0x04, 1)), (Log{"a down"}));
    EXPECT_EQ(controller.owner(), kA);
}

TEST_F(Controller, OwnerChangeReleasesKeysButtonsAndPad) {
    send(make_key(1, 0x04, 1, kModCtrl));
    send(make_button(2, 1, true));
    send(make_pad_buttons(3, 0x0001, 0, 0, 0));
    pad.log.clear();
    EXPECT_EQ(send(make_key(1, 0x05, 1), 1000, kB),
              (Log{"a up", "leftCtrl up", "button 1 up", "b down"}));
    EXPECT_EQ(pad.log, (Log{"release_mapping", "submit_neutral"}));
    EXPECT_TRUE(controller.pad_state().neutral());
}

TEST_F(Controller, SessionEndOfTheOwnerReleasesAll) {
    send(make_key(1, 0x04, 1));
    sink.take();
    controller.remove_client(kB);  // not the owner: nothing happens
    EXPECT_TRUE(sink.log.empty());
    controller.remove_client(kA);
    EXPECT_EQ(sink.take(), (Log{"a up"}));
    EXPECT_FALSE(controller.owner().has_value());
}

TEST_F(Controller, StaleMovesAreDroppedButOtherKindsRun) {
    send(make_move(10, 1.0f, 0.0f));
    EXPECT_TRUE(send(make_move(8, 1.0f, 0.0f)).empty());      // new to the window, older than the last move
    EXPECT_EQ(send(make_key(9, 0x04, 1)), (Log{"a down"}));  // same age, other kind: runs
    EXPECT_EQ(send(make_move(11, 1.0f, 0.0f)), (Log{"move 1 0"}));
}

TEST_F(Controller, NonFiniteMovesAreDroppedAndUseTheirNumber) {
    send(make_move(1, 1.0f, 0.0f));
    EXPECT_TRUE(send(make_move(2, kNaN, 1.0f)).empty());
    EXPECT_TRUE(send(make_move(3, 1.0f, kInf)).empty());
    EXPECT_EQ(controller.last_move_seq(), 3u);
}

TEST_F(Controller, SubPixelRemaindersCarry) {
    EXPECT_EQ(send(make_move(1, 0.4f, 0.0f), 1000), (Log{"keep_awake"}));
    EXPECT_TRUE(send(make_move(2, 0.4f, 0.0f), 1008).empty());
    EXPECT_EQ(send(make_move(3, 0.4f, 0.0f), 1016), (Log{"move 1 0"}));
    EXPECT_NEAR(controller.remainder_x(), 0.2f, 1e-5);
    // Negative remainders truncate toward zero as well.
    EXPECT_EQ(send(make_move(4, -1.7f, -0.6f), 1024), (Log{"move -1 0"}));
    EXPECT_NEAR(controller.remainder_x(), -0.5f, 1e-5);
    EXPECT_NEAR(controller.remainder_y(), -0.6f, 1e-5);
}

TEST_F(Controller, MovesAreClamped) {
    struct Case {
        float dx, dy;
        const char* injected;
    };
    const Case cases[] = {
        {1e9f, 0.0f, "move 20000 0"},
        {-1e9f, 3.5f, "move -20000 3"},
        {std::numeric_limits<float>::max(), -std::numeric_limits<float>::max(), "move 20000 -20000"},
    };
    std::uint64_t seq = 0;
    for (const auto& c : cases) {
        controller.release_all();  // fresh remainders
        Log log = send(make_move(++seq, c.dx, c.dy), 1000);
        EXPECT_EQ(log.back(), c.injected);
    }
}

TEST_F(Controller, KeepAwakeOnFirstMoveAndAfterPausesOverThirtySeconds) {
    EXPECT_EQ(send(make_move(1, 1, 0), 1000), (Log{"keep_awake", "move 1 0"}));
    EXPECT_EQ(send(make_move(2, 1, 0), 31000), (Log{"move 1 0"}));  // exactly 30 s: no
    EXPECT_EQ(send(make_move(3, 1, 0), 61001), (Log{"keep_awake", "move 1 0"}));
    // A move that injects nothing still counts as movement.
    EXPECT_EQ(send(make_move(4, 0.1f, 0), 100000), (Log{"keep_awake"}));
    EXPECT_TRUE(send(make_move(5, 0.1f, 0), 100010).empty());
}

TEST_F(Controller, CoalescedMovesAreInjectedOnceAtFlush) {
    send(make_move(1, 1, 0));
    controller.set_coalesce_moves(true);
    EXPECT_TRUE(send(make_move(2, 2.5f, 1)).empty());
    EXPECT_TRUE(send(make_move(3, 2.5f, -3)).empty());
    controller.set_coalesce_moves(false);
    controller.flush_move();
    EXPECT_EQ(sink.take(), (Log{"move 5 -2"}));
}

TEST_F(Controller, OtherKindsFlushThePendingMoveFirst) {
    send(make_move(1, 1, 0));
    controller.set_coalesce_moves(true);
    send(make_move(2, 3, 4));
    EXPECT_EQ(send(make_button(3, 1, true)), (Log{"move 3 4", "button 1 down"}));
}

TEST_F(Controller, Scroll) {
    struct Case {
        float horizontal, vertical;
        Log injected;
    };
    const std::vector<Case> cases = {
        {0.0f, 1.0f, {"wheel 5"}},  // 4.5 rounds away from zero
        {0.0f, -1.0f, {"wheel -5"}},
        {1.0f, 0.0f, {"hwheel -5"}},  // horizontal is inverted
        {-2.0f, 0.0f, {"hwheel 9"}},
        {0.0f, 0.1f, {}},
        {0.5f, 2.0f, {"wheel 9", "hwheel -2"}},
        {kNaN, kInf, {}},
        {1e30f, -1e30f, {"wheel -2147483648", "hwheel -2147483648"}},
    };
    std::uint64_t seq = 0;
    for (const auto& c : cases) EXPECT_EQ(send(make_scroll(++seq, c.horizontal, c.vertical)), c.injected) << seq;
}

TEST_F(Controller, PinchZoomSequenceAndWatchdog) {
    EXPECT_EQ(send(make_pinch(1, 1, 0.0f), 1000), (Log{"leftCtrl down"}));
    EXPECT_EQ(send(make_pinch(2, 2, 0.01f), 1010), (Log{"wheel 6"}));
    EXPECT_EQ(send(make_pinch(3, 2, -0.5f), 1020), (Log{"wheel -300"}));
    sink.take();
    controller.input_watchdog(1270);  // exactly 250 ms: still held
    EXPECT_TRUE(sink.log.empty());
    controller.input_watchdog(1321);
    EXPECT_EQ(sink.take(), (Log{"leftCtrl up"}));
    EXPECT_FALSE(controller.state().zoom_ctrl_held());
}

TEST_F(Controller, PinchPhases) {
    struct Step {
        std::uint8_t phase;
        float amount;
        Log injected;
    };
    struct Case {
        const char* name;
        ModifierMask latched;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"end_releases", 0, {{1, 0, {"leftCtrl down"}}, {3, 0, {"leftCtrl up"}}, {3, 0, {}}}},
        {"cancel_releases", 0, {{2, 1.0f, {"leftCtrl down", "wheel 600"}}, {5, 0, {"leftCtrl up"}}}},
        {"begin_twice_presses_once", 0, {{1, 0, {"leftCtrl down"}}, {1, 0, {}}}},
        {"change_without_amount_presses_nothing", 0, {{2, 0.0f, {}}, {2, kNaN, {}}}},
        {"tiny_change_presses_ctrl_but_no_wheel", 0, {{2, 0.0001f, {"leftCtrl down"}}}},
        {"user_ctrl_serves_the_wheel", kModCtrl, {{1, 0, {}}, {2, 0.01f, {"wheel 6"}}, {3, 0, {}}}},
        {"other_phases_do_nothing", 0, {{0, 1.0f, {}}, {4, 1.0f, {}}, {15, 1.0f, {}}}},
    };
    for (const auto& c : cases) {
        RecordingSink local_sink;
        FakeSas local_sas;
        InputController local(local_sink, local_sas);
        local.add_client(kA);
        std::uint64_t seq = 0;
        if (c.latched != 0) local.dispatch_event(kA, make_command(9, ++seq, c.latched), 1000);
        local_sink.take();
        for (const auto& step : c.steps) {
            local.dispatch_event(kA, make_pinch(++seq, step.phase, step.amount), 1000);
            EXPECT_EQ(local_sink.take(), step.injected) << c.name << " step " << seq;
        }
    }
}

TEST_F(Controller, PinchBeginRefreshesTheZoomTimer) {
    send(make_pinch(1, 1, 0), 1000);
    send(make_pinch(2, 1, 0), 1200);
    controller.input_watchdog(1400);
    EXPECT_TRUE(controller.state().zoom_ctrl_held());
    controller.input_watchdog(1451);
    EXPECT_FALSE(controller.state().zoom_ctrl_held());
}

TEST_F(Controller, ShortcutsAndCommands) {
    struct Case {
        std::uint8_t kind, number;
        Log injected;
    };
    const std::vector<Case> cases = {
        {7, 1, {"leftWin down", "tab down", "tab up", "leftWin up"}},
        {7, 2, {"leftWin down", "d down", "d up", "leftWin up"}},
        {7, 3, {"leftCtrl down", "leftWin down", "right down", "right up", "leftWin up", "leftCtrl up"}},
        {7, 4, {"leftCtrl down", "leftWin down", "left down", "left up", "leftWin up", "leftCtrl up"}},
        {7, 5, {}},
        {7, 0, {}},
        {8, 1, {"leftCtrl down", "c down", "c up", "leftCtrl up"}},
        {8, 2, {"leftCtrl down", "v down", "v up", "leftCtrl up"}},
        {8, 3, {"leftCtrl down", "x down", "x up", "leftCtrl up"}},
        {8, 4, {"leftCtrl down", "z down", "z up", "leftCtrl up"}},
        {8, 5, {"leftCtrl down", "y down", "y up", "leftCtrl up"}},
        {8, 6, {"leftCtrl down", "a down", "a up", "leftCtrl up"}},
        {8, 7, {"leftCtrl down", "f down", "f up", "leftCtrl up"}},
        {8, 8, {"lock"}},
        {8, 10, {}},
        {10, 1, {"vk AF scan 00 down", "vk AF scan 00 up"}},
        {10, 2, {"vk AE scan 00 down", "vk AE scan 00 up"}},
        {10, 3, {"vk AD scan 00 down", "vk AD scan 00 up"}},
        {10, 4, {"vk B3 scan 00 down", "vk B3 scan 00 up"}},
        {10, 5, {"vk B0 scan 00 down", "vk B0 scan 00 up"}},
        {10, 6, {"vk B1 scan 00 down", "vk B1 scan 00 up"}},
        {10, 7, {"brightness up"}},
        {10, 8, {"brightness down"}},
        {10, 9, {}},
        {5, 1, {}},
        {13, 1, {}},
        {200, 1, {}},
    };
    std::uint64_t seq = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(send(make_command(c.kind, ++seq, c.number)), c.injected)
            << "kind " << int(c.kind) << " number " << int(c.number);
    }
    EXPECT_EQ(sas.calls, 0);
}

TEST_F(Controller, LockFailureIsIgnored) {
    sink.lock_result = fail("access denied", 5);
    EXPECT_EQ(send(make_command(8, 1, 8)), (Log{"lock"}));
    EXPECT_TRUE(replies_a.empty());
}

TEST_F(Controller, ShortcutKeepsLatchedModifiers) {
    send(make_command(9, 1, kModCtrl));
    EXPECT_EQ(send(make_command(8, 2, 2)), (Log{"v down", "v up"}));
    EXPECT_EQ(controller.state().held_modifiers(), kModCtrl);
}

TEST_F(Controller, UnknownKindsUseTheirNumberAndTakeControl) {
    send(make_key(1, 0x04, 1), 1000, kB);
    EXPECT_EQ(send(make_command(14, 1, 0)), (Log{"a up"}));
    EXPECT_EQ(controller.owner(), kA);
    EXPECT_FALSE(accepted(1));
}

TEST_F(Controller, SetModifiersLatches) {
    struct Step {
        std::uint8_t mask;
        Log injected;
    };
    const std::vector<Step> steps = {
        {kModCtrl | kModShift, {"leftShift down", "leftCtrl down"}},
        {kModCtrl | kModShift, {}},
        {kModCtrl | kModWin | 0xF0, {"leftShift up", "leftWin down"}},
        // Win went down last: its release by the host is masked.
        {0, {"mask down", "mask up", "leftWin up", "leftCtrl up"}},
    };
    std::uint64_t seq = 0;
    for (const auto& step : steps) EXPECT_EQ(send(make_command(9, ++seq, step.mask)), step.injected) << seq;
}

TEST_F(Controller, LatchedModifierIsNotPressedTwiceByAKeyOrButton) {
    send(make_command(9, 1, kModShift));
    EXPECT_EQ(send(make_key(2, 0x04, 1, kModShift)), (Log{"a down"}));
    EXPECT_EQ(send(make_key(3, 0x04, 0)), (Log{"a up"}));
    EXPECT_EQ(send(make_button(4, 1, true, kModShift | kModAlt)), (Log{"leftAlt down", "button 1 down"}));
    // A click is no key: the Alt pressed for it is still lone when the host
    // lets it go, so it is masked.
    EXPECT_EQ(send(make_button(5, 1, false)), (Log{"button 1 up", "mask down", "mask up", "leftAlt up"}));
    EXPECT_EQ(controller.state().held_modifiers(), kModShift);
}

TEST_F(Controller, ReleaseAllEventKeepsTheOwnerAndResetsMoves) {
    send(make_key(1, 0xE1, 1));
    send(make_key(2, 0x04, 1));
    send(make_button(3, 1, true));
    send(make_move(50, 0.7f, 0));
    EXPECT_EQ(send(make_event(15, 51)), (Log{"a up", "leftShift up", "leftShift up", "button 1 up"}));
    EXPECT_EQ(controller.owner(), kA);
    EXPECT_FALSE(controller.state().anything_held());
    EXPECT_EQ(controller.last_move_seq(), 0u);
    EXPECT_EQ(controller.remainder_x(), 0.0f);
    // A move with an older number (new to the window) is accepted again.
    EXPECT_EQ(send(make_move(40, 1, 0)), (Log{"move 1 0"}));
}

TEST_F(Controller, PadSticksAndButtons) {
    send(make_sticks(1, 100, -200, 300, -32768));
    EXPECT_EQ(controller.pad_state(), (PadState{0, 100, -200, 300, -32768, 0, 0, 0}));
    send(make_sticks(2, 100, -200, 300, -32768));  // unchanged: not applied again
    send(make_pad_buttons(3, 0xFFFF, 9, 10, 255));
    EXPECT_EQ(controller.pad_state(), (PadState{0x07FF, 100, -200, 300, -32768, 0, 10, 255}));
    send(make_pad_buttons(4, 0x0FFF, 9, 10, 255));  // only bits 0..10 count, d-pad 9 is 0: unchanged
    send(make_pad_buttons(5, 0x0001, 8, 0, 0));
    EXPECT_EQ(controller.pad_state().dpad, 8);
    ASSERT_EQ(pad.applied.size(), 3u);
    EXPECT_EQ(pad.applied[2], controller.pad_state());
    EXPECT_TRUE(sink.log.empty());
}

TEST_F(Controller, PadEventsAreOrderedPerKind) {
    send(make_pad_buttons(10, 0x0001, 0, 0, 0));
    send(make_sticks(5, 1, 1, 1, 1));        // older than the buttons, but sticks are ordered apart
    send(make_pad_buttons(8, 0x0002, 0, 0, 0));  // stale: dropped
    send(make_sticks(4, 2, 2, 2, 2));        // stale: dropped
    EXPECT_EQ(controller.pad_state(), (PadState{0x0001, 1, 1, 1, 1, 0, 0, 0}));
    // The stale event still used up its number.
    EXPECT_FALSE(accepted(8));
}

TEST_F(Controller, WatchdogTable) {
    struct Case {
        const char* name;
        std::vector<InputEvent> events;  // all at t = 1000
        std::uint64_t quiet_until;       // watchdog tick with nothing released
        std::uint64_t released_at;       // first tick that releases
        Log released;
    };
    const std::vector<Case> cases = {
        {"key", {make_key(1, 0x04, 1)}, 2500, 2750, {"a up"}},
        {"button", {make_button(1, 2, true)}, 2500, 2501, {"button 2 up"}},
        {"latched_modifier", {make_command(9, 1, kModAlt)}, 2500, 2750, {"mask down", "mask up", "leftAlt up"}},
        {"zoom_ctrl", {make_pinch(1, 1, 0)}, 1250, 1500, {"leftCtrl up"}},
    };
    for (const auto& c : cases) {
        RecordingSink local_sink;
        FakeSas local_sas;
        InputController local(local_sink, local_sas);
        local.add_client(kA);
        for (const auto& e : c.events) local.dispatch_event(kA, e, 1000);
        local_sink.take();
        for (std::uint64_t t = 1250; t <= c.quiet_until; t += 250) local.input_watchdog(t);
        local.input_watchdog(c.quiet_until);
        EXPECT_TRUE(local_sink.log.empty()) << c.name;
        local.input_watchdog(c.released_at);
        EXPECT_EQ(local_sink.take(), c.released) << c.name;
        EXPECT_FALSE(local.state().anything_held()) << c.name;
    }
}

// Every release the host makes on its own, of a Win or Alt with no other key
// since its key-down, taps the mask key just before that key-up; a Win or Alt
// used with another key, and a client's own press and release, are not
// masked.
TEST(ControllerMenuMask, HostReleasePaths) {
    enum class Path { Watchdog, OwnerChange, SessionEnd, ReleaseAllEvent, Unlatch };
    struct Hold {
        const char* name;
        std::vector<InputEvent> events;  // client A, seq from 1
        std::string key;                 // the Win or Alt key released
        bool masked;
    };
    const std::vector<Hold> holds = {
        {"latched_win", {make_command(9, 1, kModWin)}, "leftWin", true},
        {"latched_alt", {make_command(9, 1, kModAlt)}, "leftAlt", true},
        {"win_key", {make_key(1, 0xE3, 1)}, "leftWin", true},
        {"alt_key", {make_key(1, 0xE2, 1)}, "leftAlt", true},
        {"right_alt_key", {make_key(1, 0xE6, 1)}, "rightAlt", true},
        {"win_with_button_chord", {make_button(1, 1, true, kModWin)}, "leftWin", true},
        {"latched_win_then_key", {make_command(9, 1, kModWin), make_key(2, 0x07, 1), make_key(3, 0x07, 0)},
         "leftWin", false},
        {"latched_alt_then_key", {make_command(9, 1, kModAlt), make_key(2, 0x2B, 1), make_key(3, 0x2B, 0)},
         "leftAlt", false},
        {"win_key_then_key", {make_key(1, 0xE3, 1), make_key(2, 0x15, 1)}, "leftWin", false},
        {"latched_win_then_media_key", {make_command(9, 1, kModWin), make_command(10, 2, 3)}, "leftWin", false},
    };
    const std::pair<Path, const char*> paths[] = {
        {Path::Watchdog, "watchdog"},
        {Path::OwnerChange, "owner_change"},
        {Path::SessionEnd, "session_end"},
        {Path::ReleaseAllEvent, "release_all_event"},
        {Path::Unlatch, "unlatch"},
    };
    for (const auto& [path, path_name] : paths) {
        for (const auto& hold : holds) {
            const bool latched = hold.events.front().kind == 9;
            if (path == Path::Unlatch && !latched) continue;
            const std::string name = std::string(path_name) + "/" + hold.name;
            RecordingSink sink;
            FakeSas sas;
            InputController controller(sink, sas);
            controller.add_client(kA);
            controller.add_client(kB);
            for (const auto& e : hold.events) controller.dispatch_event(kA, e, 1000);
            sink.take();
            switch (path) {
                case Path::Watchdog: controller.input_watchdog(2750); break;
                case Path::OwnerChange: controller.dispatch_event(kB, make_scroll(1, 0, 1), 1100); break;
                case Path::SessionEnd: controller.remove_client(kA); break;
                case Path::ReleaseAllEvent: controller.dispatch_event(kA, make_event(15, 50), 1100); break;
                case Path::Unlatch: controller.dispatch_event(kA, make_command(9, 50, 0), 1100); break;
            }
            const Log log = sink.take();
            const auto up = std::find(log.begin(), log.end(), hold.key + " up");
            ASSERT_NE(up, log.end()) << name;
            const bool masked = up - log.begin() >= 2 && *(up - 2) == "mask down" && *(up - 1) == "mask up";
            EXPECT_EQ(masked, hold.masked) << name;
            EXPECT_EQ(std::count(log.begin(), log.end(), "mask down"), hold.masked ? 1 : 0) << name;
            EXPECT_EQ(controller.state().held_modifiers() & (kModWin | kModAlt), 0) << name;
        }
    }
}

TEST_F(Controller, ClientsOwnWinOrAltPressAndReleaseIsNotMasked) {
    EXPECT_EQ(send(make_key(1, 0xE3, 1)), (Log{"leftWin down"}));
    EXPECT_EQ(send(make_key(2, 0xE3, 0)), (Log{"leftWin up"}));
    EXPECT_EQ(send(make_key(3, 0xE2, 1)), (Log{"leftAlt down"}));
    EXPECT_EQ(send(make_key(4, 0xE2, 0)), (Log{"leftAlt up"}));
    // Nothing left for the host to release.
    controller.input_watchdog(5000);
    EXPECT_TRUE(sink.log.empty());
}

TEST_F(Controller, MaskedReleaseSequences) {
    // Win held as a key gets one masked key-up from the key step and a plain
    // second key-up from the modifier step.
    send(make_key(1, 0xE3, 1));
    EXPECT_EQ(send(make_event(15, 2)), (Log{"mask down", "mask up", "leftWin up", "leftWin up"}));
    // Win, then Alt latched: Win is released first while Alt was the last key
    // down, so only Alt is masked.
    send(make_command(9, 3, kModWin));
    send(make_command(9, 4, kModWin | kModAlt));
    sink.take();
    controller.remove_client(kA);
    EXPECT_EQ(sink.take(), (Log{"leftWin up", "mask down", "mask up", "leftAlt up"}));
}

TEST_F(Controller, AnyEventKeepsHeldInputAlive) {
    send(make_key(1, 0x04, 1), 1000);
    send(make_move(2, 0.1f, 0), 2400);  // injects nothing, still counts as input
    controller.input_watchdog(3750);
    EXPECT_TRUE(controller.state().is_key_held(0x04));
    controller.input_watchdog(4000);
    EXPECT_FALSE(controller.state().is_key_held(0x04));
}

TEST_F(Controller, WatchdogNeutralisesAStalePad) {
    send(make_sticks(1, 500, 0, 0, 0), 1000);
    pad.log.clear();
    controller.input_watchdog(2500);
    EXPECT_FALSE(controller.pad_state().neutral());
    controller.input_watchdog(2750);
    EXPECT_TRUE(controller.pad_state().neutral());
    EXPECT_EQ(pad.log, (Log{"apply", "submit_neutral"}));
    EXPECT_TRUE(pad.applied.back().neutral());
    controller.input_watchdog(5000);  // neutral: nothing more
    EXPECT_EQ(pad.log.size(), 2u);
    EXPECT_TRUE(sink.log.empty());
}

TEST_F(Controller, WatchdogWithNothingHeldDoesNothing) {
    send(make_move(1, 1, 1), 1000);
    sink.take();
    pad.log.clear();
    controller.input_watchdog(100000);
    EXPECT_TRUE(sink.log.empty());
    EXPECT_TRUE(pad.log.empty());
}

TEST_F(Controller, ClipboardWithAutoPaste) {
    controller.set_clipboard(kA, "hello", true, 1000);
    EXPECT_EQ(sink.take(), (Log{"clipboard hello", "leftCtrl down", "v down", "v up", "leftCtrl up"}));
    controller.set_clipboard(kA, "x", false, 1000);
    EXPECT_EQ(sink.take(), (Log{"clipboard x"}));
    EXPECT_EQ(controller.owner(), kA);
}

TEST_F(Controller, ClipboardThatCouldNotBeSetIsNotPasted) {
    sink.clipboard_busy = true;
    controller.set_clipboard(kB, "new", true, 1000);
    EXPECT_TRUE(sink.take().empty());
    // The client still took control and its text counts as input.
    EXPECT_EQ(controller.owner(), kB);
}

TEST_F(Controller, TextIsTypedAsUtf16) {
    controller.type_text(kA, "a\u00E9\U0001F600", 1000);
    EXPECT_EQ(sink.take(), (Log{"type 4"}));
    EXPECT_EQ(sink.typed.back(), u"a\u00E9\xD83D\xDE00");
}

TEST_F(Controller, EmptyTextInjectsNothingButTakesControl) {
    send(make_key(1, 0x04, 1), 1000, kB);
    controller.type_text(kA, "", 1000);
    EXPECT_EQ(sink.take(), (Log{"a up"}));
    EXPECT_EQ(controller.owner(), kA);
}

TEST_F(Controller, TextCountsAsInputForTheWatchdog) {
    send(make_key(1, 0x04, 1), 1000);
    controller.type_text(kA, "", 2000);
    controller.input_watchdog(3250);
    EXPECT_TRUE(controller.state().is_key_held(0x04));
}

struct SasCase {
    SasOutcome outcome;
    const char* code;
    const char* message;
};

TEST_F(Controller, CtrlAltDelRepliesToTheSender) {
    const SasCase cases[] = {
        {SasOutcome::Ok, "sas_ok", "Ctrl+Alt+Del sent"},
        {SasOutcome::PolicyMissing, "sas_policy_missing",
         "Ctrl+Alt+Del needs setup on the PC: run this app as administrator once and enable the "
         "SoftwareSASGeneration policy"},
        {SasOutcome::NeedsAdmin, "sas_needs_admin",
         "Ctrl+Alt+Del needs setup on the PC: run this app as administrator once (SoftwareSASGeneration is "
         "enabled)"},
        {SasOutcome::Unavailable, "sas_unavailable", "Ctrl+Alt+Del is not available on this PC (sas.dll missing)"},
    };
    std::uint64_t seq = 0;
    for (const auto& c : cases) {
        sas.outcome = c.outcome;
        EXPECT_TRUE(send(make_command(8, ++seq, 9)).empty());
        ASSERT_FALSE(replies_a.empty());
        EXPECT_EQ(replies_a.back(), std::string("{\"code\":\"") + c.code + "\",\"message\":\"" + c.message + "\"}");
        auto record = JsonRecord::parse(replies_a.back(), {"code", "message"});
        ASSERT_TRUE(record.has_value());
        EXPECT_EQ(record->string("message").value(), c.message);
    }
    EXPECT_EQ(replies_a.size(), 4u);
    EXPECT_TRUE(replies_b.empty());
    EXPECT_EQ(sas.calls, 4);
}

TEST_F(Controller, CtrlAltDelReplyIsDroppedWithoutAChannelOrWhenReplayed) {
    controller.find_client(kA)->outgoing = nullptr;
    send(make_command(8, 1, 9));
    controller.find_client(kA)->outgoing = [this](std::string body) { replies_a.push_back(std::move(body)); };
    send(make_command(8, 1, 9));  // replayed: no second attempt, no stale reply
    EXPECT_TRUE(replies_a.empty());
    EXPECT_EQ(sas.calls, 1);
}

TEST(SasRefusal, PolicyAndElevation) {
    struct Case {
        std::optional<std::uint32_t> policy;
        bool elevated;
        std::optional<SasOutcome> refusal;
    };
    const Case cases[] = {
        {std::nullopt, true, SasOutcome::PolicyMissing},
        {0, true, SasOutcome::PolicyMissing},
        {2, true, SasOutcome::PolicyMissing},  // ease-of-access applications only
        {1, false, SasOutcome::NeedsAdmin},
        {3, false, SasOutcome::NeedsAdmin},
        {1, true, std::nullopt},
        {3, true, std::nullopt},
        {4, true, SasOutcome::PolicyMissing},
    };
    for (const auto& c : cases) EXPECT_EQ(sas_refusal(c.policy, c.elevated), c.refusal);
}

}  // namespace
}  // namespace korvex
