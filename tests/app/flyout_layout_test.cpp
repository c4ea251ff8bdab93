// The pairing flyout's numbers at 96 and 144 DPI, its place next to the
// icon, and the code's grouping.
#include <gtest/gtest.h>

#include "app/flyout_layout.h"

namespace korvex::app {
namespace {

TEST(FlyoutLayout, SizeAndQrAtTwoDpis) {
    EXPECT_EQ(flyout_size(96), (Size{320, 380}));
    EXPECT_EQ(flyout_size(144), (Size{480, 570}));
    EXPECT_EQ(flyout_dpi(72), 96u);
    EXPECT_EQ(flyout_dpi(144), 144u);

    // A symbol of width 33 plus the quiet zone: n = 41.
    EXPECT_EQ(qr_placement(41, 96), (QrPlacement{200, 4, 164, 78, 134}));
    EXPECT_EQ(qr_placement(41, 144), (QrPlacement{300, 7, 287, 96, 174 + 6}));
    // A grid larger than the band is still drawn, one pixel a module.
    EXPECT_EQ(qr_placement(250, 96).scale, 1);

    EXPECT_EQ(scale_to_dpi(kCodeRect, 144), (Rect{0, 66, 480, 162}));
    EXPECT_EQ(scale_to_dpi(kTailscaleRect, 120), (Rect{0, 427, 400, 450}));
}

TEST(FlyoutLayout, PlacementAboveBelowAndClamped) {
    const Rect work{0, 0, 1920, 1040};
    struct Case {
        const char* what;
        Rect anchor;
        Rect work;
        unsigned dpi;
        Point expected;
    };
    const Case cases[] = {
        // Taskbar at the bottom: above the icon, centred on it.
        {"above", {1700, 1010, 1724, 1034}, work, 96, {1712 - 160, 1010 - 380 - 8}},
        // Taskbar at the top: below the icon.
        {"below", {1700, 6, 1724, 30}, work, 96, {1552, 38}},
        {"below at 144 dpi", {1700, 6, 1724, 30}, work, 144, {1920 - 480 - 4, 38}},
        // Exactly in the middle counts as the upper half.
        {"middle", {900, 520, 900, 520}, work, 96, {740, 528}},
        {"right edge", {1910, 1010, 1920, 1034}, work, 96, {1920 - 320 - 4, 622}},
        {"left edge (cursor at 0,0)", {0, 0, 0, 0}, work, 96, {4, 8}},
        {"bottom edge", {1700, 590, 1724, 1000}, {0, 0, 1920, 1200}, 96, {1552, 1200 - 380 - 4}},
        {"top edge", {1700, 300, 1724, 330}, {0, 0, 1920, 500}, 96, {1552, 4}},
        {"second monitor", {2500, 1400, 2520, 1420}, {1920, 0, 3840, 1440}, 96, {2350, 1012}},
        // Too small a work area: the lower bounds win.
        {"too small", {50, 50, 60, 60}, {0, 0, 200, 200}, 96, {4, 4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(place_flyout(c.anchor, c.work, c.dpi), c.expected);
    }
}

TEST(FlyoutLayout, CodeGroupsAndAddressLines) {
    EXPECT_EQ(group_code("123456"), "123 456");
    EXPECT_EQ(group_code("000042"), "000 042");
    EXPECT_EQ(group_code("12345"), "12345");
    EXPECT_EQ(lan_line(""), "LAN: -");
    EXPECT_EQ(lan_line("[fd12::5]:49182"), "LAN: [fd12::5]:49182");
    EXPECT_EQ(tailscale_line(""), "Tailscale: Not connected");
    EXPECT_EQ(tailscale_line("100.64.0.7:49182"), "Tailscale: 100.64.0.7:49182");
}

}  // namespace
}  // namespace korvex::app
