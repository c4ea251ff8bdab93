#include "app/icon_pixels.h"

#include <algorithm>
#include <cmath>

namespace korvex::app {

std::vector<std::uint8_t> icon_pixels(int size, IconVariant variant) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(size > 0 ? size : 0) * static_cast<std::size_t>(size) * 4);
    const double s = size;
    const double r = 0.24 * s;
    const double w = std::max(0.09 * s, 1.5);
    const bool ready = variant == IconVariant::Ready;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double px = x + 0.5, py = y + 0.5;
            const double qx = std::abs(px - 0.5 * s) - (0.24 * s - r);
            const double qy = std::abs(py - 0.5 * s) - (0.42 * s - r);
            const double d = std::min(std::max(qx, qy), 0.0) + std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) - r;
            double a = std::clamp(0.5 - d, 0.0, 1.0);
            if (ready) a = std::max(a - std::clamp(d + 0.5 + w, 0.0, 1.0), 0.0);
            std::uint8_t* p = &out[(static_cast<std::size_t>(y) * static_cast<std::size_t>(size) + static_cast<std::size_t>(x)) * 4];
            const bool bar = py < 0.46 * s && std::abs(px - 0.5 * s) < w / 2 && py > 0.08 * s && d < 0;
            if (bar) {
                const std::uint8_t c = ready ? 240 : 64;
                p[0] = p[1] = p[2] = c;
                p[3] = 255;
                continue;
            }
            if (a <= 0) continue;
            const unsigned alpha = static_cast<unsigned>(a * 255);
            const unsigned red = ready ? 240 : 59, green = ready ? 240 : 181, blue = ready ? 240 : 90;
            p[0] = static_cast<std::uint8_t>(blue * alpha / 255);
            p[1] = static_cast<std::uint8_t>(green * alpha / 255);
            p[2] = static_cast<std::uint8_t>(red * alpha / 255);
            p[3] = static_cast<std::uint8_t>(alpha);
        }
    }
    return out;
}

namespace {

void put16(std::vector<std::uint8_t>& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// One image entry: BITMAPINFOHEADER (height doubled for the mask), the
// colour rows bottom-up, then an all-zero 1-bit mask (alpha decides).
std::vector<std::uint8_t> ico_image(int size, IconVariant variant) {
    const auto pixels = icon_pixels(size, variant);
    const auto n = static_cast<std::uint32_t>(size);
    const std::uint32_t mask_row = (n + 31) / 32 * 4;
    std::vector<std::uint8_t> out;
    put32(out, 40);
    put32(out, n);
    put32(out, n * 2);
    put16(out, 1);
    put16(out, 32);
    put32(out, 0);
    put32(out, n * n * 4 + mask_row * n);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    for (int y = size - 1; y >= 0; --y) {
        for (int x = 0; x < size; ++x) {
            const std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * n + static_cast<std::size_t>(x)) * 4];
            const unsigned alpha = p[3];
            for (int c = 0; c < 3; ++c)
                out.push_back(alpha == 0 ? 0 : static_cast<std::uint8_t>(std::min(255u, p[c] * 255u / alpha)));
            out.push_back(p[3]);
        }
    }
    out.insert(out.end(), static_cast<std::size_t>(mask_row) * n, 0);
    return out;
}

}  // namespace

std::vector<std::uint8_t> ico_file(std::span<const int> sizes, IconVariant variant) {
    std::vector<std::vector<std::uint8_t>> images;
    for (int size : sizes) images.push_back(ico_image(size, variant));
    std::vector<std::uint8_t> out;
    put16(out, 0);
    put16(out, 1);
    put16(out, static_cast<unsigned>(images.size()));
    auto offset = static_cast<std::uint32_t>(6 + 16 * images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        const int size = sizes[i];
        out.push_back(static_cast<std::uint8_t>(size >= 256 ? 0 : size));  // 0 means 256
        out.push_back(static_cast<std::uint8_t>(size >= 256 ? 0 : size));
        out.push_back(0);
        out.push_back(0);
        put16(out, 1);
        put16(out, 32);
        put32(out, static_cast<std::uint32_t>(images[i].size()));
        put32(out, offset);
        offset += static_cast<std::uint32_t>(images[i].size());
    }
    for (const auto& image : images) out.insert(out.end(), image.begin(), image.end());
    return out;
}

}  // namespace korvex::app
