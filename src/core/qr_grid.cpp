#include "core/qr_grid.h"

#include <qrencode.h>

#include <memory>

namespace korvex {

std::optional<QrGrid> encode_qr_grid(std::string_view text) {
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(static_cast<int>(text.size()), reinterpret_cast<const unsigned char*>(text.data()), 0,
                          QR_ECLEVEL_M),
        &QRcode_free);
    if (!code) return std::nullopt;
    QrGrid grid;
    grid.side = code->width + 2 * kQrQuietZone;
    grid.modules.assign(static_cast<std::size_t>(grid.side * grid.side), 0);
    for (int y = 0; y < code->width; ++y) {
        for (int x = 0; x < code->width; ++x) {
            // Bit 0 of each byte of the encoder's output is the module's colour.
            std::uint8_t bit = code->data[y * code->width + x] & 1u;
            grid.modules[static_cast<std::size_t>((y + kQrQuietZone) * grid.side + x + kQrQuietZone)] = bit;
        }
    }
    return grid;
}

std::string render_qr_text(const QrGrid& grid) {
    // Light modules are drawn (full or half blocks), dark ones left blank.
    static constexpr const char* kCells[4] = {"\u2588", "\u2580", "\u2584", " "};
    std::string out;
    for (int row = 0; row < grid.side; row += 2) {
        for (int column = 0; column < grid.side; ++column) {
            bool top_dark = grid.dark(row, column);
            // Below the last row is the terminal itself: count it as blank (dark).
            bool bottom_dark = row + 1 < grid.side ? grid.dark(row + 1, column) : true;
            out += kCells[(top_dark ? 2 : 0) + (bottom_dark ? 1 : 0)];
        }
        out += '\n';
    }
    return out;
}

}  // namespace korvex
