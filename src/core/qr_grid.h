#pragma once
// The QR code of a pairing offer as a grid of modules, quiet zone included.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvex {

struct QrGrid {
    int side = 0;                       // symbol width + 8
    std::vector<std::uint8_t> modules;  // side * side, row-major, 1 = dark

    bool dark(int row, int column) const { return modules[static_cast<std::size_t>(row * side + column)] != 0; }
};

inline constexpr int kQrQuietZone = 4;

// Byte mode, error correction M, the smallest version that holds the text.
std::optional<QrGrid> encode_qr_grid(std::string_view text);

// Two module rows per text line with half-block characters, dark modules
// drawn as spaces on a light background so phones read it from a dark terminal.
std::string render_qr_text(const QrGrid& grid);

}  // namespace korvex
