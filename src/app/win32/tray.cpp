#include "app/win32/tray.h"

#include <cstring>
#include <string>
#include <utility>

#include "app/icon_pixels.h"
#include "app/tray_model.h"
#include "app/win32/pad_mapping_window.h"
#include "app/win32/pairing_flyout.h"
#include "app/win32/start_on_login.h"
#include "platform/win32/win32_support.h"

namespace korvex::app::win32 {

namespace {

thread_local std::unique_ptr<TrayState> t_tray;

std::wstring wide(std::string_view text) { return korvex::win32::widen(text).value_or(std::wstring()); }

// A balloon rides along until the shell has taken it once; later updates
// must not repeat it.
void balloon_delivered(TrayState& state) { state.icon_data.uFlags &= ~static_cast<UINT>(NIF_INFO); }

void update_icon_and_tip(TrayState& state) {
    net::HostStatus status = state.control->status();
    state.icon_data.hIcon = status.controller ? state.controlled_icon : state.ready_icon;
    std::u16string tip = tooltip_text(status);
    std::memset(state.icon_data.szTip, 0, sizeof state.icon_data.szTip);
    std::memcpy(state.icon_data.szTip, tip.data(), tip.size() * sizeof(char16_t));
}

// Adds the icon as it stands; a shell that refuses it gets it again from the
// retry timer.
void put_icon(TrayState& state) {
    HWND window = state.icon_data.hWnd;
    // A shell that announces a restart may still show the icon: then the
    // add fails and the modify succeeds.
    if (Shell_NotifyIconW(NIM_ADD, &state.icon_data) || Shell_NotifyIconW(NIM_MODIFY, &state.icon_data)) {
        balloon_delivered(state);
        KillTimer(window, kTrayIconRetryTimer);
        return;
    }
    SetTimer(window, kTrayIconRetryTimer, 1000, nullptr);
}

void append_items(HMENU menu, const std::vector<MenuItem>& items) {
    for (const auto& item : items) {
        if (item.kind == MenuItem::Kind::Separator) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        UINT flags = MF_STRING | (item.checked ? MF_CHECKED : 0u) | (item.disabled ? MF_GRAYED : 0u);
        std::wstring text = wide(item.text);
        if (item.kind == MenuItem::Kind::Submenu) {
            HMENU sub = CreatePopupMenu();
            if (!sub) continue;
            append_items(sub, item.children);
            AppendMenuW(menu, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(sub), text.c_str());
        } else {
            AppendMenuW(menu, flags, static_cast<UINT_PTR>(item.id), text.c_str());
        }
    }
}

// A command the host could not carry out (a removal whose save failed, a
// mapping file that could not be written) is told, never dropped.
void report(HWND window, const Status& status) {
    if (status) return;
    MessageBoxW(window, wide(status.error().text).c_str(), L"Korvex", MB_OK | MB_ICONWARNING);
}

void run_command(TrayState& state, HWND window, const TrayCommand& command) {
    using K = TrayCommand::Kind;
    switch (command.kind) {
        case K::None:
            break;
        case K::MappingWindow:
            show_mapping_window(*state.control, window);
            break;
        case K::Pair: {
            close_pairing_flyout();
            std::string code = state.control->start_pairing();
            show_pairing_flyout(*state.control, code, window);
            break;
        }
        case K::SetRunEntry:
            set_run_entry(command.enable);
            break;
        case K::ToggleLogonTask:
            toggle_logon_task(command.task_present);
            break;
        case K::Exit:
            DestroyWindow(window);
            break;
        case K::RemoveDevice: {
            Status removed = state.control->remove_device(command.client_id);
            refresh_tray(state);
            report(window, removed);
            break;
        }
        case K::ChoosePreset: {
            Status saved = state.control->choose_preset(command.preset);
            mapping_window_follow(*state.control);
            report(window, saved);
            break;
        }
        case K::ChoosePadOutput: {
            Status saved = state.control->choose_pad_output(command.output);
            mapping_window_follow(*state.control);
            report(window, saved);
            break;
        }
    }
}

void show_tray_menu(TrayState& state, HWND window) {
    bool run_present = run_entry_present();
    bool task_present = logon_task_present();
    TrayMenu model = build_tray_menu(state.control->status(), run_present, task_present);
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    append_items(menu, model.items);
    POINT cursor{};
    GetCursorPos(&cursor);
    SetForegroundWindow(window);
    int chosen = static_cast<int>(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_BOTTOMALIGN | TPM_RIGHTBUTTON, cursor.x,
                                                 cursor.y, 0, window, nullptr));
    PostMessageW(window, WM_NULL, 0, 0);
    DestroyMenu(menu);
    run_command(state, window, decode_command(chosen, model));
}

}  // namespace

