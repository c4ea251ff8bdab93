#pragma once
// The gamepad mapping window ("KorvexPadMapping"): renders the portable
// MappingEdit and maps its controls onto it; captures keys with a low-level
// keyboard hook that exists only while a capture runs. Main thread only.
#include <windows.h>

namespace korvex::net {
class HostControl;
}

namespace korvex::app::win32 {

// The capture result: wParam the HID usage, lParam the MappingMods bits.
inline constexpr UINT WM_CAPTURE_RESULT = WM_APP + 40;

// Opens the window on the active mapping, or brings the open one forward.
// `tray` hears WM_HOST_NOTIFY when a capture ends (its deferred refresh).
void show_mapping_window(net::HostControl& control, HWND tray);

// The active mapping was replaced from the tray: the window follows it.
void mapping_window_follow(net::HostControl& control);

// The open window, or null; the message loop gives it dialog keyboard handling.
HWND mapping_window();

// While a capture runs the hook is installed and this thread must not wait
// for the host's lock: SendInput on a runtime thread (which holds that lock)
// waits for this thread to run the hook.
bool mapping_capture_running();
// Ends a running capture (before this thread does something that takes the lock).
void stop_mapping_capture();

}  // namespace korvex::app::win32
