#pragma once
// The notification-area icon, its menu and commands, and the hidden tray
// window's procedure. Main thread only; other threads post WM_HOST_NOTIFY.
#include <windows.h>
#include <shellapi.h>

#include <memory>

#include "net/host.h"
#include "net/host_control.h"
#include "platform/os_host_platform.h"

namespace korvex::app::win32 {

inline constexpr UINT WM_TRAY_CALLBACK = WM_APP + 1;
inline constexpr UINT WM_HOST_NOTIFY = WM_APP + 2;
inline constexpr UINT kTrayIconId = 1;
// The tray window's timer that tries the icon again.
inline constexpr UINT_PTR kTrayIconRetryTimer = 1;

struct TrayState {
    // Declared in this order so the control goes first, then the host stops
    // (its destruction runs the shut-down order), then the seams it used.
    std::unique_ptr<OsHostPlatform> platform;
    std::unique_ptr<net::RunningHost> host;
    std::unique_ptr<net::HostControl> control;
    NOTIFYICONDATAW icon_data{};
    HICON ready_icon = nullptr;
    HICON controlled_icon = nullptr;
    UINT taskbar_created_msg = 0;
    // WM_HOST_NOTIFY codes (bit = code) held back while a key capture runs.
    unsigned deferred_notify = 0;
};

// The main thread's tray state: set once the icon is up, taken at exit.
void install_tray_state(std::unique_ptr<TrayState> state);
std::unique_ptr<TrayState> take_tray_state();
TrayState* tray_state();

// Fills icon_data for `window` (flags, callback, id) without an icon yet.
void init_icon_data(TrayState& state, HWND window);
// Puts the icon in the notification area. Where there is none yet (a start
// at login before the shell's taskbar is up), tries again every second.
void add_tray_icon(TrayState& state);
void refresh_tray(TrayState& state);

// The icon drawn from icon_pixels; null on failure.
HICON draw_tray_icon(int size, int variant);

LRESULT CALLBACK tray_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace korvex::app::win32
