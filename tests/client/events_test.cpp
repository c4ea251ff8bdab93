// The client's event builders against the host's own dispatcher: what the
// client builds is what the controller injects.
#include "client/events.h"

#include <gtest/gtest.h>

#include "client/sequence.h"
#include "core/input_controller.h"
#include "support/input_fakes.h"

namespace korvex::client {
namespace {

class EventsTest : public ::testing::Test {
protected:
    std::vector<std::string> dispatch(std::vector<InputEvent> events) {
        for (auto& e : events) {
            e.seq = ++seq;
            controller.dispatch_event(1, e, 1000);
        }
        return sink.take();
    }
    test::RecordingSink sink;
    test::FakeSas sas;
    InputController controller{sink, sas};
    std::uint64_t seq = 0;
    void SetUp() override { controller.add_client(1); }
};

TEST_F(EventsTest, EachBuilderDoesWhatItsNameSays) {
    struct Case {
        std::vector<InputEvent> events;
        std::vector<std::string> injected;
    };
    const Case cases[] = {
        {{key_event(0x04, KeyAction::Down), key_event(0x04, KeyAction::Up)}, {"a down", "a up"}},
        {{key_event(0x28, KeyAction::Down, kModCtrl | kModShift), key_event(0x28, KeyAction::Up, kModCtrl | kModShift)},
         {"leftShift down", "leftCtrl down", "enter down", "enter up", "leftCtrl up", "leftShift up"}},
        {{mouse_button_event(MouseButton::Middle, true), mouse_button_event(MouseButton::Middle, false)},
         {"button 3 down", "button 3 up"}},
        {{pointer_move_event(12.0f, -3.0f)}, {"move 12 -3"}},
        {{scroll_event(0.0f, -1.0f)}, {"wheel -5"}},
        {{scroll_event(1.0f, 0.0f)}, {"hwheel -5"}},
        {{edit_command_event(kEditLock)}, {"lock"}},
        {{media_event(7)}, {"brightness up"}},
        // The host masks the lone Alt it releases, so no menu bar opens.
        {{set_modifiers_event(kModAlt), release_all_event()}, {"leftAlt down", "mask down", "mask up", "leftAlt up"}},
    };
    for (const auto& c : cases) {
        auto log = dispatch(c.events);
        // The first event of a new owner may release nothing; the moves keep-awake line is not ours.
        std::erase(log, "keep_awake");
        EXPECT_EQ(log, c.injected) << c.injected.front();
    }
}

TEST_F(EventsTest, MediaKeysAndCtrlAltDel) {
    auto log = dispatch({media_event(1)});
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "vk AF scan 00 down");
    dispatch({edit_command_event(kEditCtrlAltDel)});
    EXPECT_EQ(sas.calls, 1);
}

TEST(Events, CommandNames) {
    EXPECT_EQ(find_command(media_commands(), "volume-up"), 1);
    EXPECT_EQ(find_command(media_commands(), "Play Pause"), 4);
    EXPECT_EQ(find_command(media_commands(), "brightness_down"), 8);
    EXPECT_EQ(find_command(media_commands(), "louder"), std::nullopt);
    EXPECT_EQ(find_command(media_commands(), ""), std::nullopt);
    EXPECT_EQ(find_command(edit_commands(), "select-all"), 6);
    EXPECT_EQ(find_command(edit_commands(), "cad"), kEditCtrlAltDel);
    EXPECT_EQ(find_command(desktop_shortcuts(), "show-desktop"), 2);
    EXPECT_EQ(media_commands().size(), 8u);
}

TEST(Events, ModifierListsAndButtons) {
    EXPECT_EQ(parse_modifiers("ctrl,shift,alt,win"), kModAll);
    EXPECT_EQ(parse_modifiers("Control+Super"), kModCtrl | kModWin);
    EXPECT_EQ(parse_modifiers(""), 0);
    EXPECT_EQ(parse_modifiers("ctrl,,shift"), kModCtrl | kModShift);
    EXPECT_EQ(parse_modifiers("ctrl,hyper"), std::nullopt);
    EXPECT_EQ(parse_mouse_button("Right"), MouseButton::Right);
    EXPECT_EQ(parse_mouse_button("fourth"), std::nullopt);
}

TEST(Sequence, NewRunsStartAboveEverythingSent) {
    EXPECT_EQ(SequenceCounter::start_value(5000, 0), 5000u);
    EXPECT_EQ(SequenceCounter::start_value(5000, 9000), 9001u) << "the clock went back";
    EXPECT_EQ(SequenceCounter::start_value(0, 0), 1u) << "never 0";
    SequenceCounter counter(0);
    EXPECT_EQ(counter.next(), 1u);
    EXPECT_EQ(counter.next(), 2u);
    EXPECT_EQ(counter.last_used(), 2u);
    SequenceCounter fresh(700);
    EXPECT_EQ(fresh.last_used(), 699u);
}

}  // namespace
}  // namespace korvex::client
