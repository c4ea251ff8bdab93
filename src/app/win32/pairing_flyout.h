#pragma once
// The pairing flyout: QR code, the code in two groups and the addresses,
// next to the tray icon. At most one per thread; closing it for any reason
// withdraws the code.
#include <windows.h>

#include <string>

namespace korvex::net {
class HostControl;
}

namespace korvex::app::win32 {

// `code` is already the host's pending code; `control` must outlive the
// flyout (the tray closes it before the host stops).
void show_pairing_flyout(net::HostControl& control, const std::string& code, HWND tray_window);
void close_pairing_flyout();
bool pairing_flyout_open();

}  // namespace korvex::app::win32
