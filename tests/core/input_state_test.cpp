#include "core/input_state.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include "support/input_fakes.h"

namespace korvex {
namespace {

using test::RecordingSink;
using Log = std::vector<std::string>;

struct KeyStep {
    std::uint16_t usage;
    std::uint8_t action;
    ModifierMask mods;
};

struct KeyCase {
    const char* name;
    ModifierMask latched;  // pressed with press_modifiers before the steps
    std::vector<KeyStep> steps;
    Log injected;
    ModifierMask held_after;
    std::size_t keys_after;
};

class KeyEventTable : public testing::TestWithParam<KeyCase> {};

TEST_P(KeyEventTable, InjectsAndBooks) {
    const KeyCase& c = GetParam();
    RecordingSink sink;
    InputState state(sink);
    state.press_modifiers(c.latched);
    sink.take();
    for (const auto& step : c.steps) state.key_event(step.usage, step.action, step.mods);
    EXPECT_EQ(sink.log, c.injected);
    EXPECT_EQ(state.held_modifiers(), c.held_after);
    EXPECT_EQ(state.held_key_count(), c.keys_after);
}

INSTANTIATE_TEST_SUITE_P(
    InputState, KeyEventTable,
    testing::Values(
        KeyCase{"chord_presses_shift_ctrl_then_releases_in_reverse",
                0,
                {{0x04, 1, kModShift | kModCtrl}, {0x04, 0, 0}},
                {"leftShift down", "leftCtrl down", "a down", "a up", "leftCtrl up", "leftShift up"},
                0,
                0},
        KeyCase{"all_four_modifiers_in_bit_order",
                0,
                {{0x2C, 1, 0x0F}, {0x2C, 0, 0}},
                {"leftShift down", "leftCtrl down", "leftAlt down", "leftWin down", "space down", "space up",
                 "leftWin up", "leftAlt up", "leftCtrl up", "leftShift up"},
                0,
                0},
        KeyCase{"high_mod_bits_are_ignored", 0, {{0x04, 1, 0xF0}}, {"a down"}, 0, 1},
        KeyCase{"shift_key_held_is_not_pressed_again",
                0,
                {{0xE1, 1, 0}, {0x04, 1, kModShift}, {0x04, 0, 0}},
                {"leftShift down", "a down", "a up"},
                kModShift,
                1},
        KeyCase{"latched_modifier_is_not_pressed_or_released",
                kModCtrl,
                {{0x06, 1, kModCtrl | kModShift}, {0x06, 0, 0}},
                {"leftShift down", "c down", "c up", "leftShift up"},
                kModCtrl,
                0},
        KeyCase{"modifier_key_with_its_own_bit_in_mods",
                0,
                {{0xE0, 1, kModCtrl}, {0xE0, 0, 0}},
                {"leftCtrl down", "leftCtrl up"},
                0,
                0},
        KeyCase{"right_hand_modifier_is_a_plain_key",
                0,
                {{0xE5, 1, 0}},
                {"rightShift down"},
                0,
                1},
        KeyCase{"repeat_is_injected_again_and_action_2_is_down",
                0,
                {{0x04, 1, 0}, {0x04, 2, 0}, {0x04, 0, 0}},
                {"a down", "a down", "a up"},
                0,
                0},
        KeyCase{"unknown_usages_inject_nothing", 0, {{0xE7, 1, kModShift}, {0x53, 1, 0}, {0x1234, 0, 0}}, {}, 0, 0},
        KeyCase{"action_3_injects_nothing", 0, {{0x04, 3, kModShift}}, {}, 0, 0},
        KeyCase{"chord_grows_on_repeat_with_new_mods",
                0,
                {{0x04, 1, kModShift}, {0x04, 2, kModShift | kModAlt}, {0x04, 0, 0}},
                {"leftShift down", "a down", "leftAlt down", "a down", "a up", "leftAlt up", "leftShift up"},
                0,
                0},
        KeyCase{"release_without_press_is_injected", 0, {{0x04, 0, kModShift}}, {"a up"}, 0, 0}),
    [](const testing::TestParamInfo<KeyCase>& param_info) { return std::string(param_info.param.name); });

TEST(InputState, ModifierOrderAndIdempotence) {
    RecordingSink sink;
    InputState state(sink);
    state.press_modifiers(kModWin | kModShift);
    state.press_modifiers(kModShift | kModAlt);  // Shift already held
    state.release_modifiers(0x0F);
    state.release_modifiers(0x0F);  // nothing left: harmless
    // Alt went down last, so releasing it is masked even after Win went up.
    EXPECT_EQ(sink.log, (Log{"leftShift down", "leftWin down", "leftAlt down", "leftWin up", "mask down", "mask up",
                             "leftAlt up", "leftShift up"}));
    EXPECT_EQ(state.held_modifiers(), 0);
}

// key_event's key-up is the client's own unless a HostRelease is alive (the
// gamepad mapping releasing its keys for a release-all or the watchdog).
TEST(InputState, KeyUpIsMaskedOnlyWhenTheHostReleases) {
    struct Case {
        std::uint16_t usage;
        bool by_host;
        Log injected;
    };
    const Case cases[] = {
        {0xE3, false, {"leftWin down", "leftWin up"}},
        {0xE3, true, {"leftWin down", "mask down", "mask up", "leftWin up"}},
        {0xE2, true, {"leftAlt down", "mask down", "mask up", "leftAlt up"}},
        {0xE6, true, {"rightAlt down", "mask down", "mask up", "rightAlt up"}},
        {0xE0, true, {"leftCtrl down", "leftCtrl up"}},  // not a menu key
    };
    for (const auto& c : cases) {
        RecordingSink sink;
        InputState state(sink);
        state.key_event(c.usage, kKeyDown, 0);
        {
            std::optional<InputState::HostRelease> by_host;
            if (c.by_host) by_host.emplace(state);
            state.key_event(c.usage, kKeyUp, 0);
        }
        EXPECT_EQ(sink.log, c.injected) << c.usage << " " << c.by_host;
    }
    // The scope ends with its object.
    RecordingSink sink;
    InputState state(sink);
    { InputState::HostRelease by_host(state); }
    state.key_event(0xE3, kKeyDown, 0);
    state.key_event(0xE3, kKeyUp, 0);
    EXPECT_EQ(sink.log, (Log{"leftWin down", "leftWin up"}));
}

TEST(InputState, ButtonEvents) {
    RecordingSink sink;
    InputState state(sink);
    state.button_event(1, true, kModShift);
    state.button_event(2, true, kModShift | kModCtrl);  // Shift held already: only Ctrl is its own
    state.button_event(4, true, kModAlt);              // not a button
    state.button_event(0, true, 0);
    EXPECT_EQ(state.held_buttons(), 0b011);
    state.button_event(2, false, 0);
    state.button_event(1, false, 0);
    EXPECT_EQ(sink.log, (Log{"leftShift down", "button 1 down", "leftCtrl down", "button 2 down", "button 2 up",
                             "leftCtrl up", "button 1 up", "leftShift up"}));
    EXPECT_EQ(state.held_buttons(), 0);
    EXPECT_EQ(state.held_modifiers(), 0);
}

TEST(InputState, SendChord) {
    struct Case {
        ModifierMask held;
        std::vector<std::uint16_t> mods;
        std::uint16_t vk;
        Log injected;
    };
    const Case cases[] = {
        {0, {0xA2}, 0x56, {"leftCtrl down", "v down", "v up", "leftCtrl up"}},
        {kModCtrl, {0xA2}, 0x56, {"v down", "v up"}},
        {0, {0xA2, 0x5B}, 0x27, {"leftCtrl down", "leftWin down", "right down", "right up", "leftWin up",
                                 "leftCtrl up"}},
        {kModWin, {0xA2, 0x5B}, 0x25, {"leftCtrl down", "left down", "left up", "leftCtrl up"}},
        {0, {0xA3}, 0xAF, {"vk AF scan 00 down", "vk AF scan 00 up"}},  // not a left-hand modifier: ignored
    };
    for (const auto& c : cases) {
        RecordingSink sink;
        InputState state(sink);
        state.press_modifiers(c.held);
        sink.take();
        state.send_chord(c.mods, c.vk);
        EXPECT_EQ(sink.log, c.injected);
        EXPECT_EQ(state.held_modifiers(), c.held);
    }
}

TEST(InputState, ReleaseAllReleasesKeysModifiersButtonsAndZoomCtrl) {
    RecordingSink sink;
    InputState state(sink);
    state.key_event(0xE1, 1, 0);  // Left Shift as a key
    state.key_event(0x04, 1, 0);
    state.button_event(1, true, 0);
    state.add_pending_move(4, -2);
    sink.take();
    state.release_all();
    // Keys first (the book's order is free; ours is by usage), then Shift a
    // second time from the modifier step, then the button.
    EXPECT_EQ(sink.log, (Log{"move 4 -2", "a up", "leftShift up", "leftShift up", "button 1 up"}));
    EXPECT_FALSE(state.anything_held());
    EXPECT_EQ(state.pending_dx(), 0);
}

TEST(InputState, ReleaseAllOrderWithChordsLatchAndZoom) {
    RecordingSink sink;
    InputState state(sink);
    state.press_modifiers(kModAlt);
    state.key_event(0x05, 1, kModShift);
    state.button_event(3, true, kModWin);
    state.button_event(2, true, 0);
    state.press_zoom_ctrl();
    sink.take();
    state.release_all();
    EXPECT_EQ(sink.log, (Log{"b up", "leftWin up", "leftAlt up", "leftShift up", "button 2 up", "button 3 up",
                             "leftCtrl up"}));
    EXPECT_FALSE(state.anything_held());
    EXPECT_EQ(state.key_chord(0x05), 0);
    EXPECT_EQ(state.button_chord(3), 0);
    // Nothing more to release, and the emptied chord table releases nothing
    // when the client's key-up arrives late.
    state.release_all();
    state.key_event(0x05, 0, 0);
    EXPECT_EQ(sink.log.back(), "b up");
    EXPECT_EQ(sink.log.size(), 8u);
}

TEST(InputState, PendingMoveSaturatesAndFlushesOnce) {
    RecordingSink sink;
    InputState state(sink);
    state.flush_move();  // nothing pending: nothing injected
    state.add_pending_move(std::numeric_limits<std::int32_t>::max(), -5);
    state.add_pending_move(10, std::numeric_limits<std::int32_t>::min());
    state.flush_move();
    state.flush_move();
    EXPECT_EQ(sink.log, (Log{"move 2147483647 -2147483648"}));
}

}  // namespace
}  // namespace korvex
