// The icon pixels and the .ico files built from them.
#include <gtest/gtest.h>

#include <array>

#include "app/icon_pixels.h"

namespace korvex::app {
namespace {

std::array<int, 4> pixel(const std::vector<std::uint8_t>& p, int size, int x, int y) {
    auto i = static_cast<std::size_t>((y * size + x) * 4);
    return {p[i], p[i + 1], p[i + 2], p[i + 3]};
}

TEST(IconPixels, ShapeColoursAndPremultiplication) {
    const int s = 32;
    auto ready = icon_pixels(s, IconVariant::Ready);
    auto controlled = icon_pixels(s, IconVariant::Controlled);
    ASSERT_EQ(ready.size(), 32u * 32 * 4);
    // Corners lie outside the capsule: transparent.
    EXPECT_EQ(pixel(ready, s, 0, 0), (std::array<int, 4>{0, 0, 0, 0}));
    EXPECT_EQ(pixel(controlled, s, 31, 31), (std::array<int, 4>{0, 0, 0, 0}));
    // The bar in the upper half: light for ready, dark for controlled.
    EXPECT_EQ(pixel(ready, s, 16, 8), (std::array<int, 4>{240, 240, 240, 255}));
    EXPECT_EQ(pixel(controlled, s, 16, 8), (std::array<int, 4>{64, 64, 64, 255}));
    // The lower middle: green body when controlled, light grey when ready.
    EXPECT_EQ(pixel(controlled, s, 16, 22), (std::array<int, 4>{90, 181, 59, 255}));
    EXPECT_EQ(pixel(ready, s, 16, 22), (std::array<int, 4>{240, 240, 240, 255}));
    // The ready capsule is narrower by the stroke width: its rim is empty.
    EXPECT_EQ(pixel(controlled, s, 9, 16), (std::array<int, 4>{90, 181, 59, 255}));
    EXPECT_EQ(pixel(ready, s, 9, 16)[3], 0);
    // Every colour channel is at most its alpha (premultiplied).
    for (const auto* p : {&ready, &controlled})
        for (std::size_t i = 0; i < p->size(); i += 4)
            for (int c = 0; c < 3; ++c) ASSERT_LE((*p)[i + static_cast<std::size_t>(c)], (*p)[i + 3]);
}

TEST(IconFile, DirectoryAndImages) {
    const std::array sizes{16, 48, 256};
    auto file = ico_file(sizes, IconVariant::Controlled);
    auto u16 = [&](std::size_t at) { return file[at] | file[at + 1] << 8; };
    auto u32 = [&](std::size_t at) { return static_cast<std::uint32_t>(u16(at) | u16(at + 2) << 16); };
    EXPECT_EQ(u16(0), 0);
    EXPECT_EQ(u16(2), 1);  // icon
    ASSERT_EQ(u16(4), 3);
    std::size_t expected_offset = 6 + 3 * 16;
    for (std::size_t i = 0; i < 3; ++i) {
        const std::size_t entry = 6 + i * 16;
        const auto n = static_cast<std::uint32_t>(sizes[i]);
        EXPECT_EQ(file[entry], sizes[i] == 256 ? 0 : sizes[i]);
        EXPECT_EQ(u16(entry + 6), 32);
        const std::uint32_t bytes = u32(entry + 8), offset = u32(entry + 12);
        EXPECT_EQ(offset, expected_offset);
        EXPECT_EQ(bytes, 40 + n * n * 4 + (n + 31) / 32 * 4 * n);
        EXPECT_EQ(u32(offset + 4), n);
        EXPECT_EQ(u32(offset + 8), 2 * n);
        expected_offset += bytes;
    }
    EXPECT_EQ(file.size(), expected_offset);
    // Straight alpha in the file: the first image's bottom row comes first;
    // an edge pixel of partial alpha keeps its full green.
    auto pixels = icon_pixels(16, IconVariant::Controlled);
    bool partial_seen = false;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            auto p = pixel(pixels, 16, x, y);
            if (p[3] == 0 || p[3] == 255 || p[0] == 0) continue;
            std::size_t at = 6 + 3 * 16 + 40 + static_cast<std::size_t>(((15 - y) * 16 + x) * 4);
            // Undoing the premultiplication loses at most 255 / alpha.
            EXPECT_NEAR(file[at + 1], 181, 255 / p[3] + 1);
            EXPECT_EQ(file[at + 3], p[3]);
            partial_seen = true;
        }
    EXPECT_TRUE(partial_seen);
}

}  // namespace
}  // namespace korvex::app