void install_tray_state(std::unique_ptr<TrayState> state) { t_tray = std::move(state); }
std::unique_ptr<TrayState> take_tray_state() { return std::move(t_tray); }
TrayState* tray_state() { return t_tray.get(); }

void init_icon_data(TrayState& state, HWND window) {
    state.icon_data = NOTIFYICONDATAW{};
    state.icon_data.cbSize = sizeof(NOTIFYICONDATAW);
    state.icon_data.hWnd = window;
    state.icon_data.uID = kTrayIconId;
    state.icon_data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
    state.icon_data.uCallbackMessage = WM_TRAY_CALLBACK;
}

void add_tray_icon(TrayState& state) {
    update_icon_and_tip(state);
    put_icon(state);
}

void refresh_tray(TrayState& state) {
    update_icon_and_tip(state);
    if (Shell_NotifyIconW(NIM_MODIFY, &state.icon_data))
        balloon_delivered(state);
    else
        put_icon(state);
}

HICON draw_tray_icon(int size, int variant) {
    auto pixels = icon_pixels(size, static_cast<IconVariant>(variant));
    BITMAPV5HEADER header{};
    header.bV5Size = sizeof header;
    header.bV5Width = size;
    header.bV5Height = -size;  // top-down
    header.bV5Planes = 1;
    header.bV5BitCount = 32;
    header.bV5Compression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP colour = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
    if (screen) ReleaseDC(nullptr, screen);
    if (!colour) return nullptr;
    std::memcpy(bits, pixels.data(), pixels.size());
    std::vector<std::uint8_t> zero(static_cast<std::size_t>((size + 15) / 16 * 2 * size), 0);
    HBITMAP mask = CreateBitmap(size, size, 1, 1, zero.data());
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmColor = colour;
    info.hbmMask = mask;
    HICON icon = mask ? CreateIconIndirect(&info) : nullptr;
    DeleteObject(colour);
    if (mask) DeleteObject(mask);
    return icon;
}

LRESULT CALLBACK tray_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    TrayState* state = t_tray.get();
    if (message == WM_DESTROY) {
        if (state) {
            // Exit drops the mapping window's unsaved edits; its hook goes with it.
            if (HWND mapping = mapping_window()) DestroyWindow(mapping);
            close_pairing_flyout();
            Shell_NotifyIconW(NIM_DELETE, &state->icon_data);
            state->control->release_held_input();
        }
        PostQuitMessage(0);
        return 0;
    }
    if (!state) return DefWindowProcW(window, message, wparam, lparam);
    // Everything below may take the host's lock, which this thread must not
    // wait for while the mapping window's keyboard hook is installed.
    if (message == WM_TRAY_CALLBACK) {
        UINT event = LOWORD(lparam);
        if (event == WM_LBUTTONUP || event == WM_RBUTTONUP) {
            stop_mapping_capture();
            show_tray_menu(*state, window);
        }
        return 0;
    }
    if (message == WM_HOST_NOTIFY) {
        // Held back during a capture; its end posts a refresh that replays them.
        if (wparam < 32) state->deferred_notify |= 1u << wparam;
        if (mapping_capture_running()) return 0;
        const unsigned codes = std::exchange(state->deferred_notify, 0u);
        if (codes & ((1u << kNotifyPairingFinished) | (1u << kNotifyPairingWithdrawn))) close_pairing_flyout();
        refresh_tray(*state);
        return 0;
    }
    if (message == WM_TIMER && wparam == kTrayIconRetryTimer) {
        // Tried again after the capture; the timer goes on until then.
        if (!mapping_capture_running()) add_tray_icon(*state);
        return 0;
    }
    if (state->taskbar_created_msg != 0 && message == state->taskbar_created_msg) {
        stop_mapping_capture();
        add_tray_icon(*state);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace korvex::app::win32
