#pragma once
// The tray and program icons as pixels: a vertical capsule, light grey
// outline for "ready", a green capsule with a dark bar for "controlled".
// Used both at run time (an icon the resources lack) and at build time (the
// .ico files), so both look the same. Only the standard library here: the
// build-time generator compiles this file on its own.
#include <cstdint>
#include <span>
#include <vector>

namespace korvex::app {

enum class IconVariant : int { Ready = 0, Controlled = 1 };

// size * size pixels, top-down rows, 4 bytes each in B, G, R, A order,
// colours premultiplied by alpha.
std::vector<std::uint8_t> icon_pixels(int size, IconVariant variant);

// A .ico file holding one 32-bit image per size (straight alpha, as the
// format wants), drawn by icon_pixels.
std::vector<std::uint8_t> ico_file(std::span<const int> sizes, IconVariant variant);

}  // namespace korvex::app
