// korvex-host.exe: the Windows tray program. The shared start-up runs the
// host; this file adds the single-instance guard, the tray window and icon,
// the two one-time notices, the message loop and the ordered shut-down.
#include <windows.h>
#include <mmsystem.h>

#include <memory>
#include <string>

#include "app/startup_rules.h"
#include "app/tray_model.h"
#include "app/win32/pad_mapping_window.h"
#include "app/win32/start_on_login.h"
#include "app/win32/tray.h"
#include "core/data_files.h"
#include "core/pad_virtual.h"
#include "net/host.h"
#include "net/host_control.h"
#include "platform/file_system.h"
#include "platform/win32/win32_support.h"

namespace {

using namespace korvex;
using namespace korvex::app::win32;

constexpr wchar_t kTrayClass[] = L"KorvexTrayWindow";

std::wstring wide(std::string_view text) { return korvex::win32::widen(text).value_or(std::wstring()); }

void error_box(const std::string& text) {
    MessageBoxW(nullptr, wide(text).c_str(), L"Korvex", MB_OK | MB_ICONERROR);
}

void set_per_monitor_dpi_awareness() {
    using SetContext = BOOL(WINAPI*)(HANDLE);
    if (HMODULE user32 = GetModuleHandleW(L"user32.dll")) {
        if (auto set = reinterpret_cast<SetContext>(
                reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext"))))
            set(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)));  // per monitor, version 2
    }
}

HICON load_tray_icon(HINSTANCE instance, int resource, int size, int variant) {
    auto icon = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(resource), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    return icon ? icon : draw_tray_icon(size, variant);
}

// The 1 ms timer resolution while any session is established; every event
// then reaches the tray window as WM_HOST_NOTIFY.
app::TimerResolutionCounter g_timer_sessions;

void deliver_event(HWND tray, const HostEvent& event) {
    if (event.kind == HostEvent::Kind::DeviceConnected && g_timer_sessions.connected()) timeBeginPeriod(1);
    if (event.kind == HostEvent::Kind::DeviceDisconnected && g_timer_sessions.disconnected()) timeEndPeriod(1);
    PostMessageW(tray, WM_HOST_NOTIFY, app::host_notify_code(event.kind), 0);
}

void show_pad_notice(TrayState& state, std::string_view notice) {
    std::u16string text = app::utf16_prefix(notice, std::size(state.icon_data.szInfo) - 1);
    std::u16string title = app::utf16_prefix("docs/GAMEPAD.md", std::size(state.icon_data.szInfoTitle) - 1);
    std::copy(text.begin(), text.end(), state.icon_data.szInfo);
    std::copy(title.begin(), title.end(), state.icon_data.szInfoTitle);
    state.icon_data.dwInfoFlags = NIIF_INFO;
    state.icon_data.uFlags |= NIF_INFO;
    // An icon still waiting for the notification area takes the balloon
    // with it when it goes in.
    refresh_tray(state);
}

void first_run_prompt(HWND tray, const std::string& data_dir) {
    if (!app::take_one_time_notice(os_file_system(), data_dir, app::kStartupPromptMarker)) return;
    if (run_entry_present() || logon_task_present()) return;
    auto path = executable_path();
    std::string name = app::program_display_name(path ? std::optional<std::string_view>(*path) : std::nullopt);
    std::wstring caption = wide(name);
    std::wstring question =
        wide("Start " + name + " when you log in to Windows?\n\nYou can change this later from the tray menu.");
    if (MessageBoxW(tray, question.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION | MB_TOPMOST) != IDYES)
        return;
    if (!set_run_entry(true)) {
        std::wstring warning = wide(name +
                                    " could not be set to start at login (the registry entry could not be "
                                    "written). You can try again from the tray menu.");
        MessageBoxW(tray, warning.c_str(), caption.c_str(), MB_ICONWARNING);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    set_per_monitor_dpi_awareness();

    // Held until the process ends; a second start leaves without a trace.
    HANDLE guard = CreateMutexW(nullptr, TRUE, L"Global\\KorvexHostSingletonMutex");
    if (guard && GetLastError() == ERROR_ALREADY_EXISTS) return 0;

    WNDCLASSW wc{};
    wc.lpfnWndProc = tray_window_proc;
    wc.hInstance = instance;
    wc.lpszClassName = kTrayClass;
    RegisterClassW(&wc);
    HWND tray = CreateWindowExW(WS_EX_TOOLWINDOW, kTrayClass, L"Korvex", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                instance, nullptr);
    if (!tray) {
        error_box("Could not create the tray window.");
        return 0;
    }
    // An elevated host must still hear that Explorer restarted.
    UINT taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");
    ChangeWindowMessageFilterEx(tray, taskbar_created, MSGFLT_ALLOW, nullptr);

    auto platform = make_os_host_platform();
    auto started = net::start_running_host(
        platform->host_platform(), net::HostOptions{},
        [tray](const HostEvent& event) { deliver_event(tray, event); },
        [tray] { PostMessageW(tray, WM_HOST_NOTIFY, app::kNotifyRefresh, 0); });
    if (!started) {
        error_box(app::startup_failure_text(started.error().text));
        return 0;
    }

    int icon_size = std::max(GetSystemMetrics(SM_CXSMICON), 16);
    auto state = std::make_unique<TrayState>();
    state->platform = std::move(platform);
    state->host = std::make_unique<net::RunningHost>(std::move(*started));
    state->control =
        std::make_unique<net::HostControl>(state->host->outcome().shared, os_file_system(), state->host->data_dir());
    state->ready_icon = load_tray_icon(instance, 2, icon_size, 0);
    state->controlled_icon = load_tray_icon(instance, 3, icon_size, 1);
    state->taskbar_created_msg = taskbar_created;
    init_icon_data(*state, tray);
    add_tray_icon(*state);

    const std::string data_dir = state->host->data_dir();
    if (auto notice = pad_probe_notice(state->host->outcome().pad_probe);
        notice && app::take_one_time_notice(os_file_system(), data_dir, app::kPadNoticeMarker))
        show_pad_notice(*state, *notice);

    install_tray_state(std::move(state));
    first_run_prompt(tray, data_dir);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (HWND dialog = mapping_window(); dialog && IsDialogMessageW(dialog, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }

    // The icon is gone and held input released (WM_DESTROY); now stop every
    // task, then let go of whatever a last event pressed meanwhile.
    auto ended = take_tray_state();
    if (ended) {
        DestroyIcon(ended->ready_icon);
        DestroyIcon(ended->controlled_icon);
        ended->control.reset();
        ended->host.reset();
    }
    return 0;
}
