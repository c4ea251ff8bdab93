#include "app/flyout_layout.h"

#include <algorithm>

namespace korvex::app {

unsigned flyout_dpi(unsigned system_dpi) { return std::max(system_dpi, 96u); }

int scale_to_dpi(int value96, unsigned dpi) { return value96 * static_cast<int>(dpi) / 96; }

Rect scale_to_dpi(Rect r, unsigned dpi) {
    return {scale_to_dpi(r.left, dpi), scale_to_dpi(r.top, dpi), scale_to_dpi(r.right, dpi),
            scale_to_dpi(r.bottom, dpi)};
}

Size flyout_size(unsigned dpi) { return {scale_to_dpi(kFlyoutWidth96, dpi), scale_to_dpi(kFlyoutHeight96, dpi)}; }

Point place_flyout(Rect anchor, Rect work, unsigned dpi) {
    Size size = flyout_size(dpi);
    int centre_x = anchor.left + (anchor.right - anchor.left) / 2;
    int x = centre_x - kFlyoutWidth96 * static_cast<int>(dpi) / 192;
    int middle_y = work.top + (work.bottom - work.top) / 2;
    int y = anchor.top > middle_y ? anchor.top - size.height - kFlyoutGap : anchor.bottom + kFlyoutGap;
    // max after min: when the flyout does not fit, the lower bound wins.
    x = std::max(std::min(x, work.right - size.width - kFlyoutMargin), work.left + kFlyoutMargin);
    y = std::max(std::min(y, work.bottom - size.height - kFlyoutMargin), work.top + kFlyoutMargin);
    return {x, y};
}

QrPlacement qr_placement(int n, unsigned dpi) {
    QrPlacement p;
    p.band = scale_to_dpi(kQrBand96, dpi);
    p.scale = n > 0 ? std::max(p.band / n, 1) : 1;
    p.size = p.scale * n;
    p.x = (scale_to_dpi(kFlyoutWidth96, dpi) - p.size) / 2;
    p.y = scale_to_dpi(kQrBandTop96, dpi) + (p.band - p.size) / 2;
    return p;
}

std::string group_code(std::string_view code) {
    if (code.size() != 6) return std::string(code);
    return std::string(code.substr(0, 3)) + " " + std::string(code.substr(3));
}

std::string lan_line(std::string_view lan) { return "LAN: " + (lan.empty() ? std::string("-") : std::string(lan)); }

std::string tailscale_line(std::string_view ts) {
    return "Tailscale: " + (ts.empty() ? std::string("Not connected") : std::string(ts));
}

}  // namespace korvex::app
