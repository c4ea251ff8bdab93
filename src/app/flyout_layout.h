#pragma once
// The pairing flyout's numbers: its size and place next to the tray icon,
// its painted rectangles and the QR code's scale and offset, all at a DPI.
// Layout is given at 96 DPI and scaled with truncating integer arithmetic.
#include <string>
#include <string_view>

namespace korvex::app {

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool operator==(const Rect&) const = default;
};
struct Point {
    int x = 0, y = 0;
    bool operator==(const Point&) const = default;
};
struct Size {
    int width = 0, height = 0;
    bool operator==(const Size&) const = default;
};

inline constexpr int kFlyoutWidth96 = 320;
inline constexpr int kFlyoutHeight96 = 380;
inline constexpr int kFlyoutGap = 8;     // between icon and flyout
inline constexpr int kFlyoutMargin = 4;  // inside the work area

// The system DPI, at least 96.
unsigned flyout_dpi(unsigned system_dpi);
int scale_to_dpi(int value96, unsigned dpi);
Rect scale_to_dpi(Rect rect96, unsigned dpi);

Size flyout_size(unsigned dpi);

// Top-left corner: centred on the anchor (the icon), above it when the
// icon lies in the lower half of the work area, else below; then clamped
// into the work area (the lower bound wins when it does not fit).
Point place_flyout(Rect anchor, Rect work_area, unsigned dpi);

// Painted rectangles at 96 DPI.
inline constexpr Rect kTitleRect{0, 10, 320, 40};
inline constexpr Rect kCodeRect{0, 44, 320, 108};
inline constexpr Rect kLanRect{0, 324, 320, 342};
inline constexpr Rect kTailscaleRect{0, 342, 320, 360};
inline constexpr int kQrBandTop96 = 116;
inline constexpr int kQrBand96 = 200;

struct QrPlacement {
    int band = 0;   // the square band's side
    int scale = 0;  // pixels per module, at least 1
    int size = 0;   // drawn side: scale * n
    int x = 0, y = 0;
    bool operator==(const QrPlacement&) const = default;
};

// Where a QR grid of side n (quiet zone included) is drawn.
QrPlacement qr_placement(int n, unsigned dpi);

// "123456" as "123 456"; any other length unchanged.
std::string group_code(std::string_view code);

// The flyout's two address lines.
std::string lan_line(std::string_view lan_endpoint);
std::string tailscale_line(std::string_view tailscale_endpoint);

}  // namespace korvex::app
