#include "app/win32/pairing_flyout.h"

#include <shellapi.h>

#include <memory>
#include <optional>
#include <vector>

#include "app/flyout_layout.h"
#include "core/pairing_uri.h"
#include "core/qr_grid.h"
#include "net/host_control.h"
#include "platform/win32/win32_support.h"

namespace korvex::app::win32 {

namespace {

constexpr wchar_t kFlyoutClass[] = L"KorvexPairingFlyout";

struct FlyoutState {
    HWND window = nullptr;
    std::string code;
    std::string lan;
    std::string tailscale;
    std::optional<QrGrid> qr;
    unsigned dpi = 96;
    net::HostControl* control = nullptr;  // withdraws the code on close
    bool closing = false;
};

thread_local std::unique_ptr<FlyoutState> t_flyout;

std::wstring wide(std::string_view text) { return korvex::win32::widen(text).value_or(std::wstring()); }

RECT to_rect(Rect r) { return {r.left, r.top, r.right, r.bottom}; }

void draw_text(HDC dc, const FlyoutState& s, const std::string& text, Rect rect96, const wchar_t* face, int px,
               int weight, COLORREF colour) {
    HFONT font = CreateFontW(-scale_to_dpi(px, s.dpi), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, face);
    HGDIOBJ old = SelectObject(dc, font);
    SetTextColor(dc, colour);
    RECT r = to_rect(scale_to_dpi(rect96, s.dpi));
    std::wstring w = wide(text);
    DrawTextW(dc, w.c_str(), static_cast<int>(w.size()), &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    DeleteObject(font);
}

void draw_qr(HDC dc, const FlyoutState& s) {
    if (!s.qr || s.qr->side <= 0) return;
    const int n = s.qr->side;
    QrPlacement place = qr_placement(n, s.dpi);
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(n) * static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = s.qr->modules[i] ? 0xFF000000u : 0xFFFFFFFFu;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = n;
    info.bmiHeader.biHeight = -n;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchDIBits(dc, place.x, place.y, place.size, place.size, 0, 0, n, n, pixels.data(), &info, DIB_RGB_COLORS,
                  SRCCOPY);
}

void paint(HWND window, const FlyoutState& s) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    SetBkMode(dc, TRANSPARENT);
    draw_text(dc, s, "Pair New Device", kTitleRect, L"Segoe UI", 18, 600, RGB(32, 32, 32));
    draw_text(dc, s, group_code(s.code), kCodeRect, L"Consolas", 44, 700, RGB(0, 0, 0));
    draw_qr(dc, s);
    draw_text(dc, s, lan_line(s.lan), kLanRect, L"Segoe UI", 13, 400, RGB(64, 64, 64));
    draw_text(dc, s, tailscale_line(s.tailscale), kTailscaleRect, L"Segoe UI", 13, 400, RGB(64, 64, 64));
    EndPaint(window, &ps);
}

// Destroys the flyout once: losing activation during the destruction must
// not start it again.
void destroy_flyout(HWND window) {
    if (t_flyout && t_flyout->window == window) {
        if (t_flyout->closing) return;
        t_flyout->closing = true;
    }
    DestroyWindow(window);
}

LRESULT CALLBACK flyout_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_PAINT:
            if (t_flyout && t_flyout->window == window) {
                paint(window, *t_flyout);
                return 0;
            }
            break;
        case WM_ACTIVATE:
            if (LOWORD(wparam) == WA_INACTIVE) destroy_flyout(window);
            return 0;
        case WM_KEYDOWN:
            if (wparam == VK_ESCAPE) destroy_flyout(window);
            return 0;
        case WM_DESTROY:
            if (t_flyout && t_flyout->window == window) {
                std::unique_ptr<FlyoutState> state = std::move(t_flyout);
                state->control->withdraw_pairing();
            }
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

Rect anchor_rect(HWND tray_window) {
    NOTIFYICONIDENTIFIER id{};
    id.cbSize = sizeof id;
    id.hWnd = tray_window;
    id.uID = 1;
    RECT r{};
    if (SUCCEEDED(Shell_NotifyIconGetRect(&id, &r))) return {r.left, r.top, r.right, r.bottom};
    POINT cursor{};
    GetCursorPos(&cursor);
    return {cursor.x, cursor.y, cursor.x, cursor.y};
}

unsigned system_dpi() {
    HDC screen = GetDC(nullptr);
    int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    return flyout_dpi(dpi > 0 ? static_cast<unsigned>(dpi) : 96u);
}

}  // namespace

void show_pairing_flyout(net::HostControl& control, const std::string& code, HWND tray_window) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    wc.lpfnWndProc = flyout_proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = kFlyoutClass;
    RegisterClassW(&wc);  // already registered after the first flyout

    auto state = std::make_unique<FlyoutState>();
    state->code = code;
    state->control = &control;
    state->dpi = system_dpi();
    std::string uri = control.pairing_offer(code);
    if (auto offer = parse_pairing_uri(uri)) {
        state->lan = offer->lan;
        state->tailscale = offer->ts;
    }
    state->qr = encode_qr_grid(uri);

    Size size = flyout_size(state->dpi);
    Rect anchor = anchor_rect(tray_window);
    POINT centre{anchor.left + (anchor.right - anchor.left) / 2, anchor.top + (anchor.bottom - anchor.top) / 2};
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    Rect work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (GetMonitorInfoW(MonitorFromPoint(centre, MONITOR_DEFAULTTONEAREST), &monitor))
        work = {monitor.rcWork.left, monitor.rcWork.top, monitor.rcWork.right, monitor.rcWork.bottom};
    Point at = place_flyout(anchor, work, state->dpi);

    HWND window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kFlyoutClass, L"Pair New Device",
                                  WS_POPUP | WS_BORDER, at.x, at.y, size.width, size.height, nullptr, nullptr,
                                  instance, nullptr);
    if (!window) {
        control.withdraw_pairing();
        return;
    }
    state->window = window;
    t_flyout = std::move(state);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    SetForegroundWindow(window);
}

void close_pairing_flyout() {
    if (t_flyout && t_flyout->window) destroy_flyout(t_flyout->window);
}

bool pairing_flyout_open() { return t_flyout != nullptr; }

}  // namespace korvex::app::win32
